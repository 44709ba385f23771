// The block writer: Huffman tables for a run of tokens, their coded lengths, then the codes;
// and the symbol costs the parser reads off those tables.
#include "lh5_block_writer.h"

#include "huffman.h"

namespace unlha::lh5 {
namespace {

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
            emit(1, 4, static_cast<uint32_t>(run - 3));
        } else if (run == 19) {
            emit(0, 0, 0);
            emit(1, 4, 15);
        } else {
            emit(2, 9, static_cast<uint32_t>(run - 20));
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

unsigned ptLengthBits(unsigned length) {
    return length <= 6 ? 3 : length - 3;
}

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
        total += static_cast<uint64_t>(cFreq[i]) * c.cLen[i];
    for (int i = 0; i < kNP; ++i)
        total += static_cast<uint64_t>(pFreq[i]) * c.pLen[i];

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
            total += static_cast<uint64_t>(tFreq[i]) * c.tLen[i];
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
    bits.put(static_cast<unsigned>(countBits), static_cast<uint32_t>(count));
    for (int i = 0; i < count;) {
        putPtLength(bits, lengths[i]);
        ++i;
        if (i == special) {
            int skip = 0;
            while (skip < 3 && i + skip < count && lengths[i + skip] == 0)
                ++skip;
            bits.put(2, static_cast<uint32_t>(skip));
            i += skip;
        }
    }
}

} // namespace

void writeBlock(BitWriter &bits, const Token *first, size_t count) {
    BlockCodes c;
    planBlock(first, count, c);

    bits.put(16, static_cast<uint32_t>(count));
    if (c.tSingle >= 0) {
        bits.put(kTBits, 0);
        bits.put(kTBits, static_cast<uint32_t>(c.tSingle));
    } else {
        putPtTable(bits, c.tLen, kNT, kTBits, 3);
    }
    if (c.cSingle >= 0) {
        bits.put(kCBits, 0);
        bits.put(kCBits, static_cast<uint32_t>(c.cSingle));
    } else {
        const int n = trimmedCount(c.cLen, kNC);
        bits.put(kCBits, static_cast<uint32_t>(n));
        runCodeCLengths(c.cLen, n, [&](int symbol, unsigned extra, uint32_t value) {
            bits.put(c.tLen[symbol], c.tCode[symbol]);
            bits.put(extra, value);
        });
    }
    if (c.pSingle >= 0) {
        bits.put(kPBits, 0);
        bits.put(kPBits, static_cast<uint32_t>(c.pSingle));
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

void defaultCosts(uint32_t *symbolCost, uint32_t *classCost) {
    for (int s = 0; s < kNC; ++s)
        symbolCost[s] = s < 256 ? 8 : 6 + std::min(8, (s - 256) / 16);
    for (int p = 0; p < kNP; ++p)
        classCost[p] = 4;
}

void costsFromTokens(const Token *tokens, size_t count, uint32_t *symbolCost, uint32_t *classCost) {
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

} // namespace unlha::lh5
