// The LHA member header's fields by name, and the one little-endian helper of this library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace unlha {

// A little-endian number of `width` bytes (1 to 4).
inline uint32_t loadLe(const uint8_t *p, size_t width) {
    uint32_t v = 0;
    for (size_t i = width; i-- > 0;)
        v = v << 8 | p[i];
    return v;
}
inline uint64_t loadLe64(const uint8_t *p) {
    return uint64_t(loadLe(p + 4, 4)) << 32 | loadLe(p, 4);
}
inline void storeLe(uint8_t *p, size_t width, uint32_t v) {
    for (size_t i = 0; i < width; ++i, v >>= 8)
        p[i] = uint8_t(v);
}
inline void appendLe(std::vector<uint8_t> &b, size_t width, uint32_t v) {
    b.resize(b.size() + width);
    storeLe(b.data() + b.size() - width, width, v);
}

namespace lha {

// Fields every header level shares, from the first byte of the header.
inline constexpr size_t kMethod = 2; // "-lh5-", five bytes
inline constexpr size_t kMethodLength = 5;
inline constexpr size_t kCompressedSize = 7; // 4 bytes
inline constexpr size_t kOriginalSize = 11;  // 4 bytes
inline constexpr size_t kTime = 15;          // 4 bytes (a Unix time from level 2 on)
inline constexpr size_t kAttribute = 19;     // 1 byte: 0x20 for a plain member
inline constexpr size_t kLevel = 20;         // 1 byte

// Levels 0 and 1: the name's length, then the name.
inline constexpr size_t kNameLength = 21;
inline constexpr size_t kName = 22;
// After the name at level 1: CRC (2), OS id (1), then the first extended header's size.
inline constexpr size_t kLevel1AfterName = 3;

// Level 2: the header's total size (2 bytes) at 0, then after the shared fields:
inline constexpr size_t kLevel2DataCrc = 21;        // 2 bytes
inline constexpr size_t kLevel2OsId = 23;           // 1 byte
inline constexpr size_t kLevel2FirstExtension = 24; // 2 bytes: the first extended header's size
inline constexpr size_t kLevel2FixedPart = 26;
// Level 3 keeps four-byte sizes: word size (2), the fixed fields to the OS id, the header's
// total size (4), then the first extended header's size.
inline constexpr size_t kLevel3FirstExtension = 28;

inline constexpr uint8_t kPlainAttribute = 0x20;
inline constexpr uint8_t kUnixOsId = 'U';
inline constexpr uint8_t kLharkOsId = ' ';

// Extended header types.
inline constexpr uint8_t kExtHeaderCrc = 0x00;
inline constexpr uint8_t kExtFileName = 0x01;
inline constexpr uint8_t kExtFolderName = 0x02;
inline constexpr uint8_t kExtSizes = 0x42; // packed and original size, 8 bytes each
inline constexpr uint8_t kExtUnixMode = 0x50;
inline constexpr uint8_t kExtUnixTime = 0x54;

} // namespace lha
} // namespace unlha
