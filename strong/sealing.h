// The pieces both format versions seal and open their chunks with: key material in guarded
// memory, the key derivation, and a helper thread that overlaps reading and writing with the
// work on the current batch of chunks.
#pragma once

#include "strong_types.h"

#include <sodium.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace strong::sealing {

inline constexpr size_t kKeySize = crypto_secretstream_xchacha20poly1305_KEYBYTES;
inline constexpr size_t kSealedChunkSize = kChunkSize + kTagSize;
inline constexpr size_t kSealedMetadataSize = kMetadataSize + kTagSize;
// Chunks per read and write: fewer system calls, still a bounded amount of memory.
inline constexpr size_t kBatchChunks = 16;

bool sodiumReady();
uint64_t loadLe64(const uint8_t *p);
void storeLe64(uint8_t *p, uint64_t v);

// Fills `buffer` from the stream as far as it goes: the count, or -1 on a read failure.
int64_t readFully(const ReadFn &read, uint8_t *buffer, size_t size);

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

// Plain bytes, wiped when they go.
struct Wiped {
    std::vector<uint8_t> data;
    explicit Wiped(size_t n) : data(n) {}
    Wiped(const Wiped &) = delete;
    Wiped &operator=(const Wiped &) = delete;
    ~Wiped() { sodium_memzero(data.data(), data.size()); }
};

bool withinBounds(const KdfParams &kdf);

// Derives the stream key; the parameters must be within bounds already. One derivation runs
// at a time, so that converting several files at once never multiplies its memory.
Status deriveKey(std::string_view passphrase, const uint8_t *salt, const KdfParams &kdf,
                 SecretKey &key);

// The metadata's plain bytes: the content's size and the recorded name, padded so that the
// name's length does not show.
void fillMetadata(Wiped &metadata, uint64_t size, const std::string &name);
// Reads them back: Ok, or Damaged for a length, name or padding no writer makes.
Status readMetadata(const uint8_t *plain, Decrypted &result);

bool cancelled(const Hooks &hooks);

// Runs one task at a time on a thread of its own. What a task throws stays on its thread and
// turns into a failed wait(). The thread finishes its task and is joined on destruction.
class Helper {
  public:
    Helper() : m_thread([this] { loop(); }) {}
    Helper(const Helper &) = delete;
    Helper &operator=(const Helper &) = delete;
    ~Helper();
    void run(std::function<void()> task);
    // Waits for the task given last; false when it threw.
    bool wait();

  private:
    void loop();
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::function<void()> m_task;
    bool m_done = true;
    bool m_failed = false;
    bool m_stopping = false;
    std::jthread m_thread; // last: joined before the rest goes
};

// Seals `size` content bytes from `read` as chunks of kChunkSize (the last shorter, maybe
// empty, with the final tag) and hands them to `put` a batch at a time.
Status sealContent(StreamState &state, uint64_t size, const ReadFn &read,
                   const std::function<bool(const uint8_t *, size_t)> &put, const Hooks &hooks);

// Opens the content chunks of content that is `size` bytes long from `read`: each chunk is
// read whole (its length follows from the size), must carry the tag its place calls for, and
// is verified before its content goes to `write`.
Status openContent(StreamState &state, uint64_t size, const ReadFn &read, const WriteFn &write,
                   const Hooks &hooks);

} // namespace strong::sealing
