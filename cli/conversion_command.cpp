#include "conversion_command.h"

#include "archiver_client.h"
#include "conversion_runner.h"
#include "exit_codes.h"
#include "fd.h"
#include "folders.h"
#include "interruption.h"
#include "key_input.h"
#include "passphrase.h"
#include "paths.h"
#include "planning.h"
#include "progress.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace cli {
namespace {

// SOURCE_DATE_EPOCH, where reproducible builds set it, stands in for the clock.
uint32_t fillerSeedFromEnvironment() {
    const char *epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (!epoch)
        return 0;
    unsigned long long value = 0;
    const char *end = epoch + std::strlen(epoch);
    if (std::from_chars(epoch, end, value).ptr != end)
        return 0;
    return static_cast<uint32_t>(value);
}

void archiverBusyNotice(void *context) {
    static_cast<Reporter *>(context)->note(
        "the archiver library is busy with another program; waiting");
}

bool anyPlan(const std::vector<Plan> &plans, bool (*which)(const Plan &)) {
    return std::any_of(plans.begin(), plans.end(),
                       [which](const Plan &p) { return !p.failed && which(p); });
}

// Obtains what the work needs: the passphrase for strong files, the key code for classic
// ones. An exit status when it cannot be had.
std::optional<int> obtainKeys(Settings &settings, std::vector<Plan> &plans) {
    const Options &options = settings.options;
    const bool encrypting = settings.encrypting();
    const char *envPassphrase = std::getenv("TOLVEX_PASSPHRASE");
    const char *envKey = std::getenv("TOLVEX_KEY");
    const bool interactive = ::isatty(STDIN_FILENO) && options.keyFile != "-";
    // A file that is strong only in that it cannot be classic is tried with a passphrase when
    // one can be had; a run given a key alone says of it what it can, and goes on.
    const bool classicRun = options.keyText || envKey;
    if (!encrypting && !envPassphrase && !interactive && !options.keyFile && classicRun) {
        for (Plan &p : plans)
            if (!p.failed && p.unmarked)
                p.failed = fail(kExitWrongKey,
                                "is not a classic encoded file; if it is a strong one, give its "
                                "passphrase (TOLVEX_PASSPHRASE, --key-file, or at a terminal)");
    }
    // A file that may be either, in a run given a passphrase and no key, can only be strong.
    if (!encrypting && envPassphrase && !classicRun && !interactive && !options.keyFile) {
        for (Plan &p : plans)
            if (!p.failed && p.strongAfterClassic) {
                p.strong = true;
                p.strongAfterClassic = false;
                p.extractArchive = false;
            }
    }
    const bool anyStrong =
        encrypting ? options.strong : anyPlan(plans, [](const Plan &p) { return p.strong; });
    const bool anyClassic =
        encrypting ? !options.strong : anyPlan(plans, [](const Plan &p) { return !p.strong; });
    const KeyFileUse use = keyFileUse(options.keyFile.has_value(), anyClassic, anyStrong,
                                      envPassphrase != nullptr, options.keyText || envKey);
    if (!use.error.empty())
        return exitWith(kExitUsage, use.error);
    if (!use.note.empty() && !options.quiet)
        std::fprintf(stderr, "tolvex-cli: %s\n", use.note.c_str());
    // The key file is read once, whatever it serves: standard input has only one content.
    std::optional<std::string> keyFileText;
    if (options.keyFile) {
        std::string problem;
        keyFileText = readKeyFile(*options.keyFile, problem);
        if (!keyFileText)
            return exitWith(kExitUsage, problem);
    }
    if (anyStrong) {
        strong::protectKeyMaterial();
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
            return exitWith(kExitUsage, got.error);
        settings.passphrase = std::move(*got.passphrase);
        settings.kdf = options.kdf ? *strong::kdfPreset(*options.kdf) : strong::defaultKdf();
    } else if (envPassphrase &&
               anyPlan(plans, [](const Plan &p) { return p.strongAfterClassic; })) {
        // A file that may be either is tried as a strong one only with a passphrase given
        // already: a classic run is never held up by a prompt for one.
        strong::protectKeyMaterial();
        PassphraseSources from;
        from.environment = envPassphrase;
        if (PassphraseResult got = obtainPassphrase(from); got.passphrase)
            settings.passphrase = std::move(*got.passphrase);
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
            return exitWith(kExitUsage, key.error);
        settings.key = *key.key;
    }
    if (keyFileText)
        strong::wipe(*keyFileText);
    return std::nullopt;
}

int runConversions(const Options &options, Direction direction) {
    Settings settings;
    settings.options = options;
    settings.direction = direction;
    const std::string folder = programFolder();
    // Planning compares disguise headers with the template's to tell classic files.
    settings.templatePath = findTemplate(folder);
    std::vector<Plan> plans = planAll(settings);
    settings.fillerSeed = fillerSeedFromEnvironment();

    const bool anyToDo = anyPlan(plans, [](const Plan &) { return true; });
    if (anyToDo) {
        if (settings.templatePath.empty())
            return exitWith(kExitTemplateMissing, "Tolvex.dat is neither beside the program (" +
                                                      folder + ") nor in the working directory");
        if (const auto status = obtainKeys(settings, plans))
            return *status;
        // A missing output folder is made, as mkdir -p would, once there is work for it.
        if (options.outputDir) {
            std::string failedAt;
            if (!tolvex::files::makeFolders(*options.outputDir, &failedAt))
                return exitWith(kExitCannotWrite, "cannot create the output folder: " + failedAt +
                                                      ": " + std::strerror(errno));
        }
    }
    holdOutputFolders(plans);
    installInterruptCleanup();

    uint64_t total = 0;
    for (const auto &p : plans)
        if (!p.failed)
            total += p.size;
    Reporter reporter(options.quiet, ::isatty(STDERR_FILENO), total, plans.size());
    std::unique_ptr<ArchiverClient> archiver;
    const bool needsArchiver =
        anyPlan(plans, [](const Plan &p) { return p.folderInput || p.extractArchive; }) ||
        // A strong file tells whether it holds an archive only once decrypted.
        (options.extract && anyPlan(plans, [](const Plan &p) { return p.strong; })) ||
        (options.compress && anyToDo);
    if (needsArchiver) {
        archiver = std::make_unique<ArchiverClient>(folder, options.archiverWait);
        archiver->setBusyNotice(archiverBusyNotice, &reporter);
    }
    return runAll(plans, settings, reporter, archiver.get());
}

} // namespace

int runEncrypt(const Options &options) {
    return runConversions(options, Direction::Encrypt);
}

int runDecrypt(const Options &options) {
    return runConversions(options, Direction::Decrypt);
}

} // namespace cli
