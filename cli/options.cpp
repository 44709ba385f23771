#include "options.h"

#include "exit_codes.h"
#include "kinds.h"
#include "passphrase.h"

#include <charconv>

namespace cli {
namespace {

std::optional<unsigned> parseCount(const std::string &text, unsigned low, unsigned high) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low ||
        value > high)
        return std::nullopt;
    return value;
}

ParseResult failure(std::string message) {
    return {std::nullopt, std::move(message)};
}

// Which commands an option belongs to.
enum Applies : unsigned { kToEncrypt = 1, kToDecrypt = 2, kToInfo = 4, kToAll = 7 };

bool appliesTo(unsigned applies, Command command) {
    switch (command) {
    case Command::Encrypt:
        return applies & kToEncrypt;
    case Command::Decrypt:
        return applies & kToDecrypt;
    case Command::Info:
        return applies & kToInfo;
    default:
        return false;
    }
}

// Takes an option's value into the options; an error text when the value is not one.
using Store = std::optional<std::string> (*)(Options &, const std::string &option,
                                             const std::string &value);

// One option, declared once: its names, the commands it belongs to, what it sets, and its
// lines in --help.
struct OptionSpec {
    const char *shortName; // "-d", or nullptr
    const char *longName;  // "--disguise"
    const char *valueName; // "KIND"; nullptr for a flag
    unsigned applies;
    const char *notApplicable; // the refusal after the option's name; nullptr: the usual one
    bool Options::*flag;       // what a flag sets
    Store store;               // what a value sets
    const char *help;          // lines of --help after the names column
};

std::optional<std::string> storeKind(Options &o, const std::string &, const std::string &v) {
    const auto kind = parseKind(v);
    if (!kind)
        return "unknown disguise '" + v + "'; the disguises are:\n    " + kindList();
    o.kind = *kind;
    return std::nullopt;
}

template <std::optional<std::string> Options::*Field>
std::optional<std::string> storeText(Options &o, const std::string &option, const std::string &v) {
    if (v.empty())
        return option + " needs a non-empty value";
    o.*Field = v;
    return std::nullopt;
}

std::optional<std::string> storeKdf(Options &o, const std::string &, const std::string &v) {
    if (v != "interactive" && v != "moderate" && v != "sensitive")
        return std::string("--kdf takes interactive, moderate or sensitive");
    o.kdf = v;
    return std::nullopt;
}

std::optional<std::string> storeJobs(Options &o, const std::string &, const std::string &v) {
    const auto n = parseCount(v, 1, 256);
    if (!n)
        return std::string("--jobs needs a number from 1 to 256");
    o.jobs = *n;
    return std::nullopt;
}

std::optional<std::string> storeArchiverWait(Options &o, const std::string &,
                                             const std::string &v) {
    const auto n = parseCount(v, 0, 86400);
    if (!n)
        return std::string("--archiver-wait needs a number of seconds from 0 to 86400");
    o.archiverWait = *n;
    return std::nullopt;
}

constexpr unsigned kConverting = kToEncrypt | kToDecrypt;

// The options in the order --help lists them. The disguise's help ends with the kinds' list.
const OptionSpec kOptions[] = {
    {"-d", "--disguise", "KIND", kToEncrypt,
     " applies to encrypt only: decrypt recognises the disguise", nullptr, storeKind,
     "disguise when encrypting, by name or number (default none):"},
    {"-c", "--compress", nullptr, kToEncrypt, nullptr, &Options::compress, nullptr,
     "pack each input (a file or a folder) into an LHA archive\n"
     "first, through libunlha32.so beside the program"},
    {"-x", "--extract", nullptr, kToDecrypt, nullptr, &Options::extract, nullptr,
     "after decrypting an LHA archive, unpack it beside the output\n"
     "instead of keeping the archive"},
    {"-o", "--output", "BASE", kConverting, nullptr, nullptr, storeText<&Options::output>,
     "output path without extension (one input only); the\n"
     "extension of the disguise, or the recorded one, is added"},
    {nullptr, "--output-dir", "DIR", kConverting, nullptr, nullptr, storeText<&Options::outputDir>,
     "put outputs in DIR; by default each goes beside its input,\n"
     "named as the input without its extension"},
    {"-f", "--force", nullptr, kConverting, nullptr, &Options::force, nullptr,
     "replace existing outputs (atomically)"},
    {nullptr, "--keep-damaged", nullptr, kToDecrypt, nullptr, &Options::keepDamaged, nullptr,
     "keep a decoded file whose content check failed"},
    {"-j", "--jobs", "N", kToAll, nullptr, nullptr, storeJobs,
     "convert N inputs at a time (default 1)"},
    {nullptr, "--archiver-wait", "S", kToAll, nullptr, nullptr, storeArchiverWait,
     "wait up to S seconds while another program uses the\n"
     "archiver library (default 60)"},
    {"-q", "--quiet", nullptr, kToAll, nullptr, &Options::quiet, nullptr,
     "print errors only; no progress bar, no summary"},
    {nullptr, "--key-file", "FILE", kConverting, nullptr, nullptr, storeText<&Options::keyFile>,
     "read the key or passphrase from FILE, which holds it on one line (- for standard "
     "input)"},
    {nullptr, "--key", "HEX", kConverting, nullptr, nullptr, storeText<&Options::keyText>,
     "the key itself; other users can see it: avoid"},
    {nullptr, "--strong", nullptr, kToEncrypt, nullptr, &Options::strong, nullptr,
     "encrypt with a passphrase (Argon2id, XChaCha20-Poly1305)\n"
     "inside the same disguise; decrypt recognises such files"},
    {nullptr, "--kdf", "PRESET", kToEncrypt, nullptr, nullptr, storeKdf,
     "with --strong: interactive, moderate (default) or sensitive"},
};

const OptionSpec *findOption(const std::string &name) {
    for (const OptionSpec &entry : kOptions)
        if (name == entry.longName || (entry.shortName && name == entry.shortName))
            return &entry;
    return nullptr;
}

// "  -d, --disguise KIND   text", the text in a column of its own, continued beneath.
std::string helpEntry(const char *shortName, const char *longName, const char *valueName,
                      const std::string &help) {
    constexpr size_t kTextColumn = 24;
    std::string line = std::string("  ") + (shortName ? std::string(shortName) + ", " : "    ") +
                       longName + (valueName ? std::string(" ") + valueName : "");
    line += line.size() < kTextColumn ? std::string(kTextColumn - line.size(), ' ') : " ";
    for (const char c : help)
        line += c == '\n' ? "\n" + std::string(kTextColumn, ' ') : std::string(1, c);
    return line + "\n";
}

std::string optionsHelp() {
    std::string text;
    for (const OptionSpec &entry : kOptions) {
        text += helpEntry(entry.shortName, entry.longName, entry.valueName, entry.help);
        if (entry.store == storeKind)
            text += "    " + kindList() + "\n";
    }
    return text + helpEntry("-h", "--help", nullptr, "this text");
}

} // namespace

ParseResult parseOptions(const std::vector<std::string> &arguments) {
    Options o;
    if (arguments.empty())
        return failure("no command; try 'tolvex-cli --help'");
    const std::string &command = arguments[0];
    if (command == "encrypt")
        o.command = Command::Encrypt;
    else if (command == "decrypt")
        o.command = Command::Decrypt;
    else if (command == "info")
        o.command = Command::Info;
    else if (command == "help" || command == "--help" || command == "-h")
        return {Options{}, {}};
    else if (command == "--version") {
        Options v;
        v.command = Command::Version;
        return {v, {}};
    } else
        return failure("unknown command '" + command +
                       "'; the commands are encrypt, decrypt "
                       "and info (try 'tolvex-cli --help')");

    bool optionsEnded = false;
    for (size_t i = 1; i < arguments.size(); ++i) {
        std::string arg = arguments[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            o.inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0) {
            if (const auto eq = arg.find('='); eq != std::string::npos) {
                inlineValue = arg.substr(eq + 1);
                arg.resize(eq);
            }
        }
        if (arg == "-h" || arg == "--help")
            return {Options{}, {}};
        const OptionSpec *entry = findOption(arg);
        if (!entry)
            return failure("unknown option '" + arg + "' (try 'tolvex-cli --help')");
        if (!appliesTo(entry->applies, o.command))
            return failure(arg + (entry->notApplicable ? entry->notApplicable
                                                       : " does not apply to " + command));
        if (!entry->valueName) {
            if (inlineValue)
                return failure(arg + " takes no value");
            o.*(entry->flag) = true;
            continue;
        }
        // The value: from "=VALUE" or the next argument.
        if (!inlineValue && i + 1 >= arguments.size())
            return failure(arg + " needs a value");
        const std::string value = inlineValue ? *inlineValue : arguments[++i];
        if (const auto error = entry->store(o, arg, value))
            return failure(*error);
    }
    if (o.inputs.empty())
        return failure("no input named (try 'tolvex-cli --help')");
    if (o.output && o.outputDir)
        return failure("give --output or --output-dir, not both");
    if (o.output && o.inputs.size() > 1)
        return failure("--output names one output; with several inputs use --output-dir");
    if (o.kdf && !o.strong)
        return failure("--kdf applies to encrypt --strong only");
    if (o.strong && o.keyText)
        return failure("--key does not apply to --strong: give the passphrase at the prompt, "
                       "with --key-file or in TOLVEX_PASSPHRASE");
    if (o.keyFile && o.keyText)
        return failure("give --key-file or --key, not both");
    return {o, {}};
}

std::string helpText() {
    return std::string(
               "Usage:\n"
               "  tolvex-cli encrypt [--disguise KIND] [--compress] [--strong [--kdf PRESET]]\n"
               "                     [--output BASE | --output-dir DIR] [--force] [--jobs N]\n"
               "                     [--quiet] PATH...\n"
               "  tolvex-cli decrypt [--output BASE | --output-dir DIR] [--force] [--extract]\n"
               "                     [--keep-damaged] [--jobs N] [--quiet] PATH...\n"
               "  tolvex-cli info PATH...\n"
               "\n"
               "Encrypts files under a key code of up to eight hexadecimal digits and disguises\n"
               "them as files of another type, or turns them back. The protection is weak: it\n"
               "keeps casual eyes off a file, never secrets from someone who wants them.\n"
               "\n"
               "Options:\n") +
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
