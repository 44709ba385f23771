// The segment coder: finds matches with a binary tree per hash bucket (lh5_match_finder.cpp),
// picks the cheapest parse under the current code lengths (lh5_optimal_parse.cpp) and writes
// each parsed chunk as one block (lh5_block_writer.cpp).
#pragma once

#include "bit_writer.h"
#include "lh5_format.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace unlha::lh5 {

// Match finder tuning: how many tree nodes to visit per position, and the length at which a
// match is taken without weighing the alternatives.
constexpr int kTreeDepth = 32;
constexpr uint32_t kNiceLength = 96;

constexpr unsigned kHashBits = 15;

// Positions parsed together: the cheapest way through them is searched as a whole, and they
// become one block. Larger blocks spend less on tables; the format allows 65535 tokens.
constexpr size_t kParseChunk = 65535;

// Codes one segment on its own; reused from segment to segment, it keeps nothing from one to
// the next but its allocations.
class SegmentCoder {
  public:
    SegmentCoder()
        : m_head(static_cast<size_t>(1) << kHashBits), m_tree(2 * static_cast<size_t>(kWindow)) {}

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
