#include "fd.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvex::files {

Fd &Fd::operator=(Fd &&other) noexcept {
    if (this != &other) {
        close();
        m_fd = other.release();
    }
    return *this;
}

Fd::~Fd() {
    close();
}

int Fd::release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

bool Fd::close() {
    if (m_fd < 0)
        return true;
    const int result = ::close(m_fd);
    m_fd = -1;
    return result == 0;
}

Fd openRegular(int folder, const std::string &path, bool follow, OpenResult &result) {
    const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW);
    Fd fd(::openat(folder, path.c_str(), flags));
    if (!fd.valid()) {
        result = errno == ENOENT  ? OpenResult::Missing
                 : errno == ELOOP ? OpenResult::NotRegular
                                  : OpenResult::Failed;
        return Fd();
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) {
        result = OpenResult::Failed;
        return Fd();
    }
    if (!S_ISREG(st.st_mode)) {
        result = OpenResult::NotRegular;
        errno = EINVAL;
        return Fd();
    }
    const int status = ::fcntl(fd.get(), F_GETFL);
    if (status < 0 || ::fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK) != 0) {
        result = OpenResult::Failed;
        return Fd();
    }
    result = OpenResult::Ok;
    return fd;
}

int openRegular(const char *path) {
    OpenResult result;
    return openRegular(AT_FDCWD, path, true, result).release();
}

Fd createFileAt(int folder, const std::string &name, unsigned mode) {
    return Fd(::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                       mode_t(mode)));
}

Fd duplicate(int fd) {
    return Fd(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
}

mode_t processUmask() {
    mode_t mask = 022;
    FILE *status = std::fopen("/proc/self/status", "re");
    if (!status)
        return mask;
    char line[256];
    while (std::fgets(line, sizeof line, status)) {
        unsigned value;
        if (std::strncmp(line, "Umask:", 6) == 0 && std::sscanf(line + 6, "%o", &value) == 1) {
            mask = mode_t(value & 0777);
            break;
        }
    }
    std::fclose(status);
    return mask;
}

mode_t outputMode(std::optional<mode_t> source) {
    return (source ? *source : mode_t(0666)) & 0666 & ~processUmask();
}

std::optional<struct stat> status(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return std::nullopt;
    return st;
}

std::optional<struct stat> statusAt(int folder, const std::string &name, bool follow) {
    struct stat st;
    if (::fstatat(folder, name.c_str(), &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return st;
}

bool setMode(int fd, mode_t mode) {
    return ::fchmod(fd, mode) == 0;
}

bool setModifiedTime(int fd, time_t modified) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {modified, 0}};
    return ::futimens(fd, times) == 0;
}

Fd openLockFile(const std::string &path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                 0600));
    struct stat st;
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid())
        return Fd();
    return fd;
}

bool lockExclusive(int fd) {
    int result;
    while ((result = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    return result == 0;
}

bool lockedExclusively(int fd) {
    // A shared lock is refused only while someone holds the exclusive one; two callers asking
    // at once do not disturb each other.
    return ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

} // namespace tolvex::files
