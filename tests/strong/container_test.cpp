// Every kind's container gives back the body it was given, is a file of its own kind and of
// no other, keeps its overhead small, and refuses a structure cut short.
#include "containers.h"
#include "layout.h"
#include "memory_file.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <vector>

namespace strong {
namespace {

using testing::containerWith;
using testing::inputFrom;

std::vector<uint8_t> randomBody(size_t size) {
    std::vector<uint8_t> body(size);
    randombytes_buf(body.data(), body.size());
    return body;
}

// Reads a container's body area whole: the bytes, or empty after a failure (`answer` says).
std::vector<uint8_t> bodyOf(BodyReader &reader, int64_t &answer) {
    std::vector<uint8_t> got;
    std::vector<uint8_t> buffer(100000);
    for (;;) {
        answer = reader.read(buffer.data(), buffer.size());
        if (answer <= 0)
            return answer == 0 ? got : std::vector<uint8_t>();
        got.insert(got.end(), buffer.begin(), buffer.begin() + answer);
    }
}

class ContainerTest : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        ASSERT_GE(sodium_init(), 0);
        if (!containerFor(GetParam()).create)
            GTEST_SKIP() << "no container for kind " << GetParam() << " yet";
    }
};

TEST_P(ContainerTest, givesBackTheBodyAndIsItsOwnKind) {
    const int kind = GetParam();
    // The smallest body (an empty file's), odd sizes, and sizes across framing boundaries.
    for (const size_t size : {size_t(340), size_t(4097), size_t(65553 * 3 + 1), size_t(1) << 20}) {
        SCOPED_TRACE(size);
        const auto body = randomBody(size);
        for (const size_t piece : {size_t(1) << 20, size_t(4099)}) {
            const auto file = containerWith(kind, body, piece);
            ASSERT_FALSE(file.empty());
            auto opened = openContainer(inputFrom(file));
            ASSERT_EQ(opened.kind, kind);
            ASSERT_TRUE(opened.body);
            int64_t answer = 0;
            const auto got = bodyOf(*opened.body, answer);
            ASSERT_EQ(answer, 0);
            ASSERT_GE(got.size(), body.size());
            EXPECT_TRUE(std::equal(body.begin(), body.end(), got.begin()));
            if (size >= (size_t(1) << 20)) { // overhead: at most 2% plus 64 KiB
                EXPECT_LE(file.size(), size + size / 50 + 65536);
            }
        }
    }
}

TEST_P(ContainerTest, isFreshEveryTime) {
    if (GetParam() == 0)
        GTEST_SKIP() << "kind 0 is its body alone, which the salt makes fresh";
    // The same body twice: what differs is the container, made afresh for each file. (Which
    // bytes all files of a kind share is the fingerprint test's to judge, against real files.)
    const auto body = randomBody(5000);
    const auto a = containerWith(GetParam(), body), b = containerWith(GetParam(), body);
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
}

TEST_P(ContainerTest, aFileCutShortDoesNotGiveTheWholeBody) {
    const int kind = GetParam();
    if (kind == 0)
        GTEST_SKIP() << "kind 0 is its body: any cut is a shorter body";
    const auto body = randomBody(200000);
    const auto file = containerWith(kind, body);
    ASSERT_FALSE(file.empty());
    for (const size_t keep : {file.size() / 3, file.size() - body.size() / 2}) {
        SCOPED_TRACE(keep);
        const std::vector<uint8_t> cut(file.begin(), file.begin() + std::ptrdiff_t(keep));
        auto opened = openContainer(inputFrom(cut));
        if (opened.kind != kind)
            continue; // no longer recognisable as its kind: as good as refused
        int64_t answer = 0;
        const auto got = bodyOf(*opened.body, answer);
        EXPECT_TRUE(answer < 0 || got.size() < body.size());
    }
}

INSTANTIATE_TEST_SUITE_P(EveryKind, ContainerTest, ::testing::Range(0, tolvex::kKindCount));

} // namespace
} // namespace strong
