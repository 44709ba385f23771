// Bits written most significant first, as the -lh5- format reads them, and the bit strings
// that segments coded apart hand over to be joined.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace unlha {

// The bits of one coded segment: whole bytes, then a tail of fewer than 8 bits (the low
// `tailBits` of `tail`).
struct Lh5Bits {
    std::vector<uint8_t> bytes;
    uint32_t tail = 0;
    unsigned tailBits = 0;
};

class BitWriter {
  public:
    void put(unsigned count, uint32_t value) {
        if (count == 0)
            return;
        m_acc = (m_acc << count) | (value & ((static_cast<uint64_t>(1) << count) - 1));
        m_bits += count;
        if (m_bits >= 32) {
            m_bits -= 32;
            const auto word = static_cast<uint32_t>(m_acc >> m_bits);
            const uint8_t bytes[4] = {static_cast<uint8_t>(word >> 24),
                                      static_cast<uint8_t>(word >> 16),
                                      static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word)};
            m_out.insert(m_out.end(), bytes, bytes + 4);
        }
    }
    // Pads the last byte with zero bits.
    void flushBits() {
        flushWholeBytes();
        if (m_bits > 0) {
            m_out.push_back(static_cast<uint8_t>(m_acc << (8 - m_bits)));
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
        flushWholeBytes();
        Lh5Bits bits;
        bits.bytes = std::move(m_out);
        bits.tailBits = m_bits;
        bits.tail = static_cast<uint32_t>(m_acc & ((1u << m_bits) - 1));
        clear();
        return bits;
    }
    // Appends bits handed over by take(): byte by byte, shifted when not on a byte boundary.
    void append(const Lh5Bits &other) {
        flushWholeBytes();
        if (m_bits == 0) {
            m_out.insert(m_out.end(), other.bytes.begin(), other.bytes.end());
        } else {
            const unsigned shift = m_bits;
            auto carry = static_cast<uint8_t>(m_acc << (8 - shift));
            const size_t at = m_out.size();
            m_out.resize(at + other.bytes.size());
            uint8_t *out = m_out.data() + at;
            for (const uint8_t b : other.bytes) {
                *out++ = static_cast<uint8_t>(carry | b >> shift);
                carry = static_cast<uint8_t>(b << (8 - shift));
            }
            m_acc = carry >> (8 - shift);
        }
        put(other.tailBits, other.tail);
    }

  private:
    // Moves the whole bytes of the accumulator out; fewer than 8 bits stay.
    void flushWholeBytes() {
        while (m_bits >= 8) {
            m_bits -= 8;
            m_out.push_back(static_cast<uint8_t>(m_acc >> m_bits));
        }
    }

    uint64_t m_acc = 0;
    unsigned m_bits = 0;
    std::vector<uint8_t> m_out;
};

} // namespace unlha
