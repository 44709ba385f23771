// Where the key code comes from and how its text becomes a number. The key text is never
// printed, not even in an error message.
#pragma once

#include "key_code.h"
#include "passphrase_rule.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cli {

// The window's rule, from the core library.
using tolvex::keyCodeFromText;

// ASCII white space (space, tab, LF, VT, FF, CR) cut from both ends; other bytes are kept.
using strong::trimmed;

struct KeySources {
    std::optional<std::string> keyFile; // --key-file FILE ("-": standard input), for messages
    std::optional<std::string_view> keyFileText; // what readKeyFile gave for it (a view)
    std::optional<std::string> keyText;          // --key HEX (visible to other users: warned about)
    std::optional<std::string> environment;      // TOLVEX_KEY
    bool interactive = false;                    // standard input is a terminal
    bool confirm = false;                        // ask twice (encryption: a typo would be costly)
};

struct KeyResult {
    std::optional<uint32_t> key;
    std::string error;   // set when key is empty
    std::string warning; // set for --key
};

// Takes the first source given of: key file, --key, TOLVEX_KEY, then a prompt when
// interactive. Without any, an error says how to give one.
KeyResult obtainKey(const KeySources &sources);

inline constexpr size_t kMaxKeyFile = 4096;

// One line typed at the terminal with echo off: nothing at end of input; `tooLong` when it had
// more than kMaxKeyFile bytes (the rest of the line is read and dropped, never kept).
struct TypedLine {
    std::optional<std::string> text;
    bool tooLong = false;
};
TypedLine promptHidden(const char *prompt);

// The one line a key file (or standard input for "-") holds, without one trailing LF or CRLF.
// The file is read to its end, at most kMaxKeyFile bytes; it must be a regular file or a pipe
// (a FIFO is waited for, as the user named it), never a device or a socket, which could be
// read forever. Nothing and an error message when it cannot be read, is larger, or holds more
// than one line that is not blank: it is never silently cut.
std::optional<std::string> readKeyFile(const std::string &path, std::string &error);
// The same rule for content already read; `where` names it in the error.
std::optional<std::string> keyFileLine(std::string_view content, const std::string &where,
                                       std::string &error);
// "standard input" for "-", else the quoted path.
std::string keyFileName(const std::string &path);

} // namespace cli
