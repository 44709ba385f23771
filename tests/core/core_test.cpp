// The shared rules: the control record's fields, output names, the key text, result meanings
// and the kinds table as the window shows it.
#include "key_code.h"
#include "kind_names.h"
#include "layout.h"
#include "naming.h"
#include "results.h"

#include <gtest/gtest.h>

#include <array>

namespace {

std::array<uint8_t, tolvex::kControlRecordSize> recordWith(std::string_view extension,
                                                           int8_t length) {
    std::array<uint8_t, tolvex::kControlRecordSize> r{};
    r.fill(0xEE);
    tolvex::storeLe32(r.data() + tolvex::record::kCheckWord, 0x11223344u);
    for (size_t i = 0; i < extension.size(); ++i)
        r[tolvex::record::kExtension + i] = static_cast<uint8_t>(extension[i]);
    tolvex::storeLe32(r.data() + tolvex::record::kContentCrc, 0xA1B2C3D4u);
    r[tolvex::record::kExtensionLength] = static_cast<uint8_t>(length);
    return r;
}

} // namespace

TEST(ControlRecord, FieldsAreReadByName) {
    const auto r = tolvex::readControlRecord(recordWith("txt", 3));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->checkWord, 0x11223344u);
    EXPECT_EQ(r->extension, "txt"); // the filler after it is not part of the name
    EXPECT_EQ(r->contentCrc, 0xA1B2C3D4u);
}

TEST(ControlRecord, LengthByteOutsideTheFieldIsNoRecord) {
    EXPECT_FALSE(tolvex::readControlRecord(recordWith("", -1)));
    EXPECT_FALSE(tolvex::readControlRecord(recordWith("abcdef", 7)));
    const auto full = tolvex::readControlRecord(recordWith("abcdef", 6));
    ASSERT_TRUE(full);
    EXPECT_EQ(full->extension, "abcdef");
    const auto none = tolvex::readControlRecord(recordWith("", 0));
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->extension.empty());
}

TEST(LittleEndian, StoreThenLoad) {
    uint8_t b[4];
    tolvex::storeLe32(b, 0x04030201u);
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(b[3], 4);
    EXPECT_EQ(tolvex::loadLe32(b), 0x04030201u);
}

TEST(Naming, EncodedAndDecodedNames) {
    EXPECT_EQ(tolvex::encodedName("out/photo", 6), "out/photo.png");
    EXPECT_EQ(tolvex::encodedName("photo", 0), "photo.tvx");
    EXPECT_EQ(tolvex::encodedName("photo", 99), "photo.tvx");
    EXPECT_EQ(tolvex::decodedName("photo", "txt"), "photo.txt");
    // Nothing recorded: the base itself, never "photo.".
    EXPECT_EQ(tolvex::decodedName("photo", ""), "photo");
}

TEST(Naming, RecordedExtensionNeverLeavesTheFolderNorReachesATerminal) {
    for (const char *bad : {".", "..", "a/b", "/", "\x1b[2J", "a\tb", "\x7f", "\n"})
        EXPECT_FALSE(tolvex::isUsableExtension(bad)) << bad;
    EXPECT_FALSE(tolvex::isUsableExtension(std::string_view("a\0b", 3)));
    for (const char *good : {"", "txt", "...", "a b", "\xe6\x96\x87", "-x"})
        EXPECT_TRUE(tolvex::isUsableExtension(good)) << good;
}

TEST(Naming, SplitKeepsTheSeparatorWithTheFolder) {
    EXPECT_EQ(tolvex::splitPath("/a/b/c.txt").folder, "/a/b/");
    EXPECT_EQ(tolvex::splitPath("/a/b/c.txt").name, "c.txt");
    EXPECT_EQ(tolvex::splitPath("c.txt").folder, "");
    EXPECT_EQ(tolvex::splitPath("dir/").name, "");
}

TEST(KeyCode, DigitsAreAsciiHexOnly) {
    EXPECT_TRUE(tolvex::isKeyDigit(U'f'));
    EXPECT_FALSE(tolvex::isKeyDigit(U'g'));
    EXPECT_FALSE(tolvex::isKeyDigit(U'\uFF11')); // a full-width digit one
    EXPECT_EQ(tolvex::keyCodeFromText("8000"), 0xFFFF8000u);
    EXPECT_EQ(tolvex::keyCodeFromText("10000"), 0x10000u);
    EXPECT_FALSE(tolvex::keyCodeFromText("123456789"));
    EXPECT_FALSE(tolvex::keyCodeFromText(std::string_view("1\0", 2)));
}

TEST(Results, EveryLibraryNumberHasItsName) {
    EXPECT_EQ(tolvex::resultOf(0), tolvex::Result::Done);
    EXPECT_EQ(tolvex::resultOf(2), tolvex::Result::Damaged);
    EXPECT_EQ(tolvex::resultOf(-7), tolvex::Result::NoMemory);
    // Numbers the library never gives are none of its results, not a neighbour's.
    for (int32_t other : {3, -8, -10, 100})
        EXPECT_EQ(tolvex::resultOf(other), tolvex::Result::Other) << other;
    EXPECT_TRUE(tolvex::leftOutput(tolvex::Result::Damaged));
    EXPECT_FALSE(tolvex::leftOutput(tolvex::Result::OutputExists));
}

TEST(Kinds, CaptionsAreTheExtensionsAndKindZeroHasNone) {
    EXPECT_EQ(tolvex::kindCaption(0), nullptr);
    EXPECT_STREQ(tolvex::kindCaption(1), ".bmp");
    EXPECT_STREQ(tolvex::kindCaption(15), ".zip");
    EXPECT_EQ(tolvex::kindCaption(tolvex::kKindCount), nullptr);
    EXPECT_EQ(tolvex::kindCaption(-1), nullptr);
    EXPECT_EQ(tolvex::kindName(10), "tgz");
    EXPECT_EQ(tolvex::parseKind("tar.gz"), 10);
}

TEST(Kinds, EveryNameAliasAndNumberOfTheTableIsReadBack) {
    for (const tolvex::DisguiseKind &d : tolvex::kDisguiseKinds) {
        EXPECT_EQ(tolvex::kindName(d.kind), d.name);
        EXPECT_EQ(tolvex::parseKind(d.name), d.kind);
        EXPECT_EQ(tolvex::parseKind(std::to_string(d.kind)), d.kind);
        for (const char *alias : d.aliases) {
            if (!alias)
                continue;
            EXPECT_EQ(tolvex::parseKind(alias), d.kind) << alias;
        }
    }
    EXPECT_EQ(tolvex::parseKind(".JPEG"), 3);
    EXPECT_EQ(tolvex::parseKind("TBZ2"), 11);
    EXPECT_EQ(tolvex::parseKind(std::to_string(tolvex::kKindCount)), std::nullopt);
    EXPECT_EQ(tolvex::parseKind("bitmap"), std::nullopt);
    EXPECT_EQ(tolvex::kindName(tolvex::kKindCount), "none");
    EXPECT_EQ(tolvex::kindName(-1), "none");
}

TEST(Naming, TemporaryOwnerOnlyFromItsOwnForm) {
    EXPECT_EQ(tolvex::temporaryOwner(".tmp-1234-abcDEF", ".tmp-"), 1234);
    for (const char *other :
         {".tmp--abcdef", ".tmp-12-abcde", ".tmp-12-abcdefg", ".tmp-12abcdef", ".tmp-0-abcdef",
          "tmp-12-abcdef", ".tmp-", ".tmp-12", ".tmp-99999999999-abcdef", ".tmp-12-abc.ef",
          ".tmp-12-abc ef", ".tmp-12-ab/def"})
        EXPECT_EQ(tolvex::temporaryOwner(other, ".tmp-"), 0) << other;
}

TEST(Naming, TemporaryNamesAreReadBackAndDifferWithTheirEntropy) {
    const std::string a = tolvex::temporaryName(".tmp-", 4321, 0x123456789ull);
    const std::string b = tolvex::temporaryName(".tmp-", 4321, 0x123456788ull);
    EXPECT_EQ(tolvex::temporaryOwner(a, ".tmp-"), 4321);
    EXPECT_EQ(tolvex::temporaryOwner(b, ".tmp-"), 4321);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.substr(0, 10), ".tmp-4321-");
    EXPECT_EQ(
        a.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", 10),
        std::string::npos);
}
