// Reading and writing through a descriptor, past interruptions and short transfers, and waiting
// for what was written to reach the disk.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tolvex::files {

// Reads up to `length` bytes at `offset` (or at the current position without one), past
// interruptions and short reads; -1 on error, else the count (short only at the end).
int64_t readAt(int fd, uint64_t offset, void *buffer, size_t length);
int64_t readSome(int fd, void *buffer, size_t length);
// Writes all bytes at `offset` (or at the current position); false on any error, a full disk
// included.
bool writeAt(int fd, uint64_t offset, const void *data, size_t length);
bool writeAll(int fd, const void *data, size_t length);
// Waits until what was written to `fd` is on the disk.
bool syncFile(int fd);

} // namespace tolvex::files
