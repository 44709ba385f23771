// The Windows platform layer where the DLL's exports cannot show it: the order of positioned
// and plain writes, what counts as a file to read, and positions past 32 bits.
#include "dll_support.h"
#include "platform.h"

#include <gtest/gtest.h>

using namespace dll_test;
using tolvex::platform::InputFile;
using tolvex::platform::OutputFile;

namespace {

TEST(WindowsPlatform, PlainWritesGoOnAtTheEndAfterAPositionedOne) {
    TempFolder dir;
    auto out = OutputFile::create(dir / "out.bin", false, std::nullopt);
    ASSERT_TRUE(out);
    ASSERT_TRUE(out->write("abc", 3));
    ASSERT_TRUE(out->writeAt(0, "X", 1));
    ASSERT_TRUE(out->write("def", 3));
    ASSERT_EQ(out->commit(), OutputFile::Commit::Done);
    EXPECT_EQ(readFile(dir / "out.bin"), (Bytes{'X', 'b', 'c', 'd', 'e', 'f'}));
}

TEST(WindowsPlatform, OnlyFilesOnADiskAreOpenedForReading) {
    TempFolder dir;
    ASSERT_TRUE(writeFile(dir / "file.txt", std::string("12345")));
    auto file = InputFile::open((dir / "file.txt").c_str());
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size(), 5u);
    char buffer[8];
    EXPECT_EQ(file->readAt(3, buffer, sizeof buffer), 2);
    // Devices never end or block; a folder is no file.
    for (const std::string &name : {std::string("NUL"), std::string("CONIN$"), dir.path()})
        EXPECT_FALSE(InputFile::open(name.c_str())) << name;
}

// Positions past 4 GiB, in a sparse file, so that nothing large is written.
TEST(WindowsPlatform, PositionsPastFourGiBReachTheirBytes) {
    TempFolder dir;
    constexpr uint64_t kFar = (uint64_t(5) << 30) + 7;
    auto out = OutputFile::create(dir / "far.bin", false, std::nullopt);
    ASSERT_TRUE(out);
    ASSERT_TRUE(out->write("head", 4));
    ASSERT_TRUE(out->writeAt(kFar, "tail", 4));
    ASSERT_EQ(out->commit(), OutputFile::Commit::Done);

    auto in = InputFile::open((dir / "far.bin").c_str());
    ASSERT_TRUE(in);
    EXPECT_EQ(in->size(), kFar + 4);
    char got[8] = {};
    EXPECT_EQ(in->readAt(kFar, got, sizeof got), 4);
    EXPECT_EQ(std::string(got, 4), "tail");
    EXPECT_EQ(in->readAt(0, got, 4), 4);
    EXPECT_EQ(std::string(got, 4), "head");
}

} // namespace
