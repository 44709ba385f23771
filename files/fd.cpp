#include "fd.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
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

Fd openFolderAt(int folder, const std::string &name) {
    return Fd(::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

Fd openFolder(const std::string &path) {
    return Fd(::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

Fd createFileAt(int folder, const std::string &name, unsigned mode) {
    return Fd(::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                       mode_t(mode)));
}

Fd duplicate(int fd) {
    return Fd(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
}

bool makeFolders(const std::string &path, std::string *failedAt) {
    std::string sofar;
    if (!path.empty() && path[0] == '/')
        sofar = "/";
    size_t start = 0;
    while (start <= path.size()) {
        const size_t slash = std::min(path.find('/', start), path.size());
        const std::string part = path.substr(start, slash - start);
        start = slash + 1;
        if (part.empty())
            continue;
        sofar += part;
        // A parent that exists as something other than a folder answers ENOTDIR here.
        if (::mkdir(sofar.c_str(), 0777) != 0 && errno != EEXIST) {
            if (failedAt)
                *failedAt = sofar;
            return false;
        }
        sofar += '/';
    }
    struct stat st;
    const bool found = ::stat(path.c_str(), &st) == 0;
    if (found && S_ISDIR(st.st_mode))
        return true;
    if (found)
        errno = ENOTDIR;
    if (failedAt)
        *failedAt = path;
    return false;
}

namespace {

int64_t retryRead(int fd, void *buffer, size_t length, std::optional<uint64_t> offset) {
    auto *out = static_cast<unsigned char *>(buffer);
    size_t done = 0;
    while (done < length) {
        const ssize_t n = offset ? ::pread(fd, out + done, length - done, off_t(*offset + done))
                                 : ::read(fd, out + done, length - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += size_t(n);
    }
    return int64_t(done);
}

bool retryWrite(int fd, const void *data, size_t length, std::optional<uint64_t> offset) {
    const auto *in = static_cast<const unsigned char *>(data);
    size_t done = 0;
    while (done < length) {
        const ssize_t n = offset ? ::pwrite(fd, in + done, length - done, off_t(*offset + done))
                                 : ::write(fd, in + done, length - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        done += size_t(n);
    }
    return true;
}

} // namespace

int64_t readAt(int fd, uint64_t offset, void *buffer, size_t length) {
    return retryRead(fd, buffer, length, offset);
}

int64_t readSome(int fd, void *buffer, size_t length) {
    return retryRead(fd, buffer, length, std::nullopt);
}

bool writeAt(int fd, uint64_t offset, const void *data, size_t length) {
    return retryWrite(fd, data, length, offset);
}

bool writeAll(int fd, const void *data, size_t length) {
    return retryWrite(fd, data, length, std::nullopt);
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

std::optional<uint64_t> freeSpace(int fd) {
    struct statvfs vfs;
    if (::fstatvfs(fd, &vfs) != 0)
        return std::nullopt;
    return uint64_t(vfs.f_bavail) * uint64_t(vfs.f_frsize);
}

std::optional<uint64_t> freeSpace(std::string path) {
    for (;;) {
        struct statvfs vfs;
        if (::statvfs(path.c_str(), &vfs) == 0)
            return uint64_t(vfs.f_bavail) * uint64_t(vfs.f_frsize);
        // A folder still to be made: ask the nearest one that exists. "." and "/" end it.
        if ((errno != ENOENT && errno != ENOTDIR) || path == "." || path == "/")
            return std::nullopt;
        while (!path.empty() && path.back() == '/')
            path.pop_back();
        const size_t slash = path.rfind('/');
        if (slash == std::string::npos)
            path.assign(1, '.');
        else
            path.resize(slash == 0 ? 1 : slash);
    }
}

std::string descriptorPath(int fd) {
    static const bool mounted = ::access("/proc/self/fd", X_OK) == 0;
    return mounted ? "/proc/self/fd/" + std::to_string(fd) : std::string();
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

bool syncFile(int fd) {
    return ::fsync(fd) == 0;
}

bool removeFileAt(int folder, const std::string &name) {
    return ::unlinkat(folder, name.c_str(), 0) == 0;
}

std::optional<std::vector<std::string>> listFolder(const std::string &path) {
    const Fd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.valid() ? listFolderAt(fd.get()) : std::nullopt;
}

std::optional<std::vector<std::string>> listFolderAt(int fd) {
    Fd listing = duplicate(fd);
    DIR *dir = listing.valid() ? ::fdopendir(listing.get()) : nullptr;
    if (!dir)
        return std::nullopt;
    listing.release();
    ::rewinddir(dir);
    std::vector<std::string> names;
    errno = 0;
    while (const dirent *entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    const int error = errno;
    ::closedir(dir);
    if (error != 0) {
        errno = error;
        return std::nullopt;
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool sameFile(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool sameFileAt(int folder, const std::string &name, const std::string &input) {
    const auto out = statusAt(folder, name, true);
    const auto in = statusAt(AT_FDCWD, input, true);
    return out && in && sameFile(*out, *in);
}

Fd openBeneath(int root, const std::string &path, int flags) {
    const bool pathOnly = (flags & O_PATH) != 0;
    open_how how{};
    // openat2 refuses flags that O_PATH would ignore.
    how.flags = static_cast<uint64_t>(flags | O_CLOEXEC | (pathOnly ? 0 : O_NOCTTY | O_NONBLOCK));
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    Fd fd(static_cast<int>(::syscall(SYS_openat2, root, path.c_str(), &how, sizeof how)));
    struct stat st;
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0)
        return Fd();
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        errno = EINVAL;
        return Fd();
    }
    if (pathOnly)
        return fd;
    // Opened without waiting (a FIFO would hang the open); reads block as usual.
    const int status = ::fcntl(fd.get(), F_GETFL);
    if (status < 0 || ::fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK) != 0)
        return Fd();
    return fd;
}

std::optional<std::string> resolvedPath(const std::string &path) {
    char *resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return std::nullopt;
    std::string out = resolved;
    std::free(resolved);
    return out;
}

uid_t userId() {
    return ::geteuid();
}

bool isPrivateFolder(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
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
