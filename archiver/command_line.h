// Reads an archiver command line: a command letter, switches starting with '-', and arguments,
// which may be quoted to hold blanks.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace unlha {

struct Word {
    std::string text;
    bool quoted = false; // a quoted word is never a switch
};

// Splits at blanks and tabs outside double quotes; the quotes themselves are dropped.
// Nothing when a quote is left open.
std::optional<std::vector<Word>> splitWords(const std::string &line);

enum class Action { Pack, Extract };

struct Command {
    Action action = Action::Pack;
    int recursion = 0;       // -r, -r0, -r1, -r2: folders are entered when above 0
    bool storePaths = false; // -d
    bool overwrite = false;  // -jyo: never ask before replacing (we never ask anyway)
    std::string archive;
    std::string folder;             // base folder when packing, destination when extracting
    std::vector<std::string> names; // what to pack, or the member patterns to extract
};

// The command, or nothing with `error` set for an unknown command or switch, or a command
// without the arguments it needs. The word after the archive is the folder when it ends with
// '/', or, for extracting, when it names an existing folder.
std::optional<Command> parseCommand(const std::string &line, std::string &error);

} // namespace unlha
