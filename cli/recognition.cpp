#include "recognition.h"

#include "disguise_header.h"
#include "fd.h"
#include "layout.h"
#include "naming.h"
#include "transfers.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace cli {
namespace {

using tolvex::files::Fd;

bool readExactly(int fd, uint64_t offset, void *buffer, size_t length) {
    return tolvex::files::readAt(fd, offset, buffer, length) == static_cast<int64_t>(length);
}

std::optional<bool> headerMatches(int fd, int kind, const std::string &templatePath) {
    if (kind == 0 || templatePath.empty())
        return std::nullopt;
    const Fd templ(tolvex::files::openRegular(templatePath.c_str()));
    if (!templ.valid())
        return std::nullopt;
    const auto expected =
        tolvex::readDisguiseHeader(kind, [&](uint64_t offset, void *buffer, size_t length) {
            return tolvex::files::readAt(templ.get(), offset, buffer, length);
        });
    if (!expected)
        return std::nullopt;
    std::vector<uint8_t> actual(expected->size());
    if (!readExactly(fd, 0, actual.data(), actual.size()))
        return false;
    return *expected == actual;
}

void failed(Recognition &r, int error) {
    r.errorNumber = error ? error : EIO;
    r.error = std::strerror(r.errorNumber);
}

} // namespace

Recognition recognise(const std::string &path, const std::string &templatePath) {
    Recognition r;
    // Never blocks: a FIFO or a device is opened without waiting and refused.
    tolvex::files::OpenResult opened;
    const Fd fd = tolvex::files::openRegular(AT_FDCWD, path, true, opened);
    if (opened == tolvex::files::OpenResult::NotRegular) {
        const auto st = tolvex::files::statusAt(AT_FDCWD, path, true);
        const bool folder = st && S_ISDIR(st->st_mode);
        r.errorNumber = folder ? EISDIR : EINVAL;
        r.error = folder ? "is a folder" : "is not a regular file";
        return r;
    }
    const auto st = fd.valid() ? tolvex::files::status(fd.get()) : std::nullopt;
    if (!st) {
        failed(r, errno);
        return r;
    }
    r.size = static_cast<uint64_t>(st->st_size);
    uint8_t leading[8] = {};
    const size_t leadingLength = static_cast<size_t>(std::min<uint64_t>(r.size, sizeof leading));
    if (!readExactly(fd.get(), 0, leading, leadingLength)) {
        failed(r, errno);
        return r;
    }
    const auto headerLength = tolvex::headerLengthFor({leading, leadingLength});
    if (!headerLength)
        return r; // too short to hold even a magic number
    r.headerLength = *headerLength;
    r.kind = tolvex::kindOf({leading, leadingLength});
    r.headerMatchesTemplate = headerMatches(fd.get(), r.kind, templatePath);
    r.recordPresent = r.size >= static_cast<uint64_t>(r.headerLength) + tolvex::kControlRecordSize;
    if (!r.recordPresent)
        return r;
    std::array<uint8_t, tolvex::kControlRecordSize> record;
    if (!readExactly(fd.get(), r.headerLength, record.data(), record.size())) {
        failed(r, errno);
        return r;
    }
    r.payloadLength = r.size - r.headerLength - tolvex::kControlRecordSize;
    const auto fields = tolvex::readControlRecord(record);
    if (!fields || !tolvex::isUsableExtension(fields->extension))
        return r;
    // The same rule the decoder applies: whatever it restores is recognised here.
    r.extension = fields->extension;
    r.verdict = r.headerMatchesTemplate.value_or(false) ? Verdict::Encoded : Verdict::Possibly;
    return r;
}

} // namespace cli
