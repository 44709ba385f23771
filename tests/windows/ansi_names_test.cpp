// Japanese names in the ANSI code page (932, Shift_JIS): the bytes go to the system as they are
// and name the files they mean. Several of these characters end in the byte 0x5C, the
// backslash, which must never be taken for a separator where the library splits a path itself.
#include "dll_support.h"
#include "platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

using namespace dll_test;

namespace {

constexpr uint32_t kKey = 0x0BADF00D;

std::wstring wide(const char *utf8) {
    wchar_t out[MAX_PATH];
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out, MAX_PATH);
    return std::wstring(out, n > 0 ? size_t(n - 1) : 0);
}

// A name as the ANSI functions take it.
std::string ansi(const char *utf8) {
    const std::wstring w = wide(utf8);
    char out[MAX_PATH * 2];
    BOOL lost = FALSE;
    const int n = ::WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, out, sizeof out, nullptr, &lost);
    EXPECT_FALSE(lost) << utf8 << " has no form in code page " << ::GetACP();
    return std::string(out, n > 0 ? size_t(n - 1) : 0);
}

// Whether the file exists under its Unicode name, so the bytes meant what they should.
bool existsAs(const TempFolder &dir, const char *utf8) {
    std::wstring path = wide(dir.path().c_str()) + L"\\" + wide(utf8);
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class AnsiNames : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(::GetACP(), 932u)
            << "the Japanese tests need Wine's ANSI code page to be 932: run them under "
               "LC_ALL=ja_JP.UTF-8 (scripts/setup-windows-tests.sh makes that locale)";
    }
};

TEST_F(AnsiNames, FilesAndFoldersKeepTheirNamesBothWays) {
    TempFolder dir;
    // ソ and 表 end in 0x5C; the output's folder must still be the one meant.
    const std::string folder = dir / ansi("ソフト表");
    ASSERT_EQ(ansi("ソ")[1], '\\');
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
    const std::string text = "日本語の本文";
    ASSERT_TRUE(writeFile(folder + "\\" + ansi("データ.txt"), text));

    ASSERT_EQ(makeCode(folder + "\\" + ansi("データ.txt"), folder + "\\" + ansi("暗号ソ"), kKey,
                       TOLVEX_MODE_ENCODE, 6),
              TOLVEX_OK);
    EXPECT_TRUE(existsAs(dir, "ソフト表\\暗号ソ.png"));
    ASSERT_EQ(makeCode(folder + "\\" + ansi("暗号ソ.png"), folder + "\\" + ansi("復元表"), kKey,
                       TOLVEX_MODE_DECODE),
              TOLVEX_OK);
    EXPECT_TRUE(existsAs(dir, "ソフト表\\復元表.txt"));
    EXPECT_EQ(readFile(folder + "\\" + ansi("復元表.txt")), Bytes(text.begin(), text.end()));
    // Nothing was put beside the folder, and no temporary stayed in it.
    EXPECT_EQ(dir.names().size(), 1u);
    EXPECT_EQ(namesIn(folder).size(), 3u);
}

TEST_F(AnsiNames, JapaneseExtensionsAreStoredAsTheirBytesAndComeBack) {
    TempFolder dir;
    // テキ is four bytes above 0x7F: they count negatively in the check word.
    ASSERT_TRUE(writeFile(dir / ansi("メモ.テキ"), std::string("memo")));
    ASSERT_EQ(makeCode(dir / ansi("メモ.テキ"), dir / "enc", kKey, TOLVEX_MODE_ENCODE, 3),
              TOLVEX_OK);
    ASSERT_EQ(makeCode(dir / "enc.jpg", dir / ansi("戻り"), kKey, TOLVEX_MODE_DECODE), TOLVEX_OK);
    EXPECT_TRUE(existsAs(dir, "戻り.テキ"));
    EXPECT_EQ(readFile(dir / ansi("戻り.テキ")), (Bytes{'m', 'e', 'm', 'o'}));
}

// While an output is written, its temporary is one of ours (".tolvex-...") in the output's
// folder, where a later run finds it if this one is killed, even when the last character of
// the output's name ends in 0x5C.
TEST_F(AnsiNames, TemporaryLiesInTheOutputsFolderUnderItsOwnPrefix) {
    TempFolder dir;
    const std::string folder = dir / ansi("表");
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
    auto output =
        tolvex::platform::OutputFile::create(folder + "\\" + ansi("暗号ソ"), false, std::nullopt);
    ASSERT_TRUE(output);
    const auto names = namesIn(folder);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].rfind(tolvex::platform::kTemporaryPrefix, 0), 0u) << names[0];
    ASSERT_TRUE(output->write("x", 1));
    EXPECT_EQ(output->commit(), tolvex::platform::OutputFile::Commit::Done);
    EXPECT_EQ(namesIn(folder), (std::vector<std::string>{ansi("暗号ソ")}));
}

// The extension rule works on bytes: the 0x5C inside 表 counts as a separator there, so a
// name ending in ".表" has no extension, as encoders of the format have always read it.
TEST_F(AnsiNames, TheExtensionRuleReadsBytes) {
    TempFolder dir;
    ASSERT_TRUE(writeFile(dir / ansi("一覧.表"), std::string("table")));
    ASSERT_EQ(makeCode(dir / ansi("一覧.表"), dir / "enc", kKey, TOLVEX_MODE_ENCODE), TOLVEX_OK);
    ASSERT_EQ(makeCode(dir / "enc.tvx", dir / ansi("結果"), kKey, TOLVEX_MODE_DECODE), TOLVEX_OK);
    EXPECT_TRUE(existsAs(dir, "結果"));
}

} // namespace
