// The archiver's part in a conversion: encrypt --compress packs the input into an LHA archive
// first, decrypt --extract unpacks a decrypted archive beside the output.
#pragma once

#include "conversion.h"
#include "staging_folder.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace cli {

struct PackedInput {
    // The archive holds the plaintext: it goes to a folder of its own in the user's private
    // folder, never beside the program or the output. Removed with the archive.
    std::unique_ptr<StagingFolder> folder;
    std::string archive;
    // The input's permission bits: the output made from the archive takes them.
    std::optional<uint32_t> permissions;
};

// Packs the job's input. Nothing, or why it could not be packed.
std::optional<Outcome> packInput(const Job &job, PackedInput &packed);

// Extracts the decrypted archive `staged` and moves what it holds into the output folder.
Outcome extractArchive(const Job &job, const std::string &staged);

} // namespace cli
