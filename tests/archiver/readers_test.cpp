// Our archives in the hands of independent readers, and archives of an independent writer in
// ours. lhasa and bsdtar -xO check data CRCs; 7-Zip is a third opinion; bsdtar -tf must list
// every entry (a header it mistakes for the end mark would shorten the list silently).
#include "support.h"

#include <gtest/gtest.h>

using namespace archiver_test;

namespace {

std::string packLine(const std::string &archive, const std::string &base, const std::string &name) {
    return "a -d -r2 " + quote(archive) + " " + quote(base + "/") + " " + quote(name);
}

size_t lineCount(const std::string &text) {
    return size_t(std::count(text.begin(), text.end(), '\n'));
}

// The awkward members: a name whose header would be exactly 256 bytes, tiny and empty files,
// incompressible data, and a member well past 64 KiB; plus folders.
void makeAwkwardTree(const std::string &root) {
    makeFolder(root + "/sub/empty");
    // The header takes 43 bytes, the stored folder's length and the name's: with the folder
    // "tree" a name of 209 bytes makes 256, with "tree/sub" one of 205.
    writeFile(root + "/" + std::string(209, 'h'), std::string("header size multiple of 256"));
    writeFile(root + "/sub/" + std::string(205, 'k'), std::string("and one deeper"));
    writeFile(root + "/empty", Bytes{});
    writeFile(root + "/one", std::string("1"));
    writeFile(root + "/seven", std::string("1234567"));
    writeFile(root + "/aaaa", std::string(40, 'a'));
    writeFile(root + "/noise.bin", randomBytes(200000, 1));
    writeFile(root + "/sub/big.txt", textBytes(300000, 2));
    writeFile(root + "/sub/zeros", Bytes(100000, 0));
    writeFile(root + "/sub/日本語 名前.txt", textBytes(1000, 3));
}

class Readers : public ::testing::Test {
  protected:
    void SetUp() override {
        makeAwkwardTree(dir / "in/tree");
        entries = allPaths(dir / "in").size();
        std::string message;
        ASSERT_EQ(runCommand(packLine(archive, dir / "in", "tree"), &message), 0) << message;
    }
    TempDir dir;
    std::string archive = dir / "t.lzh";
    size_t entries = 0;
};

TEST_F(Readers, LhasaTestsEveryMember) {
    const Shell r = shell("lhasa t " + quote(archive) + " 2>&1");
    EXPECT_EQ(r.status, 0) << r.output;
}

TEST_F(Readers, BsdtarListsEveryEntry) {
    const Shell r = shell("bsdtar -tf " + quote(archive));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(lineCount(r.output), entries) << r.output;
    EXPECT_NE(r.output.find(std::string(209, 'h')), std::string::npos);
}

TEST_F(Readers, BsdtarExtractsWithCrcChecksAndSameContent) {
    const Shell r = shell("bsdtar -xOf " + quote(archive) + " >/dev/null");
    EXPECT_EQ(r.status, 0);
    makeFolder(dir / "bsd");
    const Shell x = shell("cd " + quote(dir / "bsd") + " && bsdtar -xf " + quote(archive));
    ASSERT_EQ(x.status, 0);
    EXPECT_TRUE(snapshot(dir / "in") == snapshot(dir / "bsd"));
}

TEST_F(Readers, SevenZipTestsTheArchive) {
    const Shell r = shell("7zz t " + quote(archive) + " 2>&1");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Everything is Ok"), std::string::npos);
}

TEST_F(Readers, LhasaExtractsTheSameTree) {
    makeFolder(dir / "lhasa");
    const Shell r =
        shell("cd " + quote(dir / "lhasa") + " && lhasa xq " + quote(archive) + " 2>&1");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(snapshot(dir / "in") == snapshot(dir / "lhasa"));
}

TEST_F(Readers, DamageIsNoticedByTheReaders) {
    // Sanity check of the checkers themselves: one flipped byte in the middle of the data.
    auto bytes = *readFile(archive);
    bytes[bytes.size() / 2] ^= 0x55;
    writeFile(dir / "bad.lzh", bytes);
    const Shell l = shell("lhasa t " + quote(dir / "bad.lzh") + " >/dev/null 2>&1");
    const Shell b = shell("bsdtar -xOf " + quote(dir / "bad.lzh") + " >/dev/null 2>&1");
    EXPECT_TRUE(l.status != 0 || b.status != 0);
}

TEST(JlhaArchives, ExtractCorrectly) {
    TempDir dir;
    {
        makeFolder(dir / "in/tree/sub/empty");
        writeFile(dir / "in/tree/a.txt", textBytes(100000, 1));
        writeFile(dir / "in/tree/sub/b.bin", randomBytes(70000, 2));
        writeFile(dir / "in/tree/sub/c", std::string("c"));
        writeFile(dir / "in/tree/empty", Bytes{});
    }
    const Shell j = shell("cd " + quote(dir / "in") + " && jlha c " + quote(dir / "j.lzh") +
                          " tree >/dev/null 2>&1");
    ASSERT_EQ(j.status, 0);
    makeFolder(dir / "out");
    std::string message;
    ASSERT_EQ(
        runCommand("e -d -r2 -jyo0 " + quote(dir / "j.lzh") + " " + quote(dir / "out/") + " \"*\"",
                   &message),
        0)
        << message;
    // jlha may leave out empty folders; every file must be there, identical.
    for (const auto &e : snapshot(dir / "in")) {
        if (e.content) {
            EXPECT_EQ(readFile(dir / "out/" + e.path), e.content) << e.path;
        }
    }
}

} // namespace
