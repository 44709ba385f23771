// The strong format: the same disguise header as an encoded file, then a preamble that the
// engine takes for a file it did not make, then the content under a key derived from a
// passphrase (Argon2id) and encrypted in authenticated chunks (XChaCha20-Poly1305). Every
// primitive is libsodium's. docs/strong-format.md describes the bytes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace strong {

inline constexpr size_t kMarkerSize = 8;
inline constexpr uint8_t kMarker[kMarkerSize] = {0xE2, 'T', 'V', 'X', 'S', 0x0D, 0x0A, 0x1A};
inline constexpr uint8_t kVersion = 1;
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

// The presets --kdf names: interactive (2 passes, 64 MiB), moderate (3, 256 MiB, the
// default), sensitive (4, 1 GiB).
std::optional<KdfParams> kdfPreset(const std::string &name);
KdfParams defaultKdf();

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
    ReadFailed,
    WriteFailed,
    TemplateFailed, // Tolvex.dat cannot give the header
    NameTooLong,
    BadName,  // a name to record that readers refuse (a control character, a '/', . or ..)
    NoMemory, // the key derivation could not have its memory
    Cancelled,
    OutputExists, // publishing without replacing: the output's name is taken
};

// A text for a person; Damaged gives the one message for every authentication failure.
std::string statusText(Status status);

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

// What can be told without the passphrase.
struct Preamble {
    int kind = 0;
    uint32_t headerLength = 0;
    uint8_t version = 0;
    KdfParams kdf;
};

// Looks at the start of a file (at least headerLength + kPreambleSize bytes when there are
// that many). Ok with the preamble filled, NotStrong, or Unsupported.
Status probe(std::span<const uint8_t> leading, Preamble &preamble);

// How many leading bytes probe() needs at most: the longest disguise plus the preamble.
size_t probeSize();

struct EncryptRequest {
    int kind = 0;
    std::string templatePath; // Tolvex.dat
    KdfParams kdf;
    std::string_view passphrase; // held by the caller, in a Secret
    std::string name;            // the original file name, kept inside the encryption
    uint64_t size = 0;           // exactly how many bytes `read` will give
};

// Writes the whole strong file through `write`.
Status encrypt(const EncryptRequest &request, const ReadFn &read, const WriteFn &write,
               const Hooks &hooks = {});

struct Decrypted {
    std::string name;
    uint64_t size = 0;
};

// Reads a strong file from its first byte and writes the content through `write`. The
// content is only trustworthy when the result is Ok: the caller keeps it staged until then.
Status decrypt(std::string_view passphrase, const ReadFn &read, const WriteFn &write,
               Decrypted &result, const Hooks &hooks = {});

// Whether a recorded name may be used: 1 to 255 bytes under the rule for recorded extensions
// (no separator, not . or .., no control character).
bool isUsableName(const std::string &name);

} // namespace strong
