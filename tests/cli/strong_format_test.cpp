// The strong format through its reader and writer: round trips, the disguise header, every
// kind of tampering, the bounds on the key derivation, and the classic decoder's answer.
#include "cli_support.h"
#include "engine.h"
#include "halvet_tolvex.h"
#include "layout.h"
#include "strong_format.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <cstring>

using namespace cli_test;

namespace {

// The lightest parameters the reader accepts keep each derivation short.
const strong::KdfParams kLight{strong::kMinOpsLimit, strong::kMinMemLimit};
const std::string kPass = "violet kettle 42";

struct Reader {
    const Bytes &data;
    size_t at = 0;
    strong::ReadFn fn() {
        return [this](uint8_t *out, size_t n) -> int64_t {
            // Short reads on purpose: callers must not count on whole chunks per call.
            const size_t take = std::min({n, data.size() - at, size_t(40000)});
            if (take)
                std::memcpy(out, data.data() + at, take);
            at += take;
            return int64_t(take);
        };
    }
};

strong::WriteFn into(Bytes &out) {
    return [&out](const uint8_t *p, size_t n) {
        out.insert(out.end(), p, p + n);
        return true;
    };
}

Bytes encryptBytes(const Bytes &content, int kind, const std::string &name = "notes.txt",
                   strong::KdfParams kdf = kLight) {
    strong::EncryptRequest r;
    r.kind = kind;
    r.templatePath = TOLVEX_TEMPLATE_FILE;
    r.kdf = kdf;
    r.passphrase = kPass;
    r.name = name;
    r.size = content.size();
    Reader in{content};
    Bytes out;
    EXPECT_EQ(strong::encrypt(r, in.fn(), into(out)), strong::Status::Ok);
    return out;
}

strong::Status decryptBytes(const Bytes &file, Bytes &content, strong::Decrypted &found,
                            const std::string &pass = kPass) {
    Reader in{file};
    content.clear();
    return strong::decrypt(pass, in.fn(), into(content), found);
}

uint64_t expectedLength(int kind, uint64_t size) {
    return tolvex::disguiseFor(kind).length + strong::kPreambleSize + strong::kMetadataSize +
           strong::kTagSize + size + strong::kTagSize * (size / strong::kChunkSize + 1);
}

// Offsets where a chunk ends: after the preamble, after the metadata, after each content chunk.
std::vector<size_t> chunkBoundaries(int kind, size_t size) {
    std::vector<size_t> at;
    size_t offset = tolvex::disguiseFor(kind).length + strong::kPreambleSize;
    at.push_back(offset);
    offset += strong::kMetadataSize + strong::kTagSize;
    at.push_back(offset);
    for (size_t i = 0; i < size / strong::kChunkSize; ++i) {
        offset += strong::kChunkSize + strong::kTagSize;
        at.push_back(offset);
    }
    return at;
}

class StrongSizes : public ::testing::TestWithParam<std::tuple<int, size_t>> {};

TEST_P(StrongSizes, RoundTripRestoresContentNameAndSize) {
    const auto [kind, size] = GetParam();
    const Bytes content = randomBytes(size, uint32_t(size + 7));
    const Bytes file = encryptBytes(content, kind, "report.final.pdf");
    EXPECT_EQ(file.size(), expectedLength(kind, size));
    Bytes back;
    strong::Decrypted found;
    ASSERT_EQ(decryptBytes(file, back, found), strong::Status::Ok);
    EXPECT_EQ(back, content);
    EXPECT_EQ(found.name, "report.final.pdf");
    EXPECT_EQ(found.size, size);
}

INSTANTIATE_TEST_SUITE_P(
    KindsAndChunkEdges, StrongSizes,
    ::testing::Combine(::testing::Values(0, 6, 7, 14),
                       ::testing::Values(size_t(0), size_t(1), strong::kChunkSize - 1,
                                         strong::kChunkSize, strong::kChunkSize + 1,
                                         2 * strong::kChunkSize, size_t(1) << 20,
                                         3 * 1024 * 1024 + 5)));

TEST(StrongFormat, HeaderIsTheClassicHeaderOfItsKind) {
    TempDir dir;
    const std::string source = dir.path() + "/s.txt";
    writeFile(source, std::string("x"));
    for (int kind = 1; kind < tolvex::kKindCount; ++kind) {
        SCOPED_TRACE(kind);
        const std::string base = dir.path() + "/c" + std::to_string(kind);
        tolvex::ConvertRequest r;
        r.source = source.c_str();
        r.outputBase = base.c_str();
        r.keyCode = 0x1A2B;
        r.mode = TOLVEX_MODE_ENCODE;
        r.kind = kind;
        r.bufferSize = 4096;
        r.templatePath = TOLVEX_TEMPLATE_FILE;
        ASSERT_EQ(tolvex::convert(r), TOLVEX_OK);
        const Bytes classic = *readFile(base + tolvex::disguiseFor(kind).extension);
        const Bytes strongFile = encryptBytes({}, kind);
        const size_t h = tolvex::disguiseFor(kind).length;
        ASSERT_GE(strongFile.size(), h);
        EXPECT_TRUE(std::equal(classic.begin(), classic.begin() + long(h), strongFile.begin()));
        strong::Preamble p;
        ASSERT_EQ(strong::probe(strongFile, p), strong::Status::Ok);
        EXPECT_EQ(p.kind, kind);
        EXPECT_EQ(p.headerLength, h);
    }
}

TEST(StrongFormat, NothingAboutTheContentInClear) {
    const std::string name = "secret-plans.odt";
    const Bytes content(5000, 'Q');
    const Bytes file = encryptBytes(content, 0, name);
    const std::string text(file.begin(), file.end());
    EXPECT_EQ(text.find(name), std::string::npos);
    EXPECT_EQ(text.find(std::string(64, 'Q')), std::string::npos);
    // Two encryptions of the same input differ everywhere after the fixed preamble fields.
    const Bytes again = encryptBytes(content, 0, name);
    EXPECT_NE(Bytes(file.begin() + 27, file.end()), Bytes(again.begin() + 27, again.end()));
}

TEST(StrongFormat, WrongPassphraseIsDamaged) {
    const Bytes file = encryptBytes(randomBytes(100, 1), 6);
    Bytes back;
    strong::Decrypted found;
    EXPECT_EQ(decryptBytes(file, back, found, kPass + " "), strong::Status::Damaged);
    EXPECT_TRUE(back.empty());
}

TEST(StrongFormat, EverySingleByteChangeFailsBeforeAnyContentComesOut) {
    const Bytes file = encryptBytes(randomBytes(100, 2), 6);
    for (size_t i = 0; i < file.size(); ++i) {
        for (uint8_t flip : {uint8_t(0x01), uint8_t(0x80)}) {
            Bytes changed = file;
            changed[i] ^= flip;
            Bytes back;
            strong::Decrypted found;
            const strong::Status s = decryptBytes(changed, back, found);
            ASSERT_NE(s, strong::Status::Ok) << "byte " << i;
            // A one-chunk file gives nothing out unless its only chunk verified.
            ASSERT_TRUE(back.empty()) << "byte " << i;
        }
    }
}

TEST(StrongFormat, TruncationAtEveryChunkBoundaryFails) {
    // More chunks than one read takes, so that cuts fall inside and between batches.
    const size_t size = 17 * strong::kChunkSize + 10;
    const Bytes file = encryptBytes(randomBytes(size, 3), 7);
    std::vector<size_t> cuts = chunkBoundaries(7, size);
    for (size_t extra : {size_t(1), strong::kTagSize, size_t(5000)})
        cuts.push_back(file.size() - extra);
    cuts.push_back(0);
    cuts.push_back(100);
    for (size_t cut : cuts) {
        SCOPED_TRACE(cut);
        Bytes back;
        strong::Decrypted found;
        const strong::Status s =
            decryptBytes(Bytes(file.begin(), file.begin() + long(cut)), back, found);
        EXPECT_TRUE(s == strong::Status::Damaged || s == strong::Status::NotStrong) << int(s);
    }
}

TEST(StrongFormat, AppendedOrReorderedChunksFail) {
    const size_t size = 2 * strong::kChunkSize + 10;
    const Bytes file = encryptBytes(randomBytes(size, 4), 0);
    const auto at = chunkBoundaries(0, size);
    const size_t full = strong::kChunkSize + strong::kTagSize;
    const Bytes first(file.begin() + long(at[1]), file.begin() + long(at[1] + full));
    const Bytes second(file.begin() + long(at[2]), file.begin() + long(at[2] + full));
    const Bytes last(file.begin() + long(at[3]), file.end());

    std::vector<Bytes> bad;
    Bytes appendedChunk = file; // a whole chunk of the same file after the final one
    appendedChunk.insert(appendedChunk.end(), first.begin(), first.end());
    bad.push_back(appendedChunk);
    Bytes appendedFinal = file; // the final chunk twice
    appendedFinal.insert(appendedFinal.end(), last.begin(), last.end());
    bad.push_back(appendedFinal);
    Bytes oneByte = file;
    oneByte.push_back(0);
    bad.push_back(oneByte);
    Bytes swapped(file.begin(), file.begin() + long(at[1]));
    swapped.insert(swapped.end(), second.begin(), second.end());
    swapped.insert(swapped.end(), first.begin(), first.end());
    swapped.insert(swapped.end(), last.begin(), last.end());
    bad.push_back(swapped);
    Bytes dropped(file.begin(), file.begin() + long(at[2])); // the second chunk left out
    dropped.insert(dropped.end(), last.begin(), last.end());
    bad.push_back(dropped);
    // The final chunk of another file under the same passphrase in place of this one's.
    const Bytes other = encryptBytes(randomBytes(size, 5), 0);
    Bytes spliced(file.begin(), file.begin() + long(at[3]));
    spliced.insert(spliced.end(), other.begin() + long(at[3]), other.end());
    bad.push_back(spliced);

    for (size_t i = 0; i < bad.size(); ++i) {
        Bytes back;
        strong::Decrypted found;
        EXPECT_EQ(decryptBytes(bad[i], back, found), strong::Status::Damaged) << "case " << i;
    }
}

// Sets the key-derivation fields of a strong file's preamble.
void setKdf(Bytes &file, int kind, uint32_t ops, uint64_t mem) {
    uint8_t *p = file.data() + tolvex::disguiseFor(kind).length;
    tolvex::storeLe32(p + 15, ops);
    tolvex::storeLe32(p + 19, uint32_t(mem));
    tolvex::storeLe32(p + 23, uint32_t(mem >> 32));
}

TEST(StrongFormat, ParametersBeyondTheBoundsAreRefusedBeforeDerivation) {
    const Bytes file = encryptBytes(randomBytes(10, 6), 6);
    // Were the key derived with these, the result would be Damaged (another key) or NoMemory;
    // Unsupported says the reader stopped before.
    const std::vector<std::pair<uint32_t, uint64_t>> beyond = {
        {strong::kMaxOpsLimit + 1, strong::kMinMemLimit},
        {strong::kMinOpsLimit, strong::kMaxMemLimit + 1024},
        {strong::kMinOpsLimit, UINT64_MAX},
        {UINT32_MAX, UINT64_MAX},
        {0, strong::kMinMemLimit},
        {strong::kMinOpsLimit, strong::kMinMemLimit - 1},
        {strong::kMinOpsLimit, strong::kMinMemLimit + 1}, // Argon2id would floor it to KiB
    };
    for (const auto &[ops, mem] : beyond) {
        SCOPED_TRACE(std::to_string(ops) + " " + std::to_string(mem));
        Bytes changed = file;
        setKdf(changed, 6, ops, mem);
        strong::Preamble p;
        EXPECT_EQ(strong::probe(changed, p), strong::Status::Unsupported);
        Bytes back;
        strong::Decrypted found;
        EXPECT_EQ(decryptBytes(changed, back, found), strong::Status::Unsupported);
    }
    // The writer refuses them as well.
    strong::EncryptRequest r;
    r.templatePath = TOLVEX_TEMPLATE_FILE;
    r.kdf = {strong::kMaxOpsLimit, strong::kMaxMemLimit * 2};
    r.name = "n";
    Bytes none;
    Reader in{none};
    Bytes out;
    EXPECT_EQ(strong::encrypt(r, in.fn(), into(out)), strong::Status::Unsupported);
    EXPECT_TRUE(out.empty());
}

// Re-seals a strong file's metadata with `metadata` (266 bytes as a writer could put them):
// the stream is started afresh from the same salt and key, so everything authenticates.
Bytes resealed(const Bytes &file, int kind, const Bytes &metadata) {
    const size_t h = tolvex::disguiseFor(kind).length;
    Bytes out(file.begin(), file.begin() + std::ptrdiff_t(h + strong::kPreambleSize));
    uint8_t *p = out.data() + h;
    uint8_t key[crypto_secretstream_xchacha20poly1305_KEYBYTES];
    EXPECT_EQ(crypto_pwhash(key, sizeof key, kPass.data(), kPass.size(), p + 27, kLight.opsLimit,
                            kLight.memLimit, crypto_pwhash_ALG_ARGON2ID13),
              0);
    crypto_secretstream_xchacha20poly1305_state state;
    crypto_secretstream_xchacha20poly1305_init_push(&state, p + 43, key);
    Bytes sealed(metadata.size() + strong::kTagSize);
    crypto_secretstream_xchacha20poly1305_push(&state, sealed.data(), nullptr, metadata.data(),
                                               metadata.size(), out.data(), out.size(),
                                               crypto_secretstream_xchacha20poly1305_TAG_MESSAGE);
    out.insert(out.end(), sealed.begin(), sealed.end());
    const Bytes content{'x'};
    Bytes last(content.size() + strong::kTagSize);
    crypto_secretstream_xchacha20poly1305_push(&state, last.data(), nullptr, content.data(),
                                               content.size(), nullptr, 0,
                                               crypto_secretstream_xchacha20poly1305_TAG_FINAL);
    out.insert(out.end(), last.begin(), last.end());
    return out;
}

Bytes metadataFor(const std::string &name) {
    Bytes m(strong::kMetadataSize, 0);
    m[0] = 1; // one content byte
    m[8] = uint8_t(name.size());
    m[9] = uint8_t(name.size() >> 8);
    std::memcpy(m.data() + 10, name.data(), name.size());
    return m;
}

TEST(StrongFormat, RecordedNamesFollowTheRuleAndThePaddingIsZero) {
    const Bytes file = encryptBytes({}, 6);
    Bytes back;
    strong::Decrypted found;
    // The crafting itself is sound: a name under the rule comes through.
    ASSERT_EQ(decryptBytes(resealed(file, 6, metadataFor("ok name.txt")), back, found),
              strong::Status::Ok);
    EXPECT_EQ(found.name, "ok name.txt");
    EXPECT_EQ(back, Bytes{'x'});
    for (const std::string &name :
         {std::string("a\x1b[2J.txt"), std::string("tab\t.txt"), std::string("del\x7f"),
          std::string(".."), std::string("sub/a.txt"), std::string("a\0b", 3), std::string()}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(decryptBytes(resealed(file, 6, metadataFor(name)), back, found),
                  strong::Status::Damaged);
        EXPECT_TRUE(back.empty());
    }
    Bytes padded = metadataFor("a.txt");
    padded.back() = 1;
    EXPECT_EQ(decryptBytes(resealed(file, 6, padded), back, found), strong::Status::Damaged);
}

// The caller sees the recorded name before any content is decrypted, and may stop there.
TEST(StrongFormat, ANameTheCallerRefusesStopsBeforeAnyContent) {
    const Bytes file = encryptBytes(randomBytes(200000, 3), 6, "a." + std::string(250, 'e'));
    Reader in{file};
    Bytes content;
    strong::Decrypted found;
    strong::Hooks hooks;
    std::string told;
    hooks.acceptName = [&](const std::string &name) {
        told = name;
        return strong::Status::NameTooLong;
    };
    EXPECT_EQ(strong::decrypt(kPass, in.fn(), into(content), found, hooks),
              strong::Status::NameTooLong);
    EXPECT_EQ(told, "a." + std::string(250, 'e'));
    EXPECT_TRUE(content.empty());
}

TEST(StrongFormat, AnotherVersionIsUnsupported) {
    Bytes file = encryptBytes({}, 0);
    file[8] = 2;
    strong::Preamble p;
    EXPECT_EQ(strong::probe(file, p), strong::Status::Unsupported);
}

TEST(StrongFormat, ClassicFilesAndOtherFilesAreNotStrong) {
    strong::Preamble p;
    EXPECT_EQ(strong::probe(Bytes{}, p), strong::Status::NotStrong);
    EXPECT_EQ(strong::probe(randomBytes(5000, 9), p), strong::Status::NotStrong);
    Bytes file = encryptBytes({}, 6);
    file[tolvex::disguiseFor(6).length + 14] = 3; // the classic extension length
    EXPECT_EQ(strong::probe(file, p), strong::Status::NotStrong);
}

TEST(StrongFormat, TooLongANameIsRefused) {
    strong::EncryptRequest r;
    r.templatePath = TOLVEX_TEMPLATE_FILE;
    r.kdf = kLight;
    r.name = std::string(strong::kMaxNameSize + 1, 'n');
    Bytes none;
    Reader in{none};
    Bytes out;
    EXPECT_EQ(strong::encrypt(r, in.fn(), into(out)), strong::Status::NameTooLong);
}

TEST(StrongFormat, ASourceShorterOrLongerThanItsSizeFails) {
    for (size_t actual : {size_t(99), size_t(101)}) {
        strong::EncryptRequest r;
        r.templatePath = TOLVEX_TEMPLATE_FILE;
        r.kdf = kLight;
        r.name = "n";
        r.size = 100;
        const Bytes content(actual, 1);
        Reader in{content};
        Bytes out;
        EXPECT_EQ(strong::encrypt(r, in.fn(), into(out)), strong::Status::ReadFailed);
    }
}

// The window's decoder (MakeCode decoding) must say "not encoded / wrong key" for a strong
// file of every kind, whatever the key, and write nothing.
TEST(StrongFormat, ClassicDecoderAnswersNotEncodedForEveryKind) {
    TempDir dir;
    for (int kind = 0; kind < tolvex::kKindCount; ++kind) {
        const Bytes file = encryptBytes(randomBytes(300, uint32_t(kind)), kind, "a.txt");
        const std::string path =
            dir.path() + "/strong" + std::to_string(kind) + tolvex::disguiseFor(kind).extension;
        writeFile(path, file);
        // The key whose whitened form matches the marker's first word as a check word.
        const uint32_t matching = tolvex::loadLe32(file.data() + tolvex::disguiseFor(kind).length) ^
                                  tolvex::kKeyWhitening;
        for (uint32_t key : {0u, 0x1A2Bu, 0xFFFFFFFFu, matching}) {
            SCOPED_TRACE(std::to_string(kind) + " key " + std::to_string(key));
            for (int32_t mode : {TOLVEX_MODE_DECODE, TOLVEX_MODE_DECODE_OVERWRITE})
                EXPECT_EQ(makeCode(path, dir.path() + "/out", key, mode, 0), TOLVEX_KEY_MISMATCH);
        }
    }
    for (const auto &name : listTree(dir.path()))
        EXPECT_EQ(name.rfind("out", 0), std::string::npos) << name;
}

} // namespace
