// The strong format: the content under a key derived from a passphrase (Argon2id), encrypted
// in authenticated chunks (XChaCha20-Poly1305). Every primitive is libsodium's.
// docs/strong-format.md describes the bytes.
//
// Version 2, which is written: a body of salt, stream header, sealed metadata and sealed
// chunks, held inside a real file of the disguise kind (strong/containers). Nothing in it is
// in clear: a file is recognised by opening it with the passphrase, under each key-derivation
// preset in turn.
// Version 1, which is still read: the classic disguise header, a preamble with a marker and
// the key derivation's settings, then the chunks.
#pragma once

#include "container.h"

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
// Version 2's body before the content chunks: salt, stream header and the sealed metadata.
inline constexpr size_t kBodyOpeningSize = kSaltSize + kStreamHeaderSize + kMetadataSize + kTagSize;

// How long version 2's body is for content of `size` bytes.
uint64_t bodySize(uint64_t size);
// The most content a disguise kind holds.
uint64_t maxContent(int kind);

struct KdfParams {
    uint32_t opsLimit = 0;
    uint64_t memLimit = 0; // bytes
};

// The presets --kdf names: interactive (2 passes, 64 MiB), moderate (3, 256 MiB, the
// default), sensitive (4, 1 GiB).
std::optional<KdfParams> kdfPreset(const std::string &name);
KdfParams defaultKdf();
// The presets in the order a reader tries them: the cheapest first.
std::span<const KdfParams> kdfPresets();
// The preset's name ("interactive", ...), or empty for parameters of no preset.
std::string kdfName(const KdfParams &kdf);

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

// What can be told of a version 1 file without the passphrase.
struct Preamble {
    int kind = 0;
    uint32_t headerLength = 0;
    uint8_t version = 0;
    KdfParams kdf;
};

// Looks at the start of a file (at least headerLength + kPreambleSize bytes when there are
// that many) for version 1's marker. Ok with the preamble filled, NotStrong, or Unsupported.
Status probe(std::span<const uint8_t> leading, Preamble &preamble);

// How many leading bytes probe() needs at most: the longest disguise plus the preamble.
size_t probeSize();

struct EncryptRequest {
    int kind = 0;
    KdfParams kdf;               // one of the presets
    std::string_view passphrase; // held by the caller, in a Secret
    std::string name;            // the original file name, kept inside the encryption
    uint64_t size = 0;           // exactly how many bytes `read` will give
};

// Writes the whole strong file (version 2) through `output`. Content beyond what the kind
// holds is TooLarge before anything is written.
Status encrypt(const EncryptRequest &request, const ReadFn &read, const ContainerOutput &output,
               const Hooks &hooks = {});

struct Decrypted {
    std::string name;
    uint64_t size = 0;
    int version = 0;
    int kind = 0; // the disguise
    KdfParams kdf;
};

// Reads a strong file of either version and writes the content through `write`. The content
// is only trustworthy when the result is Ok: the caller keeps it staged until then. A file
// without version 1's marker that does not open with the passphrase is NotOpened.
Status decrypt(std::string_view passphrase, const ContainerInput &input, const WriteFn &write,
               Decrypted &result, const Hooks &hooks = {});

// Opens a strong file with the passphrase without decrypting its content: the version, kind,
// key derivation, recorded name and size.
Status identify(std::string_view passphrase, const ContainerInput &input, Decrypted &result);

// Whether a recorded name may be used: 1 to 255 bytes under the rule for recorded extensions
// (no separator, not . or .., no control character).
bool isUsableName(const std::string &name);

} // namespace strong
