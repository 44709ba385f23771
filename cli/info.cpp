#include "info.h"

#include "display_name.h"
#include "exit_codes.h"
#include "fd.h"
#include "kinds.h"
#include "layout.h"
#include "naming.h"
#include "paths.h"
#include "platform.h"
#include "strong_jobs.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace cli {
namespace {

using tolvex::files::Fd;

bool readExactly(int fd, uint64_t offset, void *buffer, size_t length) {
    return tolvex::files::readAt(fd, offset, buffer, length) == static_cast<int64_t>(length);
}

int kindFor(const uint8_t *leading, uint32_t headerLength) {
    if (headerLength == 0)
        return 0;
    const uint32_t magic = tolvex::loadLe32(leading);
    for (int k = 1; k < tolvex::kKindCount; ++k) {
        const auto &d = tolvex::disguiseFor(k);
        if (d.magic == magic && d.length == headerLength)
            return k;
    }
    return 0;
}

std::optional<bool> headerMatches(int fd, int kind, const std::string &templatePath) {
    if (kind == 0 || templatePath.empty())
        return std::nullopt;
    const auto &d = tolvex::disguiseFor(kind);
    const Fd templ(::open(templatePath.c_str(), O_RDONLY | O_CLOEXEC));
    if (templ.get() < 0)
        return std::nullopt;
    std::vector<uint8_t> expected(d.length), actual(d.length);
    if (!readExactly(templ.get(), d.first, expected.data(), expected.size()))
        return std::nullopt;
    if (!readExactly(fd, 0, actual.data(), actual.size()))
        return false;
    for (auto &b : expected)
        b ^= tolvex::kHeaderMask;
    return expected == actual;
}

} // namespace

Inspection inspect(const std::string &path, const std::string &templatePath) {
    Inspection r;
    // Never blocks: a FIFO or a device is opened without waiting and refused below.
    const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st;
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
        r.errorNumber = errno;
        r.error = std::strerror(errno);
        return r;
    }
    if (!S_ISREG(st.st_mode)) {
        r.errorNumber = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        r.error = S_ISDIR(st.st_mode) ? "is a folder" : "is not a regular file";
        return r;
    }
    r.size = static_cast<uint64_t>(st.st_size);
    uint8_t leading[8] = {};
    const size_t leadingLength = static_cast<size_t>(std::min<uint64_t>(r.size, sizeof leading));
    if (!readExactly(fd.get(), 0, leading, leadingLength)) {
        r.errorNumber = errno ? errno : EIO;
        r.error = std::strerror(r.errorNumber);
        return r;
    }
    const auto headerLength = tolvex::headerLengthFor({leading, leadingLength});
    if (!headerLength)
        return r; // too short to hold even a magic number
    r.headerLength = *headerLength;
    r.kind = kindFor(leading, r.headerLength);
    r.headerMatchesTemplate = headerMatches(fd.get(), r.kind, templatePath);
    r.recordPresent = r.size >= static_cast<uint64_t>(r.headerLength) + tolvex::kControlRecordSize;
    if (!r.recordPresent)
        return r;
    std::array<uint8_t, tolvex::kControlRecordSize> record;
    if (!readExactly(fd.get(), r.headerLength, record.data(), record.size())) {
        r.errorNumber = errno ? errno : EIO;
        r.error = std::strerror(r.errorNumber);
        return r;
    }
    r.payloadLength = r.size - r.headerLength - tolvex::kControlRecordSize;
    const auto fields = tolvex::readControlRecord(record);
    if (!fields || !isUsableExtension(fields->extension))
        return r;
    // The same rule the decoder applies: whatever it restores is recognised here.
    r.extension = fields->extension;
    r.verdict = r.headerMatchesTemplate.value_or(false) ? Verdict::Encoded : Verdict::Possibly;
    return r;
}

std::string describe(const std::string &path, const Inspection &r) {
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
        s += "  encoded:        no\n";
        break;
    }
    return s;
}

int runInfo(const Options &options) {
    const std::string templ = findTemplate(programFolder());
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

} // namespace cli
