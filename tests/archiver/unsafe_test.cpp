// Crafted archives: names that lead out of the destination, links, truncation and a broken
// header CRC are refused (a name from the root is read below the destination), and nothing is
// written anywhere; Shift_JIS names at levels 0 and 1 keep their characters whole.
#include "crc16.h"
#include "lha_builder.h"
#include "support.h"
#include "unlha32.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace archiver_test;

namespace {

void put16(Bytes &b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void put32(Bytes &b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

// One stored level-2 member with raw name fields, as a hostile archiver could write it.
Bytes craftMember(const std::string &name, const std::string *folder, const std::string &content,
                  uint16_t mode = 0100644) {
    std::vector<std::pair<uint8_t, std::string>> ext = {{0x00, std::string(2, '\0')}, {0x01, name}};
    if (folder)
        ext.push_back({0x02, *folder});
    ext.push_back({0x50, std::string{char(mode & 0xFF), char(mode >> 8)}});
    size_t total = 26;
    for (const auto &e : ext)
        total += 3 + e.second.size();
    Bytes h;
    put16(h, uint32_t(total));
    const std::string method = "-lh0-";
    h.insert(h.end(), method.begin(), method.end());
    put32(h, uint32_t(content.size()));
    put32(h, uint32_t(content.size()));
    put32(h, 1700000000);
    h.push_back(0x20);
    h.push_back(2);
    put16(h, unlha::crc16Update(0, content.data(), content.size()));
    h.push_back('U');
    put16(h, 5);
    for (size_t i = 0; i < ext.size(); ++i) {
        h.push_back(ext[i].first);
        h.insert(h.end(), ext[i].second.begin(), ext[i].second.end());
        put16(h, i + 1 < ext.size() ? uint32_t(3 + ext[i + 1].second.size()) : 0);
    }
    const uint16_t crc = unlha::crc16Update(0, h.data(), h.size());
    h[27] = uint8_t(crc);
    h[28] = uint8_t(crc >> 8);
    h.insert(h.end(), content.begin(), content.end());
    return h;
}

Bytes archiveOf(std::initializer_list<Bytes> members) {
    Bytes out;
    for (const auto &m : members)
        out.insert(out.end(), m.begin(), m.end());
    out.push_back(0);
    return out;
}

class Unsafe : public ::testing::Test {
  protected:
    // Extracts into dir/a/b/dest; everything written anywhere under dir shows up.
    int extract(const Bytes &archive) {
        writeFile(dir / "a/b/crafted.lzh", archive);
        return runCommand("e -d -r2 -jyo0 " + quote(dir / "a/b/crafted.lzh") + " " +
                          quote(dir / "a/b/dest/") + " \"*\"");
    }
    void SetUp() override { makeFolder(dir / "a/b/dest"); }
    void expectNothingWritten() {
        EXPECT_EQ(allPaths(dir.path()),
                  (std::vector<std::string>{"a/", "a/b/", "a/b/crafted.lzh", "a/b/dest/"}));
    }
    TempDir dir;
    const Bytes good = craftMember("good.txt", nullptr, "fine");
};

TEST_F(Unsafe, CraftedGoodArchiveExtracts) {
    // The crafting itself is sound: the same member with a plain name is accepted.
    const std::string folder = "sub\xFF";
    EXPECT_EQ(extract(archiveOf({good, craftMember("x", &folder, "hello")})), 0);
    EXPECT_EQ(readFile(dir / "a/b/dest/sub/x"), Bytes({'h', 'e', 'l', 'l', 'o'}));
}

TEST_F(Unsafe, ParentFolderNameIsRefused) {
    const std::string folder = "..\xFF";
    EXPECT_EQ(extract(archiveOf({good, craftMember("x", &folder, "escape")})), UNLHA_ERROR_UNSAFE);
    expectNothingWritten();
}

TEST_F(Unsafe, NameFromTheRootExtractsBelowTheDestination) {
    const std::string folder = "\xFFtmp\xFF";
    EXPECT_EQ(extract(archiveOf({good, craftMember("x", &folder, "kept")})), 0);
    EXPECT_EQ(readFile(dir / "a/b/dest/tmp/x"), Bytes({'k', 'e', 'p', 't'}));
    EXPECT_FALSE(std::filesystem::is_regular_file("/tmp/x") &&
                 readFile("/tmp/x") == Bytes({'k', 'e', 'p', 't'}));
}

TEST_F(Unsafe, ClimbingFromTheRootIsRefused) {
    const std::string folder = "\xFF..\xFFtmp\xFF";
    EXPECT_EQ(extract(archiveOf({good, craftMember("x", &folder, "escape")})), UNLHA_ERROR_UNSAFE);
    expectNothingWritten();
}

TEST_F(Unsafe, ClimbingThroughASubfolderIsRefused) {
    const std::string folder = "a\xFF..\xFF..\xFF";
    EXPECT_EQ(extract(archiveOf({good, craftMember("x", &folder, "escape")})), UNLHA_ERROR_UNSAFE);
    expectNothingWritten();
}

TEST_F(Unsafe, ParentNameInTheFileNameFieldIsRefused) {
    EXPECT_EQ(extract(archiveOf({good, craftMember("..\\x", nullptr, "escape")})),
              UNLHA_ERROR_UNSAFE);
    expectNothingWritten();
}

TEST_F(Unsafe, SymbolicLinkIsRefused) {
    EXPECT_EQ(extract(archiveOf({good, craftMember("link|/etc", nullptr, "", 0120777)})),
              UNLHA_ERROR_UNSAFE);
    expectNothingWritten();
}

TEST_F(Unsafe, TruncatedArchiveIsRefused) {
    Bytes a = archiveOf({good, craftMember("second.txt", nullptr, std::string(500, 'z'))});
    a.resize(a.size() - 200);
    EXPECT_EQ(extract(a), UNLHA_ERROR_DAMAGED);
    expectNothingWritten();
}

TEST_F(Unsafe, TruncatedHeaderIsRefused) {
    Bytes a = archiveOf({good, craftMember("second.txt", nullptr, "two")});
    a.resize(good.size() + 20);
    EXPECT_EQ(extract(a), UNLHA_ERROR_DAMAGED);
    expectNothingWritten();
}

TEST_F(Unsafe, BadHeaderCrcIsRefused) {
    Bytes second = craftMember("second.txt", nullptr, "two");
    second[27] ^= 0x01;
    EXPECT_EQ(extract(archiveOf({good, second})), UNLHA_ERROR_DAMAGED);
    expectNothingWritten();
}

TEST_F(Unsafe, BadDataCrcFailsAndLeavesNoFile) {
    Bytes m = craftMember("bad.txt", nullptr, "payload");
    m[m.size() - 1] ^= 0x20;
    EXPECT_EQ(extract(archiveOf({m})), UNLHA_ERROR_DAMAGED);
    expectNothingWritten();
}

TEST_F(Unsafe, LinkInsideTheDestinationIsNotFollowed) {
    // A link the user already has in the destination must not carry a member out of it.
    makeFolder(dir / "elsewhere");
    ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), (dir / "a/b/dest/sub").c_str()), 0);
    const std::string folder = "sub\xFF";
    EXPECT_EQ(extract(archiveOf({craftMember("x", &folder, "escape")})), UNLHA_ERROR_UNSAFE);
    EXPECT_TRUE(allPaths(dir / "elsewhere").empty());
}

// At levels 0 and 1 a Shift_JIS character whose second byte is '\' (ソ is 83 5C, 表 95 5C) is
// no separator, in a name field alone or beside a folder field (parts ended by 0xFF). Capitals
// are lowered as for MS-DOS, never a second byte (ア is 83 41); the name checks see the result.
TEST(ShiftJisNames, SecondByteBackslashStaysInItsCharacter) {
    const std::string so = "\x83\x5C\x83t\x83g", hyo = "\x95\x5C";
    struct Case {
        int level;
        std::string name;
        std::optional<std::string> folder;
        std::vector<std::string> paths; // what the destination holds after, none when refused
    };
    const std::vector<std::string> both = {so + "/", so + "/" + hyo + ".txt"};
    const Case cases[] = {
        {0, so + "\\" + hyo + ".txt", std::nullopt, both},
        {1, so + "\\" + hyo + ".txt", std::nullopt, both},
        {1, hyo + ".txt", so + "\xFF", both},
        {1, "x\\" + hyo + ".txt", so + "\xFF", both},
        {0, "\x83\x41.TXT", std::nullopt, {"\x83\x41.txt"}},
        {0, "DOCS\\A.TXT", std::nullopt, {"docs/", "docs/a.txt"}},
        {0, so + "\\..\\x", std::nullopt, {}},
        {1, so + "\\.unlha-0123456789", std::nullopt, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("level " + std::to_string(c.level) + " name " + c.name);
        TempDir d;
        RawMember m;
        m.level = c.level;
        m.name = c.name;
        m.folder = c.folder;
        m.data = "hyo";
        writeFile(d / "a.lzh", rawArchive({rawMember(m)}));
        const int result =
            runCommand("e -d -r2 -jyo0 " + quote(d / "a.lzh") + " " + quote(d / "out/") + " \"*\"");
        EXPECT_EQ(result, c.paths.empty() ? UNLHA_ERROR_UNSAFE : 0);
        EXPECT_EQ(exists(d / "out") ? allPaths(d / "out") : std::vector<std::string>{}, c.paths);
    }
}

} // namespace
