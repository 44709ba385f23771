#include "sealing.h"

#include "little_endian.h"

#include <algorithm>
#include <cstring>

namespace strong::sealing {

static_assert(kSaltSize == crypto_pwhash_SALTBYTES);
static_assert(kStreamHeaderSize == crypto_secretstream_xchacha20poly1305_HEADERBYTES);
static_assert(kTagSize == crypto_secretstream_xchacha20poly1305_ABYTES);
static_assert(kKdfArgon2id == crypto_pwhash_ALG_ARGON2ID13);
static_assert(kKeySize == 32);

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

bool withinBounds(const KdfParams &kdf) {
    return kdf.opsLimit >= kMinOpsLimit && kdf.opsLimit <= kMaxOpsLimit &&
           kdf.memLimit >= kMinMemLimit && kdf.memLimit <= kMaxMemLimit &&
           kdf.memLimit % 1024 == 0; // Argon2id counts in KiB: another value would be floored
}

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

void fillMetadata(Wiped &metadata, uint64_t size, const std::string &name) {
    std::fill(metadata.data.begin(), metadata.data.end(), 0);
    storeLe64(metadata.data.data(), size);
    metadata.data[8] = uint8_t(name.size());
    metadata.data[9] = uint8_t(name.size() >> 8);
    std::memcpy(metadata.data.data() + 10, name.data(), name.size());
}

Status readMetadata(const uint8_t *plain, Decrypted &result) {
    const size_t nameLength = size_t(plain[8]) | size_t(plain[9]) << 8;
    if (nameLength > kMaxNameSize)
        return Status::Damaged;
    result.size = loadLe64(plain);
    result.name.assign(reinterpret_cast<const char *>(plain + 10), nameLength);
    // Writers zero the padding; a name against the rule was not written by one either.
    if (!isUsableName(result.name) ||
        std::any_of(plain + 10 + nameLength, plain + kMetadataSize, [](uint8_t b) { return b; }))
        return Status::Damaged;
    return Status::Ok;
}

bool cancelled(const Hooks &hooks) {
    return hooks.cancel && hooks.cancel->load(std::memory_order_relaxed);
}

Helper::~Helper() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
}

void Helper::run(std::function<void()> task) {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_task = std::move(task);
        m_done = false;
    }
    m_changed.notify_all();
}

bool Helper::wait() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_done; });
    return !m_failed;
}

void Helper::loop() {
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

namespace {

// Content bytes in batch `k` of content `size` bytes long: whole batches of chunks, and a
// last batch that holds the final chunk, shorter than a chunk (so a whole batch of full chunks
// leaves the final chunk to the next batch, and there are size / batch + 1 batches).
constexpr size_t kBatchSize = kBatchChunks * kChunkSize;
size_t batchLength(uint64_t size, uint64_t k) {
    return size_t(std::min<uint64_t>(size - k * kBatchSize, kBatchSize));
}
// The sealed bytes of such a batch: 17 more per chunk it holds.
size_t sealedLength(size_t plain) {
    const size_t chunks = plain == kBatchSize ? kBatchChunks : plain / kChunkSize + 1;
    return plain + chunks * kTagSize;
}

} // namespace

Status sealContent(StreamState &state, uint64_t size, const ReadFn &read,
                   const std::function<bool(const uint8_t *, size_t)> &put, const Hooks &hooks) {
    // While one batch is sealed, the helper hands on the one before and reads the one after.
    const uint64_t batches = size / kBatchSize + 1;
    Wiped plainA(kBatchSize), plainB(kBatchSize);
    uint8_t *plain[2] = {plainA.data.data(), plainB.data.data()};
    std::vector<uint8_t> outA(kBatchChunks * kSealedChunkSize), outB(outA.size());
    uint8_t *out[2] = {outA.data(), outB.data()};
    size_t sealedBytes[2] = {0, 0};
    if (readFully(read, plain[0], batchLength(size, 0)) != int64_t(batchLength(size, 0)))
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
                wrote = put(out[other], sealedBytes[other]);
            if (k + 1 < batches)
                readWhole = readFully(read, plain[other], batchLength(size, k + 1)) ==
                            int64_t(batchLength(size, k + 1));
        });
        const size_t batch = batchLength(size, k);
        const bool wholeBatch = batch == kBatchSize;
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
    if (!put(out[lastBatch], sealedBytes[lastBatch]))
        return Status::WriteFailed;
    // The source must have ended where its size said.
    uint8_t extra;
    if (readFully(read, &extra, 1) != 0)
        return Status::ReadFailed;
    return Status::Ok;
}

Status openContent(StreamState &state, uint64_t size, const ReadFn &read, const WriteFn &write,
                   const Hooks &hooks) {
    // While one batch is opened, the helper writes the content of the one before and reads
    // the one after. Every read is of exactly the sealed bytes its batch holds.
    const uint64_t batches = size / kBatchSize + 1;
    std::vector<uint8_t> inA(kBatchChunks * kSealedChunkSize), inB(inA.size());
    uint8_t *in[2] = {inA.data(), inB.data()};
    Wiped outA(kBatchSize), outB(kBatchSize);
    uint8_t *out[2] = {outA.data.data(), outB.data.data()};
    int64_t available[2] = {readFully(read, in[0], sealedLength(batchLength(size, 0))), 0};
    // What the helper reports; declared before it, since it may still run when we return.
    bool wrote = true;
    Helper helper;
    uint64_t done = 0;
    for (uint64_t k = 0; k < batches; ++k) {
        if (cancelled(hooks))
            return Status::Cancelled;
        const int cur = int(k % 2), other = 1 - cur;
        const size_t batch = batchLength(size, k);
        if (available[cur] < 0)
            return Status::ReadFailed;
        if (size_t(available[cur]) != sealedLength(batch))
            return Status::Damaged; // cut short
        wrote = true;
        helper.run([&, k, other] {
            if (k > 0)
                wrote = write(out[other], batchLength(size, k - 1));
            if (k + 1 < batches)
                available[other] =
                    readFully(read, in[other], sealedLength(batchLength(size, k + 1)));
        });
        const bool finalBatch = k + 1 == batches;
        size_t offset = 0, produced = 0;
        while (offset < size_t(available[cur])) {
            const size_t length = std::min(kChunkSize, batch - produced);
            const bool final = finalBatch && length < kChunkSize;
            unsigned char tag = 0;
            unsigned long long plainLength = 0;
            if (crypto_secretstream_xchacha20poly1305_pull(&state, out[cur] + produced,
                                                           &plainLength, &tag, in[cur] + offset,
                                                           length + kTagSize, nullptr, 0) != 0 ||
                plainLength != length ||
                tag != (final ? crypto_secretstream_xchacha20poly1305_TAG_FINAL
                              : crypto_secretstream_xchacha20poly1305_TAG_MESSAGE)) {
                helper.wait();
                return Status::Damaged;
            }
            offset += length + kTagSize;
            produced += length;
        }
        if (!helper.wait() || !wrote)
            return Status::WriteFailed;
        done += batch;
        if (hooks.progress)
            hooks.progress(done);
    }
    if (!write(out[(batches - 1) % 2], batchLength(size, batches - 1)))
        return Status::WriteFailed;
    return Status::Ok;
}

} // namespace strong::sealing
