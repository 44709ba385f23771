// The archiver library's command lines, built in one place for the window and tolvex-cli.
// Each argument goes in double quotes, so a blank is fine; a double quote cannot be carried
// at all (the archiver would end the argument there and read the rest as further names), so
// a path holding one gets no command line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace archiver_commands {

// The character a quoted argument cannot hold.
inline constexpr char kUnquotable = '"';

// Whether a path can be given to the archiver.
bool canCarry(std::string_view path);

// Packs `input` (a file or a folder; trailing slashes do not count) into `archive`, stored
// under its own name relative to its folder: a -d -r2 "ARCHIVE" "FOLDER/" "NAME".
std::optional<std::string> packCommandLine(const std::string &archive, const std::string &input);

// Extracts every member of `archive` into `folder`, keeping the stored folders:
// e -d -r2 -jyo0 "ARCHIVE" "FOLDER/" "*".
std::optional<std::string> extractCommandLine(const std::string &archive,
                                              const std::string &folder);

} // namespace archiver_commands
