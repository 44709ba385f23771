// The options and inputs that follow a command word. Each option is declared once, in
// options.cpp; which commands take it, in their rows of the command table (commands.cpp).
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace cli {

struct Options {
    std::string command;                  // its name in the command table
    int kind = 0;                         // --disguise
    bool compress = false;                // --compress
    bool extract = false;                 // --extract
    bool force = false;                   // --force
    bool keepDamaged = false;             // --keep-damaged
    bool quiet = false;                   // --quiet
    std::optional<std::string> output;    // --output BASE
    std::optional<std::string> outputDir; // --output-dir DIR
    std::optional<std::string> keyFile;   // --key-file FILE
    std::optional<std::string> keyText;   // --key HEX
    unsigned jobs = 1;                    // --jobs N
    unsigned archiverWait = 60;           // --archiver-wait SECONDS
    bool strong = false;                  // --strong
    std::optional<std::string> kdf;       // --kdf PRESET (with --strong)
    std::vector<std::string> inputs;
};

struct ParseResult {
    std::optional<Options> options;
    std::string error;      // set when options is empty and help was not asked for
    bool helpAsked = false; // "-h" or "--help" stood among the options
};

// Parses the words after the command word for `command`, which takes the options named in
// `accepted` (by their long names). Options may come before or after the inputs; "--" ends
// them. Both "--opt VALUE" and "--opt=VALUE" are accepted.
ParseResult parseOptions(const std::string &command, std::initializer_list<const char *> accepted,
                         const std::vector<std::string> &arguments);

// The options' part of --help.
std::string optionsHelp();

// `text` with each line after the first indented by `column` spaces, as --help sets its
// columns.
std::string hangingIndent(const std::string &text, size_t column);

} // namespace cli
