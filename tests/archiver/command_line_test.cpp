// The command-line reader: words, quotes, switches, and what is refused.
#include "command_line.h"

#include <gtest/gtest.h>

using unlha::Action;
using unlha::parseCommand;

namespace {

TEST(CommandLine, QuotedWordsKeepBlanksAndLoseTheirQuotes) {
    const auto words = unlha::splitWords("a  \"my archive.lzh\"\t\"\" x\"y z\"w");
    ASSERT_TRUE(words);
    ASSERT_EQ(words->size(), 4u);
    EXPECT_EQ((*words)[0].text, "a");
    EXPECT_FALSE((*words)[0].quoted);
    EXPECT_EQ((*words)[1].text, "my archive.lzh");
    EXPECT_TRUE((*words)[1].quoted);
    EXPECT_EQ((*words)[2].text, "");
    EXPECT_EQ((*words)[3].text, "xy zw");
    EXPECT_FALSE(unlha::splitWords("a \"open"));
}

TEST(CommandLine, PackCommandAsTheProgramWritesIt) {
    std::string error;
    const auto c =
        parseCommand("a -d -r2 \"/out/temp/temp.lzh\" \"/home/u/my data/\" \"photos 2024\"", error);
    ASSERT_TRUE(c) << error;
    EXPECT_EQ(c->action, Action::Pack);
    EXPECT_TRUE(c->storePaths);
    EXPECT_EQ(c->recursion, 2);
    EXPECT_EQ(c->archive, "/out/temp/temp.lzh");
    EXPECT_EQ(c->folder, "/home/u/my data/");
    EXPECT_EQ(c->names, std::vector<std::string>{"photos 2024"});
}

TEST(CommandLine, ExtractCommandAsTheProgramWritesIt) {
    std::string error;
    const auto c = parseCommand("e -d -r2 -jyo0 \"/out/letter.lzh\" \"/out/\" \"*\"", error);
    ASSERT_TRUE(c) << error;
    EXPECT_EQ(c->action, Action::Extract);
    EXPECT_TRUE(c->overwrite);
    EXPECT_EQ(c->archive, "/out/letter.lzh");
    EXPECT_EQ(c->folder, "/out/");
    EXPECT_EQ(c->names, std::vector<std::string>{"*"});
}

TEST(CommandLine, ExtractWithoutPatternTakesEverythingAndFolderIsOptional) {
    std::string error;
    const auto c = parseCommand("e x.lzh", error);
    ASSERT_TRUE(c) << error;
    EXPECT_EQ(c->folder, "");
    EXPECT_EQ(c->names, std::vector<std::string>{"*"});
    // Without a trailing separator the word is a pattern, not a folder.
    const auto d = parseCommand("e x.lzh dest", error);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->folder, "");
    EXPECT_EQ(d->names, std::vector<std::string>{"dest"});
}

TEST(CommandLine, QuotedDashIsAnArgumentNotASwitch) {
    std::string error;
    const auto c = parseCommand("a \"-odd.lzh\" \"-base/\" \"-name\"", error);
    ASSERT_TRUE(c) << error;
    EXPECT_EQ(c->archive, "-odd.lzh");
    EXPECT_EQ(c->folder, "-base/");
    EXPECT_EQ(c->names, std::vector<std::string>{"-name"});
}

class CommandLineRefused : public ::testing::TestWithParam<const char *> {};

TEST_P(CommandLineRefused, WithAReason) {
    std::string error;
    EXPECT_FALSE(parseCommand(GetParam(), error));
    EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(Lines, CommandLineRefused,
                         ::testing::Values("", "   ", "d x.lzh", "l x.lzh", "a", "a x.lzh",
                                           "a x.lzh base/", "a -z x.lzh f", "e -jyn x.lzh",
                                           "e -r3 x.lzh", "a -d -r2 \"x.lzh\" \"b/\" \"f", "e \"\"",
                                           "-d -r2"));

} // namespace
