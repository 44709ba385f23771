#include "temporaries.h"

#include "folders.h"
#include "names.h"
#include "naming.h"
#include "private_folders.h"
#include "transfers.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tolvex::files {
namespace {

constexpr std::string_view kPrefixes[] = {kCliPrefix, kCodecPrefix, kArchiverPrefix};
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The records of what this program made, in the user's cache folder: one file per temporary,
// named by its device and inode and holding its name. Only making a record creates them.
Fd recordFolder(bool create) {
    const Fd base = openPrivateFolder(PrivateFolder::Cache, create);
    if (!base.valid())
        return Fd();
    if (create && ::mkdirat(base.get(), "made", 0700) != 0 && errno != EEXIST)
        return Fd();
    Fd folder = openFolderAt(base.get(), "made");
    struct stat st;
    if (!folder.valid() || ::fstat(folder.get(), &st) != 0 || st.st_uid != ::geteuid())
        return Fd();
    return folder;
}

std::string recordName(const struct stat &st) {
    char name[64];
    std::snprintf(name, sizeof name, "%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    return name;
}

void record(int fd, const std::string &name) {
    struct stat st;
    const Fd folder = recordFolder(true);
    if (!folder.valid() || ::fstat(fd, &st) != 0)
        return;
    const Fd out(::openat(folder.get(), recordName(st).c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (out.valid())
        writeAll(out.get(), name.data(), name.size());
}

bool recorded(const struct stat &st, const std::string &name) {
    const Fd folder = recordFolder(false);
    if (!folder.valid())
        return false;
    OpenResult result;
    const Fd in = openRegular(folder.get(), recordName(st), false, result);
    if (!in.valid())
        return false;
    char text[256];
    const int64_t n = readAt(in.get(), 0, text, sizeof text);
    return n >= 0 && std::string_view(text, static_cast<size_t>(n)) == name;
}

void forget(int fd) {
    struct stat st;
    const Fd folder = recordFolder(false);
    if (folder.valid() && ::fstat(fd, &st) == 0)
        ::unlinkat(folder.get(), recordName(st).c_str(), 0);
}

// A name about to be made has no inode yet: "pending-NAME" stands for it until record() can
// be written, so that a run killed in between still leaves a provable (and empty) leftover.
std::string pendingName(const std::string &name) {
    return "pending-" + name;
}

void recordPending(const std::string &name) {
    const Fd folder = recordFolder(true);
    if (folder.valid())
        Fd(::openat(folder.get(), pendingName(name).c_str(),
                    O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
}

bool pendingRecorded(const std::string &name) {
    const Fd folder = recordFolder(false);
    struct stat st;
    return folder.valid() &&
           ::fstatat(folder.get(), pendingName(name).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(st.st_mode);
}

void forgetPending(const std::string &name) {
    const Fd folder = recordFolder(false);
    if (folder.valid())
        ::unlinkat(folder.get(), pendingName(name).c_str(), 0);
}

bool unnamedFilesLinkable() {
    // linkat needs the descriptor's /proc entry (AT_EMPTY_PATH needs a capability).
    return !descriptorPath(0).empty();
}

bool linkUnnamed(int fd, int folder, const std::string &name) {
    const std::string self = descriptorPath(fd);
    if (!self.empty())
        return ::linkat(AT_FDCWD, self.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    return ::linkat(fd, "", folder, name.c_str(), AT_EMPTY_PATH) == 0;
}

// The clock file times are taken from: a time read from it before a creation is never later
// than the new node's times.
timespec fileClock() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return now;
}

bool notBefore(const statx_timestamp &t, const timespec &since) {
    return t.tv_sec > since.tv_sec || (t.tv_sec == since.tv_sec && t.tv_nsec >= since.tv_nsec);
}

// Whether the open folder is the one this process made at or after `made`: empty, and born
// (or, where the file system keeps no birth time, last changed in its content) no earlier. A
// folder of the user's swapped in under the new name is older, or holds something.
bool freshlyMade(int fd, const timespec &made) {
    struct statx sx {};
    if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, STATX_BTIME | STATX_MTIME, &sx) != 0)
        return false;
    const statx_timestamp &born = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_mtime;
    const auto names = listFolderAt(fd);
    return notBefore(born, made) && names && names->empty();
}

} // namespace

bool renameNoReplace(int fromFolder, const std::string &from, int toFolder, const std::string &to) {
    if (::renameat2(fromFolder, from.c_str(), toFolder, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the flag: a hard link refuses an existing name too.
    if (::linkat(fromFolder, from.c_str(), toFolder, to.c_str(), 0) != 0)
        return false;
    ::unlinkat(fromFolder, from.c_str(), 0);
    return true;
}

std::string temporaryName(std::string_view prefix) {
    static std::atomic<uint64_t> counter{0};
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const uint64_t entropy =
        static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(now.tv_sec) << 20) ^
        (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull) ^ (static_cast<uint64_t>(::getpid()) << 40);
    return tolvex::temporaryName(prefix, static_cast<unsigned>(::getpid()), entropy);
}

namespace {

// The process a name of ours says made it; 0 for any other name.
long ownerOf(std::string_view name) {
    for (const auto prefix : kPrefixes)
        if (const long owner = temporaryOwner(name, prefix))
            return owner;
    return 0;
}

} // namespace

bool isTemporaryName(std::string_view name) {
    return ownerOf(name) != 0;
}

bool looksLikeTemporary(std::string_view name) {
    for (const auto prefix : kPrefixes)
        if (name.substr(0, prefix.size()) == prefix && name.size() > prefix.size() &&
            name[prefix.size()] >= '0' && name[prefix.size()] <= '9')
            return true;
    return false;
}

void sweep(int folder) {
    std::vector<std::string> candidates;
    {
        const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR *dir = listing < 0 ? nullptr : ::fdopendir(listing);
        if (!dir) {
            if (listing >= 0)
                ::close(listing);
            return;
        }
        while (const dirent *e = ::readdir(dir))
            if (isTemporaryName(e->d_name))
                candidates.push_back(e->d_name);
        ::closedir(dir);
    }
    for (const auto &name : candidates) {
        const long owner = ownerOf(name);
        if (owner == ::getpid() || ::kill(static_cast<pid_t>(owner), 0) == 0 || errno == EPERM)
            continue; // its maker still runs
        const Fd fd(::openat(folder, name.c_str(),
                             O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat st;
        if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || st.st_uid != ::geteuid() ||
            !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)))
            continue;
        const bool proven = recorded(st, name);
        // Made, but killed before its record: its maker had put nothing in it yet.
        const bool unfinished =
            !proven && pendingRecorded(name) && (S_ISDIR(st.st_mode) || st.st_size == 0);
        if (!(proven || unfinished) || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        bool removed = false;
        struct stat now;
        if (S_ISDIR(st.st_mode)) {
            // Emptied through the descriptor proven ours; rmdir by name then only takes an
            // empty folder, whatever has been renamed to that name meanwhile.
            removed = (unfinished || emptyFolder(fd.get())) &&
                      ::unlinkat(folder, name.c_str(), AT_REMOVEDIR) == 0;
        } else {
            removed = ::fstatat(folder, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
                      sameFile(now, st) && ::unlinkat(folder, name.c_str(), 0) == 0;
        }
        if (removed && proven)
            forget(fd.get());
        else if (removed)
            forgetPending(name);
    }
}

bool emptyFolder(int fd) {
    struct Level {
        std::string name; // how the level above names it
        dev_t dev;
        ino_t ino;
        std::set<std::string> stuck; // subfolders that could not be removed
    };
    Fd current = duplicate(fd);
    struct stat st;
    if (!current.valid() || ::fstat(current.get(), &st) != 0)
        return false;
    std::vector<Level> levels;
    levels.push_back({{}, st.st_dev, st.st_ino, {}});
    bool ok = true;
    for (;;) {
        // Unlink everything but folders; go down into the first folder not stuck.
        std::string sub;
        {
            Fd listing = duplicate(current.get());
            DIR *dir = listing.valid() ? ::fdopendir(listing.get()) : nullptr;
            if (!dir)
                return false;
            listing.release();
            ::rewinddir(dir);
            std::vector<std::string> files;
            while (const dirent *e = ::readdir(dir)) {
                const std::string entry = e->d_name;
                if (entry == "." || entry == "..")
                    continue;
                struct stat es;
                if (::fstatat(current.get(), e->d_name, &es, AT_SYMLINK_NOFOLLOW) != 0)
                    continue; // gone meanwhile
                if (!S_ISDIR(es.st_mode))
                    files.push_back(entry);
                else if (sub.empty() && !levels.back().stuck.count(entry))
                    sub = entry;
            }
            ::closedir(dir);
            for (const auto &f : files)
                if (::unlinkat(current.get(), f.c_str(), 0) != 0 && errno != ENOENT)
                    ok = false;
        }
        if (!sub.empty()) {
            Fd child = openFolderAt(current.get(), sub);
            if (!child.valid() || ::fstat(child.get(), &st) != 0) {
                // Unreadable: it stays as it is; its permissions are not ours to widen.
                levels.back().stuck.insert(sub);
                ok = false;
                continue;
            }
            levels.push_back({sub, st.st_dev, st.st_ino, {}});
            current = std::move(child);
            continue;
        }
        if (levels.size() == 1)
            return ok && levels.back().stuck.empty();
        const Level done = std::move(levels.back());
        levels.pop_back();
        // Back up one level, making sure it is the folder we came from.
        Fd up(::openat(current.get(), "..", kFolderFlags & ~O_NOFOLLOW));
        if (!up.valid() || ::fstat(up.get(), &st) != 0 || st.st_dev != levels.back().dev ||
            st.st_ino != levels.back().ino)
            return false;
        current = std::move(up);
        if (!done.stuck.empty() ||
            ::unlinkat(current.get(), done.name.c_str(), AT_REMOVEDIR) != 0) {
            levels.back().stuck.insert(done.name);
            ok = false;
        }
    }
}

bool removeTree(int parent, const std::string &name) {
    const Fd folder = openFolderAt(parent, name);
    if (!folder.valid()) {
        if (errno != ENOTDIR && errno != ELOOP)
            return errno == ENOENT;
        return ::unlinkat(parent, name.c_str(), 0) == 0 || errno == ENOENT;
    }
    return emptyFolder(folder.get()) && ::unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0;
}

// Makes something under a fresh temporary name: `make(name)` creates it (false with errno on
// failure). The name's pending record stands from before the creation until the caller has
// recorded what it made and calls forgetPending. Nothing when no name could be had.
template <typename Make>
std::optional<std::string> createUnderFreshName(std::string_view prefix, Make make) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = temporaryName(prefix);
        recordPending(name);
        if (make(name))
            return name;
        const int error = errno;
        forgetPending(name);
        errno = error;
        if (error != EEXIST)
            return std::nullopt;
    }
    errno = EEXIST;
    return std::nullopt;
}

TemporaryFile::TemporaryFile(int folder, std::string_view prefix)
    : m_folder(folder), m_prefix(prefix) {
    sweep(folder);
    if (unnamedFilesLinkable()) {
        m_fd = Fd(::openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
        if (m_fd.valid() || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
            return;
    }
    Fd fd;
    const auto name = createUnderFreshName(m_prefix, [&](const std::string &candidate) {
        fd = Fd(::openat(folder, candidate.c_str(),
                         O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        return fd.valid();
    });
    if (!name)
        return;
    // Held until this process ends: while it is, no other run takes the file for stale.
    ::flock(fd.get(), LOCK_EX | LOCK_NB);
    record(fd.get(), *name);
    forgetPending(*name);
    m_fd = std::move(fd);
    m_name = *name;
}

TemporaryFile::~TemporaryFile() {
    if (!m_done)
        discard();
}

void TemporaryFile::discard() {
    if (!m_name.empty() && !m_done) {
        ::unlinkat(m_folder, m_name.c_str(), 0);
        if (m_fd.valid())
            forget(m_fd.get());
    }
    m_fd.close();
    m_done = true;
}

bool TemporaryFile::linkAs(const std::string &name) {
    if (m_done || !m_fd.valid())
        return false;
    if (m_name.empty()) {
        if (!linkUnnamed(m_fd.get(), m_folder, name))
            return false;
    } else {
        if (!renameNoReplace(m_folder, m_name, m_folder, name))
            return false;
        forget(m_fd.get());
    }
    m_done = true;
    return true;
}

bool TemporaryFile::replace(const std::string &name) {
    if (m_done || !m_fd.valid())
        return false;
    if (m_name.empty()) {
        // A name of our own first (recorded, so that a run killed between the two steps leaves
        // something the next one may remove), then one rename over the old file.
        std::string linked;
        for (int attempt = 0; attempt < 100 && linked.empty(); ++attempt) {
            const std::string candidate = temporaryName(m_prefix);
            record(m_fd.get(), candidate);
            if (linkUnnamed(m_fd.get(), m_folder, candidate))
                linked = candidate;
            else if (errno != EEXIST)
                break;
        }
        if (linked.empty()) {
            const int saved = errno;
            forget(m_fd.get());
            errno = saved;
            return false;
        }
        if (::renameat(m_folder, linked.c_str(), m_folder, name.c_str()) != 0) {
            const int saved = errno;
            ::unlinkat(m_folder, linked.c_str(), 0);
            forget(m_fd.get());
            errno = saved;
            return false;
        }
    } else if (::renameat(m_folder, m_name.c_str(), m_folder, name.c_str()) != 0) {
        return false;
    }
    forget(m_fd.get());
    m_done = true;
    return true;
}

StagingFolder::StagingFolder(int parent, std::string_view prefix) : m_parent(duplicate(parent)) {
    if (!m_parent.valid())
        return;
    sweep(parent);
    const timespec before = fileClock();
    const auto name = createUnderFreshName(prefix, [&](const std::string &candidate) {
        return ::mkdirat(parent, candidate.c_str(), 0700) == 0;
    });
    if (!name)
        return;
    Fd fd = openFolderAt(parent, *name);
    struct stat st;
    // What is there now must be the folder just made: ours, private, new and empty. Anything
    // else was put in its place by someone else and is left alone.
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || st.st_uid != ::geteuid() ||
        (st.st_mode & 077) != 0 || !freshlyMade(fd.get(), before) ||
        ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        forgetPending(*name);
        if (fd.valid())
            errno = EEXIST;
        return;
    }
    record(fd.get(), *name);
    forgetPending(*name);
    m_fd = std::move(fd);
    m_name = *name;
    m_dev = st.st_dev;
    m_ino = st.st_ino;
}

StagingFolder::~StagingFolder() {
    remove();
}

bool StagingFolder::remove() {
    if (!m_fd.valid())
        return true;
    bool ok = emptyFolder(m_fd.get());
    struct stat st;
    if (ok && ::fstatat(m_parent.get(), m_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        st.st_dev == m_dev && st.st_ino == m_ino)
        ok = ::unlinkat(m_parent.get(), m_name.c_str(), AT_REMOVEDIR) == 0;
    else
        ok = false; // moved away by someone else: what is under its name now is not ours
    if (ok)
        forget(m_fd.get());
    m_fd.close();
    return ok;
}

} // namespace tolvex::files
