#include "classic_conversion.h"

#include "display_name.h"
#include "engine.h"
#include "exit_codes.h"
#include "fd.h"
#include "halvet_tolvex.h"
#include "interruption.h"
#include "naming.h"
#include "paths.h"
#include "results.h"

#include <sys/stat.h>

namespace cli {
namespace {

// The engine's staging buffer size only has to be positive: it reads in pieces of its own.
constexpr int32_t kBufferSize = 1 << 20;

void onProgress(void *context, uint64_t done, uint64_t /*total*/) {
    static_cast<ProgressLink *>(context)->reach(done);
}

// Runs the engine on `source` into `outputBase`.
int32_t runEngine(Job &job, const std::string &source, const std::string &outputBase, int32_t mode,
                  bool showProgress, std::optional<uint32_t> permissions = std::nullopt) {
    const Settings &settings = job.settings;
    tolvex::ConvertRequest r;
    r.source = source.c_str();
    r.outputBase = outputBase.c_str();
    r.keyCode = settings.key;
    r.mode = mode;
    const bool encoding = mode == TOLVEX_MODE_ENCODE || mode == TOLVEX_MODE_ENCODE_OVERWRITE;
    r.kind = encoding ? settings.options.kind : 0;
    r.bufferSize = kBufferSize;
    r.templatePath = settings.templatePath.c_str();
    r.fillerSeed = settings.fillerSeed;
    r.cancel = &interruptRequested();
    r.permissions = permissions;
    r.keepDamaged = settings.options.keepDamaged;
    if (showProgress) {
        r.progress = onProgress;
        r.progressContext = &job.link;
    }
    return tolvex::convert(r);
}

Outcome engineFailure(int32_t result, const std::string &source, const Job &job, uint64_t size,
                      const std::string &output) {
    switch (tolvex::resultOf(result)) {
    case tolvex::Result::OutputExists:
        return published(Publish::Exists, source, output);
    case tolvex::Result::SameFile:
        return fail(kExitSameFile,
                    "the output " + displayName(output) + " would be the input itself");
    case tolvex::Result::SourceMissing:
        return fail(kExitInputMissing, source + " does not exist");
    case tolvex::Result::CannotOpen:
        return readOrWriteFailure(source, job.plan.outputFolder, size);
    case tolvex::Result::WrongKey:
        return fail(kExitWrongKey, "wrong key, or not an encoded file");
    case tolvex::Result::TemplateMissing:
        return fail(kExitTemplateMissing,
                    job.settings.templatePath + " cannot be read, or is too short");
    case tolvex::Result::NoMemory:
        return fail(kExitInternal, "out of memory");
    default:
        return fail(kExitInternal, "unexpected engine result " + std::to_string(result));
    }
}

} // namespace

std::optional<Outcome> encryptClassic(Job &job, int folder, const std::string &source,
                                      std::optional<uint32_t> permissions, bool showProgress) {
    const Plan &plan = job.plan;
    const std::string base = inFolder(folder, leafName(plan.outputBase));
    const int32_t mode = job.options().force ? TOLVEX_MODE_ENCODE_OVERWRITE : TOLVEX_MODE_ENCODE;
    const int32_t result = runEngine(job, source, base, mode, showProgress, permissions);
    if (interruptRequested())
        return fail(kExitInterrupted, "interrupted; nothing written");
    if (tolvex::resultOf(result) != tolvex::Result::Done)
        return engineFailure(result, source, job, sizeOf(source), plan.outputPath);
    return std::nullopt;
}

std::optional<Outcome> decryptClassic(Job &job, int folder) {
    const Plan &plan = job.plan;
    const std::string base = inFolder(folder, leafName(plan.outputBase));
    const int32_t mode = job.options().force ? TOLVEX_MODE_DECODE_OVERWRITE : TOLVEX_MODE_DECODE;
    const int32_t result = runEngine(job, plan.input, base, mode, true);
    if (interruptRequested())
        return fail(kExitInterrupted, "interrupted; nothing written");
    const tolvex::Result r = tolvex::resultOf(result);
    if (r == tolvex::Result::Done)
        return std::nullopt;
    if (r != tolvex::Result::Damaged)
        return engineFailure(result, plan.input, job, plan.size, plan.outputPath);
    if (!job.options().keepDamaged)
        return fail(kExitDamaged, "damaged: the content check failed after decoding; nothing "
                                  "written (--keep-damaged keeps what could be recovered)");
    return fail(kExitDamaged, "damaged: the content check failed; what could be recovered is "
                              "kept as " +
                                  displayName(plan.outputPath));
}

} // namespace cli
