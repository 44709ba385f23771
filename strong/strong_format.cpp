#include "strong_format.h"

#include "disguise_header.h"
#include "fd.h"
#include "layout.h"
#include "naming.h"
#include "transfers.h"

#include <sodium.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace strong {
namespace {

constexpr size_t kKeySize = crypto_secretstream_xchacha20poly1305_KEYBYTES;
static_assert(kSaltSize == crypto_pwhash_SALTBYTES);
static_assert(kStreamHeaderSize == crypto_secretstream_xchacha20poly1305_HEADERBYTES);
static_assert(kTagSize == crypto_secretstream_xchacha20poly1305_ABYTES);
static_assert(kKdfArgon2id == crypto_pwhash_ALG_ARGON2ID13);
static_assert(kKeySize == 32);

// Offsets inside the preamble. Byte 14 stands where the engine reads an extension length:
// 0xFF is -1 there, so the engine answers "not an encoded file" whatever key it is given.
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
// Chunks per read and write: fewer system calls, still a bounded amount of memory.
constexpr size_t kBatchChunks = 16;

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

uint64_t loadLe64(const uint8_t *p) {
    return uint64_t(tolvex::loadLe32(p)) | uint64_t(tolvex::loadLe32(p + 4)) << 32;
}
void storeLe64(uint8_t *p, uint64_t v) {
    tolvex::storeLe32(p, uint32_t(v));
    tolvex::storeLe32(p + 4, uint32_t(v >> 32));
}

// Fills `buffer` from the stream as far as it goes: the count, or -1 on a read failure.
int64_t readFully(const ReadFn &read, uint8_t *buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        const int64_t n = read(buffer + done, size - done);
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += size_t(n);
    }
    return int64_t(done);
}

// Key material in libsodium's guarded memory: locked (never swapped out), fenced by guard
// pages, and wiped when it goes. valid() is false when such memory cannot be had.
template <typename T> class Guarded {
  public:
    Guarded() : m_value(static_cast<T *>(sodium_malloc(sizeof(T)))) {}
    ~Guarded() { sodium_free(m_value); }
    Guarded(const Guarded &) = delete;
    Guarded &operator=(const Guarded &) = delete;
    bool valid() const { return m_value != nullptr; }
    T *get() { return m_value; }

  private:
    T *m_value;
};

struct SecretKey {
    uint8_t bytes[kKeySize];
};
using StreamState = crypto_secretstream_xchacha20poly1305_state; // holds the subkey

struct Wiped {
    std::vector<uint8_t> data;
    explicit Wiped(size_t n) : data(n) {}
    Wiped(const Wiped &) = delete;
    Wiped &operator=(const Wiped &) = delete;
    ~Wiped() { sodium_memzero(data.data(), data.size()); }
};

bool withinBounds(const KdfParams &kdf) {
    return kdf.opsLimit >= kMinOpsLimit && kdf.opsLimit <= kMaxOpsLimit &&
           kdf.memLimit >= kMinMemLimit && kdf.memLimit <= kMaxMemLimit &&
           kdf.memLimit % 1024 == 0; // Argon2id counts in KiB: another value would be floored
}

// Derives the stream key. The parameters must be within bounds already. One derivation runs
// at a time, so that converting several files at once never multiplies its memory.
Status deriveKey(std::string_view passphrase, const uint8_t *salt, const KdfParams &kdf,
                 SecretKey &key) {
    static std::mutex oneAtATime;
    const std::lock_guard<std::mutex> lock(oneAtATime);
    // An empty view may have no data at all; libsodium wants a pointer even for no bytes.
    const char *bytes = passphrase.empty() ? "" : passphrase.data();
    if (crypto_pwhash(key.bytes, sizeof key.bytes, bytes, passphrase.size(), salt, kdf.opsLimit,
                      size_t(kdf.memLimit), crypto_pwhash_ALG_ARGON2ID13) != 0)
        return Status::NoMemory;
    return Status::Ok;
}

// The disguise header of a kind, unmasked from the template file.
std::optional<std::vector<uint8_t>> disguiseHeader(const std::string &templatePath, int kind) {
    if (tolvex::disguiseFor(kind).length == 0)
        return std::vector<uint8_t>();
    const tolvex::files::Fd templ(tolvex::files::openRegular(templatePath.c_str()));
    if (!templ.valid())
        return std::nullopt;
    return tolvex::readDisguiseHeader(kind, [&](uint64_t offset, void *buffer, size_t length) {
        return tolvex::files::readAt(templ.get(), offset, buffer, length);
    });
}

bool cancelled(const Hooks &hooks) {
    return hooks.cancel && hooks.cancel->load(std::memory_order_relaxed);
}

// Runs one task at a time on a thread of its own, so that reading the next batch and writing
// the last one overlap the work on the current one. What a task throws stays on its thread
// and turns into a failed wait(). The thread finishes its task and is joined on destruction.
class Helper {
  public:
    Helper() : m_thread([this] { loop(); }) {}
    Helper(const Helper &) = delete;
    Helper &operator=(const Helper &) = delete;
    ~Helper() {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_changed.notify_all();
    }
    void run(std::function<void()> task) {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_task = std::move(task);
            m_done = false;
        }
        m_changed.notify_all();
    }
    // Waits for the task given last; false when it threw.
    bool wait() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_done; });
        return !m_failed;
    }

  private:
    void loop() {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return bool(m_task) || m_stopping; });
            if (!m_task)
                return;
            std::function<void()> task = std::move(m_task);
            m_task = nullptr;
            lock.unlock();
            bool failed = false;
            try {
                task();
            } catch (...) {
                failed = true;
            }
            lock.lock();
            m_failed = failed;
            m_done = true;
            m_changed.notify_all();
        }
    }
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::function<void()> m_task;
    bool m_done = true;
    bool m_failed = false;
    bool m_stopping = false;
    std::jthread m_thread; // last: joined before the rest goes
};

} // namespace

std::optional<KdfParams> kdfPreset(const std::string &name) {
    if (name == "interactive")
        return KdfParams{crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE};
    if (name == "moderate")
        return KdfParams{crypto_pwhash_OPSLIMIT_MODERATE, crypto_pwhash_MEMLIMIT_MODERATE};
    if (name == "sensitive")
        return KdfParams{crypto_pwhash_OPSLIMIT_SENSITIVE, crypto_pwhash_MEMLIMIT_SENSITIVE};
    return std::nullopt;
}

KdfParams defaultKdf() {
    return *kdfPreset("moderate");
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
    case Status::ReadFailed:
        return "a read failed";
    case Status::WriteFailed:
        return "a write failed";
    case Status::TemplateFailed:
        return "Tolvex.dat cannot give the disguise header";
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

bool isUsableName(const std::string &name) {
    return !name.empty() && name.size() <= kMaxNameSize && tolvex::isUsableExtension(name);
}

Status encrypt(const EncryptRequest &request, const ReadFn &read, const WriteFn &write,
               const Hooks &hooks) {
    if (!sodiumReady())
        return Status::NoMemory;
    if (request.name.size() > kMaxNameSize)
        return Status::NameTooLong;
    if (!isUsableName(request.name))
        return Status::BadName; // readers would refuse it
    if (!withinBounds(request.kdf))
        return Status::Unsupported;
    const int kind = tolvex::disguiseFor(request.kind).kind;
    auto header = disguiseHeader(request.templatePath, kind);
    if (!header)
        return Status::TemplateFailed;
    std::vector<uint8_t> prefix = std::move(*header);
    const size_t headerLength = prefix.size();
    prefix.resize(headerLength + kPreambleSize, 0);
    uint8_t *p = prefix.data() + headerLength;
    std::memcpy(p, kMarker, kMarkerSize);
    p[kOffVersion] = kVersion;
    p[kOffKind] = uint8_t(kind);
    p[kOffKdf] = kKdfArgon2id;
    p[kOffChunkShift] = kChunkShift;
    p[kOffClassicGuard] = kClassicGuard;
    tolvex::storeLe32(p + kOffOps, request.kdf.opsLimit);
    storeLe64(p + kOffMem, request.kdf.memLimit);
    randombytes_buf(p + kOffSalt, kSaltSize);

    Guarded<SecretKey> key;
    Guarded<StreamState> stream;
    if (!key.valid() || !stream.valid())
        return Status::NoMemory;
    if (const Status s = deriveKey(request.passphrase, p + kOffSalt, request.kdf, *key.get());
        s != Status::Ok)
        return s;
    StreamState &state = *stream.get();
    crypto_secretstream_xchacha20poly1305_init_push(&state, p + kOffStreamHeader, key.get()->bytes);
    if (!write(prefix.data(), prefix.size()))
        return Status::WriteFailed;

    // The first chunk: size and name, padded so that the name's length does not show; the
    // whole disguise header and preamble are its additional data.
    Wiped meta(kMetadataSize);
    storeLe64(meta.data.data(), request.size);
    meta.data[8] = uint8_t(request.name.size());
    meta.data[9] = uint8_t(request.name.size() >> 8);
    std::memcpy(meta.data.data() + 10, request.name.data(), request.name.size());
    std::vector<uint8_t> sealed(kChunkSize + kTagSize);
    crypto_secretstream_xchacha20poly1305_push(&state, sealed.data(), nullptr, meta.data.data(),
                                               meta.data.size(), prefix.data(), prefix.size(),
                                               crypto_secretstream_xchacha20poly1305_TAG_MESSAGE);
    if (!write(sealed.data(), kMetadataSize + kTagSize))
        return Status::WriteFailed;

    // Then the content: full chunks, and a last one shorter than a chunk (maybe empty) that
    // carries the final tag. The content goes a batch of chunks at a time; a whole batch of
    // full chunks leaves the final chunk to the next, so there are size / batch + 1 batches.
    // While one batch is sealed, the helper writes the one before and reads the one after.
    const size_t batchSize = kBatchChunks * kChunkSize;
    const uint64_t batches = request.size / batchSize + 1;
    auto batchLength = [&](uint64_t k) {
        return size_t(std::min<uint64_t>(request.size - k * batchSize, batchSize));
    };
    Wiped plainA(batchSize), plainB(batchSize);
    uint8_t *plain[2] = {plainA.data.data(), plainB.data.data()};
    std::vector<uint8_t> outA(kBatchChunks * (kChunkSize + kTagSize)), outB(outA.size());
    uint8_t *out[2] = {outA.data(), outB.data()};
    size_t sealedBytes[2] = {0, 0};
    if (readFully(read, plain[0], batchLength(0)) != int64_t(batchLength(0)))
        return Status::ReadFailed;
    // What the helper reports; declared before it, since it may still run when we return.
    bool wrote = true, readWhole = true;
    Helper helper;
    uint64_t done = 0;
    for (uint64_t k = 0; k < batches; ++k) {
        if (cancelled(hooks))
            return Status::Cancelled;
        const int cur = int(k % 2), other = 1 - cur;
        wrote = readWhole = true;
        helper.run([&, k, other] {
            if (k > 0)
                wrote = write(out[other], sealedBytes[other]);
            if (k + 1 < batches)
                readWhole = readFully(read, plain[other], batchLength(k + 1)) ==
                            int64_t(batchLength(k + 1));
        });
        const size_t batch = batchLength(k);
        const bool wholeBatch = batch == batchSize;
        size_t offset = 0;
        sealedBytes[cur] = 0;
        while (!(wholeBatch && offset == batch)) {
            const size_t length = std::min(kChunkSize, batch - offset);
            const bool last = length < kChunkSize;
            crypto_secretstream_xchacha20poly1305_push(
                &state, out[cur] + sealedBytes[cur], nullptr, plain[cur] + offset, length, nullptr,
                0,
                last ? crypto_secretstream_xchacha20poly1305_TAG_FINAL
                     : crypto_secretstream_xchacha20poly1305_TAG_MESSAGE);
            offset += length;
            sealedBytes[cur] += length + kTagSize;
            if (last)
                break;
        }
        if (!helper.wait() || !wrote)
            return Status::WriteFailed;
        if (!readWhole)
            return Status::ReadFailed;
        done += batch;
        if (hooks.progress)
            hooks.progress(done);
    }
    const int lastBatch = int((batches - 1) % 2);
    if (!write(out[lastBatch], sealedBytes[lastBatch]))
        return Status::WriteFailed;
    // The source must have ended where its size said.
    uint8_t extra;
    if (readFully(read, &extra, 1) != 0)
        return Status::ReadFailed;
    return Status::Ok;
}

Status decrypt(std::string_view passphrase, const ReadFn &read, const WriteFn &write,
               Decrypted &result, const Hooks &hooks) {
    if (!sodiumReady())
        return Status::NoMemory;
    // The header length follows from the first bytes, exactly as the engine finds it.
    std::vector<uint8_t> prefix(8);
    const int64_t first = readFully(read, prefix.data(), prefix.size());
    if (first < 0)
        return Status::ReadFailed;
    prefix.resize(size_t(first));
    const auto length = tolvex::headerLengthFor(prefix);
    if (!length)
        return Status::NotStrong;
    const size_t whole = *length + kPreambleSize;
    if (prefix.size() < whole) {
        const size_t had = prefix.size();
        prefix.resize(whole);
        const int64_t more = readFully(read, prefix.data() + had, whole - had);
        if (more < 0)
            return Status::ReadFailed;
        prefix.resize(had + size_t(more));
    }
    Preamble preamble;
    if (const Status s = probe(prefix, preamble); s != Status::Ok)
        return s;
    prefix.resize(whole);
    const uint8_t *p = prefix.data() + preamble.headerLength;

    // The parameters were checked against the bounds above, before anything is allocated.
    Guarded<SecretKey> key;
    Guarded<StreamState> stream;
    if (!key.valid() || !stream.valid())
        return Status::NoMemory;
    if (const Status s = deriveKey(passphrase, p + kOffSalt, preamble.kdf, *key.get());
        s != Status::Ok)
        return s;
    StreamState &state = *stream.get();
    if (crypto_secretstream_xchacha20poly1305_init_pull(&state, p + kOffStreamHeader,
                                                        key.get()->bytes) != 0)
        return Status::Damaged;

    std::vector<uint8_t> sealed(kChunkSize + kTagSize);
    Wiped plain(kChunkSize);
    unsigned char tag = 0;
    unsigned long long plainLength = 0;
    int64_t got = readFully(read, sealed.data(), kMetadataSize + kTagSize);
    if (got < 0)
        return Status::ReadFailed;
    if (got != int64_t(kMetadataSize + kTagSize) ||
        crypto_secretstream_xchacha20poly1305_pull(&state, plain.data.data(), &plainLength, &tag,
                                                   sealed.data(), size_t(got), prefix.data(),
                                                   prefix.size()) != 0 ||
        tag != crypto_secretstream_xchacha20poly1305_TAG_MESSAGE || plainLength != kMetadataSize)
        return Status::Damaged;
    const uint64_t size = loadLe64(plain.data.data());
    const size_t nameLength = size_t(plain.data[8]) | size_t(plain.data[9]) << 8;
    if (nameLength > kMaxNameSize)
        return Status::Damaged;
    result.name.assign(reinterpret_cast<const char *>(plain.data.data() + 10), nameLength);
    result.size = size;
    // Writers zero the padding; a name against the rule was not written by one either.
    const auto padding = plain.data.begin() + 10 + std::ptrdiff_t(nameLength);
    if (!isUsableName(result.name) ||
        std::any_of(padding, plain.data.end(), [](uint8_t b) { return b != 0; }))
        return Status::Damaged;
    if (hooks.acceptName) {
        if (const Status s = hooks.acceptName(result.name); s != Status::Ok)
            return s;
    }

    // Chunks are read a batch at a time. Only a chunk shorter than a full one may be the last
    // (a batch cut short by the end of the file holds it); it must say so, and a full one must
    // not. Each chunk is verified before its content is passed on. While one batch is opened,
    // the helper writes the content of the one before and reads the one after.
    const size_t capacity = kBatchChunks * sealed.size();
    std::vector<uint8_t> inA(capacity), inB(capacity);
    uint8_t *in[2] = {inA.data(), inB.data()};
    Wiped outA(kBatchChunks * kChunkSize), outB(kBatchChunks * kChunkSize);
    uint8_t *out[2] = {outA.data.data(), outB.data.data()};
    int64_t available[2] = {readFully(read, in[0], capacity), 0};
    size_t produced[2] = {0, 0};
    // What the helper reports; declared before it, since it may still run when we return.
    bool wrote = true;
    Helper helper;
    uint64_t done = 0;
    for (uint64_t k = 0;; ++k) {
        if (cancelled(hooks))
            return Status::Cancelled;
        const int cur = int(k % 2), other = 1 - cur;
        if (available[cur] < 0)
            return Status::ReadFailed;
        const size_t have = size_t(available[cur]);
        const bool atEnd = have < capacity;
        wrote = true;
        helper.run([&, k, atEnd, other] {
            if (k > 0)
                wrote = write(out[other], produced[other]);
            if (!atEnd)
                available[other] = readFully(read, in[other], capacity);
        });
        size_t offset = 0;
        produced[cur] = 0;
        bool finished = false;
        while (!(offset == have && !atEnd)) {
            const size_t piece = std::min(sealed.size(), have - offset);
            const bool full = piece == sealed.size();
            if (piece < kTagSize || crypto_secretstream_xchacha20poly1305_pull(
                                        &state, out[cur] + produced[cur], &plainLength, &tag,
                                        in[cur] + offset, piece, nullptr, 0) != 0)
                return Status::Damaged;
            const bool final = tag == crypto_secretstream_xchacha20poly1305_TAG_FINAL;
            if (final == full ||
                (!final && tag != crypto_secretstream_xchacha20poly1305_TAG_MESSAGE))
                return Status::Damaged;
            if (plainLength > size - done - produced[cur])
                return Status::Damaged;
            offset += piece;
            produced[cur] += size_t(plainLength);
            if (final) {
                finished = true;
                break;
            }
        }
        if (!helper.wait() || !wrote)
            return Status::WriteFailed;
        done += produced[cur];
        if (hooks.progress)
            hooks.progress(done);
        if (finished) {
            if (!write(out[cur], produced[cur]))
                return Status::WriteFailed;
            break;
        }
    }
    if (done != size)
        return Status::Damaged;
    return Status::Ok;
}

} // namespace strong
