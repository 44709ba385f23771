// The match finder: a binary tree per hash bucket over the window.
#include "lh5_segment_coder.h"

#include <algorithm>
#include <cstring>

namespace unlha::lh5 {
namespace {

inline uint32_t hash3(const uint8_t *p) {
    const uint32_t v = static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
    return (v * 2654435761u) >> (32 - kHashBits);
}

// How far a and b agree, from `from` on, up to `limit`; reads nothing at or past `limit`.
inline uint32_t extendMatch(const uint8_t *a, const uint8_t *b, uint32_t from, uint32_t limit) {
    uint32_t n = from;
    while (n + 8 <= limit) {
        uint64_t x, y;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        if (x != y)
            return n + static_cast<unsigned>(__builtin_ctzll(x ^ y)) / 8;
        n += 8;
    }
    while (n < limit && a[n] == b[n])
        ++n;
    return n;
}

} // namespace

// The tree of a bucket is ordered by the text that follows each position, newest at the root.
// Walking down from the root toward the new position's text meets the closest matches; the
// walk relinks the tree so that the new position becomes the root. The walk is cut after
// kTreeDepth nodes, and ends where the text matches in full (the old node's subtrees are then
// the new one's, as the texts sort alike).
template <bool record> uint32_t SegmentCoder::searchTree(uint32_t i) {
    const uint32_t limit = std::min(kMaxMatch, m_end - i);
    if (limit < kMinMatch)
        return 0;
    const uint8_t *const cur = m_data + i;
    const uint32_t h = hash3(cur);
    uint32_t node = m_head[h];
    const uint32_t self = i + kWindow;
    m_head[h] = self;
    uint32_t *below = &m_tree[2 * (i & (kWindow - 1))];
    uint32_t *above = below + 1;
    uint32_t lenBelow = 0, lenAbove = 0;
    uint32_t best = kMinMatch - 1;
    Candidate *found = record ? m_candidates.data() + m_candidateCount : nullptr;
    for (int depth = kTreeDepth;; --depth) {
        const uint32_t d = self - node;
        if (d - 1 >= kWindow - 1 || depth == 0) { // out of reach (or, never, itself)
            *below = *above = 0;
            break;
        }
        const uint32_t at = node - kWindow;
        const uint8_t *const old = m_data + at;
        uint32_t *const children = &m_tree[2 * (at & (kWindow - 1))];
        uint32_t len = std::min(lenBelow, lenAbove);
        if (old[len] == cur[len]) {
            len = extendMatch(old, cur, len + 1, limit);
            if (record && len > best) {
                best = len;
                *found++ = {static_cast<uint16_t>(len), static_cast<uint16_t>(d)};
            }
            if (len >= limit) {
                *below = children[0];
                *above = children[1];
                break;
            }
        }
        if (old[len] < cur[len]) {
            *below = node;
            below = children + 1;
            node = *below;
            lenBelow = len;
        } else {
            *above = node;
            above = children;
            node = *above;
            lenAbove = len;
        }
    }
    if (record)
        m_candidateCount = static_cast<uint32_t>(found - m_candidates.data());
    return best >= kMinMatch ? best : 0;
}

// Positions are searched in order, each once (the tree takes each position once).
uint32_t SegmentCoder::findMatches(uint32_t i) {
    indexUpTo(i);
    m_indexedTo = i + 1;
    if (m_candidates.size() < m_candidateCount + kTreeDepth) // one per node at most
        m_candidates.resize(2 * m_candidates.size() + kTreeDepth);
    return searchTree<true>(i);
}

// Indexing without looking for matches happens from the parser's side too.
template uint32_t SegmentCoder::searchTree<false>(uint32_t i);

} // namespace unlha::lh5
