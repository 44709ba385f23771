// The format checksums, against published check values, zlib's own implementation, and values
// worked out by hand from the cabinet format's folding rule.
#include "checksums.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string_view>

using testing_support::Bytes;

namespace {

Bytes bytesOf(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

TEST(DisguiseChecksums, Crc32HasTheCheckValueAndAgreesWithZlib) {
    EXPECT_EQ(templates::crc32(bytesOf("123456789")), 0xCBF43926u);
    EXPECT_EQ(templates::crc32({}), 0u);
    for (size_t length : {1u, 7u, 1000u, 65537u}) {
        const Bytes data = testing_support::randomBytes(length, uint32_t(length));
        EXPECT_EQ(templates::crc32(data), ::crc32(0, data.data(), uInt(data.size()))) << length;
    }
}

TEST(DisguiseChecksums, Crc32ContinuesFromAPreviousValue) {
    const Bytes all = bytesOf("123456789");
    const uint32_t first = templates::crc32(std::span(all).first(4));
    EXPECT_EQ(templates::crc32(std::span(all).subspan(4), first), 0xCBF43926u);
}

TEST(DisguiseChecksums, Adler32HasTheCheckValueAndAgreesWithZlib) {
    EXPECT_EQ(templates::adler32(bytesOf("Wikipedia")), 0x11E60398u);
    EXPECT_EQ(templates::adler32({}), 1u);
    // Long runs of 0xFF push both sums past the modulus many times.
    const Bytes ones(100000, 0xFF);
    EXPECT_EQ(templates::adler32(ones), ::adler32(1, ones.data(), uInt(ones.size())));
    const Bytes data = testing_support::randomBytes(9999, 3);
    EXPECT_EQ(templates::adler32(data), ::adler32(1, data.data(), uInt(data.size())));
}

TEST(DisguiseChecksums, Crc16IsTheArcVariantLhaUses) {
    EXPECT_EQ(templates::crc16(bytesOf("123456789")), 0xBB3D);
    EXPECT_EQ(templates::crc16({}), 0);
    // Bit by bit from the reflected polynomial, independent of the table.
    const Bytes data = testing_support::randomBytes(777, 5);
    uint16_t c = 0;
    for (uint8_t b : data) {
        c ^= b;
        for (int i = 0; i < 8; ++i)
            c = (c & 1) ? uint16_t((c >> 1) ^ 0xA001) : uint16_t(c >> 1);
    }
    EXPECT_EQ(templates::crc16(data), c);
}

// "abcd" is the word 0x64636261; a tail counts with its first byte highest; then the sizes.
TEST(DisguiseChecksums, CabinetChecksumFoldsWordsTailAndSizes) {
    EXPECT_EQ(templates::cabinetChecksum(bytesOf("abcd"), 4, 4), 0x64636261u ^ 0x00040004u);
    EXPECT_EQ(templates::cabinetChecksum(bytesOf("abcde"), 5, 5), 0x64636204u ^ 0x00050005u);
    EXPECT_EQ(templates::cabinetChecksum(bytesOf("abcdefg"), 7, 7),
              0x64636261u ^ 0x00656667u ^ 0x00070007u);
    EXPECT_EQ(templates::cabinetChecksum({}, 0x1234, 0x5678), 0x56781234u);
}

} // namespace
