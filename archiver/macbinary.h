// MacBinary, in which MacLHA wraps a member: a 128-byte header giving the lengths of the two
// forks, then the data fork and the resource fork, each padded to a multiple of 128 bytes. The
// CRC of the LHA header covers the whole wrapped file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace unlha {

inline constexpr size_t kMacBinaryHeader = 128;

// The data fork's length when `header` (a member's first 128 bytes) is a MacBinary header of
// a file without a resource fork, and the data fork with its padding makes up the member's
// `length` bytes; nothing otherwise. With a resource fork, the whole wrapped file is the
// member, so that nothing is lost.
std::optional<uint64_t> macBinaryDataFork(const uint8_t *header, uint64_t length);

} // namespace unlha
