// The program's exit statuses. Scripts rely on these numbers: never renumber them.
#pragma once

#include <string>
#include <vector>

namespace cli {

enum ExitCode : int {
    kExitOk = 0,
    kExitMixed = 1,            // several inputs failed, for different reasons
    kExitUsage = 2,            // bad option, disguise name or key text; no key given
    kExitWrongKey = 3,         // wrong key, or not an encoded file
    kExitDamaged = 4,          // decoded, but the content check failed
    kExitInputMissing = 5,     // an input does not exist
    kExitInputUnreadable = 6,  // an input cannot be read, is a folder without --compress, or
                               // its name cannot be recorded
    kExitOutputExists = 7,     // an output exists and --force was not given
    kExitCannotWrite = 8,      // the output cannot be written: read-only folder, full disk,
                               // name too long
    kExitSameFile = 9,         // the output would be the input, or two inputs share an output
    kExitTemplateMissing = 10, // Tolvex.dat not found beside the program nor here
    kExitArchiver = 11,        // the archiver library is missing, stays busy, or failed
    kExitInternal = 12,        // out of memory or another unexpected failure
    kExitInterrupted = 130,    // 128 + SIGINT; SIGTERM and SIGHUP give 128 + their number
};

// The table printed by --help.
inline constexpr const char *kExitCodeTable =
    "Exit status:\n"
    "  0   every input succeeded\n"
    "  1   several inputs failed, for different reasons (see the messages)\n"
    "  2   usage error: unknown option, bad disguise name or key text, no key\n"
    "  3   wrong key, or not an encoded file (info: does not look encoded)\n"
    "  4   damaged: decoded, but the content check failed (nothing kept\n"
    "      unless --keep-damaged)\n"
    "  5   an input does not exist\n"
    "  6   an input cannot be read, is a folder without --compress, or its name\n"
    "      holds a control character (no decrypted name may)\n"
    "  7   an output exists (use --force to replace it)\n"
    "  8   an output cannot be written: read-only folder, full disk (extracting\n"
    "      too), name too long, I/O error\n"
    "  9   the output would be the input itself, or two inputs share an output\n"
    "  10  Tolvex.dat not found beside the program nor in the working directory\n"
    "  11  the archiver library is missing, stays busy, or packing or extraction\n"
    "      failed\n"
    "  12  out of memory or another unexpected failure\n"
    "  130 interrupted (143 terminated); unfinished outputs are removed\n";

// The exit status for these per-input codes: 0 when all are 0, the shared code when every
// failure has the same one, otherwise kExitMixed.
int combinedExitCode(const std::vector<int> &codes);

// Prints "tolvex-cli: MESSAGE" on standard error; gives `code` back, to end with.
int exitWith(int code, const std::string &message);

} // namespace cli
