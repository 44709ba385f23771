// MakeCode under Windows: the golden files, round trips, every result code, crafted records,
// both separators, and outputs that appear only when complete.
#include "dll_support.h"
#include "golden_files.h"
#include "layout.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <gtest/gtest.h>
#include <thread>

using namespace dll_test;
using namespace golden_files;

namespace {

constexpr uint32_t kKey = 0x89ABCDEF;

std::string text(const char *s) {
    return s;
}

std::string goldenPath(int kind) {
    char name[32];
    std::snprintf(name, sizeof name, "\\kind%02d%s", kind, tolvex::disguiseFor(kind).extension);
    return fromHost(TOLVEX_GOLDEN_DIR) + name;
}

std::string encodedPath(const TempFolder &dir, const std::string &base, int kind) {
    return dir / (base + tolvex::disguiseFor(kind).extension);
}

Bytes asBytes(const std::string &s) {
    return Bytes(s.begin(), s.end());
}

class Golden : public ::testing::TestWithParam<int> {};

TEST_P(Golden, DecodesByteForByteAndRefusesAnotherKey) {
    const int kind = GetParam();
    TempFolder dir;
    ASSERT_EQ(makeCode(goldenPath(kind), dir / "out", kGoldenKey, TOLVEX_MODE_DECODE), TOLVEX_OK);
    EXPECT_EQ(readFile(dir / "out.txt"), asBytes(goldenText(kind)));
    EXPECT_EQ(makeCode(goldenPath(kind), dir / "other", kGoldenKey + 1, TOLVEX_MODE_DECODE),
              TOLVEX_KEY_MISMATCH);
    EXPECT_FALSE(exists(dir / "other.txt"));
}

INSTANTIATE_TEST_SUITE_P(EveryKind, Golden, ::testing::Range(0, tolvex::kKindCount));

class RoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(RoundTrip, EveryLengthAndBufferSizeComesBack) {
    const int kind = GetParam();
    for (size_t length : {size_t(0), size_t(15), size_t(16), size_t(33), size_t(1 << 20) + 7}) {
        for (int32_t buffer : {0, 3, 5, 4096}) {
            TempFolder dir;
            const Bytes content = randomBytes(length, uint32_t(length * 31 + kind));
            ASSERT_TRUE(writeFile(dir / "plain.dat", content));
            ASSERT_EQ(
                makeCode(dir / "plain.dat", dir / "enc", kKey, TOLVEX_MODE_ENCODE, kind, buffer),
                TOLVEX_OK);
            const auto encoded = readFile(encodedPath(dir, "enc", kind));
            ASSERT_TRUE(encoded);
            EXPECT_EQ(encoded->size(),
                      tolvex::disguiseFor(kind).length + tolvex::kControlRecordSize + length);
            ASSERT_EQ(makeCode(encodedPath(dir, "enc", kind), dir / "back", kKey,
                               TOLVEX_MODE_DECODE, 0, buffer),
                      TOLVEX_OK);
            EXPECT_EQ(readFile(dir / "back.dat"), content) << length << " bytes, buffer " << buffer;
            EXPECT_EQ(dir.names(),
                      (std::vector<std::string>{"back.dat",
                                                "enc" + text(tolvex::disguiseFor(kind).extension),
                                                "plain.dat"}));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryKind, RoundTrip, ::testing::Range(0, tolvex::kKindCount));

// Calls from several threads at once, into one folder, each large enough for the engine's own
// writer thread: every one keeps to its own files.
TEST(Threads, CallsAtOnceEachGetTheirOwnResult) {
    TempFolder dir;
    constexpr int kThreads = 4;
    std::vector<Bytes> contents;
    for (int i = 0; i < kThreads; ++i) {
        contents.push_back(randomBytes((size_t(3) << 20) + size_t(i), uint32_t(100 + i)));
        ASSERT_TRUE(writeFile(dir / ("in" + std::to_string(i) + ".bin"), contents.back()));
    }
    const Codec &c = codec();
    ASSERT_TRUE(c.makeCode);
    const CurrentFolder here(programFolder());
    int32_t results[kThreads][2] = {};
    {
        std::vector<std::jthread> threads;
        for (int i = 0; i < kThreads; ++i)
            threads.emplace_back([&, i] {
                const std::string n = std::to_string(i);
                const uint32_t key = kKey + uint32_t(i);
                results[i][0] = c.makeCode((dir / ("in" + n + ".bin")).c_str(),
                                           (dir / ("enc" + n)).c_str(), key, 0, i + 1, 1 << 16);
                results[i][1] =
                    c.makeCode((dir / ("enc" + n + tolvex::disguiseFor(i + 1).extension)).c_str(),
                               (dir / ("out" + n)).c_str(), key, 1, 0, 1 << 16);
            });
    }
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(results[i][0], TOLVEX_OK) << i;
        EXPECT_EQ(results[i][1], TOLVEX_OK) << i;
        EXPECT_EQ(readFile(dir / ("out" + std::to_string(i) + ".bin")), contents[size_t(i)]) << i;
    }
    EXPECT_EQ(dir.names().size(), size_t(3 * kThreads));
}

// A folder with one encoded file, "enc.png", made from "plain.txt".
class Results : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(writeFile(dir / "plain.txt", content));
        ASSERT_EQ(makeCode(dir / "plain.txt", dir / "enc", kKey, TOLVEX_MODE_ENCODE, 6), TOLVEX_OK);
    }
    TempFolder dir;
    const std::string content = "the plain text\r\n";
};

TEST_F(Results, MissingSourceComesBeforeABadModeAndAMissingTemplate) {
    TempFolder empty;
    const CurrentFolder nowhere(empty.path());
    const Codec &c = codec();
    ASSERT_TRUE(c.makeCode);
    const std::string missing = dir / "missing.txt";
    EXPECT_EQ(c.makeCode(missing.c_str(), (dir / "x").c_str(), kKey, 7, 0, 64),
              TOLVEX_SOURCE_MISSING);
    // A bad mode is refused before Tolvex.dat is looked for (none is in this folder).
    for (int32_t mode : {-1, 4})
        EXPECT_EQ(c.makeCode((dir / "plain.txt").c_str(), (dir / "x").c_str(), kKey, mode, 0, 64),
                  TOLVEX_BAD_MODE);
    for (int32_t mode : {0, 1, 2, 3})
        EXPECT_EQ(c.makeCode((dir / "enc.png").c_str(), (dir / "x").c_str(), kKey, mode, 0, 64),
                  TOLVEX_TEMPLATE_MISSING);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"enc.png", "plain.txt"}));
}

TEST_F(Results, ExistingOutputIsKeptUnlessTheModeOverwrites) {
    ASSERT_TRUE(writeFile(dir / "out.txt", std::string("keep me")));
    EXPECT_EQ(makeCode(dir / "enc.png", dir / "out", kKey, TOLVEX_MODE_DECODE),
              TOLVEX_OUTPUT_EXISTS);
    EXPECT_EQ(readFile(dir / "out.txt"), asBytes("keep me"));
    EXPECT_EQ(makeCode(dir / "plain.txt", dir / "enc", kKey, TOLVEX_MODE_ENCODE, 6),
              TOLVEX_OUTPUT_EXISTS);
    // A folder of that name counts as existing too.
    ASSERT_TRUE(::CreateDirectoryA((dir / "folder.txt").c_str(), nullptr));
    EXPECT_EQ(makeCode(dir / "enc.png", dir / "folder", kKey, TOLVEX_MODE_DECODE),
              TOLVEX_OUTPUT_EXISTS);

    EXPECT_EQ(makeCode(dir / "enc.png", dir / "out", kKey, TOLVEX_MODE_DECODE_OVERWRITE),
              TOLVEX_OK);
    EXPECT_EQ(readFile(dir / "out.txt"), asBytes(content));
    EXPECT_EQ(makeCode(dir / "out.txt", dir / "enc", kKey, TOLVEX_MODE_ENCODE_OVERWRITE, 6),
              TOLVEX_OK);
    EXPECT_EQ(dir.names(),
              (std::vector<std::string>{"enc.png", "folder.txt", "out.txt", "plain.txt"}));
}

TEST_F(Results, OutputThatIsTheSourceIsRefusedHoweverItIsSpelt) {
    // Names that differ only in ASCII letter case are one name to the library.
    EXPECT_EQ(makeCode(dir / "ENC.PNG", dir / "enc", kKey, TOLVEX_MODE_ENCODE_OVERWRITE, 6),
              TOLVEX_SAME_FILE);
    EXPECT_EQ(makeCode(dir / "enc.png", dir / "ENC", kKey, TOLVEX_MODE_ENCODE_OVERWRITE, 6),
              TOLVEX_SAME_FILE);
    // The same file by another spelling: forward slashes, "." and "..".
    ASSERT_TRUE(::CreateDirectoryA((dir / "sub").c_str(), nullptr));
    EXPECT_EQ(makeCode(dir / "enc.png", dir.path() + "/.\\sub\\..\\enc", kKey,
                       TOLVEX_MODE_ENCODE_OVERWRITE, 6),
              TOLVEX_SAME_FILE);
    // Decoding: an encoded file named as its own output would be.
    ASSERT_TRUE(::CopyFileA((dir / "enc.png").c_str(), (dir / "copy.txt").c_str(), TRUE));
    EXPECT_EQ(
        makeCode(dir / "copy.txt", dir.path() + "/sub/../copy", kKey, TOLVEX_MODE_DECODE_OVERWRITE),
        TOLVEX_SAME_FILE);
    EXPECT_EQ(readFile(dir / "copy.txt"), readFile(dir / "enc.png"));
    EXPECT_EQ(readFile(dir / "plain.txt"), asBytes(content));
}

TEST_F(Results, WrongKeyCreatesNothingAndTouchesNothing) {
    ASSERT_TRUE(writeFile(dir / "out.txt", std::string("keep me")));
    EXPECT_EQ(makeCode(dir / "enc.png", dir / "out", kKey ^ 1, TOLVEX_MODE_DECODE_OVERWRITE),
              TOLVEX_KEY_MISMATCH);
    EXPECT_EQ(readFile(dir / "out.txt"), asBytes("keep me"));
    // A file that was never encoded fails the same way.
    EXPECT_EQ(makeCode(dir / "plain.txt", dir / "x", kKey, TOLVEX_MODE_DECODE),
              TOLVEX_KEY_MISMATCH);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"enc.png", "out.txt", "plain.txt"}));
}

TEST_F(Results, DamagedContentIsReportedAndTheOutputKept) {
    auto encoded = readFile(dir / "enc.png");
    ASSERT_TRUE(encoded);
    encoded->back() ^= 0x40;
    ASSERT_TRUE(writeFile(dir / "enc.png", *encoded));
    EXPECT_EQ(makeCode(dir / "enc.png", dir / "out", kKey, TOLVEX_MODE_DECODE),
              TOLVEX_CRC_MISMATCH);
    const auto out = readFile(dir / "out.txt");
    ASSERT_TRUE(out);
    EXPECT_EQ(out->size(), content.size());
    EXPECT_NE(*out, asBytes(content));
}

TEST_F(Results, WhatCannotBeReadOrWrittenIsRefusedWithNothingLeft) {
    // An extension of seven bytes does not fit the record.
    ASSERT_TRUE(writeFile(dir / "long.abcdefg", std::string("x")));
    EXPECT_EQ(makeCode(dir / "long.abcdefg", dir / "x", kKey, TOLVEX_MODE_ENCODE),
              TOLVEX_CANNOT_OPEN);
    ASSERT_TRUE(writeFile(dir / "six.abcdef", std::string("x")));
    EXPECT_EQ(makeCode(dir / "six.abcdef", dir / "six", kKey, TOLVEX_MODE_ENCODE), TOLVEX_OK);
    // A folder as the source, an output folder that does not exist.
    EXPECT_EQ(makeCode(dir.path(), dir / "x", kKey, TOLVEX_MODE_ENCODE), TOLVEX_CANNOT_OPEN);
    EXPECT_EQ(makeCode(dir / "plain.txt", dir / "no\\such\\x", kKey, TOLVEX_MODE_ENCODE),
              TOLVEX_CANNOT_OPEN);
    // A file another program holds without sharing.
    HANDLE held = ::CreateFileA((dir / "plain.txt").c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(makeCode(dir / "plain.txt", dir / "x", kKey, TOLVEX_MODE_ENCODE), TOLVEX_CANNOT_OPEN);
    ::CloseHandle(held);
    // A negative buffer: no memory, and no partial output either.
    EXPECT_EQ(makeCode(dir / "plain.txt", dir / "x", kKey, TOLVEX_MODE_ENCODE, 0, -5),
              TOLVEX_NO_MEMORY);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"enc.png", "long.abcdefg", "plain.txt",
                                                     "six.abcdef", "six.tvx"}));
}

TEST_F(Results, PipeAsTheSourceIsRefusedWithoutWaiting) {
    const char *name = "\\\\.\\pipe\\tolvex-dll-test";
    HANDLE pipe = ::CreateNamedPipeA(name, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    const int32_t result = makeCode(name, dir / "x", kKey, TOLVEX_MODE_ENCODE);
    EXPECT_TRUE(result == TOLVEX_SOURCE_MISSING || result == TOLVEX_CANNOT_OPEN) << result;
    ::CloseHandle(pipe);
    EXPECT_FALSE(exists(dir / "x.tvx"));
}

// Encoded files with a record of our own making: the right check word for the key, and an
// extension that would lead the output elsewhere.
class CraftedRecord : public ::testing::TestWithParam<std::string> {};

TEST_P(CraftedRecord, IsRefusedAsNotAnEncodedFile) {
    const std::string extension = GetParam();
    TempFolder dir;
    ASSERT_TRUE(::CreateDirectoryA((dir / "out").c_str(), nullptr));
    Bytes file(tolvex::kControlRecordSize, 0);
    const uint32_t k = kKey ^ tolvex::kKeyWhitening;
    int32_t checksum = 0, weight = 10;
    for (size_t i = 0; i < extension.size() && i < 6; ++i, weight *= 10) {
        checksum += int32_t(int8_t(extension[i])) * weight;
        file[tolvex::record::kExtension + i] = uint8_t(extension[i]);
    }
    tolvex::storeLe32(file.data() + tolvex::record::kCheckWord, k ^ uint32_t(checksum));
    file[tolvex::record::kExtensionLength] = uint8_t(extension.size());
    ASSERT_TRUE(writeFile(dir / "crafted.tvx", file));
    EXPECT_EQ(makeCode(dir / "crafted.tvx", dir / "out\\x", kKey, TOLVEX_MODE_DECODE_OVERWRITE),
              TOLVEX_KEY_MISMATCH);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"crafted.tvx", "out"}));
    EXPECT_TRUE(namesIn(dir / "out").empty());
}

INSTANTIATE_TEST_SUITE_P(Extensions, CraftedRecord,
                         ::testing::Values(std::string("\\..\\y"), std::string("/y"),
                                           std::string("x\\y"), std::string(".."), std::string("."),
                                           std::string("t:s"), std::string("txt:z"),
                                           std::string("abcdefg")));

TEST(CraftedFile, TooShortForItsRecordFailsLikeAWrongKey) {
    TempFolder dir;
    for (size_t length : {0, 3, 14}) {
        ASSERT_TRUE(writeFile(dir / "short.tvx", Bytes(length, 0)));
        EXPECT_EQ(makeCode(dir / "short.tvx", dir / "x", kKey, TOLVEX_MODE_DECODE),
                  TOLVEX_KEY_MISMATCH)
            << length;
    }
}

// "\" and "/" both end a folder's name: a full stop before either is no extension.
TEST(Separators, BothSlashesEndAFolderName) {
    TempFolder dir;
    ASSERT_TRUE(::CreateDirectoryA((dir / "dir.d").c_str(), nullptr));
    ASSERT_TRUE(writeFile(dir / "dir.d\\noext", std::string("no extension")));
    for (const std::string &source : {dir / "dir.d\\noext", dir.path() + "/dir.d/noext"}) {
        ASSERT_EQ(makeCode(source, dir / "enc", kKey, TOLVEX_MODE_ENCODE_OVERWRITE), TOLVEX_OK);
        ASSERT_EQ(
            makeCode(dir / "enc.tvx", dir.path() + "/back", kKey, TOLVEX_MODE_DECODE_OVERWRITE),
            TOLVEX_OK);
        // An empty extension writes the base itself: "back", not "back.".
        EXPECT_EQ(readFile(dir / "back"), asBytes("no extension")) << source;
    }
    ASSERT_TRUE(writeFile(dir / "dir.d\\has.ext", std::string("x")));
    ASSERT_EQ(makeCode(dir.path() + "/dir.d/has.ext", dir / "e2", kKey, TOLVEX_MODE_ENCODE),
              TOLVEX_OK);
    ASSERT_EQ(makeCode(dir / "e2.tvx", dir / "b2", kKey, TOLVEX_MODE_DECODE), TOLVEX_OK);
    EXPECT_TRUE(exists(dir / "b2.ext"));
}

// Outputs are written under a temporary name and renamed when complete.
TEST(Publishing, TemporariesOfRunsThatAreGoneAreRemovedOthersKept) {
    TempFolder dir;
    ASSERT_TRUE(writeFile(dir / "plain.txt", std::string("x")));
    // No process has an id this large: the run that left this is gone, and it carries the mark
    // a temporary is made with.
    ASSERT_TRUE(writeFile(dir / ".tolvex-2147483000-abcdef", std::string("stale")));
    ASSERT_TRUE(::SetFileAttributesA((dir / ".tolvex-2147483000-abcdef").c_str(),
                                     FILE_ATTRIBUTE_TEMPORARY));
    // A user's own file under such a name, without the mark, stays.
    ASSERT_TRUE(writeFile(dir / ".tolvex-2147483001-notes1", std::string("mine")));
    // This process runs, and another temporary of a live run is held open without sharing.
    const std::string ours =
        dir / (".tolvex-" + std::to_string(::GetCurrentProcessId()) + "-ZZZZZZ");
    ASSERT_TRUE(writeFile(ours, std::string("live")));
    ASSERT_TRUE(writeFile(dir / ".tolvex-notapid", std::string("other")));
    ASSERT_EQ(makeCode(dir / "plain.txt", dir / "enc", kKey, TOLVEX_MODE_ENCODE), TOLVEX_OK);
    std::vector<std::string> kept = {
        ".tolvex-" + std::to_string(::GetCurrentProcessId()) + "-ZZZZZZ",
        ".tolvex-2147483001-notes1", ".tolvex-notapid", "enc.tvx", "plain.txt"};
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(dir.names(), kept);
    EXPECT_EQ(::GetFileAttributesA((dir / "enc.tvx").c_str()) & FILE_ATTRIBUTE_TEMPORARY, 0u)
        << "the published file kept the temporary's mark";
}

// A run killed while it writes leaves no file under the output's name, or a complete one;
// the temporary it leaves goes with the next run in that folder.
TEST(Publishing, KilledRunLeavesNothingIncompleteUnderTheName) {
    TempFolder dir;
    const Bytes content = randomBytes(size_t(96) << 20, 7);
    ASSERT_TRUE(writeFile(dir / "big.bin", content));
    for (DWORD delay : {30, 120, 400}) {
        const std::string command = "\"" + programFolder() + "\\codec_call.exe\" 0 89ABCDEF 6 " +
                                    "65536 \"" + dir / "big.bin" + "\" \"" + dir / "enc" + "\"";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child{};
        std::string line = command;
        ASSERT_TRUE(::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                     programFolder().c_str(), &startup, &child));
        ::Sleep(delay);
        ::TerminateProcess(child.hProcess, 9);
        ::WaitForSingleObject(child.hProcess, INFINITE);
        ::CloseHandle(child.hThread);
        ::CloseHandle(child.hProcess);
        if (exists(dir / "enc.png")) {
            ASSERT_EQ(makeCode(dir / "enc.png", dir / "back", kKey, TOLVEX_MODE_DECODE_OVERWRITE),
                      TOLVEX_OK)
                << "killed after " << delay << " ms";
            ASSERT_TRUE(::DeleteFileA((dir / "enc.png").c_str()));
            ASSERT_TRUE(::DeleteFileA((dir / "back.bin").c_str()));
        }
        // The next run removes what the killed one left.
        ASSERT_TRUE(writeFile(dir / "small.txt", std::string("s")));
        ASSERT_EQ(makeCode(dir / "small.txt", dir / "s", kKey, TOLVEX_MODE_ENCODE_OVERWRITE),
                  TOLVEX_OK);
        EXPECT_EQ(dir.names(), (std::vector<std::string>{"big.bin", "s.tvx", "small.txt"}))
            << "killed after " << delay << " ms";
    }
}

TEST(Publishing, ReplacingKeepsTheOldFileUntilTheNewOneIsComplete) {
    TempFolder dir;
    ASSERT_TRUE(writeFile(dir / "plain.txt", std::string("new content")));
    ASSERT_TRUE(writeFile(dir / "enc.tvx", std::string("old")));
    // Read-only: the replacement fails, and the old file is as it was.
    ASSERT_TRUE(::SetFileAttributesA((dir / "enc.tvx").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(makeCode(dir / "plain.txt", dir / "enc", kKey, TOLVEX_MODE_ENCODE_OVERWRITE),
              TOLVEX_CANNOT_OPEN);
    EXPECT_EQ(readFile(dir / "enc.tvx"), asBytes("old"));
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"enc.tvx", "plain.txt"}));
    ASSERT_TRUE(::SetFileAttributesA((dir / "enc.tvx").c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(makeCode(dir / "plain.txt", dir / "enc", kKey, TOLVEX_MODE_ENCODE_OVERWRITE),
              TOLVEX_OK);
    EXPECT_EQ(readFile(dir / "enc.tvx")->size(),
              tolvex::disguiseFor(0).length + tolvex::kControlRecordSize + 11);
}

} // namespace
