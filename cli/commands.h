// The commands of tolvex-cli, declared once: a row gives a command's name, its lines in the
// usage text, the options it takes and what runs it. The usage text, the refusal of an unknown
// command and the dispatch all come from these rows.
#pragma once

#include "options.h"

#include <initializer_list>
#include <string>
#include <vector>

namespace cli {

struct Command {
    const char *name;                            // as typed, and as Options::command has it
    std::initializer_list<const char *> aliases; // other spellings ("--help", "-h")
    const char *usage;                           // after "tolvex-cli NAME " in --help, one
                                                 // line each; nullptr: not listed
    std::initializer_list<const char *> options; // the long names of the options it takes
    bool takesInputs;                            // false: whatever follows it is ignored
    int (*run)(const Options &options);          // returns the exit status
};

// The row of a command as typed, by name or alias; nullptr when there is none.
const Command *findCommand(const std::string &typed);

// Parses the arguments after the program name: the command word, then its options and inputs.
ParseResult parseCommandLine(const std::vector<std::string> &arguments);

// The refusal of a word that names no command.
std::string unknownCommand(const std::string &typed);

// The text of --help.
std::string helpText();

// Runs the parsed command. Returns the exit status.
int runCommand(const Options &options);

} // namespace cli
