#include "archive_steps.h"

#include "archiver_client.h"
#include "display_name.h"
#include "exit_codes.h"
#include "interruption.h"
#include "paths.h"
#include "publishing.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

namespace cli {
namespace {

std::optional<Outcome> archiverMissing(const ArchiverClient *archiver) {
    if (archiver && archiver->available())
        return std::nullopt;
    return fail(kExitArchiver, archiver ? archiver->loadError() : "no archiver library");
}

bool isRegularFile(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

std::optional<Outcome> packInput(const Job &job, PackedInput &packed) {
    if (auto missing = archiverMissing(job.archiver))
        return missing;
    packed.folder = StagingFolder::createPrivate();
    if (struct stat st; ::stat(job.plan.input.c_str(), &st) == 0)
        packed.permissions = static_cast<uint32_t>(st.st_mode & 07777);
    if (!packed.folder)
        return fail(kExitCannotWrite,
                    std::string("cannot make a private temporary folder (in $XDG_RUNTIME_DIR "
                                "or ~/.cache): ") +
                        std::strerror(errno));
    // The recorded extension becomes "lzh": decryption then knows an archive came out.
    packed.archive = packed.folder->path() + "/archive.lzh";
    const std::string absolute = withoutTrailingSlashes(
        std::filesystem::absolute(job.plan.input).lexically_normal().string());
    const ArchiverResult result = job.archiver->pack(packed.archive, absolute);
    if (!result.ok)
        return fail(result.cannotWrite ? kExitCannotWrite : kExitArchiver,
                    "packing failed: " + result.message);
    if (!isRegularFile(packed.archive))
        return fail(kExitArchiver, "packing made no archive");
    return std::nullopt;
}

Outcome extractArchive(const Job &job, const std::string &staged) {
    const Plan &plan = job.plan;
    if (auto missing = archiverMissing(job.archiver))
        return *missing;
    auto unpacked = StagingFolder::create(job.folder.get());
    if (!unpacked)
        return cannotWriteIn(plan.outputFolder, errno);
    const ArchiverResult extracted = job.archiver->extract(staged, unpacked->path());
    if (!extracted.ok)
        return fail(extracted.cannotWrite ? kExitCannotWrite : kExitArchiver,
                    "extraction failed: " + extracted.message);
    if (interruptRequested())
        return fail(kExitInterrupted, "interrupted; nothing extracted");
    const TreeResult moved = publishTree(*unpacked, job.folder.get(), job.options().force);
    const std::string where = displayName(plan.outputFolder + "/" + moved.conflict);
    switch (moved.outcome) {
    case Publish::Done:
        return {kExitOk,
                displayName(plan.input) + " -> extracted into " + displayName(plan.outputFolder)};
    case Publish::Exists:
        return fail(kExitOutputExists,
                    where + " exists; nothing extracted (use --force to replace)");
    case Publish::IsFolder:
        return fail(kExitOutputExists, where +
                                           " is a folder where the archive has a file, or a file "
                                           "where it has a folder; nothing extracted");
    case Publish::Unsafe:
        return fail(kExitCannotWrite,
                    where + ": a link or file stands in the way; nothing extracted");
    case Publish::Failed:
        break;
    }
    return fail(kExitCannotWrite, "cannot move " + where + " into place: " + std::strerror(errno) +
                                      "; nothing extracted");
}

} // namespace cli
