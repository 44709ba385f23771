// The table-driven CRC-32 the Windows build uses, checked on Linux against zlib's: the check
// value, every split of a buffer into running pieces, and lengths around its eight-byte steps.
#include "crc32.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <vector>
#include <zlib.h>

namespace {

uint32_t reference(const std::vector<uint8_t> &data) {
    return uint32_t(::crc32(0, data.data(), uInt(data.size())));
}

TEST(Crc32Tables, CheckValueAndNothing) {
    const char digits[] = "123456789";
    EXPECT_EQ(tolvex::crc32Update(0, digits, 9), 0xCBF43926u);
    EXPECT_EQ(tolvex::crc32Update(0, digits, 0), 0u);
}

TEST(Crc32Tables, AgreesWithZlibForEveryLengthAndSplit) {
    std::vector<uint8_t> data(300);
    uint32_t s = 12345;
    for (auto &b : data)
        b = uint8_t((s = s * 1103515245u + 12345u) >> 16);
    for (size_t length = 0; length <= data.size(); ++length) {
        const std::vector<uint8_t> piece(data.begin(), data.begin() + long(length));
        const uint32_t whole = tolvex::crc32Update(0, piece.data(), length);
        ASSERT_EQ(whole, reference(piece)) << length;
        const size_t cut = length / 3;
        const uint32_t split = tolvex::crc32Update(tolvex::crc32Update(0, piece.data(), cut),
                                                   piece.data() + cut, length - cut);
        ASSERT_EQ(split, whole) << length;
    }
}

} // namespace
