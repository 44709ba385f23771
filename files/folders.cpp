#include "folders.h"

#include "fd.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tolvex::files {

Fd openFolderAt(int folder, const std::string &name) {
    return Fd(::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

Fd openFolder(const std::string &path) {
    return Fd(::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
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

uid_t userId() {
    return ::geteuid();
}

bool isPrivateFolder(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace tolvex::files
