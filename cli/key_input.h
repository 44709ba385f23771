// Where the key code comes from and how its text becomes a number. The key text is never
// printed, not even in an error message.
#pragma once

#include "key_code.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cli {

// The window's rule, from the core library.
using tolvex::keyCodeFromText;

// Spaces, tabs and line ends cut from both ends.
std::string_view trimmed(std::string_view text);

struct KeySources {
    std::optional<std::string> keyFile;     // --key-file FILE ("-": standard input)
    std::optional<std::string> keyText;     // --key HEX (visible to other users: warned about)
    std::optional<std::string> environment; // TOLVEX_KEY
    bool interactive = false;               // standard input is a terminal
    bool confirm = false;                   // ask twice (encryption: a typo would be costly)
};

struct KeyResult {
    std::optional<uint32_t> key;
    std::string error;   // set when key is empty
    std::string warning; // set for --key
};

// Takes the first source given of: key file, --key, TOLVEX_KEY, then a prompt when
// interactive. Without any, an error says how to give one.
KeyResult obtainKey(const KeySources &sources);

// The first line of a key file (or of standard input for "-"), trimmed; nothing and an
// error message when it cannot be read. The file is read to its end, at most kMaxKeyFile
// bytes; it must be a regular file or a pipe (a FIFO is waited for, as the user named it),
// never a device or a socket, which could be read forever.
// One line typed at the terminal with echo off; nothing at end of input.
std::optional<std::string> promptHidden(const char *prompt);

inline constexpr size_t kMaxKeyFile = 4096;
std::optional<std::string> readKeyFile(const std::string &path, std::string &error);

} // namespace cli
