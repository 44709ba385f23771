#include "planning.h"

#include "archiver_commands.h"
#include "display_name.h"
#include "engine.h"
#include "exit_codes.h"
#include "fd.h"
#include "folders.h"
#include "layout.h"
#include "naming.h"
#include "paths.h"
#include "recognition.h"
#include "strong_jobs.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {
namespace {

namespace fs = std::filesystem;

// The input as it stands: there, readable, and of a kind the command takes. Sets what the
// plan learns on the way, and the name the output is made from.
std::optional<Outcome> examineInput(const Settings &settings, Plan &p, std::string &name) {
    const Options &o = settings.options;
    const std::string &input = p.input;
    const bool encrypting = settings.encrypting();
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
        const int fd = tolvex::files::openRegular(input.c_str());
        if (fd < 0)
            return fail(kExitInputUnreadable, "cannot be read: " + whyUnreadable(errno));
        ::close(fd);
        p.size = static_cast<uint64_t>(st.st_size);
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
        !tolvex::isUsableExtension(std::string(tolvex::extensionOf(name))))
        return fail(kExitInputUnreadable,
                    "its extension holds a control character, which no decrypted name may hold; "
                    "rename it or use --compress");
    if (encrypting && o.strong && !strong::isUsableName(baseName(withoutTrailingSlashes(input))))
        return fail(kExitInputUnreadable,
                    "its name holds a control character, which no decrypted name may hold; "
                    "rename it first");
    strong::Preamble preamble;
    const strong::Status strongProbe =
        encrypting ? strong::Status::NotStrong : strong::probeStrongFile(input, preamble);
    if (strongProbe == strong::Status::Ok) {
        p.strong = true;
    } else if (strongProbe != strong::Status::NotStrong) {
        return strongFailure(strongProbe, input, ".", 0, "");
    }
    if (encrypting && o.strong && !o.compress && !p.folderInput &&
        p.size > strong::maxContent(o.kind))
        return fail(kExitInputUnreadable, tooLargeText(o.kind, p.size));
    if (!encrypting && !p.strong) {
        const Recognition seen = recognise(input, settings.templatePath);
        if (!seen.error.empty())
            return fail(kExitInputUnreadable, "cannot be read: " + seen.error);
        // A strong file of version 2 shows nothing of itself: whatever cannot be classic is
        // tried with the passphrase, and a file that may be either is tried both ways.
        if (!seen.extension) {
            p.strong = true;
            p.unmarked = true;
        } else {
            p.extension = *seen.extension;
            p.extractArchive = o.extract && lowered(p.extension) == "lzh";
            p.strongAfterClassic = seen.verdict != Verdict::Encoded;
        }
    }
    return std::nullopt;
}

// Where the output goes and under which name.
std::optional<Outcome> nameOutput(const Settings &settings, Plan &p, const std::string &name) {
    const Options &o = settings.options;
    const bool encrypting = settings.encrypting();
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
    // The folder that holds leafName(outputBase): for "out/" (a dot-file named by its
    // extension alone) that is "out" itself.
    const size_t slash = p.outputBase.rfind('/');
    p.outputFolder = slash == std::string::npos ? std::string(".")
                     : slash == 0               ? std::string("/")
                                                : p.outputBase.substr(0, slash);
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

Plan planOne(const Settings &settings, const std::string &input) {
    Plan p;
    p.input = input;
    std::string name;
    p.failed = examineInput(settings, p, name);
    if (!p.failed)
        p.failed = nameOutput(settings, p, name);
    // A strong file's name is known only once it is decrypted: it is checked then.
    if (!p.failed && !p.extractArchive && !p.strong)
        p.failed = outputIsFree(p.outputPath, p.input, settings.options.force, "");
    return p;
}

} // namespace

std::vector<Plan> planAll(const Settings &settings) {
    std::vector<Plan> plans;
    for (const auto &input : settings.options.inputs) {
        Plan p = planOne(settings, input);
        // A strong file's output is known only from its recorded name: claimed when decrypted.
        if (!p.failed && !p.extractArchive && !p.strong)
            p.failed = settings.claims->refuseShared(p.outputPath, input);
        plans.push_back(std::move(p));
    }
    return plans;
}

void holdOutputFolders(std::vector<Plan> &plans) {
    std::map<std::string, std::shared_ptr<const tolvex::files::Fd>> held;
    for (Plan &p : plans) {
        if (p.failed)
            continue;
        auto &folder = held[p.outputFolder];
        if (!folder)
            folder = std::make_shared<const tolvex::files::Fd>(tolvex::files::openFolder(
                p.outputFolder.empty() ? std::string(".") : p.outputFolder));
        // A folder that cannot be opened is refused when its job starts, saying why.
        if (folder->valid())
            p.folder = folder;
    }
}

} // namespace cli
