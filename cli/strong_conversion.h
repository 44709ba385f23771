// The conversion steps of strong files (a passphrase, Argon2id, XChaCha20-Poly1305).
#pragma once

#include "conversion.h"

#include <cstdint>
#include <optional>
#include <string>

namespace cli {

// Encrypts `source` (the input, or its archive) into the open folder `folder` as the output's
// name, recording `name`, published there whole. `permissions`: see strong::StrongEncryption.
// Nothing, or why nothing was written.
std::optional<Outcome> encryptStrong(Job &job, int folder, const std::string &source,
                                     const std::string &name, std::optional<uint32_t> permissions,
                                     bool showProgress);

// Decrypts the input into the open folder `folder` (the output folder, or with `staged` a
// staging folder that holds it until extraction) under the output's name with its recorded
// extension, published only after it all verified; the plan learns the recorded extension and
// what the output is called. Nothing, or why the input ends here.
std::optional<Outcome> decryptStrong(Job &job, int folder, bool staged);

} // namespace cli
