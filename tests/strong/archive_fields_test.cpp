// The worked-out fields of the archive containers: checksums against their definitions, and how
// an LHA body area splits into members on either side of 4 GiB.
#include "archive_fields.h"
#include "containers.h"
#include "memory_file.h"

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

TEST(ArchiveFields, lhaSplitsABodyAreaOf4GiBOrMoreInto4095MiBMembers) {
    EXPECT_EQ(lhaPartCount(0xFFFFFFFFull), 1u);
    EXPECT_EQ(lhaPartSize(0xFFFFFFFFull, 0), 0xFFFFFFFFu);
    const uint64_t four = uint64_t(1) << 32;
    ASSERT_EQ(lhaPartCount(four), 2u);
    EXPECT_EQ(lhaPartSize(four, 0), uint32_t(4095) << 20);
    EXPECT_EQ(lhaPartSize(four, 1), 1u << 20);
    ASSERT_EQ(lhaPartCount(2 * kLhaPart), 2u);
    EXPECT_EQ(lhaPartSize(2 * kLhaPart, 1), kLhaPart);
    EXPECT_EQ(lhaPartCount(2 * kLhaPart + 1), 3u);
    EXPECT_EQ(lhaPartSize(2 * kLhaPart + 1, 2), 1u);
    const auto h = lhaHeader(0xFFFFFFFFu, "a.bin.001", 0, 0);
    EXPECT_EQ(h.size(), 34u + 9);
    EXPECT_EQ(h[0] | h[1] << 8, int(h.size()));
}

// What a body of 4 GiB or more becomes, with small members: the reader gives every member's
// data in order, and a member whose data was changed makes the read fail.
TEST(ArchiveFields, lhaReaderWalksEveryMemberToTheEndMark) {
    const auto first = testing::containerWith(4, randomBytes(3000));
    const auto second = testing::containerWith(4, randomBytes(70000));
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    std::vector<uint8_t> both(first.begin(), first.end() - 1); // without its end mark
    both.insert(both.end(), second.begin(), second.end());
    auto readAll = [](const std::vector<uint8_t> &file, int64_t &answer) {
        std::vector<uint8_t> got(300000); // both bodies and their padding
        size_t have = 0;
        auto reader = containerFor(4).open(testing::inputFrom(file));
        if (!reader)
            return std::vector<uint8_t>();
        while ((answer = reader->read(got.data() + have, 4096)) > 0)
            have += size_t(answer);
        got.resize(have);
        return got;
    };
    int64_t answer = 0;
    const auto a = readAll(first, answer), b = readAll(second, answer);
    const auto whole = readAll(both, answer);
    EXPECT_EQ(answer, 0);
    std::vector<uint8_t> expected(a);
    expected.insert(expected.end(), b.begin(), b.end());
    EXPECT_EQ(whole, expected);
    both[first.size() + 5000] ^= 1; // inside the second member's data
    readAll(both, answer);
    EXPECT_EQ(answer, kBodyMalformed);
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
