#include "platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace unlha {

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

Fd openRegular(int folderFd, const std::string &path, bool follow, OpenResult &result) {
    const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW);
    Fd fd(::openat(folderFd, path.c_str(), flags));
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

unsigned processUmask() {
    unsigned mask = 022;
    FILE *status = std::fopen("/proc/self/status", "re");
    if (!status)
        return mask;
    char line[256];
    while (std::fgets(line, sizeof line, status)) {
        unsigned value;
        if (std::strncmp(line, "Umask:", 6) == 0 && std::sscanf(line + 6, "%o", &value) == 1) {
            mask = value & 0777;
            break;
        }
    }
    std::fclose(status);
    return mask;
}

int64_t readAt(int fd, uint64_t offset, void *buffer, size_t length) {
    auto *p = static_cast<char *>(buffer);
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, p + done, length - done, off_t(offset + done));
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

bool writeAt(int fd, uint64_t offset, const void *data, size_t length) {
    const auto *p = static_cast<const char *>(data);
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pwrite(fd, p + done, length - done, off_t(offset + done));
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

namespace {
constexpr size_t kOutputBuffer = size_t(1) << 18;
}

BufferedOutput::BufferedOutput(int fd, uint64_t start) : m_fd(fd), m_flushed(start) {
    m_buffer.reserve(kOutputBuffer);
}

bool BufferedOutput::write(const void *data, size_t length) {
    if (m_buffer.size() + length > kOutputBuffer && !flush())
        return false;
    if (length >= kOutputBuffer) {
        if (!writeAt(m_fd, m_flushed, data, length))
            return false;
        m_flushed += length;
        return true;
    }
    m_buffer.append(static_cast<const char *>(data), length);
    return true;
}

bool BufferedOutput::flush() {
    if (m_buffer.empty())
        return true;
    if (!writeAt(m_fd, m_flushed, m_buffer.data(), m_buffer.size()))
        return false;
    m_flushed += m_buffer.size();
    m_buffer.clear();
    return true;
}

bool BufferedOutput::truncate(uint64_t position) {
    if (position >= m_flushed) {
        m_buffer.resize(std::min<size_t>(m_buffer.size(), size_t(position - m_flushed)));
        return true;
    }
    m_buffer.clear();
    m_flushed = position;
    return ::ftruncate(m_fd, off_t(position)) == 0;
}

bool BufferedOutput::patch(uint64_t position, const void *data, size_t length) {
    return flush() && writeAt(m_fd, position, data, length);
}

Fd duplicate(int fd) {
    return Fd(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
}

Fd openFolderAt(int folder, const std::string &name) {
    return Fd(::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

Fd createFileAt(int folder, const std::string &name, unsigned mode) {
    return Fd(::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                       mode_t(mode)));
}

bool makeFolders(const std::string &path) {
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
        if (::mkdir(sofar.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
        sofar += '/';
    }
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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

} // namespace unlha
