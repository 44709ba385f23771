// The -lh5- format's constants and tokens, shared by the block writer and the segment coder.
#pragma once

#include <cstddef>
#include <cstdint>

namespace unlha {

// Input is coded in segments of this size, each on its own with the window before it as
// history, so that segments can be coded on several cores at once. A stream is its segments'
// bits joined in order, whichever thread coded them.
constexpr size_t kLh5Segment = static_cast<size_t>(1) << 19;

namespace lh5 {

constexpr unsigned kWindowBits = 13;
// Matches reach back at most kWindow - 1 bytes: a full window's distance would read the slot a
// decoder's ring buffer is about to overwrite, which not every reader handles.
constexpr uint32_t kWindow = 1u << kWindowBits;
constexpr uint32_t kMinMatch = 3;
constexpr uint32_t kMaxMatch = 256;

constexpr int kNC = 256 + kMaxMatch - kMinMatch + 1; // literals, then one symbol per length
constexpr int kNP = kWindowBits + 1;                 // position classes 0..13
constexpr int kNT = 19;                              // symbols that code the C table's lengths
constexpr int kCBits = 9, kPBits = 4, kTBits = 5;
constexpr int kMaxCodeLength = 16;

// Tokens never cross a segment's end, and a segment ends its last block: the segments' bit
// strings simply follow each other.
constexpr size_t kSegment = kLh5Segment;

inline unsigned bitLength(uint32_t v) {
    return v ? 32 - static_cast<unsigned>(__builtin_clz(v)) : 0;
}

struct Token {
    uint16_t symbol;   // literal byte, or 256 + length - 3
    uint16_t distance; // distance - 1 for a match
};

inline unsigned positionClass(uint16_t distanceMinusOne) {
    return bitLength(distanceMinusOne);
}

} // namespace lh5
} // namespace unlha
