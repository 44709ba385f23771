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
#include "strong_types.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace strong {

// Version 2's body before the content chunks: salt, stream header and the sealed metadata.
inline constexpr size_t kBodyOpeningSize = kSaltSize + kStreamHeaderSize + kMetadataSize + kTagSize;

// How long version 2's body is for content of `size` bytes.
uint64_t bodySize(uint64_t size);
// The most content a disguise kind holds.
uint64_t maxContent(int kind);

// The presets --kdf names: interactive (2 passes, 64 MiB), moderate (3, 256 MiB, the
// default), sensitive (4, 1 GiB).
std::optional<KdfParams> kdfPreset(const std::string &name);
KdfParams defaultKdf();
// The presets in the order a reader tries them: the cheapest first.
std::span<const KdfParams> kdfPresets();
// The preset's name ("interactive", ...), or empty for parameters of no preset.
std::string kdfName(const KdfParams &kdf);

// A text for a person; Damaged gives the one message for every authentication failure.
std::string statusText(Status status);

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

// Reads a strong file of either version and writes the content through `write`. The content
// is only trustworthy when the result is Ok: the caller keeps it staged until then. A file
// without version 1's marker that does not open with the passphrase is NotOpened.
Status decrypt(std::string_view passphrase, const ContainerInput &input, const WriteFn &write,
               Decrypted &result, const Hooks &hooks = {});

// Opens a strong file with the passphrase without decrypting its content: the version, kind,
// key derivation, recorded name and size.
Status identify(std::string_view passphrase, const ContainerInput &input, Decrypted &result);

} // namespace strong
