// How outputs are named: an encoded file is the base plus its disguise's extension, a decoded
// one the base plus the recorded extension. The window, tolvex-cli and the engine all ask here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tolvex {

// "base.png" for kind 6; "base.tvx" for kind 0 and every number outside 1 to 15.
std::string encodedName(std::string_view base, int kind);

// "base.txt" for the recorded "txt"; the base itself when nothing was recorded (not "base.").
std::string decodedName(std::string_view base, std::string_view extension);

// Whether a recorded extension (or a strong file's recorded name) may name a file in the chosen
// folder and never another place, nor reach a terminal as a control sequence: no separator, not
// "." or "..", no NUL or other control character (below 0x20, and 0x7F). Bytes from 0x80 up
// are names in some encoding and are allowed.
bool isUsableExtension(std::string_view extension);

// A temporary's name "<prefix><pid>-XXXXXX": the six characters are letters and digits taken
// from `entropy`, so that a fresh value gives a fresh name.
std::string temporaryName(std::string_view prefix, unsigned long pid, uint64_t entropy);

// The process that made a temporary named "<prefix><pid>-XXXXXX" (six letters or digits after
// the dash), so that one left by a run that was killed can be told from a live one; 0 for a
// name of another form. A name alone never proves that a file is a temporary.
long temporaryOwner(std::string_view name, std::string_view prefix);

// A path's last element and the folder part before it, separator included ("a/b/" and "c").
struct SplitPath {
    std::string folder;
    std::string name;
};
SplitPath splitPath(std::string_view path);

} // namespace tolvex
