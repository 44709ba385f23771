// Descriptor-level reading for the Linux tools that share the codec's rules for opening files
// (tolvex-cli): implemented in platform_unix.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tolvex::platform {

// Opens a file for (blocking) reading without ever blocking in the open: anything but a
// regular file, a FIFO, device or socket among them, is refused with errno EINVAL, judged by
// the descriptor itself. -1 with errno set on failure.
int openRegular(const char *path);

// Reads up to `length` bytes at `offset`, past interruptions and short reads; -1 on error,
// else the count (short only at the end of the file).
int64_t readAt(int fd, uint64_t offset, void *buffer, size_t length);

} // namespace tolvex::platform
