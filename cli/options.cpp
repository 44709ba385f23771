#include "options.h"

#include "kinds.h"

#include <algorithm>
#include <charconv>
#include <string_view>

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

// Takes an option's value into the options; an error text when the value is not one.
using Store = std::optional<std::string> (*)(Options &, const std::string &option,
                                             const std::string &value);

// One option, declared once: its names, what it sets, and its lines in --help. The commands
// that take it name it in their rows.
struct OptionRow {
    const char *shortName;     // "-d", or nullptr
    const char *longName;      // "--disguise"
    const char *valueName;     // "KIND"; nullptr for a flag
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

// The options in the order --help lists them. The disguise's help ends with the kinds' list.
const OptionRow kOptions[] = {
    {"-d", "--disguise", "KIND", " applies to encrypt only: decrypt recognises the disguise",
     nullptr, storeKind, "disguise when encrypting, by name or number (default none):"},
    {"-c", "--compress", nullptr, nullptr, &Options::compress, nullptr,
     "pack each input (a file or a folder) into an LHA archive\n"
     "first, through libunlha32.so beside the program"},
    {"-x", "--extract", nullptr, nullptr, &Options::extract, nullptr,
     "after decrypting an LHA archive, unpack it beside the output\n"
     "instead of keeping the archive"},
    {"-o", "--output", "BASE", nullptr, nullptr, storeText<&Options::output>,
     "output path without extension (one input only); the\n"
     "extension of the disguise, or the recorded one, is added"},
    {nullptr, "--output-dir", "DIR", nullptr, nullptr, storeText<&Options::outputDir>,
     "put outputs in DIR; by default each goes beside its input,\n"
     "named as the input without its extension"},
    {"-f", "--force", nullptr, nullptr, &Options::force, nullptr,
     "replace existing outputs (atomically)"},
    {nullptr, "--keep-damaged", nullptr, nullptr, &Options::keepDamaged, nullptr,
     "keep a decoded file whose content check failed"},
    {"-j", "--jobs", "N", nullptr, nullptr, storeJobs, "convert N inputs at a time (default 1)"},
    {nullptr, "--archiver-wait", "S", nullptr, nullptr, storeArchiverWait,
     "wait up to S seconds while another program uses the\n"
     "archiver library (default 60)"},
    {"-q", "--quiet", nullptr, nullptr, &Options::quiet, nullptr,
     "print errors only; no progress bar, no summary"},
    {nullptr, "--key-file", "FILE", nullptr, nullptr, storeText<&Options::keyFile>,
     "read the key or passphrase from FILE, which holds it on one line (- for standard "
     "input)"},
    {nullptr, "--key", "HEX", nullptr, nullptr, storeText<&Options::keyText>,
     "the key itself; other users can see it: avoid"},
    {nullptr, "--strong", nullptr, nullptr, &Options::strong, nullptr,
     "encrypt with a passphrase (Argon2id, XChaCha20-Poly1305)\n"
     "inside the same disguise; decrypt recognises such files"},
    {nullptr, "--kdf", "PRESET", nullptr, nullptr, storeKdf,
     "with --strong: interactive, moderate (default) or sensitive"},
};

const OptionRow *findOption(const std::string &name) {
    for (const OptionRow &entry : kOptions)
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
    return line + hangingIndent(help, kTextColumn) + "\n";
}

} // namespace

std::string hangingIndent(const std::string &text, size_t column) {
    std::string out;
    for (const char c : text)
        out += c == '\n' ? "\n" + std::string(column, ' ') : std::string(1, c);
    return out;
}

std::string optionsHelp() {
    std::string text;
    for (const OptionRow &entry : kOptions) {
        text += helpEntry(entry.shortName, entry.longName, entry.valueName, entry.help);
        if (entry.store == storeKind)
            text += "    " + kindList() + "\n";
    }
    return text + helpEntry("-h", "--help", nullptr, "this text");
}

ParseResult parseOptions(const std::string &command, std::initializer_list<const char *> accepted,
                         const std::vector<std::string> &arguments) {
    Options o;
    o.command = command;
    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
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
            return {std::nullopt, {}, true};
        const OptionRow *entry = findOption(arg);
        if (!entry)
            return failure("unknown option '" + arg + "' (try 'tolvex-cli --help')");
        if (std::find_if(accepted.begin(), accepted.end(), [&](const char *name) {
                return std::string_view(name) == entry->longName;
            }) == accepted.end())
            return failure(arg + (entry->notApplicable ? entry->notApplicable
                                                       : " does not apply to " + o.command));
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

} // namespace cli
