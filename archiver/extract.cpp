#include "archive_reader.h"
#include "commands.h"
#include "crc16.h"
#include "file_io.h"
#include "unlha32.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fnmatch.h>
#include <lhasa.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace unlha {
namespace {

std::vector<std::string> splitPath(const std::string &path) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t slash = path.find('/', start);
        const std::string part = path.substr(start, slash - start);
        if (!part.empty())
            parts.push_back(part);
        if (slash == std::string::npos)
            return parts;
        start = slash + 1;
    }
}

bool matches(const std::vector<std::string> &patterns, const std::string &path) {
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    for (const auto &p : patterns)
        if (::fnmatch(p.c_str(), path.c_str(), 0) == 0 || ::fnmatch(p.c_str(), name.c_str(), 0) == 0)
            return true;
    return false;
}

// Creates the destination folder and its missing parents.
bool makeFolders(const std::string &path) {
    std::string sofar;
    if (!path.empty() && path[0] == '/')
        sofar = "/";
    for (const auto &part : splitPath(path)) {
        sofar += part;
        if (::mkdir(sofar.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
        sofar += '/';
    }
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

struct Failure {
    int code;
    std::string text;
};

// Opens (creating when missing) the folders `parts[0, count)` below `root`, one level at a
// time and never through a link, so nothing can lead out of the destination.
Fd openFolders(int root, const std::vector<std::string> &parts, size_t count, Failure &failure) {
    Fd current(::dup(root));
    for (size_t i = 0; i < count && current.valid(); ++i) {
        int fd = ::openat(current.get(), parts[i].c_str(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            if (::mkdirat(current.get(), parts[i].c_str(), 0777) != 0 && errno != EEXIST) {
                failure = {UNLHA_ERROR_WRITE, "cannot create the folder " + parts[i]};
                return Fd();
            }
            fd = ::openat(current.get(), parts[i].c_str(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (fd < 0) {
            failure = errno == ELOOP || errno == ENOTDIR
                          ? Failure{UNLHA_ERROR_UNSAFE, "a link or file stands in the way: " +
                                                            parts[i]}
                          : Failure{UNLHA_ERROR_WRITE, "cannot open the folder " + parts[i]};
            return Fd();
        }
        current = Fd(fd);
    }
    if (!current.valid() && failure.code == 0)
        failure = {UNLHA_ERROR_INTERNAL, "out of descriptors"};
    return current;
}

std::string temporaryName() {
    static std::mt19937_64 random{std::random_device{}()};
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string name = ".unlha-";
    for (int i = 0; i < 10; ++i)
        name += kDigits[random() % 36];
    return name;
}

// Decodes the current member into a temporary file beside its final name, checks length and
// CRC, and only then renames it over whatever had that name.
bool extractFile(ArchiveReader &reader, const ScannedMember &m, int folder,
                 const std::string &name, Failure &failure) {
    std::string temp;
    Fd out;
    for (int attempt = 0; attempt < 100 && !out.valid(); ++attempt) {
        temp = temporaryName();
        out = Fd(::openat(folder, temp.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!out.valid() && errno != EEXIST)
            break;
    }
    if (!out.valid()) {
        failure = {UNLHA_ERROR_WRITE, "cannot create " + m.path};
        return false;
    }
    std::vector<uint8_t> buffer(size_t(1) << 16);
    uint64_t length = 0;
    uint16_t crc = 0;
    bool ok = true;
    for (;;) {
        const size_t n = reader.read(buffer.data(), buffer.size());
        if (n == 0)
            break;
        crc = crc16Update(crc, buffer.data(), n);
        if (!writeAt(out.get(), length, buffer.data(), n)) {
            failure = {UNLHA_ERROR_WRITE, "cannot write " + m.path};
            ok = false;
            break;
        }
        length += n;
    }
    if (ok && (length != m.length || crc != m.crc)) {
        failure = {UNLHA_ERROR_DAMAGED, "damaged data (CRC error) in " + m.path};
        ok = false;
    }
    if (ok) {
        const mode_t mode = m.unixMode ? mode_t(*m.unixMode & 07777 & ~mode_t(S_ISUID | S_ISGID))
                                       : mode_t(0644);
        const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(m.mtime), 0}};
        ::fchmod(out.get(), mode);
        ::futimens(out.get(), times);
        if (!out.close()) {
            failure = {UNLHA_ERROR_WRITE, "cannot write " + m.path};
            ok = false;
        }
    }
    if (ok && ::renameat(folder, temp.c_str(), folder, name.c_str()) != 0) {
        failure = {UNLHA_ERROR_WRITE, "cannot replace " + m.path};
        ok = false;
    }
    if (!ok)
        ::unlinkat(folder, temp.c_str(), 0);
    return ok;
}

} // namespace

int extractArchive(const Command &command, std::string &message) {
    struct stat st;
    if (::stat(command.archive.c_str(), &st) != 0) {
        message = "archive not found: " + command.archive;
        return UNLHA_ERROR_NOT_FOUND;
    }
    std::vector<ScannedMember> members;
    if (!scanArchive(command.archive, members, message))
        return UNLHA_ERROR_DAMAGED;
    std::vector<bool> selected(members.size());
    for (size_t i = 0; i < members.size(); ++i) {
        const ScannedMember &m = members[i];
        if (m.link) {
            message = "refused: the archive holds a link, " + m.path;
            return UNLHA_ERROR_UNSAFE;
        }
        if (!m.safePath) {
            message = "refused: a member's name leads outside the destination";
            return UNLHA_ERROR_UNSAFE;
        }
        selected[i] = matches(command.names, *m.safePath);
        if (selected[i] && !m.decodable) {
            message = "unknown compression method in " + m.path;
            return UNLHA_ERROR_DAMAGED;
        }
    }

    const std::string destination = command.folder.empty() ? "." : command.folder;
    if (!makeFolders(destination)) {
        message = "cannot create the destination " + destination;
        return UNLHA_ERROR_WRITE;
    }
    Fd root(::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root.valid()) {
        message = "cannot open the destination " + destination;
        return UNLHA_ERROR_WRITE;
    }
    auto reader = ArchiveReader::open(command.archive);
    if (!reader) {
        message = "cannot open the archive";
        return UNLHA_ERROR_READ;
    }

    struct FolderTimes {
        std::vector<std::string> parts;
        uint32_t mtime;
        std::optional<uint32_t> mode;
    };
    std::vector<FolderTimes> folders;
    Failure failure{0, {}};
    size_t extracted = 0;
    for (size_t i = 0; i < members.size(); ++i) {
        LHAFileHeader *h = reader->next();
        if (!h || memberPath(h) != members[i].path) {
            message = "the archive changed while it was read";
            return UNLHA_ERROR_DAMAGED;
        }
        if (!selected[i])
            continue;
        const ScannedMember &m = members[i];
        const auto parts = splitPath(*m.safePath);
        if (m.folder) {
            Fd folder = openFolders(root.get(), parts, parts.size(), failure);
            if (!folder.valid())
                break;
            folders.push_back({parts, m.mtime, m.unixMode});
        } else {
            Fd folder = openFolders(root.get(), parts, parts.size() - 1, failure);
            if (!folder.valid() || !extractFile(*reader, m, folder.get(), parts.back(), failure))
                break;
        }
        ++extracted;
    }
    if (failure.code != 0) {
        message = failure.text;
        return failure.code;
    }
    // Folder times last, deepest first, since extracting into a folder changes its time.
    std::reverse(folders.begin(), folders.end());
    for (const auto &f : folders) {
        Failure ignored{0, {}};
        Fd folder = openFolders(root.get(), f.parts, f.parts.size(), ignored);
        if (!folder.valid())
            continue;
        if (f.mode)
            ::fchmod(folder.get(), mode_t((*f.mode & 0777) | S_IRWXU));
        const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(f.mtime), 0}};
        ::futimens(folder.get(), times);
    }
    message = "extracted " + std::to_string(extracted) + " member(s)";
    return UNLHA_OK;
}

} // namespace unlha
