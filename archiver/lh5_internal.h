// The -lh5- coder's pieces, shared by its files: the format's constants, the bit writer, the
// block writer (tables and codes) and the segment coder (match finder and parser).
#pragma once

#include "lh5_encoder.h"

#include <cstdint>
#include <vector>

namespace unlha::lh5 {

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

// Match finder tuning: how many tree nodes to visit per position, and the length at which a
// match is taken without weighing the alternatives.
constexpr int kTreeDepth = 32;
constexpr uint32_t kNiceLength = 96;

constexpr unsigned kHashBits = 15;

// Tokens never cross a segment's end, and a segment ends its last block: the segments' bit
// strings simply follow each other.
constexpr size_t kSegment = kLh5Segment;
// Positions parsed together: the cheapest way through them is searched as a whole, and they
// become one block. Larger blocks spend less on tables; the format allows 65535 tokens.
constexpr size_t kParseChunk = 65535;

inline unsigned bitLength(uint32_t v) {
    return v ? 32 - unsigned(__builtin_clz(v)) : 0;
}

// Writes bits most significant first, as the format reads them.
class BitWriter {
  public:
    void put(unsigned count, uint32_t value) {
        if (count == 0)
            return;
        m_acc = (m_acc << count) | (value & ((uint64_t(1) << count) - 1));
        m_bits += count;
        if (m_bits >= 32) {
            m_bits -= 32;
            const auto word = uint32_t(m_acc >> m_bits);
            const uint8_t bytes[4] = {uint8_t(word >> 24), uint8_t(word >> 16), uint8_t(word >> 8),
                                      uint8_t(word)};
            m_out.insert(m_out.end(), bytes, bytes + 4);
        }
    }
    // Pads the last byte with zero bits.
    void flushBits() {
        while (m_bits >= 8) {
            m_bits -= 8;
            m_out.push_back(uint8_t(m_acc >> m_bits));
        }
        if (m_bits > 0) {
            m_out.push_back(uint8_t(m_acc << (8 - m_bits)));
            m_bits = 0;
        }
        m_acc = 0;
    }
    std::vector<uint8_t> &bytes() { return m_out; }
    void clear() {
        m_out.clear();
        m_acc = 0;
        m_bits = 0;
    }
    // Hands the bits over as whole bytes and a tail of fewer than 8 bits, and starts afresh.
    Lh5Bits take() {
        while (m_bits >= 8) {
            m_bits -= 8;
            m_out.push_back(uint8_t(m_acc >> m_bits));
        }
        Lh5Bits bits;
        bits.bytes = std::move(m_out);
        bits.tailBits = m_bits;
        bits.tail = uint32_t(m_acc & ((1u << m_bits) - 1));
        clear();
        return bits;
    }
    // Appends bits handed over by take(): byte by byte, shifted when not on a byte boundary.
    void append(const Lh5Bits &other) {
        while (m_bits >= 8) {
            m_bits -= 8;
            m_out.push_back(uint8_t(m_acc >> m_bits));
        }
        if (m_bits == 0) {
            m_out.insert(m_out.end(), other.bytes.begin(), other.bytes.end());
        } else {
            const unsigned shift = m_bits;
            auto carry = uint8_t(m_acc << (8 - shift));
            const size_t at = m_out.size();
            m_out.resize(at + other.bytes.size());
            uint8_t *out = m_out.data() + at;
            for (const uint8_t b : other.bytes) {
                *out++ = uint8_t(carry | b >> shift);
                carry = uint8_t(b << (8 - shift));
            }
            m_acc = carry >> (8 - shift);
        }
        put(other.tailBits, other.tail);
    }

  private:
    uint64_t m_acc = 0;
    unsigned m_bits = 0;
    std::vector<uint8_t> m_out;
};

struct Token {
    uint16_t symbol;   // literal byte, or 256 + length - 3
    uint16_t distance; // distance - 1 for a match
};

inline unsigned positionClass(uint16_t distanceMinusOne) {
    return bitLength(distanceMinusOne);
}

// Writes one block: its token count, the three tables, then the codes.
void writeBlock(BitWriter &bits, const Token *first, size_t count);

// Cost guesses before any statistics: text-like literals, mid-range lengths and positions.
void defaultCosts(uint32_t *symbolCost, uint32_t *classCost);
// Cost of each symbol under the code lengths of a block; a symbol the block did not use is
// given a length just past the longest, so the parse may still try it.
void costsFromTokens(const Token *tokens, size_t count, uint32_t *symbolCost, uint32_t *classCost);

// Codes one segment: finds matches with a binary tree per hash bucket, picks the cheapest parse
// under the current code lengths, and writes each parsed chunk as one block.
class SegmentCoder {
  public:
    SegmentCoder() : m_head(size_t(1) << kHashBits), m_tree(2 * size_t(kWindow)) {}

    // data[-history, length) is readable; the first `history` bytes (at most one window) may
    // be matched but are not coded.
    void code(const uint8_t *data, size_t history, size_t length, BitWriter &out);

  private:
    struct Candidate {
        uint16_t length;
        uint16_t distance;
    };

    // Adds position i to its tree; with `record`, appends the matches met on the way, each
    // longer than the one before, and answers the longest length.
    template <bool record> uint32_t searchTree(uint32_t i);
    // Adds every position in [m_indexedTo, to) to the trees without looking for matches.
    void indexUpTo(uint32_t to) {
        for (; m_indexedTo < to; ++m_indexedTo)
            searchTree<false>(m_indexedTo);
    }
    uint32_t findMatches(uint32_t i);
    void parseChunk(uint32_t from, uint32_t to, BitWriter &out);
    void chooseParse(uint32_t from, uint32_t to);

    const uint8_t *m_data = nullptr; // start of the history
    uint32_t m_end = 0;              // end of the segment, counted from m_data
    uint32_t m_indexedTo = 0;        // positions below this are in the trees
    // Positions are stored plus kWindow, so that 0 (nothing) lies out of every window's reach.
    std::vector<uint32_t> m_head; // root of each hash bucket's tree: its latest position
    // Two children per window slot: the earlier positions whose text sorts below, then above.
    std::vector<uint32_t> m_tree;

    std::vector<uint32_t> m_candidateStart;
    std::vector<Candidate> m_candidates; // the first m_candidateCount are in use
    uint32_t m_candidateCount = 0;
    // The cheapest way found to each position of a chunk: its cost, and its last step.
    struct Step {
        uint32_t cost;
        uint16_t length; // 1: a literal
        uint16_t distance;
    };
    std::vector<Step> m_steps;
    std::vector<Token> m_tokens;
    // Bits per symbol the parse assumes: from the previous chunk's tables, then refined.
    uint32_t m_symbolCost[kNC];
    uint32_t m_classCost[kNP];
    bool m_firstChunk = true;
};

} // namespace unlha::lh5
