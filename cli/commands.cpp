#include "commands.h"

#include "conversion_command.h"
#include "exit_codes.h"
#include "info.h"
#include "kind_names.h"
#include "layout.h"
#include "passphrase.h"
#include "strong_format.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace cli {
namespace {

int runHelp(const Options &) {
    std::fputs(helpText().c_str(), stdout);
    return kExitOk;
}

int runVersion(const Options &) {
    std::puts("tolvex-cli " TOLVEX_VERSION);
    return kExitOk;
}

// The commands in the order the usage text lists them.
const Command kCommands[] = {
    {"encrypt",
     {},
     "[--disguise KIND] [--compress] [--strong [--kdf PRESET]]\n"
     "[--output BASE | --output-dir DIR] [--force] [--jobs N]\n"
     "[--quiet] PATH...",
     {"--disguise", "--compress", "--output", "--output-dir", "--force", "--jobs",
      "--archiver-wait", "--quiet", "--key-file", "--key", "--strong", "--kdf"},
     true,
     runEncrypt},
    {"decrypt",
     {},
     "[--output BASE | --output-dir DIR] [--force] [--extract]\n"
     "[--keep-damaged] [--jobs N] [--quiet] PATH...",
     {"--extract", "--output", "--output-dir", "--force", "--keep-damaged", "--jobs",
      "--archiver-wait", "--quiet", "--key-file", "--key"},
     true,
     runDecrypt},
    {"info",
     {},
     "[--key-file FILE] PATH...",
     {"--jobs", "--archiver-wait", "--quiet", "--key-file"},
     true,
     runInfo},
    {"help", {"--help", "-h"}, nullptr, {}, false, runHelp},
    {"--version", {}, nullptr, {}, false, runVersion},
};

// "  tolvex-cli encrypt LINE", further lines beneath the first.
std::string usageText() {
    std::string text = "Usage:\n";
    for (const Command &command : kCommands) {
        if (!command.usage)
            continue;
        const std::string lead = std::string("  tolvex-cli ") + command.name + " ";
        text += lead + hangingIndent(command.usage, lead.size()) + "\n";
    }
    return text;
}

} // namespace

const Command *findCommand(const std::string &typed) {
    for (const Command &command : kCommands) {
        if (typed == command.name)
            return &command;
        for (const char *alias : command.aliases)
            if (typed == alias)
                return &command;
    }
    return nullptr;
}

ParseResult parseCommandLine(const std::vector<std::string> &arguments) {
    if (arguments.empty())
        return {std::nullopt, "no command; try 'tolvex-cli --help'"};
    const Command *command = findCommand(arguments[0]);
    if (!command)
        return {std::nullopt, unknownCommand(arguments[0])};
    if (!command->takesInputs) {
        Options o;
        o.command = command->name;
        return {o, {}};
    }
    ParseResult parsed =
        parseOptions(command->name, command->options, {arguments.begin() + 1, arguments.end()});
    if (parsed.helpAsked) {
        Options help;
        help.command = findCommand("--help")->name;
        return {help, {}};
    }
    return parsed;
}

std::string unknownCommand(const std::string &typed) {
    std::vector<const char *> listed;
    for (const Command &command : kCommands)
        if (command.usage)
            listed.push_back(command.name);
    std::string names;
    for (size_t i = 0; i < listed.size(); ++i)
        names += (i == 0 ? "" : i + 1 == listed.size() ? " and " : ", ") + std::string(listed[i]);
    return "unknown command '" + typed + "'; the commands are " + names +
           " (try 'tolvex-cli --help')";
}

int runCommand(const Options &options) {
    const Command *command = findCommand(options.command);
    return command ? command->run(options) : kExitInternal;
}

// Each disguise's largest strong content, as "bmp 3.99 GiB", a few to a line.
std::string strongLimitsText() {
    std::string text, line = " ";
    for (int kind = 0; kind < tolvex::kKindCount; ++kind) {
        const uint64_t most = strong::maxContent(kind);
        char size[32];
        // Rounded down: a limit shown must hold.
        if (most >= (uint64_t(1) << 50))
            std::snprintf(size, sizeof size, "no limit");
        else if (most >= (uint64_t(1) << 40))
            std::snprintf(size, sizeof size, "%.0f TiB", double(most >> 40));
        else if (most >= (uint64_t(1) << 30))
            std::snprintf(size, sizeof size, "%.2f GiB",
                          std::floor(double(most) / double(1 << 30) * 100) / 100);
        else
            std::snprintf(size, sizeof size, "%.0f MiB", double(most >> 20));
        const std::string item =
            " " + tolvex::kindName(kind) + " " + size + (kind + 1 < tolvex::kKindCount ? "," : ".");
        if (line.size() + item.size() > 80) {
            text += line + "\n";
            line = " ";
        }
        line += item;
    }
    return text + line + "\n";
}

std::string helpText() {
    return usageText() +
           "\n"
           "Encrypts files under a key code of up to eight hexadecimal digits and disguises\n"
           "them as files of another type, or turns them back. The protection is weak: it\n"
           "keeps casual eyes off a file, never secrets from someone who wants them.\n"
           "\n"
           "Options:\n" +
           optionsHelp() +
           "\n"
           "The key: typed at a prompt (without echo) when standard input is a terminal,\n"
           "otherwise from --key-file or the environment variable TOLVEX_KEY. Keys 8000 to FFFF\n"
           "mean FFFF8000 to FFFFFFFF, as in the window. A key file is read to its end (at most\n"
           "4 KiB) and may be a regular file or a pipe (- , <(pass show tolvex), a FIFO, which\n"
           "is waited for); a device or a socket is refused rather than read forever.\n"
           "The passphrase of a strong file: typed twice at a prompt (once to decrypt), or from\n"
           "--key-file or the environment variable TOLVEX_PASSPHRASE. " +
           kPassphraseRule +
           "In a run of classic and strong files, --key-file serves only the kind that has no\n"
           "other source (TOLVEX_PASSPHRASE, or --key or TOLVEX_KEY).\n"
           "A strong file is a valid file of its disguise with nothing in it that says what it\n"
           "holds: decrypt tries the passphrase on every file that is not a classic one, under\n"
           "each --kdf preset in turn (interactive, moderate, sensitive). A right passphrase\n"
           "costs the derivations up to its file's preset; a wrong one, or a file that is not\n"
           "ours, costs all three (a few seconds and, for a moment, 1 GiB of memory), and is\n"
           "told as one: not a Tolvex file, or the wrong passphrase. info opens strong files\n"
           "with TOLVEX_PASSPHRASE or --key-file when given one.\n"
           "The most content a strong file holds, by disguise (more is refused before anything\n"
           "is written):\n" +
           strongLimitsText() +
           "--compress follows an input that is a link, as cp does; inside a folder it packs\n"
           "a link as what it names only when that lies inside the folder, and refuses one\n"
           "that leads out of it.\n"
           "Tolvex.dat is looked for beside the program first, then in the working directory.\n"
           "When SOURCE_DATE_EPOCH is set, it seeds the filler instead of the clock, so that\n"
           "encrypting the same file twice gives the same bytes.\n"
           "\n"
           "Examples:\n"
           "  tolvex-cli encrypt --disguise png holiday.jpg        # writes holiday.png\n"
           "  TOLVEX_KEY=1A2B tolvex-cli decrypt --output-dir out *.png\n"
           "  tolvex-cli encrypt --compress --disguise zip --key-file ~/.tolvex-key photos/\n"
           "  tolvex-cli decrypt --extract --key-file ~/.tolvex-key photos.zip\n"
           "  tolvex-cli info holiday.png\n"
           "\n" +
           kExitCodeTable;
}

} // namespace cli
