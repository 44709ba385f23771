// RIFF's chunk walk, shared by WAVE and AVI: a chunk is a four-character id, a 32-bit
// little-endian size and its content, padded to an even length.
#pragma once

#include "container.h"
#include "framing.h"

#include <cstdint>

namespace strong::riff {

struct Chunk {
    uint32_t id = 0;    // the four characters, as loadLe32 reads them
    uint64_t at = 0;    // where the chunk's content starts
    uint32_t size = 0;  // the size field as written
    uint64_t after = 0; // where the next chunk starts (past the pad byte)
};

constexpr uint32_t fourcc(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

// The chunk header at `offset`, which must lie before `end`: 1 with `chunk` filled, 0 when the
// header does not fit, kBodyReadFailed on a read failure. The content's extent is not checked
// against `end` (a data chunk's size may come from elsewhere).
inline int chunkAt(const ContainerInput &input, uint64_t offset, uint64_t end, Chunk &chunk) {
    if (offset > end || end - offset < 8)
        return 0;
    uint8_t head[8];
    const int got = framing::readExact(input, offset, head, sizeof head);
    if (got <= 0)
        return got;
    chunk.id = framing::loadLe32(head);
    chunk.size = framing::loadLe32(head + 4);
    chunk.at = offset + 8;
    chunk.after = chunk.at + chunk.size + (chunk.size & 1);
    return 1;
}

} // namespace strong::riff
