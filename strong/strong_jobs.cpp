#include "strong_jobs.h"

#include "fd.h"
#include "kind_names.h"
#include "naming.h"
#include "publish.h"
#include "temporaries.h"
#include "transfers.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace strong {
namespace {

namespace files = tolvex::files;

// A file opened for reading, from any offset.
ContainerInput inputOf(int fd, const struct stat &st) {
    return {[fd](uint64_t offset, uint8_t *buffer, size_t size) {
                return files::readAt(fd, offset, buffer, size);
            },
            uint64_t(st.st_size)};
}

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

// A new file written in order, with fields over bytes already written.
ContainerOutput outputOf(int fd) {
    return {writerOf(fd), [fd](uint64_t offset, const uint8_t *data, size_t size) {
                return files::writeAt(fd, offset, data, size);
            }};
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

Status published(files::TemporaryFile &output, mode_t mode, const std::string &name, bool replace,
                 files::Fd *held) {
    // The caller may go on with the very file it published (the window offers an archive for
    // extraction): a descriptor taken before the name is given.
    if (held)
        *held = files::duplicate(output.fd());
    switch (files::publish(output, name, {replace, mode})) {
    case files::Published::Done:
        return Status::Ok;
    case files::Published::Exists:
        if (held)
            held->close();
        return Status::OutputExists;
    case files::Published::IsFolder:
    case files::Published::Failed:
        break;
    }
    if (held)
        held->close();
    return Status::WriteFailed;
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
                            outputOf(out.fd()), hooks);
    if (status == Status::Ok)
        status = published(out, outputModeFor(settings, st), outputName, replace, nullptr);
    if (status != Status::Ok)
        out.discard();
    return status;
}

Status decryptStrongInto(const std::string &source, int folder, const std::string &baseName,
                         bool replace, std::string_view passphrase, std::string &outputName,
                         const Hooks &hooks, files::Fd *written) {
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
    Status status = decrypt(passphrase, inputOf(in.get(), st), writerOf(out.fd()), result, checked);
    if (status == Status::Ok)
        status = published(out, st.st_mode, outputName, replace, written);
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

namespace {

std::string describeKind(int kind) {
    return kind ? tolvex::kindName(kind) + " (kind " + std::to_string(kind) + ")"
                : std::string("none");
}

std::string describeKdf(const KdfParams &kdf) {
    const uint64_t kib = kdf.memLimit >> 10;
    const std::string preset = kdfName(kdf);
    return "Argon2id, " + std::to_string(kdf.opsLimit) + " passes, " +
           (kib % 1024 == 0 ? std::to_string(kib >> 10) + " MiB" : std::to_string(kib) + " KiB") +
           (preset.empty() ? std::string() : " (" + preset + ")");
}

} // namespace

std::string describeStrong(const std::string &shownPath, const strong::Preamble &preamble) {
    return shownPath + ":\n  disguise:       " + describeKind(preamble.kind) +
           "\n  encoded:        strong (format version " + std::to_string(preamble.version) +
           ")\n  key derivation: " + describeKdf(preamble.kdf) + "\n";
}

std::string describeStrong(const std::string &shownPath, const strong::Decrypted &opened) {
    return shownPath + ":\n  disguise:       " + describeKind(opened.kind) +
           "\n  encoded:        strong (format version " + std::to_string(opened.version) +
           "), opened with the passphrase\n  key derivation: " + describeKdf(opened.kdf) + "\n";
}

strong::Status identifyStrongFile(const std::string &path, std::string_view passphrase,
                                  strong::Decrypted &opened) {
    struct stat st;
    const files::Fd in = openSource(path, st);
    if (!in.valid())
        return Status::ReadFailed;
    return identify(passphrase, inputOf(in.get(), st), opened);
}

} // namespace strong
