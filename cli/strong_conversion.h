// The conversion steps of strong files (a passphrase, Argon2id, XChaCha20-Poly1305).
#pragma once

#include "conversion.h"

#include <cstdint>
#include <optional>
#include <string>

namespace cli {

// The outcome of a strong file that could not be read or written. `folder` is the output
// folder and `size` the source's, to tell a full disk.
Outcome strongFailure(strong::Status status, const std::string &source, const std::string &folder,
                      uint64_t size);

// Encrypts `source` (the input, or its archive) into the new file `staged`, recording `name`.
// `permissions`: see strong::StrongEncryption. Nothing, or why nothing was written.
std::optional<Outcome> encryptStrong(Job &job, const std::string &source, const std::string &name,
                                     const std::string &staged, std::optional<uint32_t> permissions,
                                     bool showProgress);

// Decrypts the input into the staging folder as decodedName(stagedBase, extension); the plan
// learns the recorded extension and what the output is called. The content is published only
// after it all verified. Nothing, or why the input ends here.
std::optional<Outcome> decryptStrong(Job &job, const std::string &stagedBase);

} // namespace cli
