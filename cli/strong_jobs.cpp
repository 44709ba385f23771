#include "strong_jobs.h"

#include "kinds.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace cli {
namespace {

// A descriptor closed when it goes.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

// Opened without blocking, and only when the descriptor is a regular file.
int openRegular(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

strong::ReadFn readerOf(int fd) {
    return [fd](uint8_t *buffer, size_t size) -> int64_t {
        for (;;) {
            const ssize_t n = ::read(fd, buffer, size);
            if (n < 0 && errno == EINTR)
                continue;
            return n;
        }
    };
}

strong::WriteFn writerOf(int fd) {
    return [fd](const uint8_t *data, size_t size) {
        while (size > 0) {
            const ssize_t n = ::write(fd, data, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            data += n;
            size -= size_t(n);
        }
        return true;
    };
}

} // namespace

strong::Status encryptStrongFile(const std::string &source, const std::string &name,
                                 const std::string &output, const StrongEncryption &settings,
                                 const strong::Hooks &hooks) {
    const Fd in(openRegular(source));
    if (in.fd < 0)
        return strong::Status::ReadFailed;
    struct stat st;
    if (::fstat(in.fd, &st) != 0)
        return strong::Status::ReadFailed;
    Fd out(::open(output.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (out.fd < 0)
        return strong::Status::WriteFailed;
    strong::EncryptRequest request;
    request.kind = settings.kind;
    request.templatePath = settings.templatePath;
    request.kdf = settings.kdf;
    request.passphrase = settings.passphrase;
    request.name = name;
    request.size = uint64_t(st.st_size);
    // Publishing syncs the file when it replaces one, as for classic outputs.
    strong::Status status = strong::encrypt(request, readerOf(in.fd), writerOf(out.fd), hooks);
    if (status == strong::Status::Ok && ::close(out.fd) != 0)
        status = strong::Status::WriteFailed; // a late write error (NFS, quota) shows here
    out.fd = -1;
    return status;
}

strong::Status decryptStrongFile(const std::string &source, const std::string &output,
                                 const std::string &passphrase, strong::Decrypted &result,
                                 const strong::Hooks &hooks) {
    const Fd in(openRegular(source));
    if (in.fd < 0)
        return strong::Status::ReadFailed;
    strong::Status status;
    {
        Fd out(::open(output.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (out.fd < 0)
            return strong::Status::WriteFailed;
        status = strong::decrypt(passphrase, readerOf(in.fd), writerOf(out.fd), result, hooks);
        if (status == strong::Status::Ok && ::close(out.fd) != 0)
            status = strong::Status::WriteFailed; // a late write error (NFS, quota) shows here
        out.fd = -1;
    }
    if (status != strong::Status::Ok)
        ::unlink(output.c_str());
    return status;
}

strong::Status probeStrongFile(const std::string &path, strong::Preamble &preamble) {
    const Fd in(openRegular(path));
    if (in.fd < 0)
        return strong::Status::ReadFailed;
    std::vector<uint8_t> leading(strong::probeSize());
    size_t done = 0;
    while (done < leading.size()) {
        const ssize_t n = ::read(in.fd, leading.data() + done, leading.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return strong::Status::ReadFailed;
        if (n == 0)
            break;
        done += size_t(n);
    }
    leading.resize(done);
    return strong::probe(leading, preamble);
}

std::string describeStrong(const std::string &shownPath, const strong::Preamble &preamble) {
    std::string s = shownPath + ":\n";
    s += "  disguise:       " +
         (preamble.kind ? kindName(preamble.kind) + " (kind " + std::to_string(preamble.kind) + ")"
                        : std::string("none")) +
         "\n";
    s += "  encoded:        strong (format version " + std::to_string(preamble.version) + ")\n";
    const uint64_t kib = preamble.kdf.memLimit >> 10;
    s += "  key derivation: Argon2id, " + std::to_string(preamble.kdf.opsLimit) + " passes, " +
         (kib % 1024 == 0 ? std::to_string(kib >> 10) + " MiB" : std::to_string(kib) + " KiB") +
         "\n";
    return s;
}

} // namespace cli
