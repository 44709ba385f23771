// tolvex-cli: the engine of the window for terminals and scripts.
#include "archiver_client.h"
#include "convert_jobs.h"
#include "exit_codes.h"
#include "info.h"
#include "key_input.h"
#include "options.h"
#include "passphrase.h"
#include "paths.h"
#include "progress.h"
#include "staging.h"
#include "strong_jobs.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

using namespace cli;

int error(const std::string &message, int code) {
    std::fprintf(stderr, "tolvex-cli: %s\n", message.c_str());
    return code;
}

int runInfo(const Options &options) {
    const std::string templ = findTemplate(programFolder());
    std::vector<int> codes;
    for (const auto &input : options.inputs) {
        // The same recognition as decrypt's: a strong preamble decrypt would refuse is reported
        // as such, never judged again as a classic file.
        strong::Preamble preamble;
        const strong::Status strongProbe = probeStrongFile(input, preamble);
        if (strongProbe == strong::Status::Ok) {
            std::fputs(describeStrong(displayName(input), preamble).c_str(), stdout);
            codes.push_back(kExitOk);
            continue;
        }
        if (strongProbe == strong::Status::Unsupported || strongProbe == strong::Status::Damaged) {
            std::printf("%s:\n  encoded:        strong, but %s\n", displayName(input).c_str(),
                        strong::statusText(strongProbe).c_str());
            codes.push_back(kExitWrongKey);
            continue;
        }
        const Inspection seen = inspect(input, templ);
        if (!seen.error.empty()) {
            codes.push_back(seen.errorNumber == ENOENT || seen.errorNumber == ENOTDIR
                                ? kExitInputMissing
                                : kExitInputUnreadable);
            std::fprintf(stderr, "tolvex-cli: %s: %s\n", displayName(input).c_str(),
                         seen.errorNumber == ENOENT ? "no such file" : seen.error.c_str());
            continue;
        }
        std::fputs(describe(displayName(input), seen).c_str(), stdout);
        codes.push_back(seen.verdict == Verdict::NotEncoded ? kExitWrongKey : kExitOk);
    }
    return combinedExitCode(codes);
}

// SOURCE_DATE_EPOCH, where reproducible builds set it, stands in for the clock.
uint32_t fillerSeedFromEnvironment() {
    const char *epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (!epoch)
        return 0;
    unsigned long long value = 0;
    const char *end = epoch + std::strlen(epoch);
    if (std::from_chars(epoch, end, value).ptr != end)
        return 0;
    return uint32_t(value);
}

void archiverBusyNotice(void *context) {
    static_cast<Reporter *>(context)->note(
        "the archiver library is busy with another program; waiting");
}

// Whether any input needs the key code (rather than a passphrase).
bool anyClassicWork(const Options &options, const std::vector<Plan> &plans) {
    if (options.command == Command::Encrypt)
        return !options.strong;
    return std::any_of(plans.begin(), plans.end(),
                       [](const Plan &p) { return !p.failed && !p.strong; });
}

int runConversions(const Options &options) {
    Settings settings;
    std::vector<Plan> plans = planAll(options, *settings.claims);
    settings.options = options;
    settings.fillerSeed = fillerSeedFromEnvironment();
    const std::string folder = programFolder();
    settings.templatePath = findTemplate(folder);

    const bool anyToDo =
        std::any_of(plans.begin(), plans.end(), [](const Plan &p) { return !p.failed; });
    if (anyToDo) {
        if (settings.templatePath.empty())
            return error("Tolvex.dat is neither beside the program (" + folder +
                             ") nor in the working directory",
                         kExitTemplateMissing);
        const bool encrypting = options.command == Command::Encrypt;
        const bool anyStrong =
            encrypting ? options.strong
                       : std::any_of(plans.begin(), plans.end(),
                                     [](const Plan &p) { return !p.failed && p.strong; });
        const bool anyClassic = anyClassicWork(options, plans);
        const char *envPassphrase = std::getenv("TOLVEX_PASSPHRASE");
        const char *envKey = std::getenv("TOLVEX_KEY");
        const KeyFileUse use = keyFileUse(options.keyFile.has_value(), anyClassic, anyStrong,
                                          envPassphrase != nullptr, options.keyText || envKey);
        if (!use.error.empty())
            return error(use.error, kExitUsage);
        if (!use.note.empty() && !options.quiet)
            std::fprintf(stderr, "tolvex-cli: %s\n", use.note.c_str());
        // The key file is read once, whatever it serves: standard input has only one content.
        std::optional<std::string> keyFileText;
        if (options.keyFile) {
            std::string problem;
            keyFileText = readKeyFile(*options.keyFile, problem);
            if (!keyFileText)
                return error(problem, kExitUsage);
        }
        const bool interactive = ::isatty(STDIN_FILENO) && options.keyFile != "-";
        if (anyStrong) {
            protectKeyMaterial();
            PassphraseSources from;
            from.keyFile = options.keyFile;
            if (use.servesStrong && keyFileText)
                from.keyFileText = *keyFileText;
            if (envPassphrase)
                from.environment = envPassphrase;
            from.interactive = interactive;
            from.confirm = encrypting;
            PassphraseResult got = obtainPassphrase(from);
            if (!got.passphrase)
                return error(got.error, kExitUsage);
            settings.passphrase = std::move(*got.passphrase);
            settings.kdf = options.kdf ? *strong::kdfPreset(*options.kdf) : strong::defaultKdf();
        }
        if (anyClassic) {
            KeySources sources;
            sources.keyFile = options.keyFile;
            if (use.servesClassic && keyFileText)
                sources.keyFileText = *keyFileText;
            sources.keyText = options.keyText;
            if (envKey)
                sources.environment = envKey;
            sources.interactive = interactive;
            sources.confirm = encrypting;
            const KeyResult key = obtainKey(sources);
            if (!key.warning.empty())
                std::fprintf(stderr, "tolvex-cli: %s\n", key.warning.c_str());
            if (!key.key)
                return error(key.error, kExitUsage);
            settings.key = *key.key;
        }
        if (keyFileText)
            wipe(*keyFileText);
    }
    if (anyToDo) {
        // A missing output folder is made, as mkdir -p would, once there is work for it.
        if (options.outputDir) {
            if (const std::string problem = makeFolders(*options.outputDir); !problem.empty())
                return error("cannot create the output folder: " + problem, kExitCannotWrite);
        }
    }
    installInterruptCleanup();

    uint64_t total = 0;
    for (const auto &p : plans)
        if (!p.failed)
            total += p.size;
    Reporter reporter(options.quiet, ::isatty(STDERR_FILENO), total, plans.size());
    std::unique_ptr<ArchiverClient> archiver;
    const bool needsArchiver =
        std::any_of(
            plans.begin(), plans.end(),
            [](const Plan &p) { return !p.failed && (p.folderInput || p.extractArchive); }) ||
        // A strong file tells whether it holds an archive only once decrypted.
        std::any_of(plans.begin(), plans.end(),
                    [&](const Plan &p) { return !p.failed && p.strong && options.extract; }) ||
        (options.compress && anyToDo);
    if (needsArchiver) {
        archiver = std::make_unique<ArchiverClient>(folder, options.archiverWait);
        archiver->setBusyNotice(archiverBusyNotice, &reporter);
    }
    return runAll(plans, settings, reporter, archiver.get());
}

} // namespace

int main(int argc, char **argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const ParseResult parsed = parseOptions(arguments);
    if (!parsed.options)
        return error(parsed.error, kExitUsage);
    const Options &options = *parsed.options;
    try {
        switch (options.command) {
        case Command::Help:
            std::fputs(helpText().c_str(), stdout);
            return kExitOk;
        case Command::Version:
            std::puts("tolvex-cli " TOLVEX_VERSION);
            return kExitOk;
        case Command::Info:
            return runInfo(options);
        case Command::Encrypt:
        case Command::Decrypt:
            return runConversions(options);
        }
    } catch (const std::bad_alloc &) {
        return error("out of memory", kExitInternal);
    } catch (const std::exception &e) {
        return error(std::string("unexpected failure: ") + e.what(), kExitInternal);
    }
    return kExitInternal;
}
