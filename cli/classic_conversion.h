// The conversion steps of classic files: the engine's encoding under a key code.
#pragma once

#include "conversion.h"

#include <cstdint>
#include <optional>
#include <string>

namespace cli {

// Encodes `source` (the input, or its archive) into the staging folder as
// encodedName(stagedBase, kind), made with `permissions` when given. Nothing, or why nothing
// was written.
std::optional<Outcome> encryptClassic(Job &job, const std::string &source,
                                      const std::string &stagedBase,
                                      std::optional<uint32_t> permissions, bool showProgress);

// Decodes the input into the staging folder as decodedName(stagedBase, extension). A damaged
// content ends the input: refused, or kept under --keep-damaged. Nothing, or why the input ends
// here.
std::optional<Outcome> decryptClassic(Job &job, const std::string &stagedBase);

} // namespace cli
