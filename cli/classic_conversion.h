// The conversion steps of classic files: the engine's encoding under a key code.
#pragma once

#include "conversion.h"

#include <cstdint>
#include <optional>
#include <string>

namespace cli {

// Encodes `source` (the input, or its archive) into the open folder `folder` as its output
// name, published there whole, made with `permissions` when given. Nothing, or why nothing was
// written.
std::optional<Outcome> encryptClassic(Job &job, int folder, const std::string &source,
                                      std::optional<uint32_t> permissions, bool showProgress);

// Decodes the input into the open folder `folder` as decodedName(base, extension), published
// whole. A damaged content ends the input: nothing written, or kept under --keep-damaged.
// Nothing, or why the input ends here.
std::optional<Outcome> decryptClassic(Job &job, int folder);

} // namespace cli
