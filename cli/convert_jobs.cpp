#include "convert_jobs.h"

#include "archiver_client.h"
#include "archiver_commands.h"
#include "engine.h"
#include "exit_codes.h"
#include "fd.h"
#include "halvet_tolvex.h"
#include "info.h"
#include "layout.h"
#include "naming.h"
#include "paths.h"
#include "platform.h"
#include "progress.h"
#include "results.h"
#include "staging.h"
#include "strong_jobs.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>

namespace cli {
namespace {

namespace fs = std::filesystem;

// The engine's staging buffer size only has to be positive: it reads in pieces of its own.
constexpr int32_t kBufferSize = 1 << 20;

Outcome fail(int code, std::string message) {
    return {code, std::move(message)};
}

bool isRegularFile(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool sameFile(const std::string &a, const std::string &b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

std::string lowered(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

Outcome cannotWriteIn(const std::string &folder, int error) {
    if (error == ENOENT)
        return fail(kExitCannotWrite,
                    "the output folder " + displayName(folder) + " does not exist");
    return fail(kExitCannotWrite,
                "cannot write in the folder " + displayName(folder) + ": " + std::strerror(error));
}

int openRegularFile(const std::string &path) {
    return tolvex::files::openRegular(path.c_str());
}

std::string whyUnreadable(int error) {
    return error == EINVAL ? std::string("is not a regular file") : std::strerror(error);
}

// The engine's -2 covers both sides; find out which, to say something useful. `folder` is the
// output folder, where the staging folder lives.
Outcome readOrWriteFailure(const std::string &source, const std::string &folder, uint64_t size) {
    const int fd = openRegularFile(source);
    if (fd < 0)
        return fail(kExitInputUnreadable,
                    "cannot read " + displayName(source) + ": " + whyUnreadable(errno));
    ::close(fd);
    struct statvfs fsStat;
    if (::statvfs(folder.c_str(), &fsStat) == 0 &&
        uint64_t(fsStat.f_bavail) * fsStat.f_frsize < size + tolvex::kTemplateFileSize)
        return fail(kExitCannotWrite, "not enough free space in " + displayName(folder) +
                                          " (the disk is full); nothing written");
    return fail(kExitCannotWrite, "a read or write failed while converting; nothing written");
}

Outcome engineFailure(int32_t result, const std::string &source, const std::string &folder,
                      const Settings &settings, uint64_t size) {
    switch (tolvex::resultOf(result)) {
    case tolvex::Result::SourceMissing:
        return fail(kExitInputMissing, source + " does not exist");
    case tolvex::Result::CannotOpen:
        return readOrWriteFailure(source, folder, size);
    case tolvex::Result::WrongKey:
        return fail(kExitWrongKey, "wrong key, or not an encoded file");
    case tolvex::Result::TemplateMissing:
        return fail(kExitTemplateMissing,
                    settings.templatePath + " cannot be read, or is too short");
    case tolvex::Result::NoMemory:
        return fail(kExitInternal, "out of memory");
    default:
        return fail(kExitInternal, "unexpected engine result " + std::to_string(result));
    }
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

// Forwards the engine's per-piece progress to the reporter as increments.
struct ProgressLink {
    Reporter *reporter;
    uint64_t reported = 0;
};

void onProgress(void *context, uint64_t done, uint64_t /*total*/) {
    auto *link = static_cast<ProgressLink *>(context);
    if (done > link->reported) {
        link->reporter->advance(done - link->reported);
        link->reported = done;
    }
}

tolvex::ConvertRequest requestFor(const Settings &settings, const char *source,
                                  const char *outputBase, int32_t mode, ProgressLink *link) {
    tolvex::ConvertRequest r;
    r.source = source;
    r.outputBase = outputBase;
    r.keyCode = settings.key;
    r.mode = mode;
    r.kind = mode == TOLVEX_MODE_ENCODE ? settings.options.kind : 0;
    r.bufferSize = kBufferSize;
    r.templatePath = settings.templatePath.c_str();
    r.fillerSeed = settings.fillerSeed;
    r.cancel = &interruptRequested();
    if (link) {
        r.progress = onProgress;
        r.progressContext = link;
    }
    return r;
}

strong::Hooks strongHooks(ProgressLink *link) {
    strong::Hooks hooks;
    hooks.cancel = &interruptRequested();
    if (link)
        hooks.progress = [link](uint64_t done) { onProgress(link, done, 0); };
    return hooks;
}

// Refuses an output that another input of the run makes already.
std::optional<Outcome> sharedOutput(OutputClaims &claims, const std::string &outputPath,
                                    const std::string &input) {
    if (const auto other = claims.claim(outputPath, input))
        return fail(kExitSameFile, "its output " + displayName(outputPath) +
                                       " is also the output of " + displayName(*other) +
                                       "; use --output-dir or rename one");
    return std::nullopt;
}

// What a file system takes for one name (NAME_MAX on Linux).
constexpr size_t kMaxNameLength = 255;

// The extension a strong file's recorded name gives its output.
std::string recordedExtension(const std::string &recorded, const std::string &outputBase) {
    std::string extension(tolvex::extensionOf(recorded));
    // A dot-file (".bashrc") was encrypted under its whole name: its base is the name already.
    if (!extension.empty() && baseName(outputBase) == recorded)
        extension.clear();
    return extension;
}

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
    case strong::Status::Ok:
        break;
    }
    return fail(kExitInternal, "unexpected failure");
}

Outcome strongEncrypted(const Plan &plan, const Settings &settings, const std::string &source,
                        const std::string &name, const std::string &staged,
                        std::optional<uint32_t> permissions, ProgressLink *link) {
    const Options &o = settings.options;
    StrongEncryption how;
    how.kind = o.kind;
    how.templatePath = settings.templatePath;
    how.kdf = settings.kdf;
    how.passphrase = settings.passphrase.view();
    how.permissions = permissions;
    const strong::Status status = encryptStrongFile(source, name, staged, how, strongHooks(link));
    if (interruptRequested())
        return fail(kExitInterrupted, "interrupted; nothing written");
    if (status != strong::Status::Ok) {
        struct stat st;
        const uint64_t size = ::stat(source.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
        return strongFailure(status, source, plan.outputFolder, size);
    }
    return published(publishFile(staged, plan.outputPath, o.force), plan.input, plan.outputPath);
}

Outcome encryptOne(const Plan &plan, const Settings &settings, ArchiverClient *archiver,
                   ProgressLink &link) {
    const Options &o = settings.options;
    std::string source = plan.input;
    if (o.compress && (!archiver || !archiver->available()))
        return fail(kExitArchiver, archiver ? archiver->loadError() : "no archiver library");
    // The archive holds the plaintext: it goes to a folder of its own in the user's private
    // folder, never beside the program or the output.
    const std::unique_ptr<StagingFolder> archiveFolder =
        o.compress ? StagingFolder::createPrivate() : nullptr;
    // A packed input's output is made from the archive: it takes the input's permissions.
    std::optional<uint32_t> permissions;
    if (struct stat st; o.compress && ::stat(plan.input.c_str(), &st) == 0)
        permissions = uint32_t(st.st_mode & 07777);
    if (o.compress) {
        if (!archiveFolder)
            return fail(kExitCannotWrite,
                        std::string("cannot make a private temporary folder (in $XDG_RUNTIME_DIR "
                                    "or ~/.cache): ") +
                            std::strerror(errno));
        // The recorded extension becomes "lzh": decryption then knows an archive came out.
        const std::string archive = archiveFolder->path() + "/archive.lzh";
        const std::string absolute =
            withoutTrailingSlashes(fs::absolute(plan.input).lexically_normal().string());
        const ArchiverResult packed = archiver->pack(archive, absolute);
        if (!packed.ok)
            return fail(packed.cannotWrite ? kExitCannotWrite : kExitArchiver,
                        "packing failed: " + packed.message);
        if (!isRegularFile(archive))
            return fail(kExitArchiver, "packing made no archive");
        source = archive;
    }
    auto staging = StagingFolder::create(plan.outputFolder);
    if (!staging)
        return cannotWriteIn(plan.outputFolder, errno);
    const std::string stagedBase = staging->path() + "/" + baseName(plan.outputBase);
    if (o.strong) {
        // The recorded name ends in ".lzh" for a packed input, as the engine's extension does.
        const std::string name =
            o.compress ? baseName(plan.outputBase) + ".lzh" : baseName(plan.input);
        return strongEncrypted(plan, settings, source, name,
                               stagedBase + tolvex::disguiseFor(o.kind).extension, permissions,
                               o.compress ? nullptr : &link);
    }
    const auto request = requestFor(settings, source.c_str(), stagedBase.c_str(),
                                    TOLVEX_MODE_ENCODE, o.compress ? nullptr : &link);
    const int32_t result = tolvex::convert(request);
    if (interruptRequested())
        return fail(kExitInterrupted, "interrupted; nothing written");
    if (tolvex::resultOf(result) != tolvex::Result::Done) {
        struct stat st;
        const uint64_t size = ::stat(source.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
        return engineFailure(result, source, plan.outputFolder, settings, size);
    }
    const std::string staged = tolvex::encodedName(stagedBase, o.kind);
    if (permissions)
        ::chmod(staged.c_str(), tolvex::files::outputMode(mode_t(*permissions)));
    return published(publishFile(staged, plan.outputPath, o.force), plan.input, plan.outputPath);
}

// Decrypts a strong file into the staging folder; the plan learns the recorded extension and
// what the output is called. The content is published only after it all verified.
Outcome strongDecrypted(Plan &plan, const Settings &settings, const std::string &stagedBase,
                        ProgressLink &link) {
    const Options &o = settings.options;
    const std::string content = stagedBase + ".content";
    strong::Decrypted found;
    strong::Hooks hooks = strongHooks(&link);
    // An output name the file system cannot take is refused before any content is decrypted.
    std::optional<Outcome> refused;
    hooks.acceptName = [&](const std::string &name) {
        const std::string extension = recordedExtension(name, plan.outputBase);
        const std::string output = tolvex::decodedName(plan.outputBase, extension);
        if (baseName(output).size() > kMaxNameLength)
            return strong::Status::NameTooLong;
        // An archive to extract has no output file of its own to claim.
        if (!(o.extract && lowered(extension) == "lzh")) {
            refused = sharedOutput(*settings.claims, output, plan.input);
            if (refused)
                return strong::Status::Cancelled;
        }
        return strong::Status::Ok;
    };
    const strong::Status status =
        decryptStrongFile(plan.input, content, settings.passphrase.view(), found, hooks);
    if (refused)
        return *refused;
    if (interruptRequested())
        return fail(kExitInterrupted, "interrupted; nothing written");
    if (status != strong::Status::Ok)
        return strongFailure(status, plan.input, plan.outputFolder, plan.size);
    const std::string extension = recordedExtension(found.name, plan.outputBase);
    if (!isUsableExtension(extension))
        return fail(kExitWrongKey, "the recorded name cannot name a file; nothing written");
    plan.extension = extension;
    plan.extractArchive = o.extract && lowered(extension) == "lzh";
    const std::string staged = extension.empty() ? stagedBase : stagedBase + "." + extension;
    if (::rename(content.c_str(), staged.c_str()) != 0)
        return fail(kExitCannotWrite,
                    std::string("cannot name the output: ") + std::strerror(errno));
    plan.outputPath = plan.extractArchive ? plan.outputFolder
                      : extension.empty() ? plan.outputBase
                                          : plan.outputBase + "." + extension;
    if (!plan.extractArchive) {
        struct stat out;
        if (::lstat(plan.outputPath.c_str(), &out) == 0) {
            if (sameFile(plan.outputPath, plan.input))
                return fail(kExitSameFile, "the output " + displayName(plan.outputPath) +
                                               " would be the input itself; use --output or "
                                               "--output-dir");
            if (S_ISDIR(out.st_mode))
                return fail(kExitOutputExists,
                            displayName(plan.outputPath) + " is a folder; not replaced");
            if (!o.force)
                return fail(kExitOutputExists,
                            displayName(plan.outputPath) + " exists; use --force to replace it");
        }
    }
    return {kExitOk, {}};
}

Outcome decryptOne(const Plan &planned, const Settings &settings, ArchiverClient *archiver,
                   ProgressLink &link) {
    const Options &o = settings.options;
    Plan plan = planned;
    auto staging = StagingFolder::create(plan.outputFolder);
    if (!staging)
        return cannotWriteIn(plan.outputFolder, errno);
    const std::string stagedBase = staging->path() + "/" + baseName(plan.outputBase);
    int32_t result = TOLVEX_OK;
    if (plan.strong) {
        if (Outcome o2 = strongDecrypted(plan, settings, stagedBase, link); o2.exitCode != kExitOk)
            return o2;
    } else {
        const auto request =
            requestFor(settings, plan.input.c_str(), stagedBase.c_str(), TOLVEX_MODE_DECODE, &link);
        result = tolvex::convert(request);
    }
    if (interruptRequested())
        return fail(kExitInterrupted, "interrupted; nothing written");
    if (!tolvex::leftOutput(tolvex::resultOf(result)))
        return engineFailure(result, plan.input, plan.outputFolder, settings, plan.size);
    const std::string staged = tolvex::decodedName(stagedBase, plan.extension);

    if (tolvex::resultOf(result) == tolvex::Result::Damaged) {
        if (!o.keepDamaged)
            return fail(kExitDamaged,
                        "damaged: the content check failed after decoding; nothing written "
                        "(--keep-damaged keeps what could be recovered)");
        const std::string target = tolvex::decodedName(plan.outputBase, plan.extension);
        const Outcome kept = published(publishFile(staged, target, o.force), plan.input, target);
        if (kept.exitCode != kExitOk)
            return kept;
        return fail(kExitDamaged, "damaged: the content check failed; what could be recovered "
                                  "is kept as " +
                                      target);
    }

    if (!plan.extractArchive)
        return published(publishFile(staged, plan.outputPath, o.force), plan.input,
                         plan.outputPath);

    if (!archiver || !archiver->available())
        return fail(kExitArchiver, archiver ? archiver->loadError() : "no archiver library");
    auto unpacked = StagingFolder::create(plan.outputFolder);
    if (!unpacked)
        return cannotWriteIn(plan.outputFolder, errno);
    const ArchiverResult extracted = archiver->extract(staged, unpacked->path());
    if (!extracted.ok)
        return fail(extracted.cannotWrite ? kExitCannotWrite : kExitArchiver,
                    "extraction failed: " + extracted.message);
    if (interruptRequested())
        return fail(kExitInterrupted, "interrupted; nothing extracted");
    const TreeResult moved = publishTree(*unpacked, plan.outputFolder, o.force);
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

// The input as it stands: there, readable, and of a kind the command takes. Sets what the
// plan learns on the way, and the name the output is made from.
std::optional<Outcome> examineInput(const Options &o, Plan &p, std::string &name) {
    const std::string &input = p.input;
    const bool encrypting = o.command == Command::Encrypt;
    struct stat st;
    if (::stat(input.c_str(), &st) != 0) {
        const int error = errno;
        return error == ENOENT || error == ENOTDIR
                   ? fail(kExitInputMissing, "no such file or folder")
                   : fail(kExitInputUnreadable,
                          std::string("cannot be read: ") + std::strerror(error));
    }
    name = baseName(input);
    if (S_ISDIR(st.st_mode)) {
        if (!encrypting || !o.compress) {
            return fail(kExitInputUnreadable, encrypting
                                                  ? "is a folder; add --compress to pack it first"
                                                  : "is a folder, not an encoded file");
        }
        const std::string absolute =
            withoutTrailingSlashes(fs::absolute(input).lexically_normal().string());
        if (absolute == "/")
            return fail(kExitInputUnreadable, "the root folder cannot be packed");
        name = baseName(absolute);
        p.folderInput = true;
    } else if (!S_ISREG(st.st_mode)) {
        return fail(kExitInputUnreadable, "is neither a regular file nor a folder");
    } else {
        const int fd = openRegularFile(input);
        if (fd < 0)
            return fail(kExitInputUnreadable, "cannot be read: " + whyUnreadable(errno));
        ::close(fd);
        p.size = uint64_t(st.st_size);
    }
    if (encrypting && o.compress && !archiver_commands::canCarry(fs::absolute(input).string()))
        return fail(kExitArchiver, "a path holding '\"' cannot be given to the archiver");
    if (encrypting && !o.compress && !o.strong &&
        tolvex::extensionOf(name).size() > tolvex::kExtensionFieldSize) {
        return fail(kExitInputUnreadable,
                    "its extension is longer than six bytes, more than an encoded file can "
                    "record; rename it or use --compress");
    }
    // What is recorded must come back: a name a decrypted file may not have is refused now,
    // not found out when the file is decrypted.
    if (encrypting && !o.compress && !o.strong &&
        !isUsableExtension(std::string(tolvex::extensionOf(name))))
        return fail(kExitInputUnreadable,
                    "its extension holds a control character, which no decrypted name may hold; "
                    "rename it or use --compress");
    if (encrypting && o.strong && !strong::isUsableName(baseName(withoutTrailingSlashes(input))))
        return fail(kExitInputUnreadable,
                    "its name holds a control character, which no decrypted name may hold; "
                    "rename it first");
    strong::Preamble preamble;
    const strong::Status strongProbe =
        encrypting ? strong::Status::NotStrong : probeStrongFile(input, preamble);
    if (strongProbe == strong::Status::Ok) {
        p.strong = true;
    } else if (strongProbe != strong::Status::NotStrong) {
        return strongFailure(strongProbe, input, ".", 0);
    }
    if (!encrypting && !p.strong) {
        const Inspection seen = inspect(input, {});
        if (!seen.error.empty())
            return fail(kExitInputUnreadable, "cannot be read: " + seen.error);
        if (!seen.extension)
            return fail(kExitWrongKey, "is not an encoded file");
        p.extension = *seen.extension;
        p.extractArchive = o.extract && lowered(p.extension) == "lzh";
    }
    return std::nullopt;
}

// Where the output goes and under which name.
std::optional<Outcome> nameOutput(const Options &o, Plan &p, const std::string &name) {
    const bool encrypting = o.command == Command::Encrypt;
    // A folder keeps its whole name ("photos.2024"); a file loses its extension.
    std::string outputName = p.folderInput ? name : stem(name);
    // A dot-file such as ".bashrc" is encrypted under its whole name (".bashrc.tvx"), and the
    // engine records "bashrc" as its extension: decrypted, it is that dot-file again, not
    // ".bashrc.bashrc".
    const bool dotFile = !encrypting && !p.extension.empty() && outputName == "." + p.extension;
    if (dotFile)
        outputName.clear();
    if (o.output)
        p.outputBase = *o.output;
    else if (o.outputDir)
        p.outputBase = withoutTrailingSlashes(*o.outputDir) + "/" + outputName;
    else if (withoutTrailingSlashes(p.input).find('/') == std::string::npos)
        p.outputBase = outputName; // beside an input named without a folder: no "./" either
    else
        p.outputBase = folderName(p.input) + "/" + outputName;
    p.outputFolder = folderName(p.outputBase);
    if (encrypting)
        p.outputPath = tolvex::encodedName(p.outputBase, o.kind);
    else if (p.extractArchive)
        p.outputPath = p.outputFolder;
    else
        p.outputPath = tolvex::decodedName(p.outputBase, p.extension);
    if (!(dotFile && !o.output) && (baseName(p.outputBase).empty() || p.outputBase.back() == '/'))
        return fail(kExitUsage, "the output base " + displayName(p.outputBase) + " names no file");
    if (!p.extractArchive && baseName(p.outputPath).size() > kMaxNameLength)
        return fail(kExitCannotWrite, "name too long: the output " + displayName(p.outputPath) +
                                          " would have more than " +
                                          std::to_string(kMaxNameLength) +
                                          " bytes in its name (use --output); nothing written");
    // The archive and the folder it is extracted into go to the archiver on a quoted command
    // line: a double quote there would split them into other names. Refuse before anything runs.
    if (p.extractArchive && !archiver_commands::canCarry(fs::absolute(p.outputBase).string())) {
        return fail(kExitArchiver, "the output " + displayName(p.outputBase) +
                                       " holds the character '" + archiver_commands::kUnquotable +
                                       "', which the archiver's command line cannot carry; choose "
                                       "another folder or name (nothing was extracted)");
    }
    return std::nullopt;
}

// Whether the output's name is free to take (or may be replaced). A strong file's name is known
// only once it is decrypted: it is checked then.
std::optional<Outcome> outputNameIsFree(const Options &o, const Plan &p) {
    if (!p.extractArchive && !p.strong) {
        struct stat out;
        if (::lstat(p.outputPath.c_str(), &out) == 0) {
            const std::string shown = displayName(p.outputPath);
            if (sameFile(p.outputPath, p.input))
                return fail(kExitSameFile, "the output " + shown + " would be the input itself");
            if (S_ISDIR(out.st_mode))
                return fail(kExitOutputExists, shown + " is a folder; not replaced");
            if (!o.force)
                return fail(kExitOutputExists, shown + " exists; use --force to replace it");
        }
    }
    return std::nullopt;
}

Plan planOne(const Options &o, const std::string &input) {
    Plan p;
    p.input = input;
    std::string name;
    p.failed = examineInput(o, p, name);
    if (!p.failed)
        p.failed = nameOutput(o, p, name);
    if (!p.failed)
        p.failed = outputNameIsFree(o, p);
    return p;
}

} // namespace

int combinedExitCode(const std::vector<int> &codes) {
    int result = kExitOk;
    for (int code : codes) {
        if (code == kExitOk)
            continue;
        if (result == kExitOk)
            result = code;
        else if (result != code)
            return kExitMixed;
    }
    return result;
}

std::optional<std::string> OutputClaims::claim(const std::string &outputPath,
                                               const std::string &input) {
    const std::string key = fs::absolute(outputPath).lexically_normal().string();
    const std::lock_guard lock(m_mutex);
    const auto [it, fresh] = m_claims.emplace(key, input);
    if (fresh || it->second == input)
        return std::nullopt;
    return it->second;
}

std::vector<Plan> planAll(const Options &options, OutputClaims &claims) {
    std::vector<Plan> plans;
    for (const auto &input : options.inputs) {
        Plan p = planOne(options, input);
        // A strong file's output is known only from its recorded name: claimed when decrypted.
        if (!p.failed && !p.extractArchive && !p.strong)
            p.failed = sharedOutput(claims, p.outputPath, input);
        plans.push_back(std::move(p));
    }
    return plans;
}

Outcome convertOne(const Plan &plan, const Settings &settings, Reporter &reporter,
                   ArchiverClient *archiver) {
    ProgressLink link{&reporter};
    Outcome outcome;
    try {
        outcome = settings.options.command == Command::Encrypt
                      ? encryptOne(plan, settings, archiver, link)
                      : decryptOne(plan, settings, archiver, link);
    } catch (const std::bad_alloc &) {
        outcome = fail(kExitInternal, "out of memory");
    } catch (const std::exception &e) {
        outcome = fail(kExitInternal, std::string("unexpected failure: ") + e.what());
    }
    // A failed or compressed input still counts as done for the bar.
    if (plan.size > link.reported)
        reporter.advance(plan.size - link.reported);
    return outcome;
}

int runAll(std::vector<Plan> &plans, const Settings &settings, Reporter &reporter,
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

    const auto failed =
        size_t(std::count_if(codes.begin(), codes.end(), [](int c) { return c != kExitOk; }));
    const int status = combinedExitCode(codes);
    if (plans.size() > 1 || failed)
        reporter.note(std::to_string(plans.size() - failed) + " of " +
                      std::to_string(plans.size()) + " converted, " + std::to_string(failed) +
                      " failed" + (status ? " (exit status " + std::to_string(status) + ")" : ""));
    return status;
}

} // namespace cli
