#include "platform.h"
#include "posix_files.h"

#include "naming.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvex::platform {
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
        if (n == 0)
            return false;
        done += size_t(n);
    }
    return true;
}

std::string folderOf(const std::string &path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::atomic<bool> g_unnamedFiles{true};

// The descriptor a file object holds.
int descriptorOf(intptr_t handle) {
    return int(handle);
}

// Removes the named temporaries in `folder` left by runs that were killed: their owner no
// longer exists and nobody holds their lock.
void removeStaleTemporaries(const std::string &folder) {
    DIR *dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    const int dirFd = ::dirfd(dir);
    while (const dirent *entry = ::readdir(dir)) {
        const auto owner = pid_t(temporaryOwner(entry->d_name, kTemporaryPrefix));
        if (owner == 0 || owner == ::getpid())
            continue;
        if (::kill(owner, 0) == 0 || errno == EPERM)
            continue; // still running
        const int fd = ::openat(dirFd, entry->d_name,
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            continue;
        struct stat st;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(dirFd, entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(dir);
}

// A fresh temporary name in `folder` that carries this process's id.
std::string temporaryName(const std::string &folder) {
    static std::atomic<uint64_t> counter{0};
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const uint64_t entropy = uint64_t(now.tv_nsec) ^ (uint64_t(now.tv_sec) << 20) ^
                             (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
    return folder + "/" + tolvex::temporaryName(kTemporaryPrefix, unsigned(::getpid()), entropy);
}

// Links an unnamed file to `target`; fails with EEXIST when the name is taken.
int linkUnnamed(int fd, const std::string &target) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    if (errno != ENOENT || ::access("/proc/self/fd", F_OK) == 0)
        return -1;
    return ::linkat(fd, "", AT_FDCWD, target.c_str(), AT_EMPTY_PATH); // no /proc mounted
}

} // namespace

int64_t readAt(int fd, uint64_t offset, void *buffer, size_t length) {
    return retryRead(fd, buffer, length, offset);
}

// Opens a file for reading without blocking on a FIFO or a device, and keeps it only when it is
// a regular file; the type is taken from the descriptor, so nothing can be swapped in between.
int openRegular(const char *path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

const char *const kArchiverLibrary = "libunlha32.so";

bool isSeparator(char c) {
    return c == '/';
}

bool isPlainName(std::string_view name) {
    return name.find('/') == std::string_view::npos;
}

bool pathExists(const char *path) {
    struct stat st;
    return ::lstat(path, &st) == 0;
}

bool sameFile(const char *a, const char *b) {
    struct stat sa, sb;
    if (::stat(a, &sa) != 0 || ::stat(b, &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::optional<InputFile> InputFile::open(const char *path) {
    const int fd = openRegular(path);
    if (fd < 0)
        return std::nullopt;
    return InputFile(intptr_t(fd));
}

InputFile::~InputFile() {
    if (m_handle >= 0)
        ::close(descriptorOf(m_handle));
}

int64_t InputFile::readAt(uint64_t offset, void *buffer, size_t length) {
    return retryRead(descriptorOf(m_handle), buffer, length, offset);
}

std::optional<uint64_t> InputFile::size() const {
    struct stat st;
    if (::fstat(descriptorOf(m_handle), &st) != 0)
        return std::nullopt;
    return uint64_t(st.st_size);
}

void setUnnamedFilesAvailable(bool available) {
    g_unnamedFiles = available;
}

std::optional<OutputFile> OutputFile::create(const std::string &path, bool replace) {
    const std::string folder = folderOf(path);
    removeStaleTemporaries(folder);
    std::string temp;
    int fd = -1;
    if (g_unnamedFiles)
        fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) {
        // No unnamed files here (or not wanted): a named one that later runs can clean up.
        if (g_unnamedFiles && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return std::nullopt;
        for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
            temp = temporaryName(folder);
            fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
            if (fd < 0 && errno != EEXIST)
                return std::nullopt;
        }
        if (fd < 0)
            return std::nullopt;
    }
    OutputFile file(fd, path, std::move(temp), replace);
    // The lock says "still being written" to the clean-up of other runs.
    if (::flock(fd, LOCK_EX) != 0)
        return std::nullopt;
    // A replacement keeps the permissions of the file it replaces; a new file gets the usual
    // ones, which creating it with 0666 under the umask gave already.
    struct stat old;
    if (replace && ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode) &&
        ::fchmod(fd, old.st_mode & 07777) != 0)
        return std::nullopt;
    return file;
}

bool OutputFile::write(const void *data, size_t length) {
    return retryWrite(descriptorOf(m_handle), data, length, std::nullopt);
}

bool OutputFile::writeAt(uint64_t offset, const void *data, size_t length) {
    return retryWrite(descriptorOf(m_handle), data, length, offset);
}

OutputFile::Commit OutputFile::commit() {
    if (m_done)
        return Commit::Failed;
    // Before a rename replaces the old file, the new content must be on the disk: otherwise a
    // crash could leave neither.
    if (m_replace && ::fsync(descriptorOf(m_handle)) != 0) {
        discard();
        return Commit::Failed;
    }
    if (!m_tempPath.empty()) {
        // The named stand-in: close first, so that a late write error still counts.
        const bool closed = ::close(descriptorOf(m_handle)) == 0;
        m_handle = -1;
        if (!closed) {
            discard();
            return Commit::Failed;
        }
        if (m_replace) {
            if (::rename(m_tempPath.c_str(), m_finalPath.c_str()) != 0) {
                discard();
                return Commit::Failed;
            }
        } else if (::renameat2(AT_FDCWD, m_tempPath.c_str(), AT_FDCWD, m_finalPath.c_str(),
                               RENAME_NOREPLACE) != 0) {
            const bool exists = errno == EEXIST;
            if (exists || (errno != EINVAL && errno != ENOSYS) ||
                ::link(m_tempPath.c_str(), m_finalPath.c_str()) != 0) {
                const bool taken = exists || errno == EEXIST;
                discard();
                return taken ? Commit::Exists : Commit::Failed;
            }
            ::unlink(m_tempPath.c_str());
        }
        m_done = true;
        return Commit::Done;
    }
    if (!m_replace) {
        // linkat refuses a taken name: "exists" stays true even for a file that appeared
        // while this one was written.
        if (linkUnnamed(descriptorOf(m_handle), m_finalPath) != 0) {
            const bool taken = errno == EEXIST;
            discard();
            return taken ? Commit::Exists : Commit::Failed;
        }
        const bool closed = ::close(descriptorOf(m_handle)) == 0;
        m_handle = -1;
        if (!closed) {
            ::unlink(m_finalPath.c_str());
            m_done = true;
            return Commit::Failed;
        }
        m_done = true;
        return Commit::Done;
    }
    // Replacing: a name of our own first, then one rename over the old file.
    const std::string folder = folderOf(m_finalPath);
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_tempPath = temporaryName(folder);
        if (linkUnnamed(descriptorOf(m_handle), m_tempPath) == 0)
            break;
        const bool retry = errno == EEXIST;
        m_tempPath.clear();
        if (!retry)
            break;
    }
    if (m_tempPath.empty()) {
        discard();
        return Commit::Failed;
    }
    const bool closed = ::close(descriptorOf(m_handle)) == 0;
    m_handle = -1;
    if (!closed || ::rename(m_tempPath.c_str(), m_finalPath.c_str()) != 0) {
        discard();
        return Commit::Failed;
    }
    m_done = true;
    return Commit::Done;
}

// An unnamed file vanishes with its descriptor; a named one is unlinked.
void OutputFile::discard() {
    if (m_handle >= 0)
        ::close(descriptorOf(m_handle));
    m_handle = -1;
    if (!m_tempPath.empty())
        ::unlink(m_tempPath.c_str());
    m_done = true;
}

// A bare name is looked for beside this library first, as its run path $ORIGIN would have it.
// The run path alone is not enough: the loader applies the caller's run path, and a dlopen
// interposed by a sanitizer or a preloaded library makes that caller someone else.
void *loadLibrary(const char *name) {
    if (!std::strchr(name, '/')) {
        Dl_info self;
        if (::dladdr(reinterpret_cast<void *>(&loadLibrary), &self) && self.dli_fname) {
            const std::string beside = folderOf(self.dli_fname) + "/" + name;
            if (void *library = ::dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL))
                return library;
        }
    }
    return ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

void *findSymbol(void *library, const char *name) {
    return library ? ::dlsym(library, name) : nullptr;
}

void unloadLibrary(void *library) {
    if (library)
        ::dlclose(library);
}

std::optional<MemoryStatus> readMemoryStatus() {
    FILE *info = std::fopen("/proc/meminfo", "re");
    if (!info)
        return std::nullopt;
    MemoryStatus status;
    int found = 0;
    char line[256];
    while (std::fgets(line, sizeof line, info)) {
        char key[64];
        unsigned long long kib = 0;
        if (std::sscanf(line, "%63[^:]: %llu", key, &kib) != 2)
            continue;
        const uint64_t bytes = uint64_t(kib) * 1024;
        if (!std::strcmp(key, "MemTotal"))
            status.total = bytes, ++found;
        else if (!std::strcmp(key, "MemAvailable"))
            status.available = bytes, ++found;
        else if (!std::strcmp(key, "CommitLimit"))
            status.commitLimit = bytes, ++found;
        else if (!std::strcmp(key, "Committed_AS"))
            status.committed = bytes, ++found;
    }
    std::fclose(info);
    if (found != 4 || status.total == 0)
        return std::nullopt;
    const uint64_t used = status.total - std::min(status.available, status.total);
    status.load = uint32_t(100 * used / status.total);
    return status;
}

} // namespace tolvex::platform
