// A kind's disguise header as an encoded file begins with it: its segment of the template file
// (Tolvex.dat), unmasked. The engine, the strong format and tolvex-cli's info all read it here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace tolvex {

// Reads up to `length` bytes at `offset` of the template; the count read, or -1 on failure.
using ReadTemplate = std::function<int64_t(uint64_t offset, void *buffer, size_t length)>;

// The header of `kind` (empty for kind 0, which has none). Nothing when the template cannot be
// read, is too short for the segment, or holds a segment that does not begin with the kind's
// magic: a header from it would give a file no decoder recognises.
std::optional<std::vector<uint8_t>> readDisguiseHeader(int kind, const ReadTemplate &read);

// The kind a file shows by its first bytes (at least 8 where the first four are shared by
// several kinds): the one whose magic and second word they match; 0 for none.
int kindOf(std::span<const uint8_t> leading);

} // namespace tolvex
