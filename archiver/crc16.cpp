#include "crc16.h"

#include <array>

namespace unlha {
namespace {

// Slicing by four: table k holds the CRC of a byte followed by k zero bytes, so four input
// bytes fold into the register with four lookups instead of four dependent steps.
struct Tables {
    std::array<std::array<uint16_t, 256>, 4> t{};
    constexpr Tables() {
        for (unsigned i = 0; i < 256; ++i) {
            uint16_t c = uint16_t(i);
            for (int bit = 0; bit < 8; ++bit)
                c = uint16_t((c & 1) ? (c >> 1) ^ 0xA001 : c >> 1);
            t[0][i] = c;
        }
        for (unsigned i = 0; i < 256; ++i)
            for (unsigned k = 1; k < 4; ++k)
                t[k][i] = uint16_t((t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF]);
    }
};

constexpr Tables kTables;

} // namespace

uint16_t crc16Update(uint16_t crc, const void *data, size_t length) {
    const auto *p = static_cast<const uint8_t *>(data);
    const auto &t = kTables.t;
    uint32_t c = crc;
    while (length >= 4) {
        c ^= uint32_t(p[0]) | uint32_t(p[1]) << 8;
        c = t[3][c & 0xFF] ^ t[2][(c >> 8) & 0xFF] ^ t[1][p[2]] ^ t[0][p[3]];
        p += 4;
        length -= 4;
    }
    while (length--)
        c = (c >> 8) ^ t[0][(c ^ *p++) & 0xFF];
    return uint16_t(c);
}

} // namespace unlha
