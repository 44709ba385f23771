#include "archive_reader.h"
#include "commands.h"
#include "crc16.h"
#include "folders.h"
#include "lha_writer.h"
#include "names.h"
#include "platform.h"
#include "publish.h"
#include "segment_scheduler.h"
#include "transfers.h"
#include "unlha32.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <system_error>

namespace unlha {
namespace {

struct Planned {
    MemberInfo info;
    bool folder = false;
    std::string diskPath; // for messages, and to open a file the user named
    // Below a folder the user named: that folder, held, and the path inside it, opened without
    // ever leaving it.
    std::shared_ptr<const Fd> root;
    std::string inside;
};

// Opens a member's file for reading: the named file as a shell would, anything below a named
// folder only inside that folder.
Fd openMember(const Planned &m) {
    if (m.root)
        return tolvex::files::openBeneath(m.root->get(), m.inside, O_RDONLY);
    OpenResult opened;
    return openRegular(AT_FDCWD, m.diskPath, true, opened);
}

struct Failure {
    int code = 0;
    std::string text;
};

uint32_t clampTime(time_t t) {
    if (t < 0)
        return 0;
    return static_cast<uint32_t>(std::min<int64_t>(static_cast<int64_t>(t), INT64_C(0xFFFFFFFF)));
}

// The name as stored: its parts joined by '/', without "." parts. Nothing for a name that is
// absolute, climbs with "..", or names nothing.
std::optional<std::string> storedName(const std::string &name) {
    if (name.empty() || name[0] == '/')
        return std::nullopt;
    std::string out;
    size_t start = 0;
    for (;;) {
        const size_t slash = name.find('/', start);
        const std::string part = name.substr(start, slash - start);
        if (part == "..")
            return std::nullopt;
        if (!part.empty() && part != ".") {
            if (!out.empty())
                out += '/';
            out += part;
        }
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    if (out.empty())
        return std::nullopt;
    return out;
}

class Planner {
  public:
    Planner(int recursion, std::optional<std::pair<dev_t, ino_t>> skip)
        : m_recursion(recursion), m_skip(skip) {}

    // Adds a named file or folder and, when recursing, everything below a folder. The name
    // itself may be a link, as with cp; below it a link is packed as what it names only when
    // that lies inside the named folder too, and refused otherwise.
    bool add(const std::string &diskPath, const std::string &memberPath) {
        const auto found = statusAt(AT_FDCWD, diskPath, true);
        if (!found) {
            if (errno == ENOENT)
                failure = {UNLHA_ERROR_NOT_FOUND, "not found: " + diskPath};
            else
                failure = {UNLHA_ERROR_READ, "cannot read " + diskPath};
            return false;
        }
        if (!S_ISDIR(found->st_mode))
            return addNode(*found, {diskPath, memberPath, nullptr, {}});
        auto root = std::make_shared<const Fd>(tolvex::files::openFolder(diskPath));
        const auto held = root->valid() ? status(root->get()) : std::nullopt;
        if (!held || !S_ISDIR(held->st_mode)) {
            failure = {UNLHA_ERROR_READ, "cannot read the folder " + diskPath};
            return false;
        }
        return addNode(*held, {diskPath, memberPath, root, "."});
    }

    std::vector<Planned> members;
    Failure failure;
    // The read and write bits for group and others that every packed file and folder allows:
    // a new archive allows no more, so that packing never makes private content readable.
    mode_t sharedBits = 066;

  private:
    struct Place {
        std::string diskPath;
        std::string memberPath;
        std::shared_ptr<const Fd> root;
        std::string inside;
    };

    // What lies at a place below a named folder: a link resolved inside that folder.
    std::optional<struct stat> inspect(const Place &place) {
        const Fd fd = tolvex::files::openBeneath(place.root->get(), place.inside, O_PATH);
        if (fd.valid())
            return status(fd.get());
        if (errno == EXDEV)
            failure = {UNLHA_ERROR_UNSAFE,
                       "refused: the link " + place.diskPath + " leads outside the folder packed"};
        else if (errno == ENOENT || errno == ELOOP)
            failure = {UNLHA_ERROR_READ, "a link that leads nowhere: " + place.diskPath};
        else
            failure = {UNLHA_ERROR_READ, "cannot read " + place.diskPath};
        return std::nullopt;
    }

    bool addNode(const struct stat &st, const Place &place) {
        if (m_skip && st.st_dev == m_skip->first && st.st_ino == m_skip->second)
            return true; // the archive itself, inside a folder being packed
        MemberInfo info{place.memberPath, clampTime(st.st_mtime),
                        static_cast<uint16_t>(st.st_mode & 0xFFFF)};
        sharedBits &= st.st_mode;
        const std::string inside = place.inside == "." ? std::string() : place.inside;
        if (S_ISREG(st.st_mode)) {
            if (m_paths.insert(place.memberPath).second)
                members.push_back({info, false, place.diskPath, place.root, inside});
            return true;
        }
        if (!S_ISDIR(st.st_mode)) {
            failure = {UNLHA_ERROR_READ, "neither a file nor a folder: " + place.diskPath};
            return false;
        }
        if (m_paths.insert(place.memberPath).second)
            members.push_back({info, true, place.diskPath, place.root, inside});
        if (m_recursion == 0)
            return true;
        const auto id = std::make_pair(st.st_dev, st.st_ino);
        if (!m_ancestors.insert(id).second)
            return true; // a link back up the tree: its content is already being packed
        const Fd folder = tolvex::files::openBeneath(place.root->get(), place.inside, O_RDONLY);
        const auto names =
            folder.valid() ? tolvex::files::listFolderAt(folder.get()) : std::nullopt;
        if (!names) {
            failure = {UNLHA_ERROR_READ, "cannot read the folder " + place.diskPath};
            return false;
        }
        for (const auto &name : *names) {
            const Place below{place.diskPath + "/" + name, place.memberPath + "/" + name,
                              place.root, inside.empty() ? name : inside + "/" + name};
            const auto found = inspect(below);
            if (!found || !addNode(*found, below))
                return false;
        }
        m_ancestors.erase(id);
        return true;
    }

    int m_recursion;
    std::optional<std::pair<dev_t, ino_t>> m_skip;
    std::set<std::string> m_paths;
    std::set<std::pair<dev_t, ino_t>> m_ancestors;
};

int statusCode(WriteStatus s) {
    switch (s) {
    case WriteStatus::Ok:
        return UNLHA_OK;
    case WriteStatus::ReadError:
        return UNLHA_ERROR_READ;
    case WriteStatus::WriteError:
        return UNLHA_ERROR_WRITE;
    case WriteStatus::TooLarge:
        return UNLHA_ERROR_TOO_LARGE;
    case WriteStatus::BadName:
        return UNLHA_ERROR_NAME;
    case WriteStatus::Internal:
        return UNLHA_ERROR_INTERNAL;
    }
    return UNLHA_ERROR_INTERNAL;
}

// Files up to this size are read whole, ahead of the writer, so that their segments (and
// several small files) are coded on all cores at once; larger ones are streamed.
constexpr uint64_t kReadWholeLimit = static_cast<uint64_t>(64) << 20;
// How much read-ahead data may wait to be written.
constexpr uint64_t kAheadBudget = static_cast<uint64_t>(64) << 20;

// Reads the files to pack ahead of the writer and queues their segments on the scheduler.
// Members are still written strictly in order, and each segment's bits depend only on the
// file's bytes: the archive is the same whatever the threads' timing.
class ReadAhead {
  public:
    struct File {
        bool streamed = false; // too large to read whole: the writer streams it
        bool readFailed = false;
        std::vector<uint8_t> data;
        uint16_t crc = 0;
        // After `data`: the segments still being coded are dropped or waited for before the
        // bytes they read go.
        std::optional<SegmentBatch> segments;
    };

    ReadAhead(const std::vector<Planned> &members, SegmentScheduler &scheduler)
        : m_members(members), m_scheduler(scheduler) {}

    // The file of member `index`, read, and coded unless streamed or unreadable; reads further
    // members ahead meanwhile. Valid until the next call.
    File &take(size_t index) {
        m_current.reset();
        readAhead(index);
        auto found = m_ahead.find(index);
        m_current = std::move(found->second);
        m_ahead.erase(found);
        m_aheadBytes -= m_current->data.size();
        if (m_current->streamed)
            m_blocked = false; // written next: reading ahead may go on after it
        return *m_current;
    }

  private:
    // Reads members from `index` on while the budget allows (always at least `index` itself),
    // stopping at a streamed file: it must be written before anything after it is read.
    void readAhead(size_t index) {
        for (; m_nextRead < m_members.size(); ++m_nextRead) {
            const Planned &m = m_members[m_nextRead];
            if (m.folder)
                continue;
            if (m_nextRead > index && (m_aheadBytes >= kAheadBudget || m_blocked))
                return;
            auto file = std::make_unique<File>();
            read(m, *file);
            m_aheadBytes += file->data.size();
            m_blocked = file->streamed;
            if (!file->streamed && !file->readFailed)
                file->segments.emplace(m_scheduler, file->data.data(), 0, file->data.size());
            m_ahead.emplace(m_nextRead, std::move(file));
        }
    }

    static void read(const Planned &m, File &file) {
        Fd source = openMember(m);
        const auto st = source.valid() ? status(source.get()) : std::nullopt;
        if (!st || !S_ISREG(st->st_mode)) {
            file.readFailed = true;
            return;
        }
        if (static_cast<uint64_t>(st->st_size) > kReadWholeLimit) {
            file.streamed = true;
            return;
        }
        // One byte more than expected tells a file that grew since.
        file.data.resize(static_cast<size_t>(st->st_size) + 1);
        const int64_t n = readAt(source.get(), 0, file.data.data(), file.data.size());
        if (n < 0) {
            file.readFailed = true;
            file.data.clear();
            return;
        }
        if (static_cast<uint64_t>(n) > static_cast<uint64_t>(st->st_size)) {
            file.data.clear();
            file.streamed = true;
            return;
        }
        file.data.resize(static_cast<size_t>(n));
        file.crc = crc16Update(0, file.data.data(), file.data.size());
    }

    const std::vector<Planned> &m_members;
    SegmentScheduler &m_scheduler;
    std::map<size_t, std::unique_ptr<File>> m_ahead;
    std::unique_ptr<File> m_current;
    size_t m_nextRead = 0;
    uint64_t m_aheadBytes = 0;
    bool m_blocked = false; // a streamed file lies ahead: read no further
};

} // namespace

namespace {

// The archive as it stands: a link is followed to its target (which is updated and stays
// behind the link); whatever is there must be a regular file.
struct ArchiveTarget {
    std::string path;
    bool exists = false;
    struct stat st {};
};

int findArchive(const Command &command, ArchiveTarget &target, std::string &message) {
    target.path = command.archive;
    const auto linkStatus = statusAt(AT_FDCWD, target.path, false);
    if (linkStatus && S_ISLNK(linkStatus->st_mode)) {
        const auto resolved = resolvedPath(target.path);
        if (!resolved) {
            message = "the archive path is a link to nothing: " + command.archive;
            return UNLHA_ERROR_WRITE;
        }
        target.path = *resolved;
    }
    const auto found = statusAt(AT_FDCWD, target.path, true);
    target.exists = found.has_value();
    if (found)
        target.st = *found;
    if (target.exists && !S_ISREG(target.st.st_mode)) {
        message = "the archive path is not a file: " + command.archive;
        return UNLHA_ERROR_WRITE;
    }
    return UNLHA_OK;
}

int planMembers(const Command &command, Planner &planner, std::string &message) {
    for (const auto &name : command.names) {
        const auto stored = storedName(name);
        if (!stored) {
            message = "a name to pack must lie inside the base folder: " + name;
            return UNLHA_ERROR_NAME;
        }
        if (!planner.add(command.folder + *stored, *stored)) {
            message = planner.failure.text;
            return planner.failure.code;
        }
    }
    return UNLHA_OK;
}

// Members of an existing archive stay, unless packed anew under the same path. A file that
// is not an archive, even an empty one, is never replaced.
int keptMembers(const Command &command, const ArchiveTarget &target, const Planner &planner,
                Fd &old, std::vector<ScannedMember> &kept, std::string &message) {
    if (!target.exists)
        return UNLHA_OK;
    int oldFd = -1;
    if (const int code = openArchive(target.path, oldFd, message); code != UNLHA_OK)
        return code;
    old = Fd(oldFd);
    std::vector<ScannedMember> members;
    uint64_t start = 0;
    if (const int code = scanArchive(old.get(), members, message, &start); code != UNLHA_OK) {
        if (code == UNLHA_ERROR_DAMAGED)
            message =
                "not replaced, it is not a sound archive (" + message + "): " + command.archive;
        return code;
    }
    // Rewritten, the program around the archive would be lost.
    if (start != 0) {
        message =
            "not replaced, a self-extracting program is read but never updated: " + command.archive;
        return UNLHA_ERROR_UNSUPPORTED;
    }
    std::set<std::string> fresh;
    for (const auto &m : planner.members)
        fresh.insert(m.info.path);
    for (auto &m : members)
        if (!fresh.count(m.path))
            kept.push_back(std::move(m));
    return UNLHA_OK;
}

// The kept members as they were, then every planned one, coded ahead on other cores.
int writeMembers(ArchiveWriter &writer, SegmentScheduler &scheduler, int old,
                 const std::vector<ScannedMember> &kept, const Planner &planner,
                 std::string &message) {
    for (const auto &m : kept) {
        const WriteStatus s = writer.copyRaw(old, m.headerStart, m.dataEnd - m.headerStart);
        if (s != WriteStatus::Ok) {
            message = "cannot copy " + m.path + " from the archive";
            return statusCode(s);
        }
    }
    ReadAhead ahead(planner.members, scheduler);
    for (size_t index = 0; index < planner.members.size(); ++index) {
        const Planned &m = planner.members[index];
        WriteStatus s;
        if (m.folder) {
            s = writer.addFolder(m.info);
        } else if (ReadAhead::File &file = ahead.take(index); !file.streamed) {
            if (file.readFailed) {
                message = "cannot read " + m.diskPath;
                return UNLHA_ERROR_READ;
            }
            if (!file.segments->wait()) {
                message = "cannot pack " + m.diskPath;
                return UNLHA_ERROR_INTERNAL;
            }
            s = writer.addRead(m.info, file.data.data(), file.data.size(), file.crc,
                               lh5JoinSegments(file.segments->parts()));
        } else {
            Fd source = openMember(m);
            const auto st = source.valid() ? status(source.get()) : std::nullopt;
            if (!st || !S_ISREG(st->st_mode)) {
                message = "cannot read " + m.diskPath;
                return UNLHA_ERROR_READ;
            }
            s = writer.addFile(m.info, source.get());
        }
        if (s != WriteStatus::Ok) {
            message =
                (s == WriteStatus::WriteError ? "cannot write the archive: " : "cannot pack ") +
                m.diskPath;
            return statusCode(s);
        }
    }
    return UNLHA_OK;
}

} // namespace

int packArchive(const Command &command, std::string &message) {
    ArchiveTarget target;
    if (const int code = findArchive(command, target, message); code != UNLHA_OK)
        return code;
    std::optional<std::pair<dev_t, ino_t>> skip;
    if (target.exists)
        skip = std::make_pair(target.st.st_dev, target.st.st_ino);
    Planner planner(command.recursion, skip);
    if (const int code = planMembers(command, planner, message); code != UNLHA_OK)
        return code;
    std::vector<ScannedMember> kept;
    Fd old;
    if (const int code = keptMembers(command, target, planner, old, kept, message);
        code != UNLHA_OK)
        return code;

    const std::string &archivePath = target.path;
    const size_t slash = archivePath.rfind('/');
    const std::string folderPath =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : archivePath.substr(0, slash));
    const std::string archiveName =
        slash == std::string::npos ? archivePath : archivePath.substr(slash + 1);
    Fd folder = tolvex::files::openFolder(folderPath);
    if (!folder.valid() || archiveName.empty()) {
        message = "cannot create the archive " + command.archive;
        return UNLHA_ERROR_WRITE;
    }
    tolvex::files::TemporaryFile temp(folder.get(), tolvex::files::kArchiverPrefix);
    if (!temp.valid()) {
        message = "cannot create the archive " + command.archive;
        return UNLHA_ERROR_WRITE;
    }
    // At the user's process limit no worker can start: say so rather than fail unexplained.
    std::unique_ptr<SegmentScheduler> workers;
    try {
        workers = std::make_unique<SegmentScheduler>();
    } catch (const std::system_error &e) {
        message = "cannot start the threads that compress the archive: " + std::string(e.what());
        return UNLHA_ERROR_INTERNAL;
    }
    SegmentScheduler &scheduler = *workers;
    ArchiveWriter writer(temp.fd(), scheduler);
    if (const int code = writeMembers(writer, scheduler, old.get(), kept, planner, message);
        code != UNLHA_OK)
        return code;
    if (writer.finish() != WriteStatus::Ok) {
        message = "cannot write the archive " + command.archive;
        return UNLHA_ERROR_WRITE;
    }
    // The archive allows no more than every packed file and folder does, nor more than the
    // archive it replaces.
    const tolvex::files::Publication how{target.exists,
                                         static_cast<mode_t>(0600 | planner.sharedBits)};
    switch (tolvex::files::publish(temp, archiveName, how)) {
    case tolvex::files::Published::Done:
        break;
    case tolvex::files::Published::Exists:
        message = "the archive appeared while it was written: " + command.archive;
        return UNLHA_ERROR_WRITE;
    case tolvex::files::Published::IsFolder:
    case tolvex::files::Published::Failed:
        message = "cannot write the archive " + command.archive;
        return UNLHA_ERROR_WRITE;
    }
    message =
        "packed " + std::to_string(planner.members.size()) + " member(s) into " + command.archive;
    return UNLHA_OK;
}

} // namespace unlha
