// Encoded files kept in tests/data/golden, one per disguise kind (golden_files.h). They pin the
// format: today's decoder must read them, and today's encoder must write the same record and
// payload.
#include "golden_files.h"
#include "halvet_tolvex.h"
#include "layout.h"
#include "test_support.h"

#include <cstdio>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace golden_files;

namespace {

std::string goldenPath(int kind) {
    char name[32];
    std::snprintf(name, sizeof name, "kind%02d%s", kind, tolvex::disguiseFor(kind).extension);
    return std::string(TOLVEX_GOLDEN_DIR) + "/" + name;
}

class Golden : public ::testing::TestWithParam<int> {};

TEST_P(Golden, DecodesToItsText) {
    const int kind = GetParam();
    TempDir dir;
    ASSERT_EQ(runEngine(goldenPath(kind), dir / "out", kGoldenKey, TOLVEX_MODE_DECODE), TOLVEX_OK);
    const std::string text = goldenText(kind);
    EXPECT_EQ(readFile(dir / "out.txt"), Bytes(text.begin(), text.end()));
    EXPECT_EQ(runEngine(goldenPath(kind), dir / "other", kGoldenKey + 1, TOLVEX_MODE_DECODE),
              TOLVEX_KEY_MISMATCH);
}

TEST_P(Golden, ReencodesToTheSameRecordAndPayload) {
    const int kind = GetParam();
    TempDir dir;
    const std::string source = dir / "golden.txt";
    writeFile(source, goldenText(kind));
    ASSERT_EQ(runEngine(source, dir / "enc", kGoldenKey, TOLVEX_MODE_ENCODE, kind, 64,
                        TOLVEX_TEMPLATE_FILE, kGoldenSeed),
              TOLVEX_OK);
    const auto fresh = readFile(dir / (std::string("enc") + tolvex::disguiseFor(kind).extension));
    const auto golden = readFile(goldenPath(kind));
    ASSERT_TRUE(fresh && golden);
    ASSERT_EQ(fresh->size(), golden->size());
    // The disguise header comes from the template file, which may be improved; the rest may not
    // change by a single byte.
    const long h = static_cast<long>(tolvex::disguiseFor(kind).length);
    EXPECT_TRUE(std::equal(fresh->begin() + h, fresh->end(), golden->begin() + h));
    if (kind != 0) {
        EXPECT_EQ(tolvex::loadLe32(golden->data()), tolvex::disguiseFor(kind).magic);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryKind, Golden, ::testing::Range(0, tolvex::kKindCount));

} // namespace
