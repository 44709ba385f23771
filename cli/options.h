// The command line: a command, its options and the inputs.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cli {

enum class Command { Encrypt, Decrypt, Info, Help, Version };

struct Options {
    Command command = Command::Help;
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
    std::string error; // set when options is empty
};

// Parses the arguments after the program name. Options may come before or after the inputs;
// "--" ends them. Both "--opt VALUE" and "--opt=VALUE" are accepted.
ParseResult parseOptions(const std::vector<std::string> &arguments);

// The text of --help.
std::string helpText();

} // namespace cli
