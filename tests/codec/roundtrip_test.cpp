// Encoding then decoding restores content and extension, for every disguise kind, length,
// key and buffer size.
#include "halvet_tolvex.h"
#include "layout.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

using namespace testing_support;

namespace {

struct RoundTripCase {
    int kind;
    size_t length;
    uint32_t key;
    int32_t bufferSize;
    std::string name = "data.bin";
};

void expectRoundTrip(const RoundTripCase &c) {
    TempDir dir;
    const Bytes content = randomBytes(c.length, uint32_t(c.length * 31 + c.key));
    writeFile(dir / c.name, content);

    ASSERT_EQ(runEngine(dir / c.name, dir / "enc", c.key, TOLVEX_MODE_ENCODE, c.kind, c.bufferSize),
              TOLVEX_OK);
    const auto &disguise = tolvex::disguiseFor(c.kind);
    const std::string encoded = dir / (std::string("enc") + disguise.extension);
    const auto encodedBytes = readFile(encoded);
    ASSERT_TRUE(encodedBytes);
    EXPECT_EQ(encodedBytes->size(), disguise.length + 15 + c.length);
    if (c.length >= 16) {
        EXPECT_NE(Bytes(encodedBytes->end() - long(c.length), encodedBytes->end()), content);
    }

    ASSERT_EQ(runEngine(encoded, dir / "dec", c.key, TOLVEX_MODE_DECODE, 0, c.bufferSize),
              TOLVEX_OK);
    const std::string extension(tolvex::extensionOf(c.name));
    const std::string decoded = dir / (extension.empty() ? "dec" : "dec." + extension);
    EXPECT_EQ(readFile(decoded), content);
}

// Every kind, including the numbers outside 1 to 15 that mean no disguise, with the lengths
// around the block size.
class KindAndLength : public ::testing::TestWithParam<std::tuple<int, size_t>> {};

TEST_P(KindAndLength, RoundTrips) {
    const auto [kind, length] = GetParam();
    expectRoundTrip({kind, length, 0xCAFEF00D, 1 << 16});
}

INSTANTIATE_TEST_SUITE_P(AllKinds, KindAndLength,
                         ::testing::Combine(::testing::Values(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11,
                                                              12, 13, 14, 15, 16, 255, -1),
                                            ::testing::Values(size_t(0), size_t(1), size_t(15),
                                                              size_t(16), size_t(17), size_t(33),
                                                              size_t(70001))));

// Keys at the edges of the whitening and the quotients, on lengths with and without a tail,
// and on pieces that cross the engine's internal read size.
class KeyAndLength : public ::testing::TestWithParam<std::tuple<uint32_t, size_t>> {};

TEST_P(KeyAndLength, RoundTrips) {
    const auto [key, length] = GetParam();
    expectRoundTrip({14, length, key, 1 << 20});
}

INSTANTIATE_TEST_SUITE_P(
    EdgeKeys, KeyAndLength,
    ::testing::Combine(::testing::Values(0u, 0xFFFFFFFFu, 0x5C3E19Bu, 0x80000000u, 0x7FFFu),
                       ::testing::Values(size_t(0), size_t(17), size_t(1 << 20),
                                         size_t((3 << 20) + 21))));

// Buffer sizes below a word, odd sizes and large ones all give the same file.
class BufferSize : public ::testing::TestWithParam<int32_t> {};

TEST_P(BufferSize, RoundTripsAndGivesTheSameBytes) {
    const int32_t size = GetParam();
    expectRoundTrip({3, 1000, 0x1234, size});

    TempDir dir;
    const Bytes content = randomBytes(333, 9);
    writeFile(dir / "f.dat", content);
    ASSERT_EQ(runEngine(dir / "f.dat", dir / "a", 9, 0, 12, size, TOLVEX_TEMPLATE_FILE, 5), 0);
    ASSERT_EQ(runEngine(dir / "f.dat", dir / "b", 9, 0, 12, 1 << 16, TOLVEX_TEMPLATE_FILE, 5), 0);
    EXPECT_EQ(readFile(dir / "a.mp3"), readFile(dir / "b.mp3"));
}

INSTANTIATE_TEST_SUITE_P(Sizes, BufferSize,
                         ::testing::Values(0, 1, 2, 3, 4, 5, 6, 7, 64 << 20, INT32_MAX));

TEST(Extensions, ComeBackAsTheyWere) {
    // Six bytes exactly, high bytes (Shift-JIS), one letter, upper case.
    for (const char *name : {"x.abcdef", "x.\x83\x65\x83\x4c", "x.a", "x.TXT"})
        expectRoundTrip({1, 50, 77, 8, name});
}

TEST(Extensions, FileWithoutExtensionDecodesToTheBareBase) {
    TempDir dir;
    std::filesystem::create_directory(dir / "folder.d");
    writeFile(dir / "folder.d/plain", std::string("no extension here"));
    ASSERT_EQ(runEngine(dir / "folder.d/plain", dir / "enc", 5, 0, 2), 0);
    EXPECT_EQ((*readFile(dir / "enc.cab"))[3819 + 14], 0)
        << "a dot in a folder name is no extension";
    ASSERT_EQ(runEngine(dir / "enc.cab", dir / "dec", 5, 1), 0);
    EXPECT_EQ(readFile(dir / "dec"), readFile(dir / "folder.d/plain"));
    EXPECT_FALSE(exists(dir / "dec."));
}

TEST(Overwrite, ModesTwoAndThreeReplaceAnExistingOutput) {
    TempDir dir;
    const Bytes content = randomBytes(5000, 1);
    writeFile(dir / "in.txt", content);
    writeFile(dir / "enc.zip", std::string("old"));
    ASSERT_EQ(runEngine(dir / "in.txt", dir / "enc", 3, TOLVEX_MODE_ENCODE_OVERWRITE, 15), 0);
    EXPECT_EQ(readFile(dir / "enc.zip")->size(), 3946u + 15 + 5000);
    writeFile(dir / "dec.txt", std::string("old"));
    ASSERT_EQ(runEngine(dir / "enc.zip", dir / "dec", 3, TOLVEX_MODE_DECODE_OVERWRITE), 0);
    EXPECT_EQ(readFile(dir / "dec.txt"), content);
    // No temporary file stays behind.
    EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"dec.txt", "enc.zip", "in.txt"}));
}

TEST(Concurrency, TwoThreadsConvertAtOnce) {
    TempDir dir;
    const Bytes a = randomBytes(3 << 20, 1), b = randomBytes((2 << 20) + 9, 2);
    writeFile(dir / "a.one", a);
    writeFile(dir / "b.two", b);
    int32_t ra = -100, rb = -100;
    std::thread t([&] { ra = runEngine(dir / "a.one", dir / "ea", 1, 0, 4, 4); });
    rb = runEngine(dir / "b.two", dir / "eb", 2, 0, 10, 4);
    t.join();
    ASSERT_EQ(ra, 0);
    ASSERT_EQ(rb, 0);
    std::thread u([&] { ra = runEngine(dir / "ea.lzh", dir / "da", 1, 1); });
    rb = runEngine(dir / "eb.tgz", dir / "db", 2, 1);
    u.join();
    EXPECT_EQ(ra, 0);
    EXPECT_EQ(rb, 0);
    EXPECT_EQ(readFile(dir / "da.one"), a);
    EXPECT_EQ(readFile(dir / "db.two"), b);
}

} // namespace
