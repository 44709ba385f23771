// The parser: the cheapest way through each chunk under the costs of the tables before it.
#include "lh5_segment_coder.h"

#include "lh5_block_writer.h"

#include <algorithm>

namespace unlha::lh5 {
namespace {

constexpr uint32_t kInfinite = UINT32_MAX;

} // namespace

// The cheapest way through [from, to) as literals and matches under the assumed costs: each
// position's cost is the least over every way of reaching it. Leaves the tokens in m_tokens.
void SegmentCoder::chooseParse(uint32_t from, uint32_t to) {
    const uint32_t n = to - from;
    m_steps.assign(n + 1, Step{kInfinite, 0, 0});
    Step *const steps = m_steps.data();
    steps[0].cost = 0;
    uint32_t lengthCost[kMaxMatch + 1];
    for (uint32_t l = kMinMatch; l <= kMaxMatch; ++l)
        lengthCost[l] = m_symbolCost[256 + l - kMinMatch];
    const uint8_t *const text = m_data + from;
    const Candidate *const candidates = m_candidates.data();
    const uint32_t *const candidateStart = m_candidateStart.data();
    for (uint32_t k = 0; k < n; ++k) {
        const uint32_t here = steps[k].cost;
        const uint32_t lit = here + m_symbolCost[text[k]];
        if (lit < steps[k + 1].cost)
            steps[k + 1] = {lit, 1, 0};
        uint32_t shorter = kMinMatch - 1;
        const uint32_t room = n - k;
        for (uint32_t c = candidateStart[k]; c < candidateStart[k + 1]; ++c) {
            const uint32_t len = std::min<uint32_t>(candidates[c].length, room);
            if (len <= shorter)
                break;
            const uint16_t d = candidates[c].distance;
            const unsigned p = positionClass(static_cast<uint16_t>(d - 1));
            const uint32_t base = here + m_classCost[p] + (p > 1 ? p - 1 : 0);
            Step *const reach = steps + k;
            for (uint32_t l = shorter + 1; l <= len; ++l) {
                const uint32_t total = base + lengthCost[l];
                if (total < reach[l].cost)
                    reach[l] = {total, static_cast<uint16_t>(l), d};
            }
            shorter = len;
        }
    }
    // Walk back from the end, then lay the steps out forwards.
    m_tokens.clear();
    for (uint32_t k = n; k > 0;) {
        const uint32_t l = steps[k].length;
        if (l == 1)
            m_tokens.push_back({text[k - 1], 0});
        else
            m_tokens.push_back({static_cast<uint16_t>(256 + l - kMinMatch),
                                static_cast<uint16_t>(steps[k].distance - 1)});
        k -= l;
    }
    std::reverse(m_tokens.begin(), m_tokens.end());
}

void SegmentCoder::parseChunk(uint32_t from, uint32_t to, BitWriter &out) {
    const uint32_t n = to - from;
    m_candidateStart.assign(n + 1, 0);
    m_candidateCount = 0;
    for (uint32_t k = 0; k < n;) {
        m_candidateStart[k] = m_candidateCount;
        const uint32_t longest = findMatches(from + k);
        if (longest >= kNiceLength) {
            // Long enough to take as it is: the positions it covers get no choices of their
            // own, only their place in the trees (up to the chunk's end: the next chunk
            // searches its own positions).
            const uint32_t skip = std::min(longest, n - k);
            indexUpTo(from + k + skip);
            for (uint32_t j = 1; j < skip; ++j)
                m_candidateStart[k + j] = m_candidateCount;
            k += skip;
            continue;
        }
        ++k;
    }
    m_candidateStart[n] = m_candidateCount;

    chooseParse(from, to);
    if (m_firstChunk) {
        // The guessed costs may be far off: once more with the costs this very chunk's first
        // parse would be coded at. Later chunks start from their predecessor's tables.
        costsFromTokens(m_tokens.data(), m_tokens.size(), m_symbolCost, m_classCost);
        chooseParse(from, to);
        m_firstChunk = false;
    }
    writeBlock(out, m_tokens.data(), m_tokens.size());
    costsFromTokens(m_tokens.data(), m_tokens.size(), m_symbolCost, m_classCost);
}

void SegmentCoder::code(const uint8_t *data, size_t history, size_t length, BitWriter &out) {
    m_data = data - history;
    m_end = static_cast<uint32_t>(history + length);
    std::fill(m_head.begin(), m_head.end(), 0);
    m_indexedTo = 0;
    indexUpTo(static_cast<uint32_t>(history));
    defaultCosts(m_symbolCost, m_classCost);
    m_firstChunk = true;
    for (uint32_t from = static_cast<uint32_t>(history); from < m_end;) {
        const uint32_t to = static_cast<uint32_t>(std::min<size_t>(m_end, from + kParseChunk));
        parseChunk(from, to, out);
        from = to;
    }
}

} // namespace unlha::lh5
