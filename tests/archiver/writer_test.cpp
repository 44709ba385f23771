// The level-2 header as written: fields at their offsets, a CRC that checks, and a size that
// is never a multiple of 256 (readers would take its leading zero byte for the archive's end).
#include "crc16.h"
#include "lha_writer.h"

#include <gtest/gtest.h>

using unlha::buildLevel2Header;
using unlha::HeaderFields;

namespace {

uint32_t le(const std::vector<uint8_t> &h, size_t at, size_t width) {
    uint32_t v = 0;
    for (size_t i = width; i-- > 0;)
        v = v << 8 | h[at + i];
    return v;
}

HeaderFields fileFields(const std::string &path) {
    HeaderFields f;
    f.method = "-lh5-";
    f.compressedSize = 1234;
    f.originalSize = 5678;
    f.dataCrc = 0xBEEF;
    f.info = {path, 1700000000u, 0100640};
    return f;
}

TEST(Level2Header, FieldsAndHeaderCrc) {
    const auto h = buildLevel2Header(fileFields("src/sub/name.txt"));
    ASSERT_TRUE(h);
    EXPECT_EQ(le(*h, 0, 2), h->size());
    EXPECT_EQ(std::string(h->begin() + 2, h->begin() + 7), "-lh5-");
    EXPECT_EQ(le(*h, 7, 4), 1234u);
    EXPECT_EQ(le(*h, 11, 4), 5678u);
    EXPECT_EQ(le(*h, 15, 4), 1700000000u);
    EXPECT_EQ((*h)[19], 0x20);
    EXPECT_EQ((*h)[20], 2);
    EXPECT_EQ(le(*h, 21, 2), 0xBEEFu);
    EXPECT_EQ((*h)[23], 'U');
    // The header CRC extension comes first; the CRC over the header with it zeroed matches.
    EXPECT_EQ((*h)[26], 0x00);
    std::vector<uint8_t> zeroed = *h;
    zeroed[27] = zeroed[28] = 0;
    EXPECT_EQ(le(*h, 27, 2), unlha::crc16Update(0, zeroed.data(), zeroed.size()));

    // Walk the extensions: name, folder with 0xFF separators, Unix mode; then the end.
    std::string name, folder;
    uint32_t mode = 0;
    size_t at = 24;
    for (size_t size = le(*h, at, 2); size != 0;) {
        const size_t ext = at + 2;
        const uint8_t type = (*h)[ext];
        const std::string data(h->begin() + long(ext + 1), h->begin() + long(ext + size - 2));
        if (type == 0x01)
            name = data;
        if (type == 0x02)
            folder = data;
        if (type == 0x50)
            mode = le(*h, ext + 1, 2);
        at = ext + size - 2;
        size = le(*h, at, 2);
    }
    EXPECT_EQ(at + 2, h->size());
    EXPECT_EQ(name, "name.txt");
    EXPECT_EQ(folder, "src\xFFsub\xFF");
    EXPECT_EQ(mode, 0100640u);
}

TEST(Level2Header, FolderEntryHasEmptyNameAndFullFolder) {
    HeaderFields f;
    f.method = "-lhd-";
    f.folder = true;
    f.info = {"a/b", 0, 040755};
    const auto h = buildLevel2Header(f);
    ASSERT_TRUE(h);
    // After the CRC extension (size 5): the name extension, empty (size 3), then the folder.
    ASSERT_GT(h->size(), 34u);
    EXPECT_EQ(le(*h, 29, 2), 3u);
    EXPECT_EQ((*h)[31], 0x01);
    EXPECT_EQ(le(*h, 32, 2), 3u + 4u);
    EXPECT_EQ((*h)[34], 0x02);
    EXPECT_EQ(std::string(h->begin() + 35, h->begin() + 39), "a\xFF"
                                                             "b\xFF");
}

TEST(Level2Header, SizeIsNeverAMultipleOf256) {
    int adjusted = 0;
    for (size_t folderLength : {0, 1, 5, 40, 200})
        for (size_t nameLength = 1; nameLength <= 255; ++nameLength) {
            std::string path = folderLength ? std::string(folderLength, 'd') + "/" : "";
            path += std::string(nameLength, 'n');
            const auto h = buildLevel2Header(fileFields(path));
            ASSERT_TRUE(h);
            ASSERT_NE(h->size() % 256, 0u) << path.size();
            ASSERT_NE((*h)[0], 0);
            adjusted += h->size() % 256 == 7; // the extra Unix time extension
        }
    EXPECT_GT(adjusted, 0) << "some lengths needed the extra extension";
    // The names the reader tests use to meet this case.
    EXPECT_EQ(buildLevel2Header(fileFields("tree/" + std::string(209, 'h')))->size(), 263u);
    EXPECT_EQ(buildLevel2Header(fileFields("tree/sub/" + std::string(205, 'k')))->size(), 263u);
}

TEST(Level2Header, NamesTheFormatCannotHoldAreRefused) {
    EXPECT_FALSE(buildLevel2Header(fileFields("")));
    EXPECT_FALSE(buildLevel2Header(fileFields("a//b")));
    EXPECT_FALSE(buildLevel2Header(fileFields("dir/")));
    EXPECT_FALSE(buildLevel2Header(fileFields("bad\xFFname")));
    EXPECT_FALSE(buildLevel2Header(fileFields(std::string(70000, 'x'))));
}

} // namespace
