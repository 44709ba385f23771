#include "conversion_runner.h"

#include "archive_steps.h"
#include "classic_conversion.h"
#include "display_name.h"
#include "exit_codes.h"
#include "interruption.h"
#include "layout.h"
#include "naming.h"
#include "paths.h"
#include "progress.h"
#include "staging_folder.h"
#include "strong_conversion.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <thread>

namespace cli {
namespace {

// Packs the input when asked, converts it into a staging folder beside its output and moves
// the output into place.
Outcome encryptOne(Job &job) {
    const Options &o = job.options();
    const Plan &plan = job.plan;
    PackedInput packed;
    if (o.compress) {
        if (auto failed = packInput(job, packed))
            return *failed;
    }
    const std::string &source = o.compress ? packed.archive : plan.input;
    // The archive's bytes are not the planned ones: a packed input counts as done at its end.
    const bool showProgress = !o.compress;
    auto staging = StagingFolder::create(plan.outputFolder);
    if (!staging)
        return cannotWriteIn(plan.outputFolder, errno);
    const std::string stagedBase = staging->path() + "/" + baseName(plan.outputBase);
    const std::string staged = tolvex::encodedName(stagedBase, o.kind);
    // The recorded name ends in ".lzh" for a packed input, as the engine's extension does.
    const std::optional<Outcome> failed =
        o.strong
            ? encryptStrong(job, source,
                            o.compress ? baseName(plan.outputBase) + ".lzh" : baseName(plan.input),
                            staged, packed.permissions, showProgress)
            : encryptClassic(job, source, stagedBase, packed.permissions, showProgress);
    if (failed)
        return *failed;
    return published(publishFile(staged, plan.outputPath, o.force), plan.input, plan.outputPath);
}

// Decrypts the input into a staging folder beside its output, then moves the output into
// place or extracts the archive it is.
Outcome decryptOne(Job &job) {
    const Plan &plan = job.plan;
    auto staging = StagingFolder::create(plan.outputFolder);
    if (!staging)
        return cannotWriteIn(plan.outputFolder, errno);
    const std::string stagedBase = staging->path() + "/" + baseName(plan.outputBase);
    if (auto failed =
            plan.strong ? decryptStrong(job, stagedBase) : decryptClassic(job, stagedBase))
        return *failed;
    const std::string staged = tolvex::decodedName(stagedBase, plan.extension);
    if (plan.extractArchive)
        return extractArchive(job, staged);
    return published(publishFile(staged, plan.outputPath, job.options().force), plan.input,
                     plan.outputPath);
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
