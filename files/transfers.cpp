#include "transfers.h"

#include <cerrno>
#include <optional>
#include <unistd.h>

namespace tolvex::files {

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

bool syncFile(int fd) {
    return ::fsync(fd) == 0;
}

} // namespace tolvex::files
