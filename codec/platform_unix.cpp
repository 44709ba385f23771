#include "platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
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

// The process's file-creation mask, read without changing it (umask() would, process-wide).
mode_t currentUmask() {
    FILE *status = std::fopen("/proc/self/status", "re");
    mode_t mask = 022;
    if (!status)
        return mask;
    char line[256];
    while (std::fgets(line, sizeof line, status)) {
        unsigned value = 0;
        if (std::sscanf(line, "Umask: %o", &value) == 1) {
            mask = mode_t(value);
            break;
        }
    }
    std::fclose(status);
    return mask;
}

} // namespace

bool isSeparator(char c) { return c == '/'; }

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
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    return InputFile(fd);
}

InputFile::InputFile(InputFile &&other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }

InputFile::~InputFile() {
    if (m_fd >= 0)
        ::close(m_fd);
}

int64_t InputFile::readAt(uint64_t offset, void *buffer, size_t length) {
    return retryRead(m_fd, buffer, length, offset);
}

int64_t InputFile::read(void *buffer, size_t length) {
    return retryRead(m_fd, buffer, length, std::nullopt);
}

std::optional<uint64_t> InputFile::size() const {
    struct stat st;
    if (::fstat(m_fd, &st) != 0)
        return std::nullopt;
    return uint64_t(st.st_size);
}

std::optional<OutputFile> OutputFile::create(const std::string &path, bool replace) {
    if (!replace) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0)
            return std::nullopt;
        return OutputFile(fd, path, {});
    }
    std::string temp = folderOf(path) + "/.tolvex-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    // The replacement keeps the permissions of the file it replaces, or gets the usual ones.
    struct stat old;
    const mode_t mode = ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)
                            ? (old.st_mode & 07777)
                            : (0666 & ~currentUmask());
    if (::fchmod(fd, mode) != 0) {
        ::close(fd);
        ::unlink(temp.c_str());
        return std::nullopt;
    }
    return OutputFile(fd, path, std::move(temp));
}

OutputFile::OutputFile(OutputFile &&other) noexcept
    : m_fd(other.m_fd), m_finalPath(std::move(other.m_finalPath)),
      m_tempPath(std::move(other.m_tempPath)), m_done(other.m_done) {
    other.m_fd = -1;
    other.m_done = true;
}

OutputFile::~OutputFile() {
    if (!m_done)
        discard();
}

bool OutputFile::write(const void *data, size_t length) {
    return retryWrite(m_fd, data, length, std::nullopt);
}

bool OutputFile::writeAt(uint64_t offset, const void *data, size_t length) {
    return retryWrite(m_fd, data, length, offset);
}

bool OutputFile::commit() {
    if (m_done)
        return false;
    bool ok = true;
    // Before a rename replaces the old file, the new content must be on the disk: otherwise a
    // crash could leave neither.
    if (!m_tempPath.empty() && ::fsync(m_fd) != 0)
        ok = false;
    if (::close(m_fd) != 0)
        ok = false;
    m_fd = -1;
    if (ok && !m_tempPath.empty() && ::rename(m_tempPath.c_str(), m_finalPath.c_str()) != 0)
        ok = false;
    if (!ok) {
        discard();
        return false;
    }
    m_done = true;
    return true;
}

void OutputFile::discard() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    ::unlink(m_tempPath.empty() ? m_finalPath.c_str() : m_tempPath.c_str());
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
    if (found != 4)
        return std::nullopt;
    return status;
}

} // namespace tolvex::platform
