// What other LHA implementations write, crafted byte by byte where no sample shows it: 64-bit
// sizes at every level, names from a drive, unknown methods, a header lost after a zero, and
// archives inside self-extracting programs.
#include "lha_builder.h"
#include "support.h"
#include "unlha32.h"

#include <gtest/gtest.h>

using namespace archiver_test;

namespace {

RawMember stored(const std::string &name, const std::string &content, int level = 2) {
    RawMember m;
    m.level = level;
    m.name = name;
    m.data = content;
    return m;
}

// Extracts `archive` into a fresh folder: the result, and every path written there.
int extract(const Bytes &archive, std::vector<std::string> *paths = nullptr,
            std::string *message = nullptr) {
    const TempDir d;
    writeFile(d / "a.lzh", archive);
    const int result = runCommand(
        "e -d -r2 -jyo0 " + quote(d / "a.lzh") + " " + quote(d / "out/") + " \"*\"", message);
    if (paths)
        *paths = exists(d / "out") ? allPaths(d / "out") : std::vector<std::string>{};
    return result;
}

TEST(ForeignHeaders, SixtyFourBitSizeIsHonouredOrTheMemberRefused) {
    // The 32-bit field keeps the size modulo 2^16 here, as one of 4 GiB or more keeps it modulo
    // 2^32: only the 64-bit field gives the whole length.
    const std::string content = std::string(70000, 'z') + "end";
    for (int level = 1; level <= 3; ++level) {
        SCOPED_TRACE("level " + std::to_string(level));
        const TempDir d;
        RawMember m = stored("big.bin", content, level);
        m.originalSize = uint32_t(content.size() % 65536);
        m.extended = {sizesHeader(content.size(), content.size())};
        writeFile(d / "a.lzh", rawArchive({rawMember(m)}));
        ASSERT_EQ(runCommand("e " + quote(d / "a.lzh") + " " + quote(d / "out/")), 0);
        EXPECT_EQ(readFile(d / "out/big.bin"), Bytes(content.begin(), content.end()));
        // Stored data shorter than the 64-bit size, and a packed size liblhasa cannot step over.
        std::vector<std::string> paths;
        m.extended = {sizesHeader(content.size(), content.size() + 65536)};
        EXPECT_EQ(extract(rawArchive({rawMember(m)}), &paths), UNLHA_ERROR_DAMAGED);
        EXPECT_TRUE(paths.empty());
        m.extended = {sizesHeader(uint64_t(5) << 30, uint64_t(5) << 30)};
        EXPECT_EQ(extract(rawArchive({rawMember(m)}), &paths), UNLHA_ERROR_TOO_LARGE);
    }
}

TEST(ForeignHeaders, NamesFromADriveExtractBelowTheDestination) {
    std::vector<std::string> paths;
    for (const int level : {0, 1})
        for (const std::string name : {"C:\\dir\\a.txt", "\\dir\\a.txt", "c:/dir/a.txt"}) {
            ASSERT_EQ(extract(rawArchive({rawMember(stored(name, "in", level))}), &paths), 0)
                << name;
            EXPECT_EQ(paths, (std::vector<std::string>{"dir/", "dir/a.txt"})) << name;
        }
    RawMember m = stored("a.txt", "in", 3);
    m.folder = "C:\xFF"
               "dir\xFF";
    ASSERT_EQ(extract(rawArchive({rawMember(m)}), &paths), 0);
    EXPECT_EQ(paths, (std::vector<std::string>{"dir/", "dir/a.txt"}));
}

TEST(ForeignHeaders, UnknownMethodIsUnsupportedByNameNotDamaged) {
    RawMember m = stored("packed.bin", "whatever");
    m.method = "-zz9-";
    std::string message;
    EXPECT_EQ(extract(rawArchive({rawMember(stored("good.txt", "fine")), rawMember(m)}), nullptr,
                      &message),
              UNLHA_ERROR_UNSUPPORTED);
    EXPECT_EQ(message, "unsupported method -zz9- in packed.bin");
}

TEST(ForeignHeaders, UnreadableHeaderAfterAZeroIsDamagedNotTheEnd) {
    // A header of 256 bytes starts with a zero, as an end mark does; this one's size is wrong.
    Bytes archive = rawMember(stored("a.txt", "first"));
    Bytes second = rawMember(stored("b.txt", "second"));
    second[0] = 0;
    archive.insert(archive.end(), second.begin(), second.end());
    archive.push_back(0);
    EXPECT_EQ(extract(archive), UNLHA_ERROR_DAMAGED);
}

TEST(ForeignHeaders, ArchiveInsideASelfExtractingProgramIsFoundAndNeverUpdated) {
    const Bytes archive = rawArchive({rawMember(stored("inside.txt", "found"))});
    for (const size_t size : {size_t(4000), size_t(200000)}) {
        Bytes exe = randomBytes(size, 11);
        std::replace(exe.begin(), exe.end(), uint8_t('-'), uint8_t('x'));
        std::copy_n("MZ", 2, exe.begin());
        std::copy_n("-lh5-\0-lh1-", 11, exe.begin() + 300); // the program's table of methods
        const Bytes program = exe;
        exe.insert(exe.end(), archive.begin(), archive.end());
        std::vector<std::string> paths;
        std::string message;
        EXPECT_EQ(extract(exe, &paths, &message), 0) << message;
        EXPECT_EQ(paths, std::vector<std::string>{"inside.txt"});
        EXPECT_EQ(extract(program, nullptr, &message), UNLHA_ERROR_DAMAGED);
        EXPECT_NE(message.find("not an LHA archive"), std::string::npos) << message;

        const TempDir d;
        writeFile(d / "sfx.exe", exe);
        writeFile(d / "new.txt", std::string("new"));
        EXPECT_EQ(
            runCommand("a " + quote(d / "sfx.exe") + " " + quote(d.path() + "/") + " new.txt"),
            UNLHA_ERROR_UNSUPPORTED);
        EXPECT_EQ(readFile(d / "sfx.exe"), exe);
    }
}

} // namespace
