#include "conversion_runner.h"

#include "archive_steps.h"
#include "classic_conversion.h"
#include "display_name.h"
#include "exit_codes.h"
#include "folders.h"
#include "interruption.h"
#include "layout.h"
#include "naming.h"
#include "paths.h"
#include "planning.h"
#include "progress.h"
#include "staging_folder.h"
#include "strong_conversion.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace cli {
namespace {

// Opens the job's output folder, once: every later step works relative to it.
std::optional<Outcome> openOutputFolder(Job &job) {
    const std::string &path = job.plan.outputFolder;
    job.folder = job.plan.folder
                     ? tolvex::files::duplicate(job.plan.folder->get())
                     : tolvex::files::openFolder(path.empty() ? std::string(".") : path);
    // A folder this user may not write is said so before anything is read.
    if (!job.folder.valid() || ::faccessat(job.folder.get(), ".", W_OK | X_OK, AT_EACCESS) != 0)
        return cannotWriteIn(path, errno);
    if (inFolder(job.folder.get(), "").empty())
        return cannotWriteIn(path, ENOENT); // without /proc no path reaches the folder held
    return std::nullopt;
}

Outcome done(const Plan &plan) {
    return published(Publish::Done, plan.input, plan.outputPath);
}

// Packs the input when asked and converts it into its output, published whole in the output
// folder.
Outcome encryptOne(Job &job) {
    const Options &o = job.options();
    const Plan &plan = job.plan;
    if (auto failed = openOutputFolder(job))
        return *failed;
    PackedInput packed;
    if (o.compress) {
        if (auto failed = packInput(job, packed))
            return *failed;
    }
    const std::string &source = o.compress ? packed.archive : plan.input;
    // The archive's bytes are not the planned ones: a packed input counts as done at its end.
    const bool showProgress = !o.compress;
    // The recorded name ends in ".lzh" for a packed input, as the engine's extension does.
    const std::optional<Outcome> failed =
        o.strong
            ? encryptStrong(job, job.folder.get(), source,
                            o.compress ? baseName(plan.outputBase) + ".lzh" : baseName(plan.input),
                            packed.permissions, showProgress)
            : encryptClassic(job, job.folder.get(), source, packed.permissions, showProgress);
    return failed ? *failed : done(plan);
}

// Decrypts the input into its output, published whole in the output folder; an archive to
// extract goes through a staging folder there first, and so does a strong file under
// --extract, whose content tells only when decrypted whether it is an archive.
Outcome decryptInto(Job &job) {
    Plan &plan = job.plan;
    const bool staged = plan.extractArchive || (plan.strong && job.options().extract);
    if (!staged) {
        const auto failed = plan.strong ? decryptStrong(job, job.folder.get(), false)
                                        : decryptClassic(job, job.folder.get());
        return failed ? *failed : done(plan);
    }
    auto staging = StagingFolder::create(job.folder.get());
    if (!staging)
        return cannotWriteIn(plan.outputFolder, errno);
    if (auto failed = plan.strong ? decryptStrong(job, staging->fd(), true)
                                  : decryptClassic(job, staging->fd()))
        return *failed;
    const std::string name = leafName(tolvex::decodedName(plan.outputBase, plan.extension));
    if (plan.extractArchive)
        return extractArchive(job, inFolder(staging->fd(), name));
    // A strong file that holds no archive: into place as any output.
    if (auto taken = outputIsFree(plan.outputPath, plan.input, job.options().force,
                                  "; use --output or --output-dir"))
        return *taken;
    const TreeResult moved = publishTree(*staging, job.folder.get(), job.options().force);
    return published(moved.outcome, plan.input, plan.outputPath);
}

Outcome decryptOne(Job &job) {
    Plan &plan = job.plan;
    if (auto failed = openOutputFolder(job))
        return *failed;
    if (plan.strongAfterClassic && !job.settings.passphrase.empty()) {
        // Classic first; a key that does not open it leaves the passphrase to try.
        const Outcome classic = decryptInto(job);
        if (classic.exitCode != kExitWrongKey)
            return classic;
        plan.strong = true;
        plan.extractArchive = false;
    }
    return decryptInto(job);
}

Outcome convertOne(const Plan &plan, const Settings &settings, Reporter &reporter,
                   ArchiverClient *archiver) {
    Job job{plan, settings, archiver, ProgressLink{&reporter}};
    Outcome outcome;
    try {
        outcome = settings.encrypting() ? encryptOne(job) : decryptOne(job);
    } catch (const std::bad_alloc &) {
        outcome = fail(kExitInternal, "out of memory");
    } catch (const std::exception &e) {
        outcome = fail(kExitInternal, std::string("unexpected failure: ") + e.what());
    }
    // A failed or compressed input still counts as done for the bar.
    job.link.reach(plan.size);
    return outcome;
}

} // namespace

int runAll(const std::vector<Plan> &plans, const Settings &settings, Reporter &reporter,
           ArchiverClient *archiver) {
    std::vector<int> codes(plans.size(), kExitOk);
    std::vector<size_t> runnable;
    for (size_t i = 0; i < plans.size(); ++i) {
        if (plans[i].failed) {
            codes[i] = plans[i].failed->exitCode;
            reporter.message("tolvex-cli: " + displayName(plans[i].input) + ": " +
                             plans[i].failed->message);
        } else {
            runnable.push_back(i);
        }
    }

    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (;;) {
            if (interruptRequested())
                return;
            const size_t n = next.fetch_add(1);
            if (n >= runnable.size())
                return;
            const Plan &plan = plans[runnable[n]];
            const Outcome outcome = convertOne(plan, settings, reporter, archiver);
            codes[runnable[n]] = outcome.exitCode;
            if (outcome.exitCode == kExitOk)
                reporter.note(outcome.message);
            else
                reporter.message("tolvex-cli: " + displayName(plan.input) + ": " + outcome.message);
            reporter.fileDone();
        }
    };
    const size_t threads = std::min<size_t>(settings.options.jobs, runnable.size());
    {
        // An interruption's clean-up waits for this block to end: every worker has stopped
        // and been joined by then.
        const ActiveWork active;
        std::vector<std::jthread> pool;
        for (size_t t = 1; t < threads; ++t)
            pool.emplace_back(worker);
        worker();
    }
    reporter.finish();

    const auto failed = static_cast<size_t>(
        std::count_if(codes.begin(), codes.end(), [](int c) { return c != kExitOk; }));
    const int status = combinedExitCode(codes);
    if (plans.size() > 1 || failed)
        reporter.note(std::to_string(plans.size() - failed) + " of " +
                      std::to_string(plans.size()) + " converted, " + std::to_string(failed) +
                      " failed" + (status ? " (exit status " + std::to_string(status) + ")" : ""));
    return status;
}

} // namespace cli
