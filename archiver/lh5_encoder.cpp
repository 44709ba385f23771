#include "lh5_encoder.h"

#include "huffman.h"

#include <algorithm>
#include <cstring>
#include <atomic>
#include <new>
#include <thread>
#include <vector>

namespace unlha {
namespace {

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

inline uint32_t hash3(const uint8_t *p) {
    const uint32_t v = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
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
            return n + unsigned(__builtin_ctzll(x ^ y)) / 8;
        n += 8;
    }
    while (n < limit && a[n] == b[n])
        ++n;
    return n;
}

inline unsigned bitLength(uint32_t v) { return v ? 32 - unsigned(__builtin_clz(v)) : 0; }

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

inline unsigned positionClass(uint16_t distanceMinusOne) { return bitLength(distanceMinusOne); }

// Lengths of the C table coded with the T alphabet: a run of zeros as T0 (one), T1 with 4
// bits (3 to 18), T2 with 9 bits (20 to 531); a length L as T(L + 2).
template <typename Emit> void runCodeCLengths(const uint8_t *lengths, int count, Emit emit) {
    for (int i = 0; i < count;) {
        if (lengths[i] != 0) {
            emit(lengths[i] + 2, 0, 0);
            ++i;
            continue;
        }
        int run = 1;
        while (i + run < count && lengths[i + run] == 0)
            ++run;
        i += run;
        if (run <= 2) {
            for (int k = 0; k < run; ++k)
                emit(0, 0, 0);
        } else if (run <= 18) {
            emit(1, 4, uint32_t(run - 3));
        } else if (run == 19) {
            emit(0, 0, 0);
            emit(1, 4, 15);
        } else {
            emit(2, 9, uint32_t(run - 20));
        }
    }
}

int trimmedCount(const uint8_t *lengths, int n) {
    while (n > 0 && lengths[n - 1] == 0)
        --n;
    return n;
}

// A length of the T or P table: 0 to 6 in three bits; 7 and more as 111, L - 7 ones, a zero.
void putPtLength(BitWriter &bits, unsigned length) {
    if (length <= 6)
        bits.put(3, length);
    else
        bits.put(length - 3, (1u << (length - 3)) - 2);
}

unsigned ptLengthBits(unsigned length) { return length <= 6 ? 3 : length - 3; }

struct BlockCodes {
    uint8_t cLen[kNC];
    uint16_t cCode[kNC];
    uint8_t pLen[kNP];
    uint16_t pCode[kNP];
    uint8_t tLen[kNT];
    uint16_t tCode[kNT];
    int cSingle = -1, pSingle = -1, tSingle = -1; // the one used symbol, or -1
    uint64_t bits = 0;                            // size of the whole block
};

int singleSymbol(const uint32_t *freq, int n) {
    int used = -1;
    for (int i = 0; i < n; ++i)
        if (freq[i]) {
            if (used >= 0)
                return -1;
            used = i;
        }
    return used < 0 ? 0 : used;
}

// Builds the three tables for a run of tokens and counts the bits the block will take.
void planBlock(const Token *tokens, size_t count, BlockCodes &c) {
    uint32_t cFreq[kNC] = {};
    uint32_t pFreq[kNP] = {};
    uint64_t extraBits = 0;
    for (size_t i = 0; i < count; ++i) {
        ++cFreq[tokens[i].symbol];
        if (tokens[i].symbol >= 256) {
            const unsigned p = positionClass(tokens[i].distance);
            ++pFreq[p];
            extraBits += p > 1 ? p - 1 : 0;
        }
    }
    uint64_t total = 16 + extraBits;

    c.cSingle = singleSymbol(cFreq, kNC);
    c.pSingle = singleSymbol(pFreq, kNP);
    huffmanLengths(cFreq, kNC, kMaxCodeLength, c.cLen);
    huffmanLengths(pFreq, kNP, kMaxCodeLength, c.pLen);
    canonicalCodes(c.cLen, kNC, c.cCode);
    canonicalCodes(c.pLen, kNP, c.pCode);
    for (int i = 0; i < kNC; ++i)
        total += uint64_t(cFreq[i]) * c.cLen[i];
    for (int i = 0; i < kNP; ++i)
        total += uint64_t(pFreq[i]) * c.pLen[i];

    uint32_t tFreq[kNT] = {};
    if (c.cSingle >= 0) {
        c.tSingle = 0;
        std::fill(c.tLen, c.tLen + kNT, 0);
        total += 2 * kTBits + 2 * kCBits;
    } else {
        const int n = trimmedCount(c.cLen, kNC);
        runCodeCLengths(c.cLen, n, [&](int symbol, unsigned extra, uint32_t) {
            ++tFreq[symbol];
            total += extra;
        });
        c.tSingle = singleSymbol(tFreq, kNT);
        huffmanLengths(tFreq, kNT, kMaxCodeLength, c.tLen);
        for (int i = 0; i < kNT; ++i)
            total += uint64_t(tFreq[i]) * c.tLen[i];
        total += kCBits;
        if (c.tSingle >= 0) {
            total += 2 * kTBits;
        } else {
            const int nt = trimmedCount(c.tLen, kNT);
            total += kTBits + (nt >= 3 ? 2 : 0);
            for (int i = 0; i < nt; ++i)
                total += ptLengthBits(c.tLen[i]);
        }
    }
    canonicalCodes(c.tLen, kNT, c.tCode);

    if (c.pSingle >= 0) {
        total += 2 * kPBits;
    } else {
        const int np = trimmedCount(c.pLen, kNP);
        total += kPBits;
        for (int i = 0; i < np; ++i)
            total += ptLengthBits(c.pLen[i]);
    }
    c.bits = total;
}

void putPtTable(BitWriter &bits, const uint8_t *lengths, int n, int countBits, int special) {
    const int count = trimmedCount(lengths, n);
    bits.put(unsigned(countBits), uint32_t(count));
    for (int i = 0; i < count;) {
        putPtLength(bits, lengths[i]);
        ++i;
        if (i == special) {
            int skip = 0;
            while (skip < 3 && i + skip < count && lengths[i + skip] == 0)
                ++skip;
            bits.put(2, uint32_t(skip));
            i += skip;
        }
    }
}


// Writes one block: its token count, the three tables, then the codes.
void writeBlock(BitWriter &bits, const Token *first, size_t count) {
    BlockCodes c;
    planBlock(first, count, c);

    bits.put(16, uint32_t(count));
    if (c.tSingle >= 0) {
        bits.put(kTBits, 0);
        bits.put(kTBits, uint32_t(c.tSingle));
    } else {
        putPtTable(bits, c.tLen, kNT, kTBits, 3);
    }
    if (c.cSingle >= 0) {
        bits.put(kCBits, 0);
        bits.put(kCBits, uint32_t(c.cSingle));
    } else {
        const int n = trimmedCount(c.cLen, kNC);
        bits.put(kCBits, uint32_t(n));
        runCodeCLengths(c.cLen, n, [&](int symbol, unsigned extra, uint32_t value) {
            bits.put(c.tLen[symbol], c.tCode[symbol]);
            bits.put(extra, value);
        });
    }
    if (c.pSingle >= 0) {
        bits.put(kPBits, 0);
        bits.put(kPBits, uint32_t(c.pSingle));
    } else {
        putPtTable(bits, c.pLen, kNP, kPBits, -1);
    }

    for (size_t i = 0; i < count; ++i) {
        const Token t = first[i];
        bits.put(c.cLen[t.symbol], c.cCode[t.symbol]);
        if (t.symbol >= 256) {
            const unsigned p = positionClass(t.distance);
            bits.put(c.pLen[p], c.pCode[p]);
            if (p > 1)
                bits.put(p - 1, t.distance);
        }
    }
}

} // namespace

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
                *found++ = {uint16_t(len), uint16_t(d)};
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
        m_candidateCount = uint32_t(found - m_candidates.data());
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

namespace {

constexpr uint32_t kInfinite = UINT32_MAX;

// Cost guesses before any statistics: text-like literals, mid-range lengths and positions.
void defaultCosts(uint32_t *symbolCost, uint32_t *classCost) {
    for (int s = 0; s < kNC; ++s)
        symbolCost[s] = s < 256 ? 8 : 6 + std::min(8, (s - 256) / 16);
    for (int p = 0; p < kNP; ++p)
        classCost[p] = 4;
}

// Cost of each symbol under the code lengths of a block; a symbol the block did not use is
// given a length just past the longest, so the parse may still try it.
void costsFromTokens(const Token *tokens, size_t count, uint32_t *symbolCost,
                     uint32_t *classCost) {
    uint32_t cFreq[kNC] = {};
    uint32_t pFreq[kNP] = {};
    for (size_t i = 0; i < count; ++i) {
        ++cFreq[tokens[i].symbol];
        if (tokens[i].symbol >= 256)
            ++pFreq[positionClass(tokens[i].distance)];
    }
    uint8_t cLen[kNC], pLen[kNP];
    huffmanLengths(cFreq, kNC, kMaxCodeLength, cLen);
    huffmanLengths(pFreq, kNP, kMaxCodeLength, pLen);
    for (int s = 0; s < kNC; ++s)
        symbolCost[s] = cLen[s] ? cLen[s] : (cFreq[s] ? 1 : 14);
    for (int p = 0; p < kNP; ++p)
        classCost[p] = pLen[p] ? pLen[p] : (pFreq[p] ? 1 : 8);
}

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
            const unsigned p = positionClass(uint16_t(d - 1));
            const uint32_t base = here + m_classCost[p] + (p > 1 ? p - 1 : 0);
            Step *const reach = steps + k;
            for (uint32_t l = shorter + 1; l <= len; ++l) {
                const uint32_t total = base + lengthCost[l];
                if (total < reach[l].cost)
                    reach[l] = {total, uint16_t(l), d};
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
            m_tokens.push_back({uint16_t(256 + l - kMinMatch), uint16_t(steps[k].distance - 1)});
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
    m_end = uint32_t(history + length);
    std::fill(m_head.begin(), m_head.end(), 0);
    m_indexedTo = 0;
    indexUpTo(uint32_t(history));
    defaultCosts(m_symbolCost, m_classCost);
    m_firstChunk = true;
    for (uint32_t from = uint32_t(history); from < m_end;) {
        const uint32_t to = uint32_t(std::min<size_t>(m_end, from + kParseChunk));
        parseChunk(from, to, out);
        from = to;
    }
}

Lh5Bits lh5CodeSegment(const uint8_t *data, size_t start, size_t length) {
    // Each thread keeps its coder: its tables are large enough to be worth reusing.
    thread_local std::unique_ptr<SegmentCoder> coder;
    if (!coder)
        coder = std::make_unique<SegmentCoder>();
    BitWriter bits;
    const size_t history = std::min<size_t>(start, kWindow);
    coder->code(data + start, history, length, bits);
    return bits.take();
}

std::vector<uint8_t> lh5JoinSegments(const std::vector<Lh5Bits> &parts) {
    BitWriter bits;
    for (const Lh5Bits &part : parts)
        bits.append(part);
    bits.flushBits();
    return std::move(bits.bytes());
}

namespace {
std::atomic<bool> g_failHelper{false};
}

void lh5FailHelperThreadForTests(bool fail) { g_failHelper = fail; }

struct Lh5Encoder::State {
    explicit State(ByteSink &s) : sink(s) { input.reserve(kWindow + 2 * kSegment); }

    ByteSink &sink;
    bool ok = true;
    bool failed = false; // the coder itself failed, not the sink
    // One window of history, then the bytes not coded yet.
    std::vector<uint8_t> input;
    size_t history = 0;
    SegmentCoder coders[2];
    BitWriter bits;
    BitWriter helperBits;

    // Codes the pending input: all of it at the end, else whole segments only.
    void codePending(bool final);
    void drain() {
        if (!ok || bits.bytes().empty())
            return;
        ok = sink.put(bits.bytes().data(), bits.bytes().size());
        bits.bytes().clear();
    }
};

void Lh5Encoder::State::codePending(bool final) {
    size_t pending = input.size() - history;
    while (ok && (pending >= 2 * kSegment || (final && pending > 0))) {
        const uint8_t *start = input.data() + history;
        if (pending > kSegment) {
            // Two segments at once: the second on a helper thread, with the first's last
            // window as its history.
            const size_t second = std::min(kSegment, pending - kSegment);
            helperBits.clear();
            bool helperFailed = false;
            {
                // Joined when the scope ends, also when the first segment throws; nothing
                // thrown on the helper leaves it.
                std::jthread helper([&] {
                    try {
                        if (g_failHelper)
                            throw std::bad_alloc();
                        coders[1].code(start + kSegment, kWindow, second, helperBits);
                    } catch (...) {
                        helperFailed = true;
                    }
                });
                coders[0].code(start, history, kSegment, bits);
            }
            if (helperFailed) {
                ok = false;
                failed = true;
                return;
            }
            bits.append(helperBits.take());
            const size_t codedEnd = history + kSegment + second;
            input.erase(input.begin(), input.begin() + long(codedEnd - kWindow));
            history = kWindow;
        } else {
            coders[0].code(start, history, pending, bits);
            const size_t keep = std::min(kWindow, uint32_t(input.size()));
            input.erase(input.begin(), input.end() - long(keep));
            history = keep;
        }
        pending = input.size() - history;
        drain();
    }
}

Lh5Encoder::Lh5Encoder(ByteSink &sink) : m(std::make_unique<State>(sink)) {}
Lh5Encoder::~Lh5Encoder() = default;

bool Lh5Encoder::write(const void *data, size_t length) {
    if (!m->ok)
        return false;
    const auto *p = static_cast<const uint8_t *>(data);
    m->input.insert(m->input.end(), p, p + length);
    m->codePending(false);
    return m->ok;
}

bool Lh5Encoder::failed() const { return m->failed; }

bool Lh5Encoder::finish() {
    if (!m->ok)
        return false;
    m->codePending(true);
    m->bits.flushBits();
    m->drain();
    return m->ok;
}

} // namespace unlha
