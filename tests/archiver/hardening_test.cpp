// Hostile and unlucky cases: FIFOs where files belong, kills in the middle of a job, a
// restrictive umask, crafted names at every header level, too little room, few descriptors.
#include "busy_lock.h"
#include "commands.h"
#include "folder_watcher.h"
#include "lh5_encoder.h"
#include "lha_builder.h"
#include "lha_writer.h"
#include "loaded_library.h"
#include "segment_scheduler.h"
#include "support.h"
#include "system_refusals.h"
#include "temporaries.h"
#include "unlha32.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace archiver_test;

namespace {

// Runs `body` in a forked child and answers its exit status, or 128 + the signal that ended
// it. A child still running after `guardSeconds` is ended by SIGALRM: a hang fails the test
// instead of stopping the suite.
int inChild(const std::function<int()> &body, unsigned guardSeconds = 120) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(guardSeconds);
        int code = 99;
        try {
            code = body();
        } catch (...) {
        }
        ::_exit(code);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The low byte of a result code, to pass through an exit status.
int low(int code) {
    return code & 0xFF;
}

std::string extractLine(const std::string &archive, const std::string &destination) {
    return "e -d -r2 -jyo0 " + quote(archive) + " " + quote(destination + "/") + " \"*\"";
}

std::string packLine(const std::string &archive, const std::string &base, const std::string &name) {
    return "a -d -r2 " + quote(archive) + " " + quote(base + "/") + " " + quote(name);
}

// Temporaries of ours, or the old kind ("out.lzh.XXXXXX"), in a folder itself: they are only
// ever made beside the archive or at the top of the destination.
std::vector<std::string> temporariesIn(const std::string &folder) {
    std::vector<std::string> found;
    DIR *d = ::opendir(folder.c_str());
    if (!d)
        return found;
    while (const dirent *e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name.rfind(".unlha-", 0) == 0 || name.find(".lzh.") != std::string::npos)
            found.push_back(name);
    }
    ::closedir(d);
    return found;
}

Bytes stored(const std::string &name, const std::string &content, int level = 2,
             std::optional<std::string> folder = std::nullopt, uint16_t mode = 0100644) {
    RawMember m;
    m.level = level;
    m.name = name;
    m.folder = std::move(folder);
    m.data = content;
    m.mode = mode;
    return rawMember(m);
}

Bytes folderMember(const std::string &folderField, uint16_t mode = 040755) {
    RawMember m;
    m.method = "-lhd-";
    m.folder = folderField;
    m.mode = mode;
    return rawMember(m);
}

class Hardening : public ::testing::Test {
  protected:
    TempDir dir;
};

// ---- Hangs -------------------------------------------------------------------------------

TEST_F(Hardening, FifoGivenAsTheArchiveIsRefusedInsteadOfWaitedFor) {
    // No writer ever comes: a plain open for reading would wait for one for ever.
    ASSERT_EQ(::mkfifo((dir / "a.lzh").c_str(), 0600), 0);
    const int status =
        inChild([&] { return low(runCommand(extractLine(dir / "a.lzh", dir / "out"))); }, 20);
    EXPECT_EQ(status, low(UNLHA_ERROR_READ));
    EXPECT_FALSE(exists(dir / "out"));
}

TEST_F(Hardening, DeviceGivenAsTheArchiveIsUnreadableNotDamaged) {
    std::string message;
    EXPECT_EQ(runCommand(extractLine("/dev/null", dir / "out"), &message), UNLHA_ERROR_READ);
    EXPECT_NE(message.find("not a regular file"), std::string::npos) << message;
    EXPECT_FALSE(exists(dir / "out"));
}

// Packs "in" (a.txt, then b.txt) while another process swaps b.txt for a FIFO the moment
// a.txt is read: after planning listed b.txt as a file, racing its reading. The child's exit
// status: the result's low byte, 97 when a refusal does not name b.txt.
int packWhileBIsSwappedForAFifo(const TempDir &dir) {
    test_files::FolderWatcher swapper(
        dir / "in", IN_ACCESS, [](int folder, const std::string &name) {
            struct stat st;
            return name == "a.txt" && ::fstatat(folder, "b.txt", &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                   S_ISREG(st.st_mode) && ::unlinkat(folder, "b.txt", 0) == 0 &&
                   ::mkfifoat(folder, "b.txt", 0600) == 0;
        });
    if (!swapper.ready())
        return 96;
    const int status = inChild(
        [&] {
            std::string message;
            const int result = runCommand(packLine(dir / "out.lzh", dir.path(), "in"), &message);
            if (result == UNLHA_ERROR_READ && message.find("b.txt") == std::string::npos)
                return 97;
            return low(result);
        },
        20);
    return swapper.stop() == 1 ? status : 95;
}

TEST_F(Hardening, FileSwappedForAFifoAfterListingIsRefused) {
    // The swap lands while a.txt is checksummed and queued, before b.txt is opened; in a round
    // where it comes too late all the same, b.txt must have been packed as listed, never the FIFO.
    const Bytes b = textBytes(5000, 2);
    bool refused = false;
    for (int round = 0; round < 20 && !refused; ++round) {
        SCOPED_TRACE(round);
        TempDir d;
        makeFolder(d / "in");
        writeFile(d / "in/a.txt", textBytes(1 << 20, 1));
        writeFile(d / "in/b.txt", b);
        const int status = packWhileBIsSwappedForAFifo(d);
        if (status == low(UNLHA_ERROR_READ)) {
            refused = true;
            EXPECT_FALSE(exists(d / "out.lzh"));
            EXPECT_TRUE(temporariesIn(d.path()).empty());
            continue;
        }
        ASSERT_EQ(status, 0);
        ASSERT_EQ(runCommand(extractLine(d / "out.lzh", d / "out")), 0);
        EXPECT_EQ(readFile(d / "out/in/b.txt"), b);
    }
    EXPECT_TRUE(refused) << "the swap never landed before b.txt was read";
}

// ---- The busy lock -----------------------------------------------------------------------

TEST_F(Hardening, BusyLockThatIsAFifoNeitherHangsNorStopsCommands) {
    ASSERT_EQ(::mkfifo((dir / "lock").c_str(), 0600), 0);
    writeFile(dir / "in.txt", textBytes(100, 3));
    const int status = inChild(
        [&] {
            if (unlha::machineIsBusy(dir / "lock"))
                return 1;
            unlha::BusyLock lock(dir / "lock");
            return low(runCommand(packLine(dir / "out.lzh", dir.path(), "in.txt")));
        },
        20);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(exists(dir / "out.lzh"));
}

TEST_F(Hardening, BusyLockLivesInTheUsersRuntimeFolder) {
    makeFolder(dir / "run");
    ASSERT_EQ(::chmod((dir / "run").c_str(), 0700), 0);
    const int status = inChild([&] {
        ::unsetenv("UNLHA32_LOCK_DIR");
        ::setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
        unlha::BusyLock lock;
        return unlha::machineIsBusy() ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    struct stat st;
    ASSERT_EQ(::lstat((dir / "run/unlha32.lock").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_uid, ::geteuid());
}

TEST_F(Hardening, BusyLockIsNeverPutWhereOthersCanWrite) {
    makeFolder(dir / "shared");
    ASSERT_EQ(::chmod((dir / "shared").c_str(), 01777), 0);
    const int status = inChild([&] {
        ::unsetenv("UNLHA32_LOCK_DIR");
        ::setenv("XDG_RUNTIME_DIR", (dir / "shared").c_str(), 1);
        const std::string path = unlha::busyLockPath();
        // The fallback: a folder of the user's own with mode 0700.
        const std::string expected = "/tmp/unlha32-" + std::to_string(::geteuid());
        if (path != expected + "/unlha32.lock")
            return 1;
        struct stat st;
        if (::lstat(expected.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
            (st.st_mode & 0777) != 0700 || st.st_uid != ::geteuid())
            return 2;
        unlha::BusyLock lock;
        return unlha::machineIsBusy() ? 0 : 3;
    });
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(exists(dir / "shared/unlha32.lock"));
}

TEST_F(Hardening, BusyLockFileOfAnotherUserIsNotUsed) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give the file to another user";
    ASSERT_EQ(::chmod(dir.path().c_str(), 0700), 0);
    writeFile(dir / "unlha32.lock", std::string());
    ASSERT_EQ(::chown((dir / "unlha32.lock").c_str(), 65534, 65534), 0);
    const int holder = ::open((dir / "unlha32.lock").c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    const int status = inChild([&] {
        ::setenv("UNLHA32_LOCK_DIR", dir.path().c_str(), 1);
        return unlha::machineIsBusy() ? 1 : 0;
    });
    ::close(holder);
    EXPECT_EQ(status, 0) << "another user's lock file must not make this user busy";
}

// ---- Temporaries -------------------------------------------------------------------------

// Packs in a child that the file-size limit kills in the middle of writing the archive. With
// `unnamed` false the child finds no unnamed files, as on a file system without them, and the
// archive is made under a recorded name from the start.
int packKilledByTheSizeLimit(const TempDir &dir, bool unnamed) {
    return inChild([&] {
        if (!unnamed && !test_files::refuseUnnamedFiles())
            return 98;
        struct rlimit limit {
            256 * 1024, 256 * 1024
        };
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::signal(SIGXFSZ, SIG_DFL);
        return low(runCommand(packLine(dir / "out.lzh", dir.path(), "big.bin")));
    });
}

TEST_F(Hardening, KilledPackLeavesNoTemporaryAndNoArchive) {
    writeFile(dir / "big.bin", randomBytes(2 << 20, 4));
    EXPECT_EQ(packKilledByTheSizeLimit(dir, true), 128 + SIGXFSZ);
    EXPECT_EQ(allPaths(dir.path()), std::vector<std::string>{"big.bin"});
}

TEST_F(Hardening, NamedTemporaryOfAKilledPackIsRemovedByTheNextRun) {
    writeFile(dir / "big.bin", randomBytes(2 << 20, 5));
    EXPECT_EQ(packKilledByTheSizeLimit(dir, false), 128 + SIGXFSZ);
    EXPECT_FALSE(exists(dir / "out.lzh"));
    ASSERT_EQ(temporariesIn(dir.path()).size(), 1u) << "the named fallback was used";
    writeFile(dir / "small.txt", textBytes(1000, 6));
    ASSERT_EQ(runCommand(packLine(dir / "out.lzh", dir.path(), "small.txt")), 0);
    EXPECT_TRUE(temporariesIn(dir.path()).empty());
}

TEST_F(Hardening, NamedTemporaryOfARunningJobIsLeftAlone) {
    // Another process's temporary, locked by it for as long as it runs.
    const std::string name = dir / (".unlha-" + std::to_string(::getpid()) + "-abcDEF");
    const int owner = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(owner, 0);
    ASSERT_EQ(::flock(owner, LOCK_EX), 0);
    writeFile(dir / "small.txt", textBytes(1000, 7));
    const int status = inChild([&] {
        if (!test_files::refuseUnnamedFiles())
            return 98;
        return low(runCommand(packLine(dir / "out.lzh", dir.path(), "small.txt")));
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(exists(name));
    ::close(owner);
}

TEST_F(Hardening, KilledExtractionLeavesNothingUnderAFinalNameAndIsCleanedLater) {
    makeFolder(dir / "in");
    writeFile(dir / "in/big.bin", randomBytes(2 << 20, 8));
    ASSERT_EQ(runCommand(packLine(dir / "big.lzh", dir / "in", "big.bin")), 0);
    const int status = inChild([&] {
        struct rlimit limit {
            512 * 1024, 512 * 1024
        };
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::signal(SIGXFSZ, SIG_DFL);
        return low(runCommand(extractLine(dir / "big.lzh", dir / "out")));
    });
    EXPECT_EQ(status, 128 + SIGXFSZ);
    EXPECT_FALSE(exists(dir / "out/big.bin"));
    // The next extraction into the same folder removes what the killed one left.
    writeFile(dir / "in/small.txt", "small");
    ASSERT_EQ(runCommand(packLine(dir / "small.lzh", dir / "in", "small.txt")), 0);
    ASSERT_EQ(runCommand(extractLine(dir / "small.lzh", dir / "out")), 0);
    EXPECT_EQ(allPaths(dir / "out"), std::vector<std::string>{"small.txt"});
}

// ---- All or nothing ----------------------------------------------------------------------

TEST_F(Hardening, BadCrcInTheLastMemberLeavesTheDestinationAsItWas) {
    makeFolder(dir / "out");
    writeFile(dir / "out/a.txt", "the user's own");
    RawMember bad;
    bad.name = "b.txt";
    bad.data = "second";
    bad.crc = 0x1234;
    writeFile(dir / "a.lzh", rawArchive({stored("a.txt", "new content"),
                                         stored("c.txt", "third", 2, "sub\xFF"), rawMember(bad)}));
    const auto before = snapshot(dir / "out");
    EXPECT_EQ(runCommand(extractLine(dir / "a.lzh", dir / "out")), UNLHA_ERROR_DAMAGED);
    EXPECT_EQ(snapshot(dir / "out"), before);
}

TEST_F(Hardening, TooLongNameFailsBeforeAnythingIsWritten) {
    makeFolder(dir / "out");
    writeFile(dir / "out/a.txt", "the user's own");
    writeFile(dir / "a.lzh",
              rawArchive({stored("a.txt", "replaced"), stored(std::string(300, 'n'), "long")}));
    const auto before = snapshot(dir / "out");
    EXPECT_EQ(runCommand(extractLine(dir / "a.lzh", dir / "out")), UNLHA_ERROR_NAME);
    EXPECT_EQ(snapshot(dir / "out"), before);
}

TEST_F(Hardening, ExtractionReplacesExistingFilesWhenEveryMemberPassed) {
    makeFolder(dir / "out/sub");
    writeFile(dir / "out/a.txt", "old");
    writeFile(dir / "out/keep.txt", "untouched");
    writeFile(dir / "a.lzh", rawArchive({stored("a.txt", "new"), folderMember("sub\xFF"),
                                         stored("c.txt", "third", 2, "sub\xFF")}));
    ASSERT_EQ(runCommand(extractLine(dir / "a.lzh", dir / "out")), 0);
    EXPECT_EQ(allPaths(dir / "out"),
              (std::vector<std::string>{"a.txt", "keep.txt", "sub/", "sub/c.txt"}));
    EXPECT_EQ(readFile(dir / "out/a.txt"), Bytes({'n', 'e', 'w'}));
}

TEST_F(Hardening, FailureWhileMovingIntoPlacePutsEverythingBack) {
    makeFolder(dir / "out/ro");
    writeFile(dir / "out/a.txt", "old");
    writeFile(dir / "a.lzh", rawArchive({stored("a.txt", "new"), stored("x", "x", 2, "fresh\xFF"),
                                         stored("b.txt", "b", 2, "ro\xFF")}));
    // Passes every check, then cannot be written into: the last move fails.
    ASSERT_EQ(::chmod((dir / "out/ro").c_str(), 0555), 0);
    if (::geteuid() == 0) {
        for (const auto &p :
             {dir.path(), dir / "a.lzh", dir / "out", dir / "out/ro", dir / "out/a.txt"})
            ASSERT_EQ(::chown(p.c_str(), 65534, 65534), 0);
    }
    const auto before = snapshot(dir / "out");
    const int status = inChild([&] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            return 97;
        return low(runCommand(extractLine(dir / "a.lzh", dir / "out")));
    });
    EXPECT_EQ(status, low(UNLHA_ERROR_WRITE));
    EXPECT_EQ(snapshot(dir / "out"), before);
    ::chmod((dir / "out/ro").c_str(), 0755);
}

// A member 1,100 folders deep whose data is damaged.
Bytes deepArchive(bool damaged) {
    std::string folder;
    for (int i = 0; i < 1100; ++i)
        folder += "d\xFF";
    RawMember m;
    m.name = "deep.txt";
    m.folder = folder;
    m.data = "at the bottom";
    if (damaged)
        m.crc = 0x4321;
    return rawArchive({stored("top.txt", "top"), rawMember(m)});
}

// Extracts in a child process that may hold at most 1024 descriptors; its result's low half.
int extractUnderDescriptorLimit(const std::string &archive, const std::string &destination) {
    return inChild([&] {
        const rlimit limit{1024, 1024};
        ::setrlimit(RLIMIT_NOFILE, &limit);
        return low(runCommand(extractLine(archive, destination)));
    });
}

TEST_F(Hardening, DeepFailedExtractionLeavesNoStagingUnderFewDescriptors) {
    writeFile(dir / "deep.lzh", deepArchive(true));
    makeFolder(dir / "out");
    const int status = extractUnderDescriptorLimit(dir / "deep.lzh", dir / "out");
    EXPECT_EQ(status, low(UNLHA_ERROR_DAMAGED));
    EXPECT_TRUE(allPaths(dir / "out").empty());
}

TEST_F(Hardening, DeepExtractionSucceedsUnderFewDescriptors) {
    writeFile(dir / "deep.lzh", deepArchive(false));
    makeFolder(dir / "out");
    const int status = extractUnderDescriptorLimit(dir / "deep.lzh", dir / "out");
    EXPECT_EQ(status, 0);
    std::string path = dir / "out";
    for (int i = 0; i < 1100; ++i)
        path += "/d";
    EXPECT_EQ(readFile(path + "/deep.txt"),
              Bytes({'a', 't', ' ', 't', 'h', 'e', ' ', 'b', 'o', 't', 't', 'o', 'm'}));
    EXPECT_TRUE(temporariesIn(dir / "out").empty());
}

TEST_F(Hardening, RemoveTreeUsesFewDescriptorsHoweverDeep) {
    std::string path = dir / "tree";
    makeFolder(path);
    for (int i = 0; i < 1100; ++i) {
        path += "/d";
        ASSERT_EQ(::mkdir(path.c_str(), 0700), 0) << i;
        if (i % 100 == 0)
            writeFile(path + "/f", "x");
    }
    const int status = inChild([&] {
        struct rlimit limit {
            16, 16
        };
        ::setrlimit(RLIMIT_NOFILE, &limit);
        const int parent = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
        return tolvex::files::removeTree(parent, "tree") ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(allPaths(dir.path()).empty());
}

// ---- Permissions -------------------------------------------------------------------------

TEST_F(Hardening, StoredModesAreMaskedByTheUmaskAndSpecialBitsDropped) {
    writeFile(dir / "a.lzh", rawArchive({folderMember("open\xFF", 041777),
                                         stored("wide.txt", "w", 2, std::nullopt, 0100777),
                                         stored("setuid", "s", 2, std::nullopt, 0106755)}));
    const int status = inChild([&] {
        ::umask(077);
        return low(runCommand(extractLine(dir / "a.lzh", dir / "out")));
    });
    ASSERT_EQ(status, 0);
    struct stat st;
    ASSERT_EQ(::stat((dir / "out/open").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(::stat((dir / "out/wide.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(::stat((dir / "out/setuid").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
}

// Ends the process at any umask call: the umask is process-wide, and setting it even for a
// moment changes the files other threads create meanwhile.
void forbidUmask() {
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_umask, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {static_cast<unsigned short>(sizeof filter / sizeof *filter),
                                 filter};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
        ::_exit(98);
}

TEST_F(Hardening, PackingAndExtractingNeverChangeTheUmask) {
    makeFolder(dir / "in/sub");
    writeFile(dir / "in/sub/a.txt", textBytes(3000, 9));
    const int status = inChild([&] {
        ::umask(027);
        forbidUmask();
        const int packed = runCommand(packLine(dir / "out.lzh", dir.path(), "in"));
        if (packed != 0)
            return low(packed);
        return low(runCommand(extractLine(dir / "out.lzh", dir / "out")));
    });
    EXPECT_EQ(status, 0);
    struct stat st;
    ASSERT_EQ(::stat((dir / "out.lzh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(Hardening, ANewArchiveIsNoMoreReadableThanWhatItHolds) {
    makeFolder(dir / "in/sub");
    writeFile(dir / "in/open.txt", textBytes(100, 1));
    writeFile(dir / "in/sub/private.txt", textBytes(100, 2));
    ::chmod((dir / "in/open.txt").c_str(), 0644);
    ::chmod((dir / "in/sub/private.txt").c_str(), 0600);
    const int status = inChild([&] {
        ::umask(022);
        const int open = runCommand(packLine(dir / "open.lzh", dir.path(), "in/open.txt"));
        const int all = runCommand(packLine(dir / "all.lzh", dir.path(), "in"));
        return low(open != 0 ? open : all);
    });
    ASSERT_EQ(status, 0);
    struct stat st;
    ASSERT_EQ(::stat((dir / "open.lzh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    ASSERT_EQ(::stat((dir / "all.lzh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "a private file inside made the archive readable";
}

// ---- Expansion -----------------------------------------------------------------------------

TEST_F(Hardening, MembersLargerThanTheFreeSpaceAreRefusedBeforeWriting) {
    struct statvfs vfs;
    ASSERT_EQ(::statvfs(dir.path().c_str(), &vfs), 0);
    const uint64_t available = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    // Tiny members that each declare almost 4 GiB, enough of them to exceed the free space.
    std::vector<Bytes> members;
    for (uint64_t total = 0; total <= available + (static_cast<uint64_t>(1) << 32);
         total += 0xFFFFFFF0u) {
        RawMember m;
        m.name = "bomb" + std::to_string(members.size());
        m.method = "-lh5-";
        m.data = std::string(64, '\0');
        m.originalSize = 0xFFFFFFF0u;
        members.push_back(rawMember(m));
    }
    writeFile(dir / "bomb.lzh", rawArchive(members));
    makeFolder(dir / "out");
    std::string message;
    EXPECT_EQ(runCommand(extractLine(dir / "bomb.lzh", dir / "out"), &message),
              UNLHA_ERROR_NO_SPACE);
    EXPECT_NE(message.find("free"), std::string::npos) << message;
    EXPECT_TRUE(allPaths(dir / "out").empty());
}

TEST_F(Hardening, MemberDecodingToMoreThanItDeclaresIsDamaged) {
    RawMember m;
    m.name = "grows.txt";
    m.data = std::string(1000, 'g');
    m.originalSize = 10;
    m.crc = 0; // whatever the decoder makes of it, the length is wrong
    writeFile(dir / "a.lzh", rawArchive({rawMember(m)}));
    EXPECT_EQ(runCommand(extractLine(dir / "a.lzh", dir / "out")), UNLHA_ERROR_DAMAGED);
    EXPECT_TRUE(!exists(dir / "out") || allPaths(dir / "out").empty());
}

// ---- Names at every header level -----------------------------------------------------------

TEST_F(Hardening, PlainNamesExtractAtEveryHeaderLevel) {
    for (int level = 0; level <= 3; ++level) {
        SCOPED_TRACE("level " + std::to_string(level));
        TempDir d;
        const std::string name = level < 2 ? "sub\\plain.txt" : "plain.txt";
        const std::optional<std::string> folder =
            level < 2 ? std::nullopt : std::optional<std::string>("sub\xFF");
        writeFile(d / "a.lzh", rawArchive({stored(name, "content", level, folder)}));
        ASSERT_EQ(runCommand(extractLine(d / "a.lzh", d / "out")), 0);
        EXPECT_EQ(allPaths(d / "out"), (std::vector<std::string>{"sub/", "sub/plain.txt"}));
    }
}

TEST_F(Hardening, HostileNamesAreRefusedAtEveryHeaderLevel) {
    const std::vector<std::string> names = {"../x",
                                            "/../x",
                                            "a/../../x",
                                            "..\\x",
                                            "\\..\\tmp\\x",
                                            "C:\\..\\x",
                                            "C:",
                                            ".",
                                            "..",
                                            "",
                                            "x/..",
                                            std::string("a\0/../../x", 10),
                                            std::string("ok\0", 3)};
    const std::vector<std::string> folders = {"..\xFF", "\xFF..\xFFtmp\xFF", "a\xFF..\xFF..\xFF",
                                              std::string("a\0\xFF", 3)};
    struct Case {
        int level;
        std::string name;
        std::optional<std::string> folder;
    };
    std::vector<Case> cases;
    for (int level = 0; level <= 3; ++level)
        for (const auto &n : names)
            cases.push_back({level, n, std::nullopt});
    for (int level = 1; level <= 3; ++level)
        for (const auto &f : folders)
            cases.push_back({level, "x", f});
    for (const auto &c : cases) {
        std::string shown;
        for (const char ch : c.name + "|" + c.folder.value_or(""))
            shown += ch == '\0' ? std::string("\\0") : std::string(1, ch);
        SCOPED_TRACE("level " + std::to_string(c.level) + " name|folder " + shown);
        TempDir d;
        makeFolder(d / "a/b/out");
        writeFile(d / "a/b/x.lzh", rawArchive({stored("good.txt", "fine", c.level),
                                               stored(c.name, "escape", c.level, c.folder)}));
        const int result = runCommand(extractLine(d / "a/b/x.lzh", d / "a/b/out"));
        EXPECT_TRUE(result == UNLHA_ERROR_UNSAFE || result == UNLHA_ERROR_DAMAGED) << result;
        EXPECT_EQ(allPaths(d.path()),
                  (std::vector<std::string>{"a/", "a/b/", "a/b/out/", "a/b/x.lzh"}));
    }
}

TEST_F(Hardening, MemberNamedLikeATemporaryIsRefused) {
    // Extracted, it could be taken for a temporary left by a kill: every program's pattern,
    // in the member's name or in a folder on its way.
    const std::vector<std::pair<std::string, std::optional<std::string>>> members = {
        {".unlha-0123456789", std::nullopt},
        {"x.txt", ".tolvex-cli-4000000-abcdef/"},
        {".tolvex-4000000-abcdef", "docs/"},
        {".unlha-99-abcdef", std::nullopt}};
    for (const auto &[name, folder] : members) {
        writeFile(dir / "a.lzh", rawArchive({stored(name, "mine", 2, folder)}));
        EXPECT_EQ(runCommand(extractLine(dir / "a.lzh", dir / "out")), UNLHA_ERROR_UNSAFE) << name;
        EXPECT_FALSE(exists(dir / "out")) << name;
    }
}

// ---- Failures reported as success ----------------------------------------------------------

TEST_F(Hardening, ExistingFolderWithoutASlashIsTheDestination) {
    writeFile(dir / "a.lzh", rawArchive({stored("a.txt", "one")}));
    makeFolder(dir / "out");
    EXPECT_EQ(runCommand("e " + quote(dir / "a.lzh") + " " + quote(dir / "out")), 0);
    EXPECT_EQ(readFile(dir / "out/a.txt"), Bytes({'o', 'n', 'e'}));
}

TEST_F(Hardening, MissingFolderWithoutASlashMatchesNothingAndFails) {
    writeFile(dir / "a.lzh", rawArchive({stored("a.txt", "one")}));
    std::string message;
    EXPECT_EQ(runCommand("e " + quote(dir / "a.lzh") + " " + quote(dir / "missing"), &message),
              UNLHA_ERROR_NO_MATCH);
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(allPaths(dir.path()), std::vector<std::string>{"a.lzh"});
}

TEST_F(Hardening, PatternMatchingNoMemberIsAnError) {
    writeFile(dir / "a.lzh", rawArchive({stored("a.txt", "one")}));
    EXPECT_EQ(runCommand("e " + quote(dir / "a.lzh") + " " + quote(dir / "out/") + " \"*.doc\""),
              UNLHA_ERROR_NO_MATCH);
    EXPECT_FALSE(exists(dir / "out/a.txt"));
}

// ---- Packing over what it should not replace ------------------------------------------------

TEST_F(Hardening, PackingRefusesEveryNonArchiveWhateverItsSize) {
    writeFile(dir / "in.txt", "data");
    for (const std::string &content :
         {std::string(), std::string("x"), std::string("xy"), std::string(5000, 'z')}) {
        SCOPED_TRACE(content.size());
        writeFile(dir / "notes.lzh", content);
        EXPECT_NE(runCommand(packLine(dir / "notes.lzh", dir.path(), "in.txt")), 0);
        EXPECT_EQ(readFile(dir / "notes.lzh"), Bytes(content.begin(), content.end()));
        EXPECT_TRUE(temporariesIn(dir.path()).empty());
    }
}

TEST_F(Hardening, LinkedArchiveIsUpdatedAtItsTarget) {
    makeFolder(dir / "store");
    writeFile(dir / "one.txt", "one");
    writeFile(dir / "two.txt", "two");
    ASSERT_EQ(runCommand(packLine(dir / "store/real.lzh", dir.path(), "one.txt")), 0);
    ASSERT_EQ(::symlink("store/real.lzh", (dir / "link.lzh").c_str()), 0);
    ASSERT_EQ(runCommand(packLine(dir / "link.lzh", dir.path(), "two.txt")), 0);
    struct stat st;
    ASSERT_EQ(::lstat((dir / "link.lzh").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(runCommand(extractLine(dir / "store/real.lzh", dir / "out")), 0);
    EXPECT_EQ(allPaths(dir / "out"), (std::vector<std::string>{"one.txt", "two.txt"}));
}

// ---- Worker threads ------------------------------------------------------------------------

class CountingSink : public unlha::ByteSink {
  public:
    bool put(const uint8_t *, size_t length) override {
        count += length;
        return true;
    }
    size_t count = 0;
};

// Workers whose every segment fails as if out of memory.
class FailingWorkers : public unlha::SegmentScheduler {
    unlha::Lh5Bits code(const uint8_t *, size_t, size_t) override { throw std::bad_alloc(); }
};

TEST_F(Hardening, EncoderWorkerFailureIsAnErrorNotTheEndOfTheProcess) {
    const Bytes data = textBytes(3 * unlha::kLh5Segment, 10);
    FailingWorkers scheduler;
    CountingSink sink;
    unlha::Lh5Encoder encoder(sink, scheduler);
    const bool written = encoder.write(data.data(), data.size()) && encoder.finish();
    EXPECT_FALSE(written);
    EXPECT_TRUE(encoder.failed());
}

TEST_F(Hardening, EncoderWorkerFailureFailsTheMember) {
    writeFile(dir / "big.txt", textBytes(3 * unlha::kLh5Segment, 11));
    FailingWorkers scheduler;
    const tolvex::files::Fd source(::open((dir / "big.txt").c_str(), O_RDONLY | O_CLOEXEC));
    const tolvex::files::Fd out(
        ::open((dir / "out.lzh").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    unlha::ArchiveWriter writer(out.get(), scheduler);
    EXPECT_EQ(writer.addFile({"big.txt", 0, 0100644}, source.get()), unlha::WriteStatus::Internal);
}

TEST_F(Hardening, PackThatCannotStartItsWorkersFailsAndLeavesNoArchive) {
    writeFile(dir / "in.txt", textBytes(100000, 12));
    // A child that may start no thread, as at the user's process limit, packs through the
    // library's export: nothing thrown inside gets past it.
    const int status = inChild([&] {
        const test_files::LoadedLibrary library(std::string(TOLVEX_BIN_DIR) + "/libunlha32.so");
        const auto unlha =
            library.bind<int (*)(void *, const char *, char *, unsigned long)>("Unlha");
        if (!unlha || !test_files::refuseThreads())
            return 98;
        char output[256] = {};
        const std::string line = packLine(dir / "out.lzh", dir.path(), "in.txt");
        const int result = unlha(nullptr, line.c_str(), output, sizeof output);
        return std::string(output).find("cannot start the threads") != std::string::npos
                   ? low(result)
                   : 97;
    });
    EXPECT_EQ(status, low(UNLHA_ERROR_INTERNAL));
    EXPECT_EQ(allPaths(dir.path()), std::vector<std::string>{"in.txt"});
    EXPECT_TRUE(temporariesIn(dir.path()).empty());
}

// ---- Smaller ones --------------------------------------------------------------------------

TEST_F(Hardening, UnreadableArchiveIsReportedUnreadableNotDamaged) {
    writeFile(dir / "in.txt", "data");
    ASSERT_EQ(runCommand(packLine(dir / "a.lzh", dir.path(), "in.txt")), 0);
    ASSERT_EQ(::chmod((dir / "a.lzh").c_str(), 0), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    const int status = inChild([&] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            return 97;
        return low(runCommand(extractLine(dir / "a.lzh", dir / "out")));
    });
    EXPECT_EQ(status, low(UNLHA_ERROR_READ));
}

} // namespace
