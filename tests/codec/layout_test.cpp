// The encoded layout byte for byte, against values worked out independently of the engine.
#include "crc32.h"
#include "halvet_tolvex.h"
#include "layout.h"
#include "test_support.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

Bytes slice(const Bytes &b, size_t from, size_t length) {
    return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + length));
}

Bytes hex(const char *text) {
    Bytes out;
    for (const char *p = text; p[0] && p[1]; p += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
    return out;
}

TEST(Checksums, ExtensionChecksumWeighsSignedBytesByPowersOfTen) {
    EXPECT_EQ(tolvex::extensionChecksum("txt"), 129160);
    EXPECT_EQ(tolvex::extensionChecksum("a"), 970);
    EXPECT_EQ(tolvex::extensionChecksum(""), 0);
    // Bytes above 0x7F count negatively; six of them give the lower bound.
    EXPECT_EQ(tolvex::extensionChecksum("\x80\x80\x80\x80\x80\x80"), -142222080);
    EXPECT_EQ(tolvex::extensionChecksum("\x7f\x7f\x7f\x7f\x7f\x7f"), 141110970);
    EXPECT_EQ(tolvex::extensionChecksum("\xff"), -10);
}

TEST(Checksums, Crc32MatchesCheckValueAndSlowReference) {
    EXPECT_EQ(tolvex::crc32Update(0, "123456789", 9), 0xCBF43926u);
    EXPECT_EQ(tolvex::crc32Update(0, "", 0), 0u);
    // Random lengths, computed whole and in two pieces split anywhere.
    for (uint32_t seed = 1; seed < 40; ++seed) {
        const Bytes data = randomBytes(seed * 37 % 1500, seed);
        const uint32_t whole = tolvex::crc32Update(0, data.data(), data.size());
        EXPECT_EQ(whole, referenceCrc32(data));
        const size_t cut = data.empty() ? 0 : seed % data.size();
        EXPECT_EQ(tolvex::crc32Update(tolvex::crc32Update(0, data.data(), cut), data.data() + cut,
                                      data.size() - cut),
                  whole);
    }
}

TEST(Extension, TakesBytesAfterLastDotOfTheLastComponent) {
    EXPECT_EQ(tolvex::extensionOf("/a/b/file.txt"), "txt");
    EXPECT_EQ(tolvex::extensionOf("/a/b/archive.tar.gz"), "gz");
    EXPECT_EQ(tolvex::extensionOf("/a/b.d/file"), "");
    EXPECT_EQ(tolvex::extensionOf("file"), "");
    EXPECT_EQ(tolvex::extensionOf("file."), "");
    EXPECT_EQ(tolvex::extensionOf("x.longext"), "longext");
    EXPECT_EQ(tolvex::extensionOf("dir/.hidden"), "hidden");
    // On this system a backslash is an ordinary name byte.
    EXPECT_EQ(tolvex::extensionOf("a.b\\c"), "b\\c");
}

TEST(Recognition, MagicWordsSelectHeaderLengths) {
    auto lengthOf = [](Bytes b) { return tolvex::headerLengthFor(b); };
    EXPECT_EQ(lengthOf(hex("424D0603")), 774u);
    EXPECT_EQ(lengthOf(hex("424D0703")), 0u) << "a bitmap of another size is no disguise";
    EXPECT_EQ(lengthOf(hex("4F002D6C")), 3814u);
    EXPECT_EQ(lengthOf(hex("4F012D6C")), 0u);
    EXPECT_EQ(lengthOf(hex("FFD8FFE0")), 918u);
    EXPECT_EQ(lengthOf(hex("00000100")), 2238u);
    EXPECT_EQ(lengthOf(hex("00000200")), 766u);
    EXPECT_EQ(lengthOf(hex("52494646E8260000")), 10240u) << "RIFF with 9960 is the AVI";
    EXPECT_EQ(lengthOf(hex("5249464658010000")), 344u) << "any other RIFF size is the WAVE";
    EXPECT_EQ(lengthOf(hex("52494646")), std::nullopt) << "RIFF needs its size word";
    EXPECT_EQ(lengthOf(hex("0102")), std::nullopt);
    EXPECT_EQ(lengthOf(hex("01020304")), 0u);
}

TEST(TemplateFile, HoldsEveryMaskedSegmentWithItsMagic) {
    const auto file = readFile(TOLVEX_TEMPLATE_FILE);
    ASSERT_TRUE(file);
    ASSERT_GE(file->size(), tolvex::kTemplateFileSize);
    for (int kind = 1; kind < tolvex::kKindCount; ++kind) {
        const auto &d = tolvex::disguiseFor(kind);
        Bytes segment = slice(*file, d.first, d.length);
        for (auto &b : segment)
            b ^= 0xD3;
        EXPECT_EQ(tolvex::loadLe32(segment.data()), d.magic) << d.extension;
        EXPECT_EQ(tolvex::headerLengthFor(segment), d.length) << d.extension;
    }
    // AVI and WAVE differ in the RIFF size word.
    const auto &avi = tolvex::disguiseFor(14);
    EXPECT_EQ(tolvex::loadLe32(file->data() + avi.first + 4) ^ 0xD3D3D3D3u, 9960u);
}

// Segments are placed from the table's lengths; a template file written before a kind was added
// must still serve every earlier kind from the same place.
TEST(TemplateFile, EarlierSegmentsKeepTheirPlaces) {
    // Where kinds 1 to 15 begin, then where kind 15 ends.
    constexpr uint32_t kPlaces[] = {0,     774,   4593,  5511,  9325,  9412,  9695,  10039,
                                    13764, 16002, 19831, 23949, 25401, 26167, 36407, 40353};
    constexpr int kEarlier = static_cast<int>(std::size(kPlaces)) - 1;
    ASSERT_GE(tolvex::kKindCount, kEarlier + 1);
    for (int kind = 1; kind <= kEarlier; ++kind) {
        const auto &d = tolvex::disguiseFor(kind);
        EXPECT_EQ(d.first, kPlaces[kind - 1]) << kind;
        EXPECT_EQ(d.first + d.length, kPlaces[kind]) << kind;
    }
}

// Kind 5 (MIDI, 87-byte header), key 0x12345678, extension "txt", 19 bytes: one block and
// three tail bytes. Expected values worked out separately:
//   K = 0x12345678 ^ 0x5C3E19B = 0x17F7B7E3; S("txt") = 129160; K ^ S = 0x17F64F6B
//   CRC-32("0123456789ABCDEFxyz") = 0x97735AB7; K mod 255 = 0xAA
//   block: (w3^K/4, w2^K/3, w1^K/2, w0^K) = bba9b843 7304bc45 c5eecd3c d386c524
TEST(Layout, MatchesHandComputedBytes) {
    TempDir dir;
    writeFile(dir / "in.txt", std::string("0123456789ABCDEFxyz"));
    ASSERT_EQ(runEngine(dir / "in.txt", dir / "out", 0x12345678, 0, 5, 16, TOLVEX_TEMPLATE_FILE, 1),
              0);
    const auto out = readFile(dir / "out.mid");
    ASSERT_TRUE(out);
    ASSERT_EQ(out->size(), 87u + 15 + 19);

    const auto templ = readFile(TOLVEX_TEMPLATE_FILE);
    Bytes header = slice(*templ, 9325, 87);
    for (auto &b : header)
        b ^= 0xD3;
    EXPECT_EQ(slice(*out, 0, 87), header);
    EXPECT_EQ(slice(*out, 0, 4), hex("4D546864"));

    EXPECT_EQ(slice(*out, 87, 4), hex("6B4FF617")) << "key-check word";
    EXPECT_EQ(slice(*out, 91, 3), hex("747874")) << "extension";
    // Seed 1 gives the generator values 41, 18467, 6334: filler 0, 143, 49.
    EXPECT_EQ(slice(*out, 94, 3), hex("008F31")) << "filler";
    EXPECT_EQ(slice(*out, 97, 4), hex("B75A7397")) << "content CRC";
    EXPECT_EQ((*out)[101], 3) << "extension length";
    EXPECT_EQ(slice(*out, 102, 16), hex("bba9b8437304bc45c5eecd3cd386c524")) << "first block";
    EXPECT_EQ(slice(*out, 118, 3), hex("d2d3d0")) << "tail";
}

TEST(Layout, UndisguisedFileStartsWithTheRecordAndKeepsSixByteExtensionWhole) {
    TempDir dir;
    writeFile(dir / "in.abcdef", Bytes{});
    ASSERT_EQ(runEngine(dir / "in.abcdef", dir / "out", 0, 0, 0), 0);
    const auto out = readFile(dir / "out.tvx");
    ASSERT_TRUE(out);
    ASSERT_EQ(out->size(), 15u);
    const int32_t s = 97 * 10 + 98 * 100 + 99 * 1000 + 100 * 10000 + 101 * 100000 + 102 * 1000000;
    EXPECT_EQ(tolvex::loadLe32(out->data()), 0x5C3E19Bu ^ static_cast<uint32_t>(s));
    EXPECT_EQ(slice(*out, 4, 6), Bytes({'a', 'b', 'c', 'd', 'e', 'f'}));
    EXPECT_EQ(tolvex::loadLe32(out->data() + 10), 0u) << "CRC of nothing";
    EXPECT_EQ((*out)[14], 6);
}

TEST(Layout, FillerComesFromTheSeedAndNothingElseChanges) {
    TempDir dir;
    writeFile(dir / "in", randomBytes(100, 3));
    ASSERT_EQ(runEngine(dir / "in", dir / "a", 7, 0, 6, 64, TOLVEX_TEMPLATE_FILE, 1000), 0);
    ASSERT_EQ(runEngine(dir / "in", dir / "b", 7, 0, 6, 64, TOLVEX_TEMPLATE_FILE, 1001), 0);
    auto a = *readFile(dir / "a.png");
    auto b = *readFile(dir / "b.png");
    const size_t filler = 283 + 4;
    EXPECT_NE(slice(a, filler, 6), slice(b, filler, 6));
    std::fill_n(a.begin() + static_cast<long>(filler), 6, 0);
    std::fill_n(b.begin() + static_cast<long>(filler), 6, 0);
    EXPECT_EQ(a, b);
}

} // namespace
