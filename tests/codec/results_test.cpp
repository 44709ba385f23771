// Every result code with its condition and precedence, what each leaves on disk, and decoding
// of crafted files.
#include "halvet_tolvex.h"
#include "layout.h"
#include "test_support.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace testing_support;

namespace {

constexpr const char *kNoTemplate = "/nonexistent/Tolvex.dat";

// Each test gets a folder with one source file and counts descriptors around every call.
class Results : public ::testing::Test {
  protected:
    void SetUp() override {
        source = dir / "in.txt";
        content = randomBytes(100, 42);
        writeFile(source, content);
        descriptorsBefore = openDescriptorCount();
    }
    void TearDown() override {
        EXPECT_EQ(openDescriptorCount(), descriptorsBefore) << "a file stayed open";
    }
    std::vector<std::string> files() const { return listFolder(dir.path()); }

    TempDir dir;
    std::string source;
    Bytes content;
    int descriptorsBefore = 0;
};

TEST_F(Results, MissingSourceComesFirst) {
    EXPECT_EQ(runEngine(dir / "absent", dir / "o", 1, 0), TOLVEX_SOURCE_MISSING);
    EXPECT_EQ(runEngine(dir / "absent", dir / "o", 1, 7), TOLVEX_SOURCE_MISSING);
    EXPECT_EQ(runEngine(dir / "absent", dir / "o", 1, 1, 0, 0, kNoTemplate), TOLVEX_SOURCE_MISSING);
    EXPECT_EQ(files(), std::vector<std::string>{"in.txt"});
}

TEST_F(Results, BadModeComesBeforeTheTemplate) {
    for (int mode : {4, -1, 100, INT32_MIN}) {
        EXPECT_EQ(runEngine(source, dir / "o", 1, mode), TOLVEX_BAD_MODE);
        EXPECT_EQ(runEngine(source, dir / "o", 1, mode, 0, 0, kNoTemplate), TOLVEX_BAD_MODE);
    }
    EXPECT_EQ(files(), std::vector<std::string>{"in.txt"});
}

TEST_F(Results, MissingTemplateFailsEveryModeEvenDecoding) {
    ASSERT_EQ(runEngine(source, dir / "enc", 1, 0, 0), TOLVEX_OK);
    for (int mode : {0, 1, 2, 3})
        EXPECT_EQ(
            runEngine(mode % 2 ? dir / "enc.tvx" : source, dir / "o", 1, mode, 0, 0, kNoTemplate),
            TOLVEX_TEMPLATE_MISSING);
    EXPECT_EQ(files(), (std::vector<std::string>{"enc.tvx", "in.txt"}));
}

TEST_F(Results, FolderAsSourceCannotBeOpened) {
    std::filesystem::create_directory(dir / "folder.x");
    EXPECT_EQ(runEngine(dir / "folder.x", dir / "o", 1, 0), TOLVEX_CANNOT_OPEN);
    EXPECT_EQ(runEngine(dir / "folder.x", dir / "o", 1, 1), TOLVEX_CANNOT_OPEN);
    EXPECT_EQ(files(), (std::vector<std::string>{"folder.x", "in.txt"}));
}

TEST_F(Results, ExtensionOfSevenBytesIsRefusedBeforeAnyOutput) {
    writeFile(dir / "x.abcdefg", std::string("data"));
    EXPECT_EQ(runEngine(dir / "x.abcdefg", dir / "o", 1, 0, 1), TOLVEX_CANNOT_OPEN);
    EXPECT_EQ(runEngine(dir / "x.abcdefg", dir / "o", 1, 2, 1), TOLVEX_CANNOT_OPEN);
    EXPECT_FALSE(exists(dir / "o.bmp"));
}

TEST_F(Results, OutputInAMissingFolderCannotBeCreated) {
    EXPECT_EQ(runEngine(source, dir / "no/such/o", 1, 0), TOLVEX_CANNOT_OPEN);
    EXPECT_EQ(runEngine(source, dir / "no/such/o", 1, 2), TOLVEX_CANNOT_OPEN);
    EXPECT_EQ(files(), std::vector<std::string>{"in.txt"});
}

TEST_F(Results, ExistingOutputIsKeptInModesZeroAndOne) {
    writeFile(dir / "o.jpg", std::string("keep me"));
    EXPECT_EQ(runEngine(source, dir / "o", 1, 0, 3), TOLVEX_OUTPUT_EXISTS);
    EXPECT_EQ(readFile(dir / "o.jpg"), Bytes({'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
    std::filesystem::create_directory(dir / "d.tvx");
    EXPECT_EQ(runEngine(source, dir / "d", 1, 0), TOLVEX_OUTPUT_EXISTS) << "a folder counts";

    ASSERT_EQ(runEngine(source, dir / "enc", 1, 0, 6), TOLVEX_OK);
    writeFile(dir / "dec.txt", std::string("keep me"));
    EXPECT_EQ(runEngine(dir / "enc.png", dir / "dec", 1, 1), TOLVEX_OUTPUT_EXISTS);
    EXPECT_EQ(readFile(dir / "dec.txt")->size(), 7u);
}

TEST_F(Results, WrongKeyCreatesNothingAndKeepsAnExistingFile) {
    ASSERT_EQ(runEngine(source, dir / "enc", 0xABCDEF, 0, 7), TOLVEX_OK);
    EXPECT_EQ(runEngine(dir / "enc.wav", dir / "dec", 0xABCDEE, 1), TOLVEX_KEY_MISMATCH);
    EXPECT_FALSE(exists(dir / "dec.txt"));
    writeFile(dir / "dec.txt", std::string("old"));
    EXPECT_EQ(runEngine(dir / "enc.wav", dir / "dec", 0, 3), TOLVEX_KEY_MISMATCH);
    EXPECT_EQ(readFile(dir / "dec.txt")->size(), 3u);
}

TEST_F(Results, OutputNamedLikeTheSourceIsRefusedInEveryMode) {
    writeFile(dir / "Same.TVX", content);
    // Encoding: the output name differs from the source only in letter case.
    EXPECT_EQ(runEngine(dir / "Same.TVX", dir / "same", 1, 0, 0), TOLVEX_SAME_FILE);
    EXPECT_EQ(runEngine(dir / "Same.TVX", dir / "same", 1, 2, 16), TOLVEX_SAME_FILE);
    // Decoding: the recorded extension leads back to the file being decoded.
    ASSERT_EQ(runEngine(dir / "Same.TVX", dir / "enc", 1, 0, 0), TOLVEX_OK);
    EXPECT_EQ(runEngine(dir / "enc.tvx", dir / "ENC", 1, 1), TOLVEX_SAME_FILE);
    EXPECT_EQ(runEngine(dir / "enc.tvx", dir / "enc", 1, 3), TOLVEX_SAME_FILE);
    EXPECT_EQ(readFile(dir / "Same.TVX"), content);
}

TEST_F(Results, OutputReachingTheSourceThroughLinksIsRefused) {
    writeFile(dir / "s.tvx", content);
    // "./", a symbolic link and a hard link all name the source itself.
    EXPECT_EQ(runEngine(dir / "s.tvx", dir / "./s", 1, 2, 0), TOLVEX_SAME_FILE);
    std::filesystem::create_symlink(dir / "s.tvx", dir / "link.tvx");
    EXPECT_EQ(runEngine(dir / "s.tvx", dir / "link", 1, 2, 0), TOLVEX_SAME_FILE);
    std::filesystem::create_hard_link(dir / "s.tvx", dir / "hard.tvx");
    EXPECT_EQ(runEngine(dir / "s.tvx", dir / "hard", 1, 2, 0), TOLVEX_SAME_FILE);
    EXPECT_EQ(readFile(dir / "s.tvx"), content);
}

TEST_F(Results, NegativeBufferSizeFailsWithoutLeavingOutput) {
    for (int32_t size : {-1, -4, -5, INT32_MIN}) {
        EXPECT_EQ(runEngine(source, dir / "o", 1, 0, 9, size), TOLVEX_NO_MEMORY);
        EXPECT_EQ(files(), std::vector<std::string>{"in.txt"});
    }
    // The order of checks holds: an existing output still answers 1 first.
    writeFile(dir / "o.ico", std::string("old"));
    EXPECT_EQ(runEngine(source, dir / "o", 1, 0, 9, -1), TOLVEX_OUTPUT_EXISTS);
    EXPECT_EQ(runEngine(source, dir / "o", 1, 2, 9, -1), TOLVEX_NO_MEMORY);
    EXPECT_EQ(readFile(dir / "o.ico")->size(), 3u) << "a failed overwrite keeps the old file";

    ASSERT_EQ(runEngine(source, dir / "enc", 1, 0, 9), TOLVEX_OK);
    EXPECT_EQ(runEngine(dir / "enc.ico", dir / "dec", 1, 1, 0, -8), TOLVEX_NO_MEMORY);
    EXPECT_FALSE(exists(dir / "dec.txt"));
}

TEST_F(Results, DamagedPayloadDecodesWithCrcMismatchAndKeepsTheOutput) {
    ASSERT_EQ(runEngine(source, dir / "enc", 1, 0, 13), TOLVEX_OK);
    auto encoded = *readFile(dir / "enc.cur");
    encoded[766 + 15 + 50] ^= 0x01;
    writeFile(dir / "enc.cur", encoded);
    EXPECT_EQ(runEngine(dir / "enc.cur", dir / "dec", 1, 1), TOLVEX_CRC_MISMATCH);
    const auto decoded = readFile(dir / "dec.txt");
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->size(), content.size());
    EXPECT_NE(*decoded, content);
}

TEST_F(Results, GenuineFileOfADisguisedTypeFailsTheKeyCheck) {
    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    png.resize(2000, 0x55);
    writeFile(dir / "photo.png", png);
    EXPECT_EQ(runEngine(dir / "photo.png", dir / "out", 1, 1), TOLVEX_KEY_MISMATCH);
    EXPECT_EQ(files(), (std::vector<std::string>{"in.txt", "photo.png"}));
}

// --- Crafted files -------------------------------------------------------------------------

// An undisguised encoded file with a record whose fields are chosen freely, and a key check
// that matches key 0 over the first `checkedLength` bytes of the field.
Bytes craftedFile(const std::string &field, int8_t length, size_t checkedLength,
                  const Bytes &payload = {}) {
    Bytes file(15);
    const std::string checked = field.substr(0, std::min(field.size(), checkedLength));
    tolvex::storeLe32(file.data(),
                      tolvex::kKeyWhitening ^ uint32_t(tolvex::extensionChecksum(checked)));
    std::copy(field.begin(), field.begin() + long(std::min<size_t>(field.size(), 6)),
              file.begin() + 4);
    file[14] = uint8_t(length);
    file.insert(file.end(), payload.begin(), payload.end());
    return file;
}

TEST_F(Results, CraftedExtensionsNeverLeaveTheChosenFolder) {
    std::filesystem::create_directory(dir / "out");
    const std::string base = dir / "out/x";
    struct Case {
        std::string field;
        int8_t length;
    } cases[] = {{std::string("/etc", 4), 4}, {std::string("a/b", 3), 3},
                 {std::string("a\0b", 3), 3}, {std::string("..", 2), 2},
                 {std::string(".", 1), 1},    {std::string("/", 1), 1}};
    for (const auto &c : cases) {
        writeFile(dir / "bad.tvx", craftedFile(c.field, c.length, size_t(c.length), {1, 2, 3}));
        EXPECT_EQ(runEngine(dir / "bad.tvx", base, 0, 3), TOLVEX_KEY_MISMATCH) << c.field;
        EXPECT_TRUE(listFolder(dir / "out").empty()) << c.field;
    }
    EXPECT_EQ(files(), (std::vector<std::string>{"bad.tvx", "in.txt", "out"}));
}

TEST_F(Results, ExtensionLengthOutsideZeroToSixIsRefused) {
    for (int length = -128; length <= 127; ++length) {
        if (length >= 0 && length <= 6)
            continue;
        // Even a key check computed over the claimed bytes must not let it through.
        writeFile(dir / "bad.tvx",
                  craftedFile("abcdef", int8_t(length), length < 0 ? 0 : size_t(length), {9}));
        ASSERT_EQ(runEngine(dir / "bad.tvx", dir / "dec", 0, 1), TOLVEX_KEY_MISMATCH) << length;
    }
    EXPECT_EQ(files(), (std::vector<std::string>{"bad.tvx", "in.txt"}));
    // The same record with a length in range decodes.
    writeFile(dir / "good.tvx", craftedFile("abcdef", 6, 6));
    EXPECT_EQ(runEngine(dir / "good.tvx", dir / "dec", 0, 1), TOLVEX_OK);
    EXPECT_EQ(readFile(dir / "dec.abcdef"), Bytes{});
}

TEST_F(Results, TruncatedAndHeaderOnlyFilesAreRefused) {
    ASSERT_EQ(runEngine(source, dir / "enc", 0, 0, 0), TOLVEX_OK);
    const Bytes whole = *readFile(dir / "enc.tvx");
    for (size_t n = 0; n < 15; ++n) {
        writeFile(dir / "cut.tvx", Bytes(whole.begin(), whole.begin() + long(n)));
        EXPECT_EQ(runEngine(dir / "cut.tvx", dir / "dec", 0, 1), TOLVEX_KEY_MISMATCH) << n;
    }
    // A recognised header with the record missing or cut short.
    for (int kind = 1; kind <= 15; ++kind) {
        ASSERT_EQ(runEngine(source, dir / "k", 0, 2, kind), TOLVEX_OK);
        const std::string name = dir / (std::string("k") + tolvex::disguiseFor(kind).extension);
        Bytes encoded = *readFile(name);
        const size_t h = tolvex::disguiseFor(kind).length;
        for (size_t keep : {size_t(4), h, h + 14}) {
            writeFile(name, Bytes(encoded.begin(), encoded.begin() + long(keep)));
            EXPECT_EQ(runEngine(name, dir / "dec", 0, 1), TOLVEX_KEY_MISMATCH)
                << kind << " " << keep;
        }
        std::filesystem::remove(name);
    }
    EXPECT_FALSE(exists(dir / "dec.txt"));
}

TEST_F(Results, RandomBytesNeverCrashOrWriteElsewhere) {
    std::filesystem::create_directory(dir / "out");
    for (uint32_t seed = 0; seed < 300; ++seed) {
        Bytes junk = randomBytes(seed % 60, seed);
        // Some start with a real magic word so the record is looked for behind a header.
        if (seed % 3 == 0 && junk.size() >= 4)
            tolvex::storeLe32(
                junk.data(),
                tolvex::disguiseFor(static_cast<int>(seed % tolvex::kKindCount)).magic);
        writeFile(dir / "junk", junk);
        const int32_t r = runEngine(dir / "junk", dir / "out/x", seed, 3);
        EXPECT_TRUE(r == TOLVEX_KEY_MISMATCH || r == TOLVEX_OK || r == TOLVEX_CRC_MISMATCH) << r;
        for (const auto &name : listFolder(dir / "out"))
            EXPECT_EQ(name.rfind("x", 0), 0u) << name;
    }
    EXPECT_EQ(files(), (std::vector<std::string>{"in.txt", "junk", "out"}));
}

} // namespace
