#include "archive_reader.h"
#include "commands.h"
#include "crc16.h"
#include "platform.h"
#include "temporary.h"
#include "unlha32.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <fnmatch.h>
#include <lhasa.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace unlha {
namespace {

using Parts = std::vector<std::string>;

Parts splitPath(const std::string &path) {
    Parts parts;
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
        if (::fnmatch(p.c_str(), path.c_str(), 0) == 0 ||
            ::fnmatch(p.c_str(), name.c_str(), 0) == 0)
            return true;
    return false;
}

struct Failure {
    int code = 0;
    std::string text;
};

// Opens (creating when missing) the folders `parts[0, count)` below `root`, one level at a
// time and never through a link, so nothing can lead out of it. Folders it creates get
// `createdMode` (0700 by default; always open to their owner while being filled) and are
// added to `created`.
Fd openFolders(int root, const Parts &parts, size_t count, Failure &failure,
               std::vector<Parts> *created = nullptr, mode_t createdMode = 0700) {
    Fd current = duplicate(root);
    for (size_t i = 0; i < count && current.valid(); ++i) {
        Fd next = openFolderAt(current.get(), parts[i]);
        if (!next.valid() && errno == ENOENT) {
            if (::mkdirat(current.get(), parts[i].c_str(), 0700) != 0) {
                failure = {UNLHA_ERROR_WRITE, "cannot create the folder " + parts[i]};
                return Fd();
            }
            if (created)
                created->emplace_back(parts.begin(), parts.begin() + long(i + 1));
            next = openFolderAt(current.get(), parts[i]);
            if (next.valid())
                ::fchmod(next.get(), createdMode | S_IRWXU);
        }
        if (!next.valid()) {
            failure =
                errno == ELOOP || errno == ENOTDIR
                    ? Failure{UNLHA_ERROR_UNSAFE, "a link or file stands in the way: " + parts[i]}
                    : Failure{UNLHA_ERROR_WRITE, "cannot open the folder " + parts[i]};
            return Fd();
        }
        current = std::move(next);
    }
    if (!current.valid() && failure.code == 0)
        failure = {UNLHA_ERROR_INTERNAL, "out of descriptors"};
    return current;
}

// Whether a member can take its place in the destination: every folder on its way is a
// folder (or missing), and a file does not meet a folder of its name.
bool fitsDestination(int root, const Parts &parts, bool folder, Failure &failure) {
    Fd current = duplicate(root);
    for (size_t i = 0; i < parts.size() && current.valid(); ++i) {
        struct stat st;
        if (::fstatat(current.get(), parts[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return errno == ENOENT ||
                   (failure = {UNLHA_ERROR_WRITE, "cannot look at " + parts[i]}, false);
        const bool last = i + 1 == parts.size();
        if (last && !folder) {
            if (S_ISDIR(st.st_mode)) {
                failure = {UNLHA_ERROR_WRITE, "a folder has the name of a member: " + parts[i]};
                return false;
            }
            return true;
        }
        if (!S_ISDIR(st.st_mode)) {
            failure = {UNLHA_ERROR_UNSAFE, "a link or file stands in the way: " + parts[i]};
            return false;
        }
        current = openFolderAt(current.get(), parts[i]);
    }
    if (!current.valid()) {
        failure = {UNLHA_ERROR_WRITE, "cannot open a folder of the destination"};
        return false;
    }
    return true;
}

// Decodes the current member into a new file in the staging folder and checks its length and
// CRC. A decoder that produces more than the member declares is stopped there.
bool extractFile(ArchiveReader &reader, const ScannedMember &m, int folder, const std::string &name,
                 mode_t mask, Failure &failure) {
    ::unlinkat(folder, name.c_str(), 0); // an earlier member of the same name
    Fd out = createFileAt(folder, name, 0600);
    if (!out.valid()) {
        failure = {UNLHA_ERROR_WRITE, "cannot create " + m.path};
        return false;
    }
    std::vector<uint8_t> buffer(size_t(1) << 16);
    uint64_t length = 0;
    uint16_t crc = 0;
    for (;;) {
        const size_t n = reader.read(buffer.data(), buffer.size());
        if (n == 0)
            break;
        if (length + n > m.length) {
            failure = {UNLHA_ERROR_DAMAGED, "damaged data (longer than stored) in " + m.path};
            return false;
        }
        crc = crc16Update(crc, buffer.data(), n);
        if (!writeAt(out.get(), length, buffer.data(), n)) {
            failure = {UNLHA_ERROR_WRITE, "cannot write " + m.path};
            return false;
        }
        length += n;
    }
    if (length != m.length || crc != m.crc) {
        failure = {UNLHA_ERROR_DAMAGED, "damaged data (CRC error) in " + m.path};
        return false;
    }
    // Never set-user-ID, set-group-ID or sticky; never wider than the umask allows.
    const mode_t mode = (m.unixMode ? mode_t(*m.unixMode) : mode_t(0666)) & 0777 & ~mask;
    const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(m.mtime), 0}};
    if (::fchmod(out.get(), mode) != 0 || ::futimens(out.get(), times) != 0 || !out.close()) {
        failure = {UNLHA_ERROR_WRITE, "cannot write " + m.path};
        return false;
    }
    return true;
}

// Moves staged files into the destination and can put everything back as it was.
class Mover {
  public:
    // Folders it creates in the destination get `folderMode`.
    Mover(int root, int staging, mode_t folderMode)
        : m_root(root), m_staging(staging), m_folderMode(folderMode) {}
    ~Mover() {
        if (!m_committed)
            rollBack();
    }
    Mover(const Mover &) = delete;
    Mover &operator=(const Mover &) = delete;

    bool ensureFolder(const Parts &parts, Failure &failure) {
        return openFolders(m_root, parts, parts.size(), failure, &m_created, m_folderMode).valid();
    }

    bool moveFile(const Parts &parts, Failure &failure) {
        Fd target = openFolders(m_root, parts, parts.size() - 1, failure, &m_created, m_folderMode);
        if (!target.valid())
            return false;
        Fd source = openFolders(m_staging, parts, parts.size() - 1, failure);
        if (!source.valid())
            return false;
        const char *name = parts.back().c_str();
        if (::renameat2(source.get(), name, target.get(), name, RENAME_NOREPLACE) == 0) {
            m_moves.push_back({parts, false});
            return true;
        }
        if (errno == EEXIST) {
            // The old file goes to the staging folder in the same step, to come back on failure.
            if (::renameat2(source.get(), name, target.get(), name, RENAME_EXCHANGE) == 0) {
                m_moves.push_back({parts, true});
                return true;
            }
        }
        if (errno == EINVAL || errno == ENOSYS) {
            // A file system without exchange: replaced for good.
            if (::renameat(source.get(), name, target.get(), name) == 0)
                return true;
        }
        failure = {UNLHA_ERROR_WRITE, "cannot move into place: " + parts.back()};
        return false;
    }

    void commit() { m_committed = true; }

  private:
    void rollBack() {
        for (auto it = m_moves.rbegin(); it != m_moves.rend(); ++it) {
            Failure ignored;
            Fd target = openFolders(m_root, it->parts, it->parts.size() - 1, ignored);
            Fd source = openFolders(m_staging, it->parts, it->parts.size() - 1, ignored);
            if (!target.valid() || !source.valid())
                continue;
            const char *name = it->parts.back().c_str();
            ::renameat2(target.get(), name, source.get(), name,
                        it->exchanged ? RENAME_EXCHANGE : RENAME_NOREPLACE);
        }
        for (auto it = m_created.rbegin(); it != m_created.rend(); ++it) {
            Failure ignored;
            Fd parent = openFolders(m_root, *it, it->size() - 1, ignored);
            if (parent.valid())
                ::unlinkat(parent.get(), it->back().c_str(), AT_REMOVEDIR);
        }
    }

    struct Move {
        Parts parts;
        bool exchanged;
    };
    int m_root;
    int m_staging;
    mode_t m_folderMode;
    std::vector<Move> m_moves;
    std::vector<Parts> m_created;
    bool m_committed = false;
};

} // namespace

int extractArchive(const Command &command, std::string &message) {
    int archiveFd = -1;
    if (const int code = openArchive(command.archive, archiveFd, message); code != UNLHA_OK)
        return code;
    const Fd archive(archiveFd);
    std::vector<ScannedMember> members;
    if (const int code = scanArchive(archive.get(), members, message); code != UNLHA_OK)
        return code;
    std::vector<bool> selected(members.size());
    size_t selectedCount = 0;
    uint64_t declared = 0;
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
        if (!selected[i])
            continue;
        if (!m.decodable) {
            message = "unknown compression method in " + m.path;
            return UNLHA_ERROR_DAMAGED;
        }
        const Parts parts = splitPath(*m.safePath);
        if (isTemporaryName(parts.front())) {
            // The next run in this folder would take it for a temporary left by a killed one.
            message =
                "refused: a member has a name the archiver keeps for its temporaries, " + m.path;
            return UNLHA_ERROR_UNSAFE;
        }
        for (const auto &part : parts)
            if (part.size() > NAME_MAX) {
                message = "a member's name is too long for this system: " + m.path;
                return UNLHA_ERROR_NAME;
            }
        ++selectedCount;
        declared += m.length;
    }
    if (selectedCount == 0) {
        message = "no member matches the patterns given";
        return UNLHA_ERROR_NO_MATCH;
    }

    const std::string destination = command.folder.empty() ? "." : command.folder;
    // Folders, headers and rounding take some room too: ask for a little more than the data.
    const auto available = freeSpace(destination);
    if (available && declared + declared / 64 + selectedCount * 4096 > *available) {
        message = "the members need " + std::to_string(declared) + " bytes, the destination has " +
                  std::to_string(*available) + " free";
        return UNLHA_ERROR_NO_SPACE;
    }
    if (!makeFolders(destination)) {
        message = "cannot create the destination " + destination;
        return UNLHA_ERROR_WRITE;
    }
    Fd root(::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root.valid()) {
        message = "cannot open the destination " + destination;
        return UNLHA_ERROR_WRITE;
    }
    Failure failure;
    for (size_t i = 0; i < members.size(); ++i)
        if (selected[i] && !fitsDestination(root.get(), splitPath(*members[i].safePath),
                                            members[i].folder, failure)) {
            message = failure.text;
            return failure.code;
        }

    auto reader = ArchiveReader::open(archive.get());
    if (!reader) {
        message = "cannot read the archive";
        return UNLHA_ERROR_READ;
    }
    StagingFolder staging(root.get());
    if (!staging.valid()) {
        message = "cannot create a staging folder in " + destination;
        return UNLHA_ERROR_WRITE;
    }
    const auto mask = mode_t(processUmask());
    for (size_t i = 0; i < members.size() && failure.code == 0; ++i) {
        LHAFileHeader *h = reader->next();
        if (!h || memberPath(h) != members[i].path) {
            message = "the archive changed while it was read";
            return UNLHA_ERROR_DAMAGED;
        }
        if (!selected[i])
            continue;
        const ScannedMember &m = members[i];
        const Parts parts = splitPath(*m.safePath);
        Fd folder =
            openFolders(staging.fd(), parts, m.folder ? parts.size() : parts.size() - 1, failure);
        if (folder.valid() && !m.folder)
            extractFile(*reader, m, folder.get(), parts.back(), mask, failure);
    }
    if (failure.code != 0) {
        message = failure.text;
        return failure.code;
    }

    // Every member passed: into place, in archive order.
    Mover mover(root.get(), staging.fd(), mode_t(0777 & ~mask));
    std::set<std::string> moved;
    for (size_t i = 0; i < members.size() && failure.code == 0; ++i) {
        if (!selected[i] || !moved.insert(*members[i].safePath).second)
            continue;
        const Parts parts = splitPath(*members[i].safePath);
        if (members[i].folder)
            mover.ensureFolder(parts, failure);
        else
            mover.moveFile(parts, failure);
    }
    if (failure.code != 0) {
        message = failure.text;
        return failure.code;
    }
    mover.commit();

    // Folder modes and times last, deepest first, since filling a folder changes its time.
    // Folders stay open to their owner.
    std::set<Parts> done;
    for (size_t i = members.size(); i-- > 0;) {
        const ScannedMember &m = members[i];
        if (!selected[i] || !m.folder)
            continue;
        const Parts parts = splitPath(*m.safePath);
        Failure ignored;
        Fd folder = openFolders(root.get(), parts, parts.size(), ignored);
        if (!folder.valid() || !done.insert(parts).second)
            continue;
        if (m.unixMode)
            ::fchmod(folder.get(), (mode_t(*m.unixMode) & 0777 & ~mask) | S_IRWXU);
        const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(m.mtime), 0}};
        ::futimens(folder.get(), times);
    }
    staging.remove();
    message = "extracted " + std::to_string(selectedCount) + " member(s)";
    return UNLHA_OK;
}

} // namespace unlha
