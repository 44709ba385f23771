// Known-answer files of the strong format: with the random source replaced by a fixed one
// (salt, stream header and container then come out the same every time), encrypting the
// version 2 inputs must give the checked-in file byte for byte, and every checked-in file,
// version 1's included, must decrypt to its input. A change of the format, on either side,
// shows here.
//
// The version 2 files were written by this program: strong_vector_tests --write-vectors DIR
#include "memory_file.h"
#include "strong_format.h"
#include "test_files.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <cstring>

using test_files::Bytes;

namespace {

// The fixed random source: each request gets the next block of a seeded stream.
uint64_t g_calls = 0;

void fixedBuf(void *buffer, size_t size) {
    unsigned char seed[randombytes_SEEDBYTES] = {};
    std::memcpy(seed, "tolvex strong known answers", 27);
    seed[31] = uint8_t(g_calls++);
    randombytes_buf_deterministic(buffer, size, seed);
}
uint32_t fixedRandom() {
    uint32_t v;
    fixedBuf(&v, sizeof v);
    return v;
}
const char *fixedName() {
    return "fixed";
}

randombytes_implementation g_fixed = {fixedName, fixedRandom, nullptr, nullptr, fixedBuf, nullptr};

struct Vector {
    const char *file;
    int kind;
    const char *name;
    Bytes content;
    int version = 2;
};

std::vector<Vector> vectors() {
    Bytes pattern(70000);
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = uint8_t(i * 7 % 251);
    const std::string text = "Tolvex strong vector\n";
    return {{"vector-none.tvx", 0, "vector.txt", Bytes(text.begin(), text.end()), 1},
            {"vector-png.png", 6, "pattern.bin", pattern, 1},
            {"vector-empty.avi", 14, "empty", Bytes{}, 1},
            {"vector2-none.tvx", 0, "vector.txt", Bytes(text.begin(), text.end())}};
}

const std::string kPass = "vector passphrase";

Bytes encryptVector(const Vector &v) {
    g_calls = 0;
    strong::EncryptRequest r;
    r.kind = v.kind;
    r.kdf = *strong::kdfPreset("interactive");
    r.passphrase = kPass;
    r.name = v.name;
    r.size = v.content.size();
    size_t at = 0;
    Bytes out;
    const auto status = strong::encrypt(
        r,
        [&](uint8_t *p, size_t n) -> int64_t {
            const size_t take = std::min(n, v.content.size() - at);
            if (take)
                std::memcpy(p, v.content.data() + at, take);
            at += take;
            return int64_t(take);
        },
        strong::testing::outputTo(out));
    EXPECT_EQ(status, strong::Status::Ok);
    return out;
}

std::string vectorPath(const char *file) {
    return std::string(TOLVEX_STRONG_VECTORS) + "/" + file;
}

TEST(StrongVectors, EncryptionGivesTheCheckedInFiles) {
    for (const auto &v : vectors()) {
        if (v.version != 2)
            continue; // only the version written now
        SCOPED_TRACE(v.file);
        const auto expected = test_files::readFile(vectorPath(v.file));
        ASSERT_TRUE(expected);
        EXPECT_EQ(encryptVector(v), *expected);
    }
}

TEST(StrongVectors, TheCheckedInFilesDecrypt) {
    for (const auto &v : vectors()) {
        SCOPED_TRACE(v.file);
        const auto file = test_files::readFile(vectorPath(v.file));
        ASSERT_TRUE(file);
        Bytes out;
        strong::Decrypted found;
        const auto status = strong::decrypt(
            kPass, strong::testing::inputFrom(*file),
            [&](const uint8_t *p, size_t n) {
                out.insert(out.end(), p, p + n);
                return true;
            },
            found);
        ASSERT_EQ(status, strong::Status::Ok);
        EXPECT_EQ(out, v.content);
        EXPECT_EQ(found.name, v.name);
    }
}

} // namespace

int main(int argc, char **argv) {
    // Before libsodium starts: the random source cannot change afterwards.
    if (randombytes_set_implementation(&g_fixed) != 0 || sodium_init() < 0)
        return 2;
    if (argc == 3 && std::strcmp(argv[1], "--write-vectors") == 0) {
        for (const auto &v : vectors())
            if (v.version == 2)
                test_files::writeFile(std::string(argv[2]) + "/" + v.file, encryptVector(v));
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
