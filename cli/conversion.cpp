#include "conversion.h"

#include "display_name.h"
#include "exit_codes.h"
#include "fd.h"
#include "kind_names.h"
#include "layout.h"
#include "names.h"
#include "progress.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace cli {

std::string lowered(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string leafName(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string inFolder(int folder, const std::string &name) {
    const std::string path = tolvex::files::descriptorPath(folder);
    return path.empty() ? path : path + "/" + name;
}

std::string whyUnreadable(int error) {
    return error == EINVAL ? std::string("is not a regular file") : std::strerror(error);
}

uint64_t sizeOf(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

Outcome readOrWriteFailure(const std::string &source, const std::string &folder, uint64_t size) {
    const int fd = tolvex::files::openRegular(source.c_str());
    if (fd < 0)
        return fail(kExitInputUnreadable,
                    "cannot read " + displayName(source) + ": " + whyUnreadable(errno));
    ::close(fd);
    struct statvfs fsStat;
    if (::statvfs(folder.c_str(), &fsStat) == 0 &&
        static_cast<uint64_t>(fsStat.f_bavail) * fsStat.f_frsize < size + tolvex::kTemplateFileSize)
        return fail(kExitCannotWrite, "not enough free space in " + displayName(folder) +
                                          " (the disk is full); nothing written");
    return fail(kExitCannotWrite, "a read or write failed while converting; nothing written");
}

Outcome cannotWriteIn(const std::string &folder, int error) {
    if (error == ENOENT)
        return fail(kExitCannotWrite,
                    "the output folder " + displayName(folder) + " does not exist");
    return fail(kExitCannotWrite,
                "cannot write in the folder " + displayName(folder) + ": " + std::strerror(error));
}

Outcome published(Publish result, const std::string &input, const std::string &output) {
    switch (result) {
    case Publish::Done:
        return {kExitOk, displayName(input) + " -> " + displayName(output)};
    case Publish::Exists:
        return fail(kExitOutputExists,
                    displayName(output) +
                        " exists (it appeared meanwhile); not replaced, use --force");
    case Publish::IsFolder:
        return fail(kExitOutputExists, displayName(output) + " is a folder; not replaced");
    case Publish::Unsafe: // only trees meet links on their way
    case Publish::Failed:
        break;
    }
    return fail(kExitCannotWrite, "cannot move the output into place as " + displayName(output) +
                                      ": " + std::strerror(errno));
}

std::optional<Outcome> outputIsFree(const std::string &output, const std::string &input, bool force,
                                    const std::string &advice) {
    struct stat out;
    if (::lstat(output.c_str(), &out) != 0)
        return std::nullopt;
    const std::string shown = displayName(output);
    if (tolvex::files::sameFileAt(AT_FDCWD, output, input))
        return fail(kExitSameFile, "the output " + shown + " would be the input itself" + advice);
    if (S_ISDIR(out.st_mode))
        return fail(kExitOutputExists, shown + " is a folder; not replaced");
    if (!force)
        return fail(kExitOutputExists, shown + " exists; use --force to replace it");
    return std::nullopt;
}

std::string tooLargeText(int kind, uint64_t size) {
    std::string fit;
    for (int other = 0; other < tolvex::kKindCount; ++other) {
        if (strong::maxContent(other) >= size)
            fit += std::string(fit.empty() ? "" : ", ") + tolvex::kindName(other);
    }
    return std::to_string(size) + " bytes are more than a strong " + tolvex::kindName(kind) +
           " file holds (" + std::to_string(strong::maxContent(kind)) +
           " bytes at most); nothing written; " +
           (fit.empty() ? std::string("no disguise holds it") : "disguises that hold it: " + fit);
}

Outcome strongFailure(strong::Status status, const std::string &source, const std::string &folder,
                      uint64_t size, const std::string &output) {
    switch (status) {
    case strong::Status::Damaged:
    case strong::Status::NotStrong:
        return fail(kExitWrongKey,
                    strong::statusText(strong::Status::Damaged) + "; nothing written");
    case strong::Status::Unsupported:
        return fail(kExitWrongKey, strong::statusText(status));
    case strong::Status::NotOpened:
        return fail(kExitWrongKey, strong::statusText(status) + "; nothing written");
    case strong::Status::TooLarge: // the caller knows the kind and says so first
    case strong::Status::ReadFailed:
    case strong::Status::WriteFailed:
        return readOrWriteFailure(source, folder, size);
    case strong::Status::NameTooLong:
        return fail(kExitCannotWrite, strong::statusText(status));
    case strong::Status::BadName:
        return fail(kExitInputUnreadable, strong::statusText(status));
    case strong::Status::NoMemory:
        return fail(kExitInternal, strong::statusText(status));
    case strong::Status::Cancelled:
        return fail(kExitInterrupted, "interrupted; nothing written");
    case strong::Status::OutputExists: // taken since planning looked
        return published(Publish::Exists, source, output);
    case strong::Status::Ok:
        break;
    }
    return fail(kExitInternal, "unexpected failure");
}

std::optional<std::string> OutputClaims::claim(const std::string &outputPath,
                                               const std::string &input) {
    const std::string key = std::filesystem::absolute(outputPath).lexically_normal().string();
    const std::lock_guard lock(m_mutex);
    const auto [it, fresh] = m_claims.emplace(key, input);
    if (fresh || it->second == input)
        return std::nullopt;
    return it->second;
}

std::optional<Outcome> OutputClaims::refuseShared(const std::string &outputPath,
                                                  const std::string &input) {
    if (const auto other = claim(outputPath, input))
        return fail(kExitSameFile, "its output " + displayName(outputPath) +
                                       " is also the output of " + displayName(*other) +
                                       "; use --output-dir or rename one");
    return std::nullopt;
}

void ProgressLink::reach(uint64_t done) {
    if (done > reported) {
        reporter->advance(done - reported);
        reported = done;
    }
}

} // namespace cli
