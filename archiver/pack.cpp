#include "archive_reader.h"
#include "commands.h"
#include "file_io.h"
#include "lha_writer.h"
#include "unlha32.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace unlha {
namespace {

struct Planned {
    MemberInfo info;
    bool folder = false;
    std::string diskPath;
};

struct Failure {
    int code = 0;
    std::string text;
};

uint32_t clampTime(time_t t) {
    if (t < 0)
        return 0;
    return uint32_t(std::min<int64_t>(int64_t(t), INT64_C(0xFFFFFFFF)));
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

    // Adds a named file or folder and, when recursing, everything below a folder. Links are
    // followed: the member holds what they lead to.
    bool add(const std::string &diskPath, const std::string &memberPath, bool named) {
        struct stat st;
        if (::stat(diskPath.c_str(), &st) != 0) {
            if (named && errno == ENOENT)
                failure = {UNLHA_ERROR_NOT_FOUND, "not found: " + diskPath};
            else
                failure = {UNLHA_ERROR_READ, "cannot read " + diskPath};
            return false;
        }
        if (m_skip && st.st_dev == m_skip->first && st.st_ino == m_skip->second)
            return true; // the archive itself, inside a folder being packed
        MemberInfo info{memberPath, clampTime(st.st_mtime), uint16_t(st.st_mode & 0xFFFF)};
        if (S_ISREG(st.st_mode)) {
            if (m_paths.insert(memberPath).second)
                members.push_back({info, false, diskPath});
            return true;
        }
        if (!S_ISDIR(st.st_mode)) {
            failure = {UNLHA_ERROR_READ, "neither a file nor a folder: " + diskPath};
            return false;
        }
        if (m_paths.insert(memberPath).second)
            members.push_back({info, true, diskPath});
        if (m_recursion == 0)
            return true;
        const auto id = std::make_pair(st.st_dev, st.st_ino);
        if (!m_ancestors.insert(id).second)
            return true; // a link back up the tree: its content is already being packed
        std::vector<std::string> names;
        DIR *dir = ::opendir(diskPath.c_str());
        if (!dir) {
            failure = {UNLHA_ERROR_READ, "cannot read the folder " + diskPath};
            return false;
        }
        errno = 0;
        while (const dirent *entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        const bool listed = errno == 0;
        ::closedir(dir);
        if (!listed) {
            failure = {UNLHA_ERROR_READ, "cannot read the folder " + diskPath};
            return false;
        }
        std::sort(names.begin(), names.end());
        for (const auto &name : names)
            if (!add(diskPath + "/" + name, memberPath + "/" + name, false))
                return false;
        m_ancestors.erase(id);
        return true;
    }

    std::vector<Planned> members;
    Failure failure;

  private:
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
    }
    return UNLHA_ERROR_INTERNAL;
}

// Removes the temporary archive unless it was renamed into place.
class TemporaryArchive {
  public:
    explicit TemporaryArchive(const std::string &archive) : m_path(archive + ".XXXXXX") {
        m_fd = Fd(::mkostemp(m_path.data(), O_CLOEXEC));
    }
    ~TemporaryArchive() {
        if (!m_committed)
            ::unlink(m_path.c_str());
    }
    TemporaryArchive(const TemporaryArchive &) = delete;
    TemporaryArchive &operator=(const TemporaryArchive &) = delete;
    int fd() const { return m_fd.get(); }
    bool valid() const { return m_fd.valid(); }
    bool commit(const std::string &archive, mode_t mode) {
        if (::fchmod(m_fd.get(), mode) != 0 || ::fsync(m_fd.get()) != 0 || !m_fd.close())
            return false;
        if (::rename(m_path.c_str(), archive.c_str()) != 0)
            return false;
        m_committed = true;
        return true;
    }

  private:
    std::string m_path;
    Fd m_fd;
    bool m_committed = false;
};

mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

int packArchive(const Command &command, std::string &message) {
    std::string base = command.folder;
    struct stat archiveStat;
    const bool archiveExists = ::stat(command.archive.c_str(), &archiveStat) == 0;
    if (archiveExists && !S_ISREG(archiveStat.st_mode)) {
        message = "the archive path is not a file: " + command.archive;
        return UNLHA_ERROR_WRITE;
    }

    std::optional<std::pair<dev_t, ino_t>> skip;
    if (archiveExists)
        skip = std::make_pair(archiveStat.st_dev, archiveStat.st_ino);
    Planner planner(command.recursion, skip);
    for (const auto &name : command.names) {
        const auto stored = storedName(name);
        if (!stored) {
            message = "a name to pack must lie inside the base folder: " + name;
            return UNLHA_ERROR_NAME;
        }
        if (!planner.add(base + *stored, *stored, true)) {
            message = planner.failure.text;
            return planner.failure.code;
        }
    }

    // Members of an existing archive stay, unless packed anew under the same path.
    std::vector<ScannedMember> kept;
    if (archiveExists && archiveStat.st_size > 1) {
        std::vector<ScannedMember> old;
        if (!scanArchive(command.archive, old, message))
            return UNLHA_ERROR_DAMAGED;
        std::set<std::string> fresh;
        for (const auto &m : planner.members)
            fresh.insert(m.info.path);
        for (auto &m : old)
            if (!fresh.count(m.path))
                kept.push_back(std::move(m));
    }

    TemporaryArchive temp(command.archive);
    if (!temp.valid()) {
        message = "cannot create the archive " + command.archive;
        return UNLHA_ERROR_WRITE;
    }
    ArchiveWriter writer(temp.fd());
    if (!kept.empty()) {
        Fd old(::open(command.archive.c_str(), O_RDONLY | O_CLOEXEC));
        if (!old.valid()) {
            message = "cannot read the archive " + command.archive;
            return UNLHA_ERROR_READ;
        }
        for (const auto &m : kept) {
            const WriteStatus s = writer.copyRaw(old.get(), m.headerStart, m.dataEnd - m.headerStart);
            if (s != WriteStatus::Ok) {
                message = "cannot copy " + m.path + " from the archive";
                return statusCode(s);
            }
        }
    }
    for (const auto &m : planner.members) {
        WriteStatus s;
        if (m.folder) {
            s = writer.addFolder(m.info);
        } else {
            Fd source(::open(m.diskPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
            struct stat st;
            if (!source.valid() || ::fstat(source.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
                message = "cannot read " + m.diskPath;
                return UNLHA_ERROR_READ;
            }
            s = writer.addFile(m.info, source.get());
        }
        if (s != WriteStatus::Ok) {
            message = (s == WriteStatus::WriteError ? "cannot write the archive: "
                                                    : "cannot pack ") +
                      m.diskPath;
            return statusCode(s);
        }
    }
    const mode_t mode = archiveExists ? (archiveStat.st_mode & 07777) : newFileMode();
    if (writer.finish() != WriteStatus::Ok || !temp.commit(command.archive, mode)) {
        message = "cannot write the archive " + command.archive;
        return UNLHA_ERROR_WRITE;
    }
    message = "packed " + std::to_string(planner.members.size()) + " member(s) into " +
              command.archive;
    return UNLHA_OK;
}

} // namespace unlha
