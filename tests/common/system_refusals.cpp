#include "system_refusals.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace test_files {
namespace {

#if defined(__x86_64__)
constexpr uint32_t kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr uint32_t kArch = AUDIT_ARCH_AARCH64;
#else
#error "no seccomp architecture for this target"
#endif

// A system call answered with `error` instead of running: always when `flags` is 0, otherwise
// when its argument `arg` has one of those bits.
struct Refusal {
    long call;
    unsigned arg;
    uint32_t flags;
    int error;
};

// Where the low 32 bits of argument `arg` lie in seccomp_data.
uint32_t lowHalfOf(unsigned arg) {
    const auto at =
        static_cast<uint32_t>(offsetof(struct seccomp_data, args) + arg * sizeof(uint64_t));
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return at + 4;
#else
    return at;
#endif
}

bool install(const std::vector<Refusal> &refusals) {
    std::vector<sock_filter> program;
    const auto add = [&](sock_filter f) { program.push_back(f); };
    // Calls of another architecture's numbering are not ours to judge: allowed.
    add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)));
    add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0));
    add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    for (const Refusal &r : refusals) {
        // Each block starts from the call's number and ends in a return or falls through to
        // the next block.
        add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)));
        const uint32_t refuse = SECCOMP_RET_ERRNO | (static_cast<uint32_t>(r.error) & 0xFFFF);
        if (r.flags == 0) {
            add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(r.call), 0, 1));
            add(BPF_STMT(BPF_RET | BPF_K, refuse));
            continue;
        }
        add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(r.call), 0, 3));
        add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, lowHalfOf(r.arg)));
        add(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, r.flags, 0, 1));
        add(BPF_STMT(BPF_RET | BPF_K, refuse));
    }
    add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    const sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &filter) == 0;
}

} // namespace

bool refuseUnnamedFiles() {
    // O_TMPFILE includes O_DIRECTORY; only its own bit tells an unnamed file.
    constexpr uint32_t kUnnamed = static_cast<uint32_t>(O_TMPFILE & ~O_DIRECTORY);
    // Temporaries are opened with openat (or open); openat2, whose flags lie in a structure
    // a filter cannot read, is left alone.
    std::vector<Refusal> refusals = {{SYS_openat, 2, kUnnamed, EOPNOTSUPP}};
#ifdef SYS_open
    refusals.push_back({SYS_open, 1, kUnnamed, EOPNOTSUPP});
#endif
    return install(refusals);
}

bool refuseThreads() {
    // clone3 takes its flags in a structure too: it answers ENOSYS, and the C library starts
    // the thread with clone, whose flags tell a thread from a fork.
    return install({{SYS_clone3, 0, 0, ENOSYS}, {SYS_clone, 0, CLONE_THREAD, EAGAIN}});
}

} // namespace test_files
