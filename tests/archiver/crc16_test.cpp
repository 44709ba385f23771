// CRC-16/ARC against its check value and against a bit-by-bit reference.
#include "crc16.h"
#include "support.h"

#include <gtest/gtest.h>
#include <random>

using namespace archiver_test;

namespace {

// Straight from the polynomial, one bit at a time.
uint16_t referenceCrc16(const Bytes &data) {
    uint16_t crc = 0;
    for (const uint8_t b : data) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = uint16_t((crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1);
    }
    return crc;
}

TEST(Crc16, CheckValue) {
    EXPECT_EQ(unlha::crc16Update(0, "123456789", 9), 0xBB3D);
    EXPECT_EQ(unlha::crc16Update(0, "", 0), 0);
}

TEST(Crc16, MatchesReferenceOverRandomLengthsAndSplits) {
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        const Bytes data = randomBytes(random() % 3000, uint32_t(random()));
        const size_t cut = data.empty() ? 0 : random() % data.size();
        const uint16_t whole = unlha::crc16Update(0, data.data(), data.size());
        const uint16_t split = unlha::crc16Update(unlha::crc16Update(0, data.data(), cut),
                                                  data.data() + cut, data.size() - cut);
        ASSERT_EQ(whole, referenceCrc16(data)) << data.size();
        ASSERT_EQ(split, whole);
    }
}

} // namespace
