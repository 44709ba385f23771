// The worked-out fields of the archive containers: checksums against their definitions, and the
// LHA header's sizes on either side of 4 GiB.
#include "archive_fields.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <vector>

namespace strong::containers {
namespace {

std::vector<uint8_t> randomBytes(size_t size) {
    std::vector<uint8_t> b(size);
    randombytes_buf(b.data(), b.size());
    return b;
}

uint16_t crc16BitByBit(uint16_t c, const uint8_t *p, size_t n) {
    for (; n; --n, ++p) {
        c ^= *p;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? uint16_t((c >> 1) ^ 0xA001) : uint16_t(c >> 1);
    }
    return c;
}

TEST(ArchiveFields, lhaCrc16IsCrc16ArcWhateverTheLengthAndPieces) {
    const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(lhaCrc16(0, check, sizeof check), 0xBB3D);
    const auto data = randomBytes(5000);
    for (const size_t size : {size_t(0), size_t(7), size_t(63), size_t(64), size_t(65), size_t(127),
                              size_t(1000), size_t(4999)}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(lhaCrc16(0x1234, data.data() + 1, size),
                  crc16BitByBit(0x1234, data.data() + 1, size));
    }
    uint16_t pieces = 0;
    for (size_t at = 0; at < data.size(); at += 333)
        pieces = lhaCrc16(pieces, data.data() + at, std::min<size_t>(333, data.size() - at));
    EXPECT_EQ(pieces, crc16BitByBit(0, data.data(), data.size()));
}

TEST(ArchiveFields, lhaSizesPast4GiBGoInTheirOwnExtendedHeader) {
    const uint64_t below = 0xFFFFFFFFull, above = 0x100000005ull;
    const auto small = lhaHeader(below, "a.bin", 0, 0);
    const auto large = lhaHeader(above, "a.bin", 0, 0);
    EXPECT_EQ(small.size(), 34u + 5);
    ASSERT_EQ(large.size(), small.size() + 19);
    EXPECT_EQ(small[0] | small[1] << 8, int(small.size()));
    EXPECT_EQ(large[0] | large[1] << 8, int(large.size()));
    // The 32-bit fields keep the low half; the 0x42 header has both sizes whole.
    for (const size_t at : {size_t(7), size_t(11)}) {
        EXPECT_EQ(large[at], 5);
        EXPECT_EQ(large[at + 3], 0);
        EXPECT_EQ(small[at], 0xFF);
    }
    const size_t ext = small.size() - 2; // where the 0x42 header's size field stands
    EXPECT_EQ(large[ext], 19);
    EXPECT_EQ(large[ext + 2], 0x42);
    for (const size_t at : {ext + 3, ext + 11}) {
        EXPECT_EQ(large[at], 5);
        EXPECT_EQ(large[at + 4], 1);
    }
    EXPECT_EQ(large[large.size() - 2] | large[large.size() - 1], 0);
}

TEST(ArchiveFields, cabinetChecksumFoldsWordsThenATailThenTheSizes) {
    const auto data = randomBytes(32768);
    for (const size_t size :
         {size_t(1), size_t(4), size_t(7), size_t(12), size_t(32767), size_t(32768)}) {
        SCOPED_TRACE(size);
        uint32_t sum = 0;
        size_t i = 0;
        for (; i + 4 <= size; i += 4)
            sum ^= uint32_t(data[i]) | uint32_t(data[i + 1]) << 8 | uint32_t(data[i + 2]) << 16 |
                   uint32_t(data[i + 3]) << 24;
        uint32_t tail = 0;
        for (; i < size; ++i)
            tail = tail << 8 | data[i];
        sum ^= tail ^ uint32_t(size) ^ uint32_t(size) << 16;
        EXPECT_EQ(cabinetChecksum(data.data(), size), sum);
    }
}

} // namespace
} // namespace strong::containers
