#include "info.h"

#include "display_name.h"
#include "exit_codes.h"
#include "key_input.h"
#include "kinds.h"
#include "passphrase.h"
#include "paths.h"
#include "strong_jobs.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

namespace cli {

std::string describe(const std::string &path, const Recognition &r) {
    if (!r.error.empty())
        return path + ": cannot inspect: " + r.error + "\n";
    std::string s = path + ":\n";
    s += "  disguise:       " +
         (r.kind ? kindName(r.kind) + " (kind " + std::to_string(r.kind) + ")"
                 : std::string("none recognised")) +
         "\n";
    s += "  header length:  " + std::to_string(r.headerLength) + " bytes";
    if (r.headerMatchesTemplate)
        s += *r.headerMatchesTemplate ? " (as in Tolvex.dat)" : " (differs from Tolvex.dat)";
    s += "\n";
    s += "  size:           " + std::to_string(r.size) + " bytes\n";
    if (r.verdict != Verdict::NotEncoded)
        s += "  payload length: " + std::to_string(r.payloadLength) + " bytes\n";
    else if (!r.recordPresent)
        s += "  payload length: none (too short for a control record)\n";
    if (r.extension && r.verdict != Verdict::NotEncoded)
        s += "  original name:  " +
             (r.extension->empty() ? std::string("no extension") : "." + *r.extension) + "\n";
    switch (r.verdict) {
    case Verdict::Encoded:
        s += "  encoded:        yes\n";
        break;
    case Verdict::Possibly:
        s += r.kind ? "  encoded:        possibly (the header is not this Tolvex.dat's)\n"
                    : "  encoded:        possibly (no disguise; only the key can tell)\n";
        break;
    case Verdict::NotEncoded:
        s += "  encoded:        not as a classic file; a strong file shows nothing of itself "
             "without its passphrase (TOLVEX_PASSPHRASE or --key-file)\n";
        break;
    }
    return s;
}

namespace {

// The passphrase info may open files with: TOLVEX_PASSPHRASE or a key file, never a prompt
// (info asks for nothing). Empty without one; an error text when the key file is refused.
std::optional<strong::Secret> infoPassphrase(const Options &options, std::string &error) {
    PassphraseSources from;
    std::optional<std::string> text;
    if (options.keyFile) {
        text = readKeyFile(*options.keyFile, error);
        if (!text)
            return std::nullopt;
        from.keyFile = options.keyFile;
        from.keyFileText = *text;
    } else if (const char *env = std::getenv("TOLVEX_PASSPHRASE")) {
        from.environment = env;
    } else {
        return std::nullopt;
    }
    strong::protectKeyMaterial();
    PassphraseResult got = obtainPassphrase(from);
    if (text)
        strong::wipe(*text);
    if (!got.passphrase)
        error = got.error;
    return std::move(got.passphrase);
}

} // namespace

int runInfo(const Options &options) {
    const std::string templ = findTemplate(programFolder());
    std::string problem;
    const std::optional<strong::Secret> passphrase = infoPassphrase(options, problem);
    if (!problem.empty())
        return exitWith(kExitUsage, problem);
    std::vector<int> codes;
    for (const auto &input : options.inputs) {
        // The same recognition as decrypt's: a strong preamble decrypt would refuse is reported
        // as such, never judged again as a classic file.
        strong::Preamble preamble;
        const strong::Status strongProbe = strong::probeStrongFile(input, preamble);
        if (strongProbe == strong::Status::Ok) {
            std::fputs(strong::describeStrong(displayName(input), preamble).c_str(), stdout);
            codes.push_back(kExitOk);
            continue;
        }
        if (strongProbe == strong::Status::Unsupported || strongProbe == strong::Status::Damaged) {
            std::printf("%s:\n  encoded:        strong, but %s\n", displayName(input).c_str(),
                        strong::statusText(strongProbe).c_str());
            codes.push_back(kExitWrongKey);
            continue;
        }
        const Recognition seen = recognise(input, templ);
        if (!seen.error.empty()) {
            codes.push_back(seen.errorNumber == ENOENT || seen.errorNumber == ENOTDIR
                                ? kExitInputMissing
                                : kExitInputUnreadable);
            std::fprintf(stderr, "tolvex-cli: %s: %s\n", displayName(input).c_str(),
                         seen.errorNumber == ENOENT ? "no such file" : seen.error.c_str());
            continue;
        }
        if (passphrase && seen.verdict != Verdict::Encoded) {
            strong::Decrypted opened;
            const strong::Status status =
                strong::identifyStrongFile(input, passphrase->view(), opened);
            if (status == strong::Status::Ok) {
                std::fputs(strong::describeStrong(displayName(input), opened).c_str(), stdout);
                codes.push_back(kExitOk);
                continue;
            }
            if (status != strong::Status::NotOpened) {
                std::printf("%s:\n  encoded:        strong, but %s\n", displayName(input).c_str(),
                            strong::statusText(status).c_str());
                codes.push_back(kExitWrongKey);
                continue;
            }
        }
        std::fputs(describe(displayName(input), seen).c_str(), stdout);
        if (passphrase && seen.verdict != Verdict::Encoded)
            std::printf("  passphrase:     does not open it as a strong file\n");
        codes.push_back(seen.verdict == Verdict::NotEncoded ? kExitWrongKey : kExitOk);
    }
    return combinedExitCode(codes);
}

} // namespace cli
