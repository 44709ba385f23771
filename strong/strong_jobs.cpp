#include "strong_jobs.h"

#include "fd.h"
#include "kind_names.h"
#include "naming.h"
#include "publish.h"
#include "temporaries.h"
#include "transfers.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace strong {
namespace {

namespace files = tolvex::files;

// Containers read and write in pieces as small as their fields and blocks; these hold a
// megabyte at a time, so that a file costs few system calls whatever its kind's framing.
constexpr size_t kStaging = size_t(1) << 20;

// A file opened for reading, from any offset, read ahead a megabyte at a time. One reader at a
// time uses it (decryption's helper thread only after the opening was read).
class ReadAhead {
  public:
    explicit ReadAhead(int fd) : m_fd(fd), m_buffer(kStaging) {}
    int64_t readAt(uint64_t offset, uint8_t *out, size_t size) {
        if (size >= m_buffer.size())
            return files::readAt(m_fd, offset, out, size);
        if (offset < m_start || offset + size > m_start + m_length) {
            const int64_t got = files::readAt(m_fd, offset, m_buffer.data(), m_buffer.size());
            if (got < 0)
                return -1;
            m_start = offset;
            m_length = uint64_t(got);
        }
        const uint64_t n = std::min<uint64_t>(size, m_start + m_length - offset);
        std::memcpy(out, m_buffer.data() + (offset - m_start), size_t(n));
        return int64_t(n);
    }

  private:
    int m_fd;
    std::vector<uint8_t> m_buffer;
    uint64_t m_start = 0, m_length = 0;
};

ContainerInput inputOf(const std::shared_ptr<ReadAhead> &file, const struct stat &st) {
    return {[file](uint64_t offset, uint8_t *buffer, size_t size) {
                return file->readAt(offset, buffer, size);
            },
            uint64_t(st.st_size)};
}

// A new file written in order, gathered a megabyte at a time, with fields over bytes already
// written. flush() before the file is used: what is gathered is not yet in it.
class Gathered {
  public:
    explicit Gathered(int fd) : m_fd(fd) { m_buffer.reserve(kStaging); }
    bool write(const uint8_t *data, size_t size) {
        if (m_buffer.size() + size > kStaging && !flush())
            return false;
        if (size >= kStaging)
            return files::writeAll(m_fd, data, size);
        m_buffer.insert(m_buffer.end(), data, data + size);
        return true;
    }
    bool patch(uint64_t offset, const uint8_t *data, size_t size) {
        return flush() && files::writeAt(m_fd, offset, data, size);
    }
    bool flush() {
        const bool ok = m_buffer.empty() || files::writeAll(m_fd, m_buffer.data(), m_buffer.size());
        m_buffer.clear();
        return ok;
    }

  private:
    int m_fd;
    std::vector<uint8_t> m_buffer;
};

ContainerOutput outputOf(Gathered &file) {
    return {[&file](const uint8_t *data, size_t size) { return file.write(data, size); },
            [&file](uint64_t offset, const uint8_t *data, size_t size) {
                return file.patch(offset, data, size);
            }};
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
    Gathered gathered(out.fd());
    Status status = encrypt(requestFor(settings, recordedName, st), readerOf(in.get()),
                            outputOf(gathered), hooks);
    if (status == Status::Ok && !gathered.flush())
        status = Status::WriteFailed;
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
    Status status = decrypt(passphrase, inputOf(std::make_shared<ReadAhead>(in.get()), st),
                            writerOf(out.fd()), result, checked);
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
    return identify(passphrase, inputOf(std::make_shared<ReadAhead>(in.get()), st), opened);
}

} // namespace strong
