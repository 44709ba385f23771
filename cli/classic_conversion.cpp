#include "classic_conversion.h"

#include "engine.h"
#include "exit_codes.h"
#include "fd.h"
#include "halvet_tolvex.h"
#include "interruption.h"
#include "naming.h"
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
                  bool showProgress) {
    const Settings &settings = job.settings;
    tolvex::ConvertRequest r;
    r.source = source.c_str();
    r.outputBase = outputBase.c_str();
    r.keyCode = settings.key;
    r.mode = mode;
    r.kind = mode == TOLVEX_MODE_ENCODE ? settings.options.kind : 0;
    r.bufferSize = kBufferSize;
    r.templatePath = settings.templatePath.c_str();
    r.fillerSeed = settings.fillerSeed;
    r.cancel = &interruptRequested();
    if (showProgress) {
        r.progress = onProgress;
        r.progressContext = &job.link;
    }
    return tolvex::convert(r);
}

Outcome engineFailure(int32_t result, const std::string &source, const Job &job, uint64_t size) {
    switch (tolvex::resultOf(result)) {
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

std::optional<Outcome> encryptClassic(Job &job, const std::string &source,
                                      const std::string &stagedBase,
                                      std::optional<uint32_t> permissions, bool showProgress) {
    const int32_t result = runEngine(job, source, stagedBase, TOLVEX_MODE_ENCODE, showProgress);
    if (interruptRequested())
        return fail(kExitInterrupted, "interrupted; nothing written");
    if (tolvex::resultOf(result) != tolvex::Result::Done)
        return engineFailure(result, source, job, sizeOf(source));
    if (permissions) {
        const std::string staged = tolvex::encodedName(stagedBase, job.options().kind);
        ::chmod(staged.c_str(), tolvex::files::outputMode(static_cast<mode_t>(*permissions)));
    }
    return std::nullopt;
}

std::optional<Outcome> decryptClassic(Job &job, const std::string &stagedBase) {
    const Plan &plan = job.plan;
    const int32_t result = runEngine(job, plan.input, stagedBase, TOLVEX_MODE_DECODE, true);
    if (interruptRequested())
        return fail(kExitInterrupted, "interrupted; nothing written");
    if (!tolvex::leftOutput(tolvex::resultOf(result)))
        return engineFailure(result, plan.input, job, plan.size);
    if (tolvex::resultOf(result) != tolvex::Result::Damaged)
        return std::nullopt;
    if (!job.options().keepDamaged)
        return fail(kExitDamaged, "damaged: the content check failed after decoding; nothing "
                                  "written (--keep-damaged keeps what could be recovered)");
    const std::string staged = tolvex::decodedName(stagedBase, plan.extension);
    const std::string target = tolvex::decodedName(plan.outputBase, plan.extension);
    const Outcome kept =
        published(publishFile(staged, target, job.options().force), plan.input, target);
    if (kept.exitCode != kExitOk)
        return kept;
    return fail(kExitDamaged,
                "damaged: the content check failed; what could be recovered is kept as " + target);
}

} // namespace cli
