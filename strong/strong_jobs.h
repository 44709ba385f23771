// Strong files on disk: a whole file encrypted into a new output, or decrypted into one.
#pragma once

#include "strong_format.h"

#include <cstdint>
#include <optional>
#include <string>

namespace strong {

struct StrongEncryption {
    int kind = 0;
    std::string templatePath;
    strong::KdfParams kdf;
    std::string_view passphrase; // held by the caller
    // The permission bits the output is made from, when the source is a stand-in (the archive
    // of a packed input) for what the user chose; the source's own otherwise.
    std::optional<uint32_t> permissions;
};

// Encrypts `source` into the new file `output` (which must not exist), recording `name`.
// errno is kept for ReadFailed and WriteFailed.
strong::Status encryptStrongFile(const std::string &source, const std::string &name,
                                 const std::string &output, const StrongEncryption &settings,
                                 const strong::Hooks &hooks);

// Decrypts `source` into the new file `output`. On any result but Ok, `output` is removed.
strong::Status decryptStrongFile(const std::string &source, const std::string &output,
                                 std::string_view passphrase, strong::Decrypted &result,
                                 const strong::Hooks &hooks);

// Probe of a file's first bytes: Ok for a strong file, NotStrong, or why it cannot be read
// (Unsupported, Damaged, ReadFailed).
strong::Status probeStrongFile(const std::string &path, strong::Preamble &preamble);

// What info shows of a strong file: its disguise and the key derivation's cost, nothing
// about the content.
std::string describeStrong(const std::string &shownPath, const strong::Preamble &preamble);

} // namespace strong
