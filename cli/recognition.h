// What can be told about a file without its key: the disguise, the header and payload lengths,
// the recorded extension, and whether it looks like an encoded file at all.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace cli {

enum class Verdict {
    Encoded,    // a disguise header exactly as in Tolvex.dat, and a sound control record
    Possibly,   // a sound control record, but no disguise (or a header of another Tolvex.dat)
    NotEncoded, // too short, or the control record cannot be one
};

struct Recognition {
    std::string error;   // set when the file could not be read
    int errorNumber = 0; // errno of that failure
    uint64_t size = 0;
    int kind = 0; // the disguise recognised from the first bytes; 0 for none
    uint32_t headerLength = 0;
    std::optional<bool> headerMatchesTemplate; // unset when there is no header or no template
    bool recordPresent = false;           // the file is long enough for header and control record
    std::optional<std::string> extension; // the recorded extension, when usable as a name
    uint64_t payloadLength = 0;
    Verdict verdict = Verdict::NotEncoded;
};

// Reads the first bytes of the file. templatePath may be empty: the header is then not
// compared. Never reports anything derived from the key.
Recognition recognise(const std::string &path, const std::string &templatePath);

} // namespace cli
