#include "strong_conversion.h"

#include "engine.h"
#include "exit_codes.h"
#include "interruption.h"
#include "naming.h"
#include "paths.h"
#include "planning.h"
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

Outcome strongFailure(strong::Status status, const std::string &source, const std::string &folder,
                      uint64_t size) {
    switch (status) {
    case strong::Status::Damaged:
    case strong::Status::NotStrong:
        return fail(kExitWrongKey,
                    strong::statusText(strong::Status::Damaged) + "; nothing written");
    case strong::Status::Unsupported:
        return fail(kExitWrongKey, strong::statusText(status));
    case strong::Status::ReadFailed:
    case strong::Status::WriteFailed:
        return readOrWriteFailure(source, folder, size);
    case strong::Status::TemplateFailed:
        return fail(kExitTemplateMissing, strong::statusText(status));
    case strong::Status::NameTooLong:
        return fail(kExitCannotWrite, strong::statusText(status));
    case strong::Status::BadName:
        return fail(kExitInputUnreadable, strong::statusText(status));
    case strong::Status::NoMemory:
        return fail(kExitInternal, strong::statusText(status));
    case strong::Status::Cancelled:
        return fail(kExitInterrupted, "interrupted; nothing written");
    case strong::Status::OutputExists: // the CLI stages its outputs: never a name taken
        return fail(kExitCannotWrite, strong::statusText(status));
    case strong::Status::Ok:
        break;
    }
    return fail(kExitInternal, "unexpected failure");
}

std::optional<Outcome> encryptStrong(Job &job, const std::string &source, const std::string &name,
                                     const std::string &staged, std::optional<uint32_t> permissions,
                                     bool showProgress) {
    const Settings &settings = job.settings;
    strong::StrongEncryption how;
    how.kind = settings.options.kind;
    how.templatePath = settings.templatePath;
    how.kdf = settings.kdf;
    how.passphrase = settings.passphrase.view();
    how.permissions = permissions;
    const strong::Status status = strong::encryptStrongFile(
        source, name, staged, how, hooksFor(showProgress ? &job.link : nullptr));
    if (interruptRequested())
        return fail(kExitInterrupted, "interrupted; nothing written");
    if (status != strong::Status::Ok)
        return strongFailure(status, source, job.plan.outputFolder, sizeOf(source));
    return std::nullopt;
}

std::optional<Outcome> decryptStrong(Job &job, const std::string &stagedBase) {
    const Options &o = job.options();
    Plan &plan = job.plan;
    const std::string content = stagedBase + ".content";
    strong::Decrypted found;
    strong::Hooks hooks = hooksFor(&job.link);
    // An output name the file system cannot take is refused before any content is decrypted.
    std::optional<Outcome> refused;
    hooks.acceptName = [&](const std::string &name) {
        const std::string extension = strong::recordedExtension(name, baseName(plan.outputBase));
        const std::string output = tolvex::decodedName(plan.outputBase, extension);
        if (baseName(output).size() > kMaxNameLength)
            return strong::Status::NameTooLong;
        // An archive to extract has no output file of its own to claim.
        if (!(o.extract && lowered(extension) == "lzh")) {
            refused = job.settings.claims->refuseShared(output, plan.input);
            if (refused)
                return strong::Status::Cancelled;
        }
        return strong::Status::Ok;
    };
    const strong::Status status = strong::decryptStrongFile(
        plan.input, content, job.settings.passphrase.view(), found, hooks);
    if (refused)
        return refused;
    if (interruptRequested())
        return fail(kExitInterrupted, "interrupted; nothing written");
    if (status != strong::Status::Ok)
        return strongFailure(status, plan.input, plan.outputFolder, plan.size);
    const std::string extension = strong::recordedExtension(found.name, baseName(plan.outputBase));
    if (!tolvex::isUsableExtension(extension))
        return fail(kExitWrongKey, "the recorded name cannot name a file; nothing written");
    plan.extension = extension;
    plan.extractArchive = o.extract && lowered(extension) == "lzh";
    const std::string staged = tolvex::decodedName(stagedBase, extension);
    if (::rename(content.c_str(), staged.c_str()) != 0)
        return fail(kExitCannotWrite,
                    std::string("cannot name the output: ") + std::strerror(errno));
    plan.outputPath =
        plan.extractArchive ? plan.outputFolder : tolvex::decodedName(plan.outputBase, extension);
    if (!plan.extractArchive) {
        if (auto taken = outputIsFree(plan.outputPath, plan.input, o.force,
                                      "; use --output or --output-dir"))
            return taken;
    }
    // Nothing is published once an interruption came.
    if (interruptRequested())
        return fail(kExitInterrupted, "interrupted; nothing written");
    return std::nullopt;
}

} // namespace cli
