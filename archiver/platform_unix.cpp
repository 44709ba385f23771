#include "platform.h"
#include "transfers.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace unlha {

namespace {
constexpr size_t kOutputBuffer = size_t(1) << 18;
}

FILE *openStream(int fd, uint64_t start) {
    if (start > uint64_t(INT64_MAX) || ::lseek(fd, off_t(start), SEEK_SET) != off_t(start))
        return nullptr;
    return ::fdopen(fd, "rb");
}

bool setLength(int fd, uint64_t length) {
    if (length > uint64_t(INT64_MAX))
        return false;
    int result;
    do
        result = ::ftruncate(fd, off_t(length));
    while (result != 0 && errno == EINTR);
    return result == 0;
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

} // namespace unlha
