#include "options.h"

#include "exit_codes.h"
#include "kinds.h"

#include <charconv>

namespace cli {
namespace {

std::optional<unsigned> parseCount(const std::string &text, unsigned low, unsigned high) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        value < low || value > high)
        return std::nullopt;
    return value;
}

ParseResult failure(std::string message) { return {std::nullopt, std::move(message)}; }

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
        return failure("unknown command '" + command + "'; the commands are encrypt, decrypt "
                       "and info (try 'tolvex-cli --help')");

    const bool encrypting = o.command == Command::Encrypt;
    const bool decrypting = o.command == Command::Decrypt;
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
        // Fetches the option's value, from "=VALUE" or the next argument.
        std::string missing;
        auto value = [&]() -> std::optional<std::string> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 < arguments.size())
                return arguments[++i];
            missing = arg + " needs a value";
            return std::nullopt;
        };
        auto flag = [&](bool allowed, bool &target) -> std::optional<std::string> {
            if (!allowed)
                return arg + " does not apply to " + command;
            if (inlineValue)
                return arg + " takes no value";
            target = true;
            return std::nullopt;
        };
        std::optional<std::string> error;
        if (arg == "-h" || arg == "--help") {
            return {Options{}, {}};
        } else if (arg == "-d" || arg == "--disguise") {
            if (!encrypting)
                return failure(arg + " applies to encrypt only: decrypt recognises the disguise");
            const auto v = value();
            if (!v)
                return failure(missing);
            const auto kind = parseKind(*v);
            if (!kind)
                return failure("unknown disguise '" + *v + "'; the disguises are:\n    " +
                               kindList());
            o.kind = *kind;
        } else if (arg == "-c" || arg == "--compress") {
            error = flag(encrypting, o.compress);
        } else if (arg == "-x" || arg == "--extract") {
            error = flag(decrypting, o.extract);
        } else if (arg == "-f" || arg == "--force") {
            error = flag(encrypting || decrypting, o.force);
        } else if (arg == "--keep-damaged") {
            error = flag(decrypting, o.keepDamaged);
        } else if (arg == "-q" || arg == "--quiet") {
            error = flag(true, o.quiet);
        } else if (arg == "-o" || arg == "--output" || arg == "--output-dir" ||
                   arg == "--key-file" || arg == "--key") {
            if (o.command == Command::Info)
                return failure(arg + " does not apply to info");
            const auto v = value();
            if (!v)
                return failure(missing);
            if (v->empty())
                return failure(arg + " needs a non-empty value");
            if (arg == "--output-dir")
                o.outputDir = *v;
            else if (arg == "--key-file")
                o.keyFile = *v;
            else if (arg == "--key")
                o.keyText = *v;
            else
                o.output = *v;
        } else if (arg == "--strong") {
            error = flag(encrypting, o.strong);
        } else if (arg == "--kdf") {
            const auto v = value();
            if (!v)
                return failure(missing);
            if (*v != "interactive" && *v != "moderate" && *v != "sensitive")
                return failure("--kdf takes interactive, moderate or sensitive");
            o.kdf = *v;
        } else if (arg == "-j" || arg == "--jobs") {
            const auto v = value();
            if (!v)
                return failure(missing);
            const auto n = parseCount(*v, 1, 256);
            if (!n)
                return failure("--jobs needs a number from 1 to 256");
            o.jobs = *n;
        } else if (arg == "--archiver-wait") {
            const auto v = value();
            if (!v)
                return failure(missing);
            const auto n = parseCount(*v, 0, 86400);
            if (!n)
                return failure("--archiver-wait needs a number of seconds from 0 to 86400");
            o.archiverWait = *n;
        } else {
            return failure("unknown option '" + arg + "' (try 'tolvex-cli --help')");
        }
        if (error)
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
               "  tolvex-cli encrypt [--disguise KIND] [--compress] [--output BASE | --output-dir DIR]\n"
               "                     [--force] [--jobs N] [--quiet] PATH...\n"
               "  tolvex-cli decrypt [--output BASE | --output-dir DIR] [--force] [--extract]\n"
               "                     [--keep-damaged] [--jobs N] [--quiet] PATH...\n"
               "  tolvex-cli info PATH...\n"
               "\n"
               "Encrypts files under a key code of up to eight hexadecimal digits and disguises\n"
               "them as files of another type, or turns them back. The protection is weak: it\n"
               "keeps casual eyes off a file, never secrets from someone who wants them.\n"
               "\n"
               "Options:\n"
               "  -d, --disguise KIND   disguise when encrypting, by name or number (default none):\n"
               "    ") +
           kindList() +
           "\n"
           "  -c, --compress        pack each input (a file or a folder) into an LHA archive\n"
           "                        first, through libunlha32.so beside the program\n"
           "  -x, --extract         after decrypting an LHA archive, unpack it beside the output\n"
           "                        instead of keeping the archive\n"
           "  -o, --output BASE     output path without extension (one input only); the\n"
           "                        extension of the disguise, or the recorded one, is added\n"
           "      --output-dir DIR  put outputs in DIR; by default each goes beside its input,\n"
           "                        named as the input without its extension\n"
           "  -f, --force           replace existing outputs (atomically)\n"
           "      --keep-damaged    keep a decoded file whose content check failed\n"
           "  -j, --jobs N          convert N inputs at a time (default 1)\n"
           "      --archiver-wait S wait up to S seconds while another program uses the\n"
           "                        archiver library (default 60)\n"
           "  -q, --quiet           print errors only; no progress bar, no summary\n"
           "      --key-file FILE   read the key from the first line of FILE (- for standard input)\n"
           "      --key HEX         the key itself; other users can see it: avoid\n"
           "      --strong          encrypt with a passphrase (Argon2id, XChaCha20-Poly1305)\n"
           "                        inside the same disguise; decrypt recognises such files\n"
           "      --kdf PRESET      with --strong: interactive, moderate (default) or sensitive\n"
           "  -h, --help            this text\n"
           "\n"
           "The key: typed at a prompt (without echo) when standard input is a terminal,\n"
           "otherwise from --key-file or the environment variable TOLVEX_KEY. Keys 8000 to FFFF\n"
           "mean FFFF8000 to FFFFFFFF, as in the window. A key file is read to its end (at most\n"
           "4 KiB) and may be a regular file or a pipe (- , <(pass show tolvex), a FIFO, which\n"
           "is waited for); a device or a socket is refused rather than read forever.\n"
           "The passphrase of a strong file: typed twice at a prompt (once to decrypt), or from\n"
           "--key-file or the environment variable TOLVEX_PASSPHRASE.\n"
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
