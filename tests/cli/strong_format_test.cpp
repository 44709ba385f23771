// The strong format through its reader and writer. Version 2: round trips in every container
// there is, nothing in clear, the presets tried in turn, every kind of tampering, the limits,
// the names rule; version 1 (still read): its known-answer files changed in every way; and the
// classic decoder's answer to strong files.
#include "cli_support.h"
#include "containers.h"
#include "engine.h"
#include "halvet_tolvex.h"
#include "layout.h"
#include "memory_file.h"
#include "strong_format.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <cstring>
#include <set>

using namespace cli_test;

namespace {

const std::string kPass = "violet kettle 42";
// The cheapest preset keeps each derivation short; a reader tries it first.
const strong::KdfParams kQuick = *strong::kdfPreset("interactive");

strong::ReadFn readerOf(const Bytes &data, size_t &at) {
    return [&data, &at](uint8_t *out, size_t n) -> int64_t {
        // Short reads on purpose: callers must not count on whole chunks per call.
        const size_t take = std::min({n, data.size() - at, size_t(40000)});
        if (take)
            std::memcpy(out, data.data() + at, take);
        at += take;
        return int64_t(take);
    };
}

strong::EncryptRequest requestFor(int kind, const std::string &name, uint64_t size,
                                  strong::KdfParams kdf = kQuick) {
    strong::EncryptRequest r;
    r.kind = kind;
    r.kdf = kdf;
    r.passphrase = kPass;
    r.name = name;
    r.size = size;
    return r;
}

Bytes encryptBytes(const Bytes &content, int kind, const std::string &name = "notes.txt",
                   strong::KdfParams kdf = kQuick) {
    size_t at = 0;
    Bytes out;
    EXPECT_EQ(strong::encrypt(requestFor(kind, name, content.size(), kdf), readerOf(content, at),
                              strong::testing::outputTo(out)),
              strong::Status::Ok);
    return out;
}

strong::Status decryptBytes(const Bytes &file, Bytes &content, strong::Decrypted &found,
                            const std::string &pass = kPass, const strong::Hooks &hooks = {}) {
    content.clear();
    return strong::decrypt(
        pass, strong::testing::inputFrom(file),
        [&content](const uint8_t *p, size_t n) {
            content.insert(content.end(), p, p + n);
            return true;
        },
        found, hooks);
}

// The kinds whose container is there to write.
std::vector<int> writableKinds() {
    std::vector<int> kinds;
    for (int kind = 0; kind < tolvex::kKindCount; ++kind)
        if (strong::containerFor(kind).create)
            kinds.push_back(kind);
    return kinds;
}

TEST(StrongFormat, RoundTripInEveryContainerAtChunkAndBatchEdges) {
    const size_t chunk = strong::kChunkSize, batch = 16 * chunk;
    const std::vector<size_t> edges = {0, 1, chunk - 1, chunk, chunk + 1, batch, batch + 1};
    for (const int kind : writableKinds()) {
        // Every edge without a disguise; the containers themselves have tests of their own.
        for (const size_t size : kind == 0 ? edges : std::vector<size_t>{0, batch + 1}) {
            SCOPED_TRACE(std::to_string(kind) + " " + std::to_string(size));
            const Bytes content = randomBytes(size, uint32_t(size + 7));
            const Bytes file = encryptBytes(content, kind, "report.final.pdf");
            if (kind == 0) {
                EXPECT_EQ(file.size(), strong::bodySize(size));
            }
            Bytes back;
            strong::Decrypted found;
            ASSERT_EQ(decryptBytes(file, back, found), strong::Status::Ok);
            EXPECT_EQ(back, content);
            EXPECT_EQ(found.name, "report.final.pdf");
            EXPECT_EQ(found.size, size);
            EXPECT_EQ(found.kind, kind);
            EXPECT_EQ(found.version, strong::kVersion2);
            EXPECT_EQ(strong::kdfName(found.kdf), "interactive");
        }
    }
}

TEST(StrongFormat, NothingInClearAndNothingShared) {
    const std::string name = "secret-plans.odt";
    const Bytes content(5000, 'Q');
    const Bytes file = encryptBytes(content, 0, name);
    const std::string text(file.begin(), file.end());
    EXPECT_EQ(text.find(name), std::string::npos);
    EXPECT_EQ(text.find(std::string(16, 'Q')), std::string::npos);
    // Two encryptions of the same input share no run of 8 bytes: no marker, no settings.
    const Bytes again = encryptBytes(content, 0, name);
    std::set<std::string> runs;
    for (size_t i = 0; i + 8 <= file.size(); ++i)
        runs.insert(std::string(file.begin() + long(i), file.begin() + long(i + 8)));
    for (size_t i = 0; i + 8 <= again.size(); ++i)
        ASSERT_FALSE(runs.count(std::string(again.begin() + long(i), again.begin() + long(i + 8))))
            << "at " << i;
}

TEST(StrongFormat, EachPresetIsFoundByTryingThemInTurn) {
    const Bytes content = randomBytes(1000, 11);
    // The second preset is found after the first failed; the third is tried the same way
    // (after two), at five times the cost, in the wrong-passphrase test.
    for (const strong::KdfParams &kdf : strong::kdfPresets().first(2)) {
        SCOPED_TRACE(strong::kdfName(kdf));
        const Bytes file = encryptBytes(content, 0, "a.bin", kdf);
        Bytes back;
        strong::Decrypted found;
        ASSERT_EQ(decryptBytes(file, back, found), strong::Status::Ok);
        EXPECT_EQ(found.kdf.opsLimit, kdf.opsLimit);
        EXPECT_EQ(found.kdf.memLimit, kdf.memLimit);
        EXPECT_EQ(back, content);
    }
    // Parameters of no preset could never be found again: the writer refuses them.
    Bytes out;
    size_t at = 0;
    const Bytes none;
    EXPECT_EQ(strong::encrypt(requestFor(0, "n", 0, {1, 8192}), readerOf(none, at),
                              strong::testing::outputTo(out)),
              strong::Status::Unsupported);
    EXPECT_TRUE(out.empty());
}

TEST(StrongFormat, AWrongPassphraseOrAnotherFileDoesNotOpen) {
    const Bytes file = encryptBytes(randomBytes(100, 1), 0);
    Bytes back;
    strong::Decrypted found;
    EXPECT_EQ(decryptBytes(file, back, found, kPass + " "), strong::Status::NotOpened);
    EXPECT_TRUE(back.empty());
    for (const Bytes &other : {Bytes{}, Bytes(10, 'x'), randomBytes(5000, 9)}) {
        EXPECT_EQ(decryptBytes(other, back, found), strong::Status::NotOpened);
        EXPECT_TRUE(back.empty());
    }
}

TEST(StrongFormat, ChangesTruncationsAndSplicesFail) {
    const size_t size = 17 * strong::kChunkSize + 10; // more chunks than one read takes
    const Bytes file = encryptBytes(randomBytes(size, 2), 0);
    const size_t opening = strong::kBodyOpeningSize, sealed = strong::kChunkSize + strong::kTagSize;
    // Before the metadata verified nothing tells a changed file from a wrong passphrase.
    {
        Bytes changed = file;
        changed[opening - 1] ^= 1;
        Bytes back;
        strong::Decrypted found;
        EXPECT_EQ(decryptBytes(changed, back, found), strong::Status::NotOpened);
    }
    std::vector<Bytes> bad;
    for (const size_t at : {opening, opening + sealed + 5, file.size() - 1}) {
        Bytes changed = file;
        changed[at] ^= 0x80;
        bad.push_back(changed);
    }
    for (const size_t cut : {opening, opening + sealed, opening + 16 * sealed, file.size() - 1,
                             file.size() - strong::kTagSize - 10})
        bad.emplace_back(file.begin(), file.begin() + long(cut));
    Bytes swapped = file; // two chunks in each other's place
    std::swap_ranges(swapped.begin() + long(opening), swapped.begin() + long(opening + sealed),
                     swapped.begin() + long(opening + sealed));
    bad.push_back(swapped);
    Bytes appended = file; // kind 0 is its body: nothing may follow the final chunk
    appended.push_back(0);
    bad.push_back(appended);
    // The final chunk of another file under the same passphrase in place of this one's.
    const Bytes other = encryptBytes(randomBytes(size, 5), 0);
    Bytes spliced(file.begin(), file.end() - 27);
    spliced.insert(spliced.end(), other.end() - 27, other.end());
    bad.push_back(spliced);
    for (size_t i = 0; i < bad.size(); ++i) {
        Bytes back;
        strong::Decrypted found;
        EXPECT_EQ(decryptBytes(bad[i], back, found), strong::Status::Damaged) << "case " << i;
    }
}

// Re-seals a version 2 body with `metadata` (266 bytes as a writer could put them): a fresh
// stream under the same salt and key, so everything authenticates.
Bytes resealed(const Bytes &file, const Bytes &metadata) {
    Bytes out(file.begin(), file.begin() + long(strong::kSaltSize + strong::kStreamHeaderSize));
    uint8_t key[crypto_secretstream_xchacha20poly1305_KEYBYTES];
    EXPECT_EQ(crypto_pwhash(key, sizeof key, kPass.data(), kPass.size(), out.data(),
                            kQuick.opsLimit, kQuick.memLimit, crypto_pwhash_ALG_ARGON2ID13),
              0);
    crypto_secretstream_xchacha20poly1305_state state;
    crypto_secretstream_xchacha20poly1305_init_push(&state, out.data() + strong::kSaltSize, key);
    Bytes sealed(metadata.size() + strong::kTagSize);
    crypto_secretstream_xchacha20poly1305_push(&state, sealed.data(), nullptr, metadata.data(),
                                               metadata.size(), nullptr, 0,
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
    const Bytes file = encryptBytes({}, 0);
    Bytes back;
    strong::Decrypted found;
    // The crafting itself is sound: a name under the rule comes through.
    ASSERT_EQ(decryptBytes(resealed(file, metadataFor("ok name.txt")), back, found),
              strong::Status::Ok);
    EXPECT_EQ(found.name, "ok name.txt");
    EXPECT_EQ(back, Bytes{'x'});
    for (const std::string &name :
         {std::string("a\x1b[2J.txt"), std::string("tab\t.txt"), std::string("del\x7f"),
          std::string(".."), std::string("sub/a.txt"), std::string("a\0b", 3), std::string()}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(decryptBytes(resealed(file, metadataFor(name)), back, found),
                  strong::Status::Damaged);
        EXPECT_TRUE(back.empty());
    }
    Bytes padded = metadataFor("a.txt");
    padded.back() = 1;
    EXPECT_EQ(decryptBytes(resealed(file, padded), back, found), strong::Status::Damaged);
}

// The caller sees the recorded name before any content is decrypted, and may stop there.
TEST(StrongFormat, ANameTheCallerRefusesStopsBeforeAnyContent) {
    const Bytes file = encryptBytes(randomBytes(200000, 3), 0, "a." + std::string(250, 'e'));
    strong::Hooks hooks;
    std::string told;
    hooks.acceptName = [&](const std::string &name) {
        told = name;
        return strong::Status::NameTooLong;
    };
    Bytes content;
    strong::Decrypted found;
    EXPECT_EQ(decryptBytes(file, content, found, kPass, hooks), strong::Status::NameTooLong);
    EXPECT_EQ(told, "a." + std::string(250, 'e'));
    EXPECT_TRUE(content.empty());
}

TEST(StrongFormat, RequestsNoReaderCouldFollowAreRefusedBeforeWriting) {
    const Bytes none;
    size_t at = 0;
    Bytes out;
    EXPECT_EQ(strong::encrypt(requestFor(0, std::string(strong::kMaxNameSize + 1, 'n'), 0),
                              readerOf(none, at), strong::testing::outputTo(out)),
              strong::Status::NameTooLong);
    EXPECT_EQ(strong::encrypt(requestFor(0, "a\nb", 0), readerOf(none, at),
                              strong::testing::outputTo(out)),
              strong::Status::BadName);
    // More than a kind holds: refused before a byte is read or written.
    for (const int kind : writableKinds()) {
        const uint64_t most = strong::maxContent(kind);
        ASSERT_GT(most, uint64_t(1) << 20) << kind;
        EXPECT_LE(strong::bodySize(most), strong::containerFor(kind).maxBody);
        EXPECT_GT(strong::bodySize(most + 1), strong::containerFor(kind).maxBody);
        if (most == UINT64_MAX)
            continue;
        EXPECT_EQ(strong::encrypt(
                      requestFor(kind, "n", most + 1),
                      [](uint8_t *, size_t) -> int64_t { return -1; },
                      strong::testing::outputTo(out)),
                  strong::Status::TooLarge)
            << kind;
    }
    EXPECT_TRUE(out.empty());
}

TEST(StrongFormat, ASourceShorterOrLongerThanItsSizeFails) {
    for (size_t actual : {size_t(99), size_t(101)}) {
        const Bytes content(actual, 1);
        size_t at = 0;
        Bytes out;
        EXPECT_EQ(strong::encrypt(requestFor(0, "n", 100), readerOf(content, at),
                                  strong::testing::outputTo(out)),
                  strong::Status::ReadFailed);
    }
}

TEST(StrongFormat, IdentifyOpensWithoutTheContent) {
    for (const int kind : writableKinds()) {
        const Bytes file = encryptBytes(randomBytes(3000, 8), kind, "x.tar");
        strong::Decrypted found;
        ASSERT_EQ(strong::identify(kPass, strong::testing::inputFrom(file), found),
                  strong::Status::Ok);
        EXPECT_EQ(found.kind, kind);
        EXPECT_EQ(found.version, 2);
        EXPECT_EQ(found.name, "x.tar");
        EXPECT_EQ(found.size, 3000u);
    }
}

// The window's decoder (MakeCode decoding) must refuse a strong file of every kind, whatever
// the key, and write nothing.
TEST(StrongFormat, ClassicDecoderRefusesStrongFilesOfEveryKind) {
    TempDir dir;
    for (const int kind : writableKinds()) {
        const Bytes file = encryptBytes(randomBytes(300, uint32_t(kind)), kind, "a.txt");
        const std::string path =
            dir.path() + "/strong" + std::to_string(kind) + tolvex::disguiseFor(kind).extension;
        writeFile(path, file);
        for (uint32_t key : {0u, 0x1A2Bu, 0xFFFFFFFFu}) {
            SCOPED_TRACE(std::to_string(kind) + " key " + std::to_string(key));
            EXPECT_EQ(makeCode(path, dir.path() + "/out", key, TOLVEX_MODE_DECODE, 0),
                      TOLVEX_KEY_MISMATCH);
        }
    }
    for (const auto &name : listTree(dir.path()))
        EXPECT_EQ(name.rfind("out", 0), std::string::npos) << name;
}

// Version 1 is read still: its known-answer files, changed in every way a file can be.
Bytes version1File(const char *name) {
    const auto file = readFile(std::string(TOLVEX_STRONG_VECTORS) + "/" + name);
    EXPECT_TRUE(file);
    return file.value_or(Bytes{});
}
const std::string kVectorPass = "vector passphrase";

TEST(StrongVersion1, EverySingleByteChangeFailsBeforeAnyContentComesOut) {
    const Bytes file = version1File("vector-none.tvx");
    // The marker and the guard byte make the file version 1; without them it is tried as
    // version 2 (another test), at the cost of every key derivation.
    for (size_t i = strong::kMarkerSize; i < file.size(); ++i) {
        if (i == 14)
            continue;
        Bytes changed = file;
        changed[i] ^= 0x01;
        Bytes back;
        strong::Decrypted found;
        ASSERT_NE(decryptBytes(changed, back, found, kVectorPass), strong::Status::Ok) << i;
        ASSERT_TRUE(back.empty()) << "byte " << i;
    }
}

TEST(StrongVersion1, CutOrExtendedFilesAndWrongPassphrasesFail) {
    const Bytes file = version1File("vector-png.png");
    Bytes back;
    strong::Decrypted found;
    ASSERT_EQ(decryptBytes(file, back, found, kVectorPass), strong::Status::Ok);
    EXPECT_EQ(found.version, 1);
    EXPECT_EQ(found.kind, 6);
    EXPECT_EQ(decryptBytes(file, back, found, kVectorPass + "x"), strong::Status::Damaged);
    const size_t h = tolvex::disguiseFor(6).length;
    for (const size_t cut : {h + strong::kPreambleSize + 10, file.size() - 17, file.size() - 1})
        EXPECT_EQ(
            decryptBytes(Bytes(file.begin(), file.begin() + long(cut)), back, found, kVectorPass),
            strong::Status::Damaged)
            << cut;
    Bytes longer = file;
    longer.push_back(0);
    EXPECT_EQ(decryptBytes(longer, back, found, kVectorPass), strong::Status::Damaged);
}

// Sets the key-derivation fields of a version 1 preamble.
void setKdf(Bytes &file, int kind, uint32_t ops, uint64_t mem) {
    uint8_t *p = file.data() + tolvex::disguiseFor(kind).length;
    tolvex::storeLe32(p + 15, ops);
    tolvex::storeLe32(p + 19, uint32_t(mem));
    tolvex::storeLe32(p + 23, uint32_t(mem >> 32));
}

TEST(StrongVersion1, ParametersBeyondTheBoundsOrAnotherVersionAreRefused) {
    const Bytes file = version1File("vector-none.tvx");
    // Were the key derived with these, the result would be Damaged (another key) or NoMemory;
    // Unsupported says the reader stopped before.
    const std::vector<std::pair<uint32_t, uint64_t>> beyond = {
        {strong::kMaxOpsLimit + 1, strong::kMinMemLimit},
        {strong::kMinOpsLimit, strong::kMaxMemLimit + 1024},
        {strong::kMinOpsLimit, UINT64_MAX},
        {0, strong::kMinMemLimit},
        {strong::kMinOpsLimit, strong::kMinMemLimit + 1}, // Argon2id would floor it to KiB
    };
    for (const auto &[ops, mem] : beyond) {
        SCOPED_TRACE(std::to_string(ops) + " " + std::to_string(mem));
        Bytes changed = file;
        setKdf(changed, 0, ops, mem);
        strong::Preamble p;
        EXPECT_EQ(strong::probe(changed, p), strong::Status::Unsupported);
        Bytes back;
        strong::Decrypted found;
        EXPECT_EQ(decryptBytes(changed, back, found, kVectorPass), strong::Status::Unsupported);
    }
    Bytes otherVersion = file;
    otherVersion[8] = 3;
    strong::Preamble p;
    EXPECT_EQ(strong::probe(otherVersion, p), strong::Status::Unsupported);
    // Without the guard byte the marker is no version 1 preamble: the file is judged afresh.
    Bytes unguarded = file;
    unguarded[14] = 3;
    EXPECT_EQ(strong::probe(unguarded, p), strong::Status::NotStrong);
    EXPECT_EQ(strong::probe(randomBytes(5000, 9), p), strong::Status::NotStrong);
}

} // namespace
