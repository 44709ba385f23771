#include "checksums.h"

#include <array>

namespace templates {
namespace {

template <typename T, T Polynomial> constexpr std::array<T, 256> reflectedTable() {
    std::array<T, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        T c = T(i);
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? T((c >> 1) ^ Polynomial) : T(c >> 1);
        table[i] = c;
    }
    return table;
}

constexpr auto kCrc32Table = reflectedTable<uint32_t, 0xEDB88320u>();
constexpr auto kCrc16Table = reflectedTable<uint16_t, 0xA001u>();

// XOR of the bytes taken as little-endian words; a short tail counts with its first byte highest.
uint32_t cabinetFold(std::span<const uint8_t> data, uint32_t seed) {
    size_t i = 0;
    for (; i + 4 <= data.size(); i += 4)
        seed ^= uint32_t(data[i]) | uint32_t(data[i + 1]) << 8 | uint32_t(data[i + 2]) << 16 |
                uint32_t(data[i + 3]) << 24;
    uint32_t tail = 0;
    for (; i < data.size(); ++i)
        tail = tail << 8 | data[i];
    return seed ^ tail;
}

} // namespace

uint32_t crc32(std::span<const uint8_t> data, uint32_t previous) {
    uint32_t c = ~previous;
    for (uint8_t b : data)
        c = kCrc32Table[(c ^ b) & 0xFF] ^ (c >> 8);
    return ~c;
}

uint32_t adler32(std::span<const uint8_t> data) {
    constexpr uint32_t kModulus = 65521;
    uint32_t a = 1, b = 0;
    for (uint8_t byte : data) {
        a = (a + byte) % kModulus;
        b = (b + a) % kModulus;
    }
    return b << 16 | a;
}

uint16_t crc16(std::span<const uint8_t> data) {
    uint16_t c = 0;
    for (uint8_t b : data)
        c = uint16_t(kCrc16Table[(c ^ b) & 0xFF] ^ (c >> 8));
    return c;
}

uint32_t cabinetChecksum(std::span<const uint8_t> data, uint16_t compressedSize,
                         uint16_t uncompressedSize) {
    const uint8_t sizes[4] = {uint8_t(compressedSize), uint8_t(compressedSize >> 8),
                              uint8_t(uncompressedSize), uint8_t(uncompressedSize >> 8)};
    return cabinetFold(sizes, cabinetFold(data, 0));
}

} // namespace templates
