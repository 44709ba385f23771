// What the strong format's parts share: its fixed sizes, the key derivation's parameters, the
// results, the streams the content moves through, and the naming rule for recorded names.
#pragma once

#include "naming.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace strong {

inline constexpr size_t kMarkerSize = 8;
inline constexpr uint8_t kMarker[kMarkerSize] = {0xE2, 'T', 'V', 'X', 'S', 0x0D, 0x0A, 0x1A};
inline constexpr uint8_t kVersion = 1; // the version a marker stands before
inline constexpr uint8_t kVersion2 = 2;
inline constexpr uint8_t kKdfArgon2id = 2; // libsodium's number for Argon2id v1.3
inline constexpr uint8_t kChunkShift = 16;
inline constexpr size_t kChunkSize = size_t(1) << kChunkShift; // plain bytes per chunk
inline constexpr size_t kSaltSize = 16;
inline constexpr size_t kStreamHeaderSize = 24;
inline constexpr size_t kTagSize = 17;      // what each chunk grows by
inline constexpr size_t kPreambleSize = 67; // after the disguise header
inline constexpr size_t kNameFieldSize = 256;
inline constexpr size_t kMetadataSize = 8 + 2 + kNameFieldSize;
inline constexpr size_t kMaxNameSize = kNameFieldSize - 1;

struct KdfParams {
    uint32_t opsLimit = 0;
    uint64_t memLimit = 0; // bytes
};

// What a reader accepts at most: a file asking for more is refused before anything is
// allocated, so no file can make the reader take unbounded memory or time.
inline constexpr uint32_t kMaxOpsLimit = 16;
inline constexpr uint64_t kMaxMemLimit = uint64_t(1) << 30;
// What a reader accepts at least (libsodium's minimum for Argon2id).
inline constexpr uint32_t kMinOpsLimit = 1;
inline constexpr uint64_t kMinMemLimit = 8192;

enum class Status {
    Ok,
    NotStrong,   // no strong preamble where the disguise ends
    Unsupported, // a strong preamble of another version or with parameters out of bounds
    Damaged,     // wrong passphrase, or a changed, truncated or extended file
    NotOpened,   // not classic, and does not open with this passphrase under any preset
    TooLarge,    // more content than the disguise kind holds; nothing written
    ReadFailed,
    WriteFailed,
    NameTooLong,
    BadName,  // a name to record that readers refuse (a control character, a '/', . or ..)
    NoMemory, // the key derivation could not have its memory
    Cancelled,
    OutputExists, // publishing without replacing: the output's name is taken
};

// Reads the next bytes of a stream: how many arrived (0 at the end), -1 on failure.
using ReadFn = std::function<int64_t(uint8_t *, size_t)>;
// Writes bytes; false on failure.
using WriteFn = std::function<bool(const uint8_t *, size_t)>;

struct Hooks {
    std::function<void(uint64_t)> progress; // plain bytes done so far
    const std::atomic<bool> *cancel = nullptr;
    // Decryption: told the recorded name before any content is decrypted; anything but Ok
    // (NameTooLong for an output name the file system cannot take) stops there.
    std::function<Status(const std::string &)> acceptName;
};

struct Decrypted {
    std::string name;
    uint64_t size = 0;
    int version = 0;
    int kind = 0; // the disguise
    KdfParams kdf;
};

// Whether a recorded name may be used: 1 to 255 bytes under the rule for recorded extensions
// (no separator, not . or .., no control character).
inline bool isUsableName(const std::string &name) {
    return !name.empty() && name.size() <= kMaxNameSize && tolvex::isUsableExtension(name);
}

} // namespace strong
