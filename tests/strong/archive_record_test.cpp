// The archives' fields that change form with the size: Zip64 records from 4 GiB, tar's
// base-256 size from 8 GiB. Checked through the record builders, not multi-gigabyte files.
#include "containers.h"
#include "framing.h"
#include "memory_file.h"
#include "tar_member.h"
#include "zip_records.h"

#include <gtest/gtest.h>

#include <cstring>

namespace strong {
namespace {

using framing::loadLe16;
using framing::loadLe32;
using framing::loadLe64;

zip::Member member(uint64_t size) {
    zip::Member m;
    m.name = "backup_20240101.bin";
    m.mtime = m.atime = 1700000000;
    m.size = size;
    return m;
}

TEST(ZipRecords, zip64StartsWhereAFieldNoLongerFits) {
    const auto small = zip::plan(member(0xFFFFFFFE - 200));
    EXPECT_FALSE(small.zip64Member);
    EXPECT_FALSE(small.zip64End);
    // The size fits, the central directory's offset does not.
    const auto offsetOnly = zip::plan(member(0xFFFFFFFE));
    EXPECT_FALSE(offsetOnly.zip64Member);
    EXPECT_TRUE(offsetOnly.zip64End);
    const auto big = zip::plan(member(0xFFFFFFFF));
    EXPECT_TRUE(big.zip64Member);
    EXPECT_TRUE(big.zip64End);
    EXPECT_EQ(big.localSize, small.localSize + 20); // the local Zip64 field
    EXPECT_EQ(big.centralOffset, big.localSize + 0xFFFFFFFF);
}

TEST(ZipRecords, aFiveGigabyteMemberIsInTheZip64Records) {
    const uint64_t size = uint64_t(5) << 30;
    const auto m = member(size);
    const auto p = zip::plan(m);
    const auto local = zip::localHeader(m, p);
    ASSERT_EQ(local.size(), p.localSize);
    EXPECT_EQ(loadLe16(&local[4]), 45u);
    EXPECT_EQ(loadLe32(&local[18]), 0xFFFFFFFFu);
    EXPECT_EQ(loadLe64(&local[local.size() - 16]), size);
    EXPECT_EQ(loadLe64(&local[local.size() - 8]), size);

    const auto t = zip::trailer(m, p, 0x12345678);
    const uint8_t *end = &t[t.size() - 22], *locator = end - 20, *end64 = locator - 56;
    ASSERT_EQ(loadLe32(end), zip::kEnd);
    EXPECT_EQ(loadLe32(end + 16), 0xFFFFFFFFu);
    ASSERT_EQ(loadLe32(locator), zip::kLocator);
    EXPECT_EQ(loadLe64(locator + 8), p.centralOffset + uint64_t(end64 - t.data()));
    ASSERT_EQ(loadLe32(end64), zip::kEnd64);
    EXPECT_EQ(loadLe64(end64 + 48), p.centralOffset);
    EXPECT_EQ(loadLe64(end64 + 40), uint64_t(end64 - t.data()));
    EXPECT_EQ(loadLe32(&t[20]), 0xFFFFFFFFu); // central sizes, in its Zip64 field
    EXPECT_EQ(loadLe64(end64 - 8), size);
}

// The reader follows the Zip64 records wherever they are, as it does past 4 GiB.
TEST(ZipRecords, theReaderFollowsZip64Records) {
    const std::vector<uint8_t> body(1000, 0x5A);
    auto m = member(body.size());
    auto p = zip::plan(m);
    p.zip64Member = p.zip64End = true;
    p.localSize += 20;
    p.centralOffset += 20;
    std::vector<uint8_t> file = zip::localHeader(m, p);
    const uint32_t crc = framing::crc32(0, body.data(), body.size());
    for (int i = 0; i < 4; ++i)
        file[zip::kCrcOffset + i] = uint8_t(crc >> (8 * i));
    file.insert(file.end(), body.begin(), body.end());
    const auto t = zip::trailer(m, p, crc);
    file.insert(file.end(), t.begin(), t.end());

    auto reader = containerFor(15).open(testing::inputFrom(file));
    ASSERT_TRUE(reader);
    std::vector<uint8_t> got(2000);
    ASSERT_EQ(reader->read(got.data(), got.size()), int64_t(body.size()));
    EXPECT_EQ(reader->read(got.data(), got.size()), 0);
    EXPECT_TRUE(std::equal(body.begin(), body.end(), got.begin()));
}

TEST(TarSize, octalBelowEightGigabytesThenBase256) {
    uint8_t field[12];
    uint64_t back = 0;
    tar::sizeField((uint64_t(1) << 33) - 1, field);
    EXPECT_EQ(std::memcmp(field, "77777777777", 12), 0);
    ASSERT_TRUE(tar::numericField(field, 12, back));
    EXPECT_EQ(back, (uint64_t(1) << 33) - 1);
    tar::sizeField(uint64_t(1) << 33, field);
    const uint8_t base256[12] = {0x80, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(field, base256, 12), 0);
    ASSERT_TRUE(tar::numericField(field, 12, back));
    EXPECT_EQ(back, uint64_t(1) << 33);
}

} // namespace
} // namespace strong
