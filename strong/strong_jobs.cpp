#include "strong_jobs.h"

#include "fd.h"
#include "kind_names.h"
#include "naming.h"
#include "temporaries.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace strong {
namespace {

namespace files = tolvex::files;

strong::ReadFn readerOf(int fd) {
    return [fd](uint8_t *buffer, size_t size) -> int64_t {
        for (;;) {
            const ssize_t n = ::read(fd, buffer, size);
            if (n < 0 && errno == EINTR)
                continue;
            return n;
        }
    };
}

strong::WriteFn writerOf(int fd) {
    return [fd](const uint8_t *data, size_t size) { return files::writeAll(fd, data, size); };
}

// A new output in the staging folder: private while it is written.
files::Fd createOutput(const std::string &output) {
    return files::Fd(
        ::open(output.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
}

// Gives a finished output its permissions (the source's, as cp does) and closes it: a late
// write error (NFS, quota) shows here.
strong::Status finish(files::Fd &out, mode_t sourceMode) {
    if (::fchmod(out.get(), files::outputMode(sourceMode)) != 0 || !out.close())
        return strong::Status::WriteFailed;
    return strong::Status::Ok;
}

// The source, opened as a regular file, and what it is.
files::Fd openSource(const std::string &source, struct stat &st) {
    files::Fd in(files::openRegular(source.c_str()));
    if (in.valid() && ::fstat(in.get(), &st) != 0)
        return files::Fd();
    return in;
}

// What encrypt() is asked for a source of this size, recording `name`.
EncryptRequest requestFor(const StrongEncryption &settings, const std::string &name,
                          const struct stat &source) {
    EncryptRequest request;
    request.kind = settings.kind;
    request.templatePath = settings.templatePath;
    request.kdf = settings.kdf;
    request.passphrase = settings.passphrase;
    request.name = name;
    request.size = static_cast<uint64_t>(source.st_size);
    return request;
}

// The permission bits the output is made from: the stand-in's chosen ones, else the source's.
mode_t outputModeFor(const StrongEncryption &settings, const struct stat &source) {
    return settings.permissions ? static_cast<mode_t>(*settings.permissions) : source.st_mode;
}

} // namespace

strong::Status encryptStrongFile(const std::string &source, const std::string &name,
                                 const std::string &output, const StrongEncryption &settings,
                                 const strong::Hooks &hooks) {
    struct stat st;
    const files::Fd in = openSource(source, st);
    if (!in.valid())
        return strong::Status::ReadFailed;
    files::Fd out = createOutput(output);
    if (!out.valid())
        return strong::Status::WriteFailed;
    // Publishing syncs the file when it replaces one, as for classic outputs.
    strong::Status status = strong::encrypt(requestFor(settings, name, st), readerOf(in.get()),
                                            writerOf(out.get()), hooks);
    if (status == strong::Status::Ok)
        status = finish(out, outputModeFor(settings, st));
    return status;
}

strong::Status decryptStrongFile(const std::string &source, const std::string &output,
                                 std::string_view passphrase, strong::Decrypted &result,
                                 const strong::Hooks &hooks) {
    struct stat st;
    const files::Fd in = openSource(source, st);
    if (!in.valid())
        return strong::Status::ReadFailed;
    strong::Status status;
    {
        files::Fd out = createOutput(output);
        if (!out.valid())
            return strong::Status::WriteFailed;
        status =
            strong::decrypt(passphrase, readerOf(in.get()), writerOf(out.get()), result, hooks);
        if (status == strong::Status::Ok)
            status = finish(out, st.st_mode);
    }
    if (status != strong::Status::Ok)
        ::unlink(output.c_str());
    return status;
}

std::string recordedExtension(const std::string &recorded, const std::string &baseName) {
    // A recorded name is a bare name (readers refuse a '/'): its extension follows the last dot.
    const size_t dot = recorded.rfind('.');
    std::string extension = dot == std::string::npos ? std::string() : recorded.substr(dot + 1);
    if (!extension.empty() && baseName == recorded)
        extension.clear();
    return extension;
}

std::string decryptedName(const std::string &recorded, const std::string &baseName) {
    return tolvex::decodedName(baseName, recordedExtension(recorded, baseName));
}

namespace {

// Gives a finished temporary its permissions and its name.
Status publish(files::TemporaryFile &output, mode_t mode, const std::string &name, bool replace) {
    if (!files::setMode(output.fd(), files::outputMode(mode)) || !files::syncFile(output.fd()))
        return Status::WriteFailed;
    if (replace ? output.replace(name) : output.linkAs(name))
        return Status::Ok;
    return errno == EEXIST ? Status::OutputExists : Status::WriteFailed;
}

// Whether `name` is taken in the folder (by anything, a link included).
bool taken(int folder, const std::string &name) {
    return files::statusAt(folder, name, false).has_value();
}

} // namespace

Status encryptStrongInto(const std::string &source, const std::string &recordedName, int folder,
                         const std::string &outputName, bool replace,
                         const StrongEncryption &settings, const Hooks &hooks) {
    struct stat st;
    const files::Fd in = openSource(source, st);
    if (!in.valid())
        return Status::ReadFailed;
    if (!replace && taken(folder, outputName))
        return Status::OutputExists;
    files::TemporaryFile out(folder, files::kCodecPrefix);
    if (!out.valid())
        return Status::WriteFailed;
    Status status = encrypt(requestFor(settings, recordedName, st), readerOf(in.get()),
                            writerOf(out.fd()), hooks);
    if (status == Status::Ok)
        status = publish(out, outputModeFor(settings, st), outputName, replace);
    if (status != Status::Ok)
        out.discard();
    return status;
}

Status decryptStrongInto(const std::string &source, int folder, const std::string &baseName,
                         bool replace, std::string_view passphrase, std::string &outputName,
                         const Hooks &hooks) {
    struct stat st;
    const files::Fd in = openSource(source, st);
    if (!in.valid())
        return Status::ReadFailed;
    files::TemporaryFile out(folder, files::kCodecPrefix);
    if (!out.valid())
        return Status::WriteFailed;
    Hooks checked = hooks;
    checked.acceptName = [&](const std::string &recorded) {
        if (!tolvex::isUsableExtension(recordedExtension(recorded, baseName)))
            return Status::BadName;
        outputName = decryptedName(recorded, baseName);
        if (outputName.size() > kMaxNameSize)
            return Status::NameTooLong;
        if (!replace && taken(folder, outputName))
            return Status::OutputExists;
        return hooks.acceptName ? hooks.acceptName(recorded) : Status::Ok;
    };
    Decrypted result;
    Status status = decrypt(passphrase, readerOf(in.get()), writerOf(out.fd()), result, checked);
    if (status == Status::Ok)
        status = publish(out, st.st_mode, outputName, replace);
    if (status != Status::Ok)
        out.discard();
    return status;
}

strong::Status probeStrongFile(const std::string &path, strong::Preamble &preamble) {
    const files::Fd in(files::openRegular(path.c_str()));
    if (!in.valid())
        return strong::Status::ReadFailed;
    std::vector<uint8_t> leading(strong::probeSize());
    const int64_t got = files::readSome(in.get(), leading.data(), leading.size());
    if (got < 0)
        return strong::Status::ReadFailed;
    leading.resize(size_t(got));
    return strong::probe(leading, preamble);
}

std::string describeStrong(const std::string &shownPath, const strong::Preamble &preamble) {
    std::string s = shownPath + ":\n";
    s += "  disguise:       " +
         (preamble.kind
              ? tolvex::kindName(preamble.kind) + " (kind " + std::to_string(preamble.kind) + ")"
              : std::string("none")) +
         "\n";
    s += "  encoded:        strong (format version " + std::to_string(preamble.version) + ")\n";
    const uint64_t kib = preamble.kdf.memLimit >> 10;
    s += "  key derivation: Argon2id, " + std::to_string(preamble.kdf.opsLimit) + " passes, " +
         (kib % 1024 == 0 ? std::to_string(kib >> 10) + " MiB" : std::to_string(kib) + " KiB") +
         "\n";
    return s;
}

} // namespace strong
