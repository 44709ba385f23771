#include "strong_format.h"

#include "containers.h"
#include "disguise_header.h"
#include "layout.h"
#include "naming.h"
#include "sealing.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace strong {

using namespace sealing;

namespace {

// Offsets inside version 1's preamble. Byte 14 stands where the engine reads an extension
// length: 0xFF is -1 there, so the engine answers "not an encoded file" whatever key it is given.
constexpr size_t kOffVersion = 8;
constexpr size_t kOffKind = 9;
constexpr size_t kOffKdf = 10;
constexpr size_t kOffChunkShift = 11;
constexpr size_t kOffReserved = 12; // two zero bytes
constexpr size_t kOffClassicGuard = 14;
constexpr size_t kOffOps = 15;
constexpr size_t kOffMem = 19;
constexpr size_t kOffSalt = 27;
constexpr size_t kOffStreamHeader = 43;
static_assert(kOffStreamHeader + kStreamHeaderSize == kPreambleSize);
constexpr uint8_t kClassicGuard = 0xFF;

const std::array<KdfParams, 3> kPresets = {
    KdfParams{crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE},
    KdfParams{crypto_pwhash_OPSLIMIT_MODERATE, crypto_pwhash_MEMLIMIT_MODERATE},
    KdfParams{crypto_pwhash_OPSLIMIT_SENSITIVE, crypto_pwhash_MEMLIMIT_SENSITIVE}};
constexpr const char *kPresetNames[] = {"interactive", "moderate", "sensitive"};

bool sameKdf(const KdfParams &a, const KdfParams &b) {
    return a.opsLimit == b.opsLimit && a.memLimit == b.memLimit;
}

// A stream over the file from `offset` on.
ReadFn streamFrom(const ContainerInput &input, uint64_t offset) {
    return [&input, offset](uint8_t *buffer, size_t size) mutable -> int64_t {
        const int64_t n = input.readAt(offset, buffer, size);
        if (n > 0)
            offset += uint64_t(n);
        return n;
    };
}

// A stream over a container's body area; kBodyMalformed reads as the end, since whatever
// should have followed is missing.
ReadFn streamOf(BodyReader &body, bool &readFailed) {
    return [&body, &readFailed](uint8_t *buffer, size_t size) -> int64_t {
        const int64_t n = body.read(buffer, size);
        if (n == kBodyReadFailed)
            readFailed = true;
        return n == kBodyMalformed ? 0 : n;
    };
}

// A version 2 file opened with the passphrase: the stream state ready for the content.
struct Opened {
    Guarded<StreamState> stream;
    std::unique_ptr<BodyReader> body;
    bool readFailed = false;
};

Status openVersion2(std::string_view passphrase, const ContainerInput &input, Opened &opened,
                    Decrypted &result) {
    OpenedContainer container = openContainer(input);
    std::array<uint8_t, kBodyOpeningSize> opening;
    int64_t got =
        readFully(streamOf(*container.body, opened.readFailed), opening.data(), opening.size());
    if (container.kind != 0 && got != int64_t(opening.size()) && !opened.readFailed) {
        // The file only looked like a disguise: what it holds as a whole may be the body.
        container = {0, containerFor(0).open(input)};
        got =
            readFully(streamOf(*container.body, opened.readFailed), opening.data(), opening.size());
    }
    if (opened.readFailed)
        return Status::ReadFailed;
    if (got != int64_t(opening.size()))
        return Status::NotOpened;
    const uint8_t *salt = opening.data();
    const uint8_t *header = salt + kSaltSize;
    const uint8_t *sealed = header + kStreamHeaderSize;

    Guarded<SecretKey> key;
    if (!key.valid() || !opened.stream.valid())
        return Status::NoMemory;
    Wiped plain(kMetadataSize);
    bool noMemory = false;
    for (const KdfParams &kdf : kPresets) {
        if (deriveKey(passphrase, salt, kdf, *key.get()) != Status::Ok) {
            noMemory = true;
            continue;
        }
        StreamState &state = *opened.stream.get();
        unsigned char tag = 0;
        unsigned long long length = 0;
        if (crypto_secretstream_xchacha20poly1305_init_pull(&state, header, key.get()->bytes) !=
                0 ||
            crypto_secretstream_xchacha20poly1305_pull(&state, plain.data.data(), &length, &tag,
                                                       sealed, kSealedMetadataSize, nullptr,
                                                       0) != 0)
            continue;
        // Authentic: from here on, anything wrong is a damaged file.
        if (tag != crypto_secretstream_xchacha20poly1305_TAG_MESSAGE || length != kMetadataSize)
            return Status::Damaged;
        if (const Status s = readMetadata(plain.data.data(), result); s != Status::Ok)
            return s;
        result.version = kVersion2;
        result.kind = container.kind;
        result.kdf = kdf;
        opened.body = std::move(container.body);
        return Status::Ok;
    }
    return noMemory ? Status::NoMemory : Status::NotOpened;
}

Status decryptVersion1(std::string_view passphrase, const ContainerInput &input,
                       const Preamble &preamble, const WriteFn &write, Decrypted &result,
                       const Hooks &hooks) {
    const size_t whole = preamble.headerLength + kPreambleSize;
    std::vector<uint8_t> prefix(whole + kSealedMetadataSize);
    const ReadFn read = streamFrom(input, 0);
    const int64_t got = readFully(read, prefix.data(), prefix.size());
    if (got < 0)
        return Status::ReadFailed;
    if (got != int64_t(prefix.size()))
        return Status::Damaged;
    const uint8_t *p = prefix.data() + preamble.headerLength;

    // The parameters were checked against the bounds, before anything is allocated.
    Guarded<SecretKey> key;
    Guarded<StreamState> stream;
    if (!key.valid() || !stream.valid())
        return Status::NoMemory;
    if (const Status s = deriveKey(passphrase, p + kOffSalt, preamble.kdf, *key.get());
        s != Status::Ok)
        return s;
    StreamState &state = *stream.get();
    Wiped plain(kMetadataSize);
    unsigned char tag = 0;
    unsigned long long plainLength = 0;
    // The metadata's additional data is the whole disguise header and preamble.
    if (crypto_secretstream_xchacha20poly1305_init_pull(&state, p + kOffStreamHeader,
                                                        key.get()->bytes) != 0 ||
        crypto_secretstream_xchacha20poly1305_pull(&state, plain.data.data(), &plainLength, &tag,
                                                   prefix.data() + whole, kSealedMetadataSize,
                                                   prefix.data(), whole) != 0 ||
        tag != crypto_secretstream_xchacha20poly1305_TAG_MESSAGE || plainLength != kMetadataSize)
        return Status::Damaged;
    if (const Status s = readMetadata(plain.data.data(), result); s != Status::Ok)
        return s;
    result.version = kVersion;
    result.kind = preamble.kind;
    result.kdf = preamble.kdf;
    if (hooks.acceptName) {
        if (const Status s = hooks.acceptName(result.name); s != Status::Ok)
            return s;
    }
    if (const Status s = openContent(state, result.size, read, write, hooks); s != Status::Ok)
        return s;
    // Nothing may follow the final chunk.
    uint8_t extra;
    const int64_t more = readFully(read, &extra, 1);
    return more < 0 ? Status::ReadFailed : more ? Status::Damaged : Status::Ok;
}

// Version 1's preamble at the file's start, if it has one: Ok, NotStrong or Unsupported.
Status probeFile(const ContainerInput &input, Preamble &preamble) {
    std::vector<uint8_t> leading(probeSize());
    const int64_t got = readFully(streamFrom(input, 0), leading.data(), leading.size());
    if (got < 0)
        return Status::ReadFailed;
    leading.resize(size_t(got));
    return probe(leading, preamble);
}

} // namespace

std::optional<KdfParams> kdfPreset(const std::string &name) {
    for (size_t i = 0; i < kPresets.size(); ++i) {
        if (name == kPresetNames[i])
            return kPresets[i];
    }
    return std::nullopt;
}

KdfParams defaultKdf() {
    return kPresets[1];
}

std::span<const KdfParams> kdfPresets() {
    return kPresets;
}

std::string kdfName(const KdfParams &kdf) {
    for (size_t i = 0; i < kPresets.size(); ++i) {
        if (sameKdf(kdf, kPresets[i]))
            return kPresetNames[i];
    }
    return {};
}

uint64_t bodySize(uint64_t size) {
    return kBodyOpeningSize + size + kTagSize * (size / kChunkSize + 1);
}

uint64_t maxContent(int kind) {
    // The largest content whose body fits: the body grows with the content, so halve the range.
    const uint64_t most = containerFor(kind).maxBody;
    if (most < bodySize(0))
        return 0;
    uint64_t low = 0, high = most;
    while (low < high) {
        const uint64_t middle = low + (high - low + 1) / 2;
        if (bodySize(middle) <= most)
            low = middle;
        else
            high = middle - 1;
    }
    return low;
}

std::string statusText(Status status) {
    switch (status) {
    case Status::Ok:
        return "done";
    case Status::NotStrong:
        return "not a strong file";
    case Status::Unsupported:
        return "a strong file of another version, or with key-derivation parameters beyond "
               "what this program accepts (" +
               std::to_string(kMinOpsLimit) + " to " + std::to_string(kMaxOpsLimit) + " passes, " +
               std::to_string(kMinMemLimit >> 10) + " KiB to " +
               std::to_string(kMaxMemLimit >> 20) + " MiB in whole KiB); nothing written";
    case Status::Damaged:
        return "wrong passphrase or damaged file";
    case Status::NotOpened:
        return "not a Tolvex file, or the passphrase is wrong";
    case Status::TooLarge:
        return "too large for this disguise";
    case Status::ReadFailed:
        return "a read failed";
    case Status::WriteFailed:
        return "a write failed";
    case Status::NameTooLong:
        return "name too long (a file name takes at most " + std::to_string(kMaxNameSize) +
               " bytes); nothing written";
    case Status::BadName:
        return "the name to record holds a control character or a '/', or is . or ..";
    case Status::NoMemory:
        return "not enough memory for the key derivation";
    case Status::Cancelled:
        return "interrupted";
    case Status::OutputExists:
        return "the output exists already";
    }
    return "unknown";
}

size_t probeSize() {
    uint32_t longest = 0;
    for (int kind = 0; kind < tolvex::kKindCount; ++kind)
        longest = std::max(longest, tolvex::disguiseFor(kind).length);
    return longest + kPreambleSize;
}

Status probe(std::span<const uint8_t> leading, Preamble &preamble) {
    const auto length = tolvex::headerLengthFor(leading.first(std::min<size_t>(leading.size(), 8)));
    if (!length || leading.size() < *length + kPreambleSize)
        return Status::NotStrong;
    const uint8_t *p = leading.data() + *length;
    if (std::memcmp(p, kMarker, kMarkerSize) != 0 || p[kOffClassicGuard] != kClassicGuard)
        return Status::NotStrong;
    preamble.headerLength = *length;
    preamble.kind = tolvex::kindOf(leading.first(std::min<size_t>(leading.size(), 8)));
    preamble.version = p[kOffVersion];
    preamble.kdf.opsLimit = tolvex::loadLe32(p + kOffOps);
    preamble.kdf.memLimit = loadLe64(p + kOffMem);
    if (preamble.version != kVersion)
        return Status::Unsupported;
    // The rest is fixed in this version: anything else is a changed file.
    if (p[kOffKdf] != kKdfArgon2id || p[kOffChunkShift] != kChunkShift || p[kOffReserved] != 0 ||
        p[kOffReserved + 1] != 0 || p[kOffKind] != preamble.kind)
        return Status::Damaged;
    if (!withinBounds(preamble.kdf))
        return Status::Unsupported;
    return Status::Ok;
}

Status encrypt(const EncryptRequest &request, const ReadFn &read, const ContainerOutput &output,
               const Hooks &hooks) {
    if (!sodiumReady())
        return Status::NoMemory;
    if (request.name.size() > kMaxNameSize)
        return Status::NameTooLong;
    if (!isUsableName(request.name))
        return Status::BadName; // readers would refuse it
    // Only a preset: a reader finds the key by trying them.
    if (kdfName(request.kdf).empty())
        return Status::Unsupported;
    const int kind = tolvex::disguiseFor(request.kind).kind;
    const Container &container = containerFor(kind);
    if (!container.create || request.size > maxContent(kind))
        return Status::TooLarge;

    std::array<uint8_t, kBodyOpeningSize> opening;
    uint8_t *salt = opening.data();
    uint8_t *header = salt + kSaltSize;
    randombytes_buf(salt, kSaltSize);
    Guarded<SecretKey> key;
    Guarded<StreamState> stream;
    if (!key.valid() || !stream.valid())
        return Status::NoMemory;
    if (const Status s = deriveKey(request.passphrase, salt, request.kdf, *key.get());
        s != Status::Ok)
        return s;
    StreamState &state = *stream.get();
    crypto_secretstream_xchacha20poly1305_init_push(&state, header, key.get()->bytes);
    Wiped metadata(kMetadataSize);
    fillMetadata(metadata, request.size, request.name);
    crypto_secretstream_xchacha20poly1305_push(
        &state, header + kStreamHeaderSize, nullptr, metadata.data.data(), metadata.data.size(),
        nullptr, 0, crypto_secretstream_xchacha20poly1305_TAG_MESSAGE);

    const std::unique_ptr<BodyWriter> body = container.create(output, bodySize(request.size));
    if (!body || !body->put(opening.data(), opening.size()))
        return Status::WriteFailed;
    const Status sealed = sealContent(
        state, request.size, read,
        [&](const uint8_t *data, size_t size) { return body->put(data, size); }, hooks);
    if (sealed != Status::Ok)
        return sealed;
    return body->finish() ? Status::Ok : Status::WriteFailed;
}

Status decrypt(std::string_view passphrase, const ContainerInput &input, const WriteFn &write,
               Decrypted &result, const Hooks &hooks) {
    if (!sodiumReady())
        return Status::NoMemory;
    Preamble preamble;
    const Status probed = probeFile(input, preamble);
    if (probed == Status::Ok)
        return decryptVersion1(passphrase, input, preamble, write, result, hooks);
    if (probed != Status::NotStrong)
        return probed;
    Opened opened;
    if (const Status s = openVersion2(passphrase, input, opened, result); s != Status::Ok)
        return s;
    if (hooks.acceptName) {
        if (const Status s = hooks.acceptName(result.name); s != Status::Ok)
            return s;
    }
    const ReadFn read = streamOf(*opened.body, opened.readFailed);
    Status s = openContent(*opened.stream.get(), result.size, read, write, hooks);
    // Without a disguise the file is its body, with no padding: nothing may follow.
    uint8_t extra;
    if (s == Status::Ok && result.kind == 0 && readFully(read, &extra, 1) != 0)
        s = Status::Damaged;
    return opened.readFailed ? Status::ReadFailed : s;
}

Status identify(std::string_view passphrase, const ContainerInput &input, Decrypted &result) {
    if (!sodiumReady())
        return Status::NoMemory;
    Preamble preamble;
    const Status probed = probeFile(input, preamble);
    if (probed == Status::Ok) {
        // The passphrase proves itself on the metadata; the content is not needed.
        Hooks stopAtName;
        stopAtName.acceptName = [](const std::string &) { return Status::Cancelled; };
        const Status s = decryptVersion1(
            passphrase, input, preamble, [](const uint8_t *, size_t) { return true; }, result,
            stopAtName);
        return s == Status::Cancelled ? Status::Ok : s;
    }
    if (probed != Status::NotStrong)
        return probed;
    Opened opened;
    return openVersion2(passphrase, input, opened, result);
}

} // namespace strong
