#include "strong_conversion.h"

#include "display_name.h"
#include "engine.h"
#include "exit_codes.h"
#include "interruption.h"
#include "names.h"
#include "naming.h"
#include "paths.h"
#include "strong_jobs.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace cli {
namespace {

strong::Hooks hooksFor(ProgressLink *link) {
    strong::Hooks hooks;
    hooks.cancel = &interruptRequested();
    if (link)
        hooks.progress = [link](uint64_t done) { link->reach(done); };
    return hooks;
}

} // namespace

std::optional<Outcome> encryptStrong(Job &job, int folder, const std::string &source,
                                     const std::string &name, std::optional<uint32_t> permissions,
                                     bool showProgress) {
    const Settings &settings = job.settings;
    strong::StrongEncryption how;
    how.kind = settings.options.kind;
    how.kdf = settings.kdf;
    how.passphrase = settings.passphrase.view();
    how.permissions = permissions;
    const strong::Status status = strong::encryptStrongInto(
        source, name, folder, leafName(job.plan.outputPath), job.options().force, how,
        hooksFor(showProgress ? &job.link : nullptr));
    if (interruptRequested())
        return fail(kExitInterrupted, "interrupted; nothing written");
    if (status == strong::Status::TooLarge)
        return fail(kExitInputUnreadable, tooLargeText(how.kind, sizeOf(source)));
    if (status != strong::Status::Ok)
        return strongFailure(status, source, job.plan.outputFolder, sizeOf(source),
                             job.plan.outputPath);
    return std::nullopt;
}

std::optional<Outcome> decryptStrong(Job &job, int folder, bool staged) {
    const Options &o = job.options();
    Plan &plan = job.plan;
    const std::string base = leafName(plan.outputBase);
    strong::Hooks hooks = hooksFor(&job.link);
    // An output this run makes already, or the input itself, is refused before any content is
    // decrypted.
    std::optional<Outcome> refused;
    hooks.acceptName = [&](const std::string &name) {
        const std::string extension = strong::recordedExtension(name, base);
        const std::string output = tolvex::decodedName(plan.outputBase, extension);
        // An archive to extract has no output file of its own to claim.
        if (!(o.extract && lowered(extension) == "lzh")) {
            refused = job.settings.claims->refuseShared(output, plan.input);
            if (!refused &&
                tolvex::files::sameFileAt(job.folder.get(), leafName(output), plan.input))
                refused = fail(kExitSameFile, "the output " + displayName(output) +
                                                  " would be the input itself; use --output or "
                                                  "--output-dir");
            if (refused)
                return strong::Status::Cancelled;
        }
        return strong::Status::Ok;
    };
    std::string outputName;
    const strong::Status status =
        strong::decryptStrongInto(plan.input, folder, base, o.force && !staged,
                                  job.settings.passphrase.view(), outputName, hooks);
    if (refused)
        return refused;
    if (interruptRequested())
        return fail(kExitInterrupted, "interrupted; nothing written");
    const std::string extension = strong::recordedExtension(outputName, base);
    const std::string output = tolvex::decodedName(plan.outputBase, extension);
    if (status != strong::Status::Ok)
        return strongFailure(status, plan.input, plan.outputFolder, plan.size, output);
    plan.extension = extension;
    plan.extractArchive = o.extract && lowered(extension) == "lzh";
    plan.outputPath = plan.extractArchive ? plan.outputFolder : output;
    return std::nullopt;
}

} // namespace cli
