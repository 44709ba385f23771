#include "temporary.h"

#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <random>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace unlha {
namespace {

constexpr char kPrefix[] = ".unlha-";
constexpr size_t kPrefixLength = sizeof kPrefix - 1;
constexpr size_t kRandomLength = 10;
constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";

std::atomic<bool> g_forceNamed{false};

bool unnamedFilesLinkable() {
    // linkat needs the descriptor's /proc entry (AT_EMPTY_PATH needs a capability).
    static const bool usable = ::access("/proc/self/fd", X_OK) == 0;
    return usable;
}

std::string descriptorPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

bool renameNoReplace(int folder, const std::string &from, const std::string &to) {
    if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the flag: a hard link refuses an existing name too.
    if (::linkat(folder, from.c_str(), folder, to.c_str(), 0) != 0)
        return false;
    ::unlinkat(folder, from.c_str(), 0);
    return true;
}

} // namespace

std::string temporaryName() {
    static std::mutex mutex;
    static std::mt19937_64 random{std::random_device{}()};
    std::lock_guard lock(mutex);
    std::string name = kPrefix;
    for (size_t i = 0; i < kRandomLength; ++i)
        name += kDigits[random() % 36];
    return name;
}

bool isTemporaryName(const std::string &name) {
    if (name.size() != kPrefixLength + kRandomLength ||
        name.compare(0, kPrefixLength, kPrefix) != 0)
        return false;
    for (size_t i = kPrefixLength; i < name.size(); ++i)
        if (!((name[i] >= '0' && name[i] <= '9') || (name[i] >= 'a' && name[i] <= 'z')))
            return false;
    return true;
}

void removeStaleTemporaries(int folderFd) {
    const int listFd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0)
        return;
    DIR *dir = ::fdopendir(listFd);
    if (!dir) {
        ::close(listFd);
        return;
    }
    std::vector<std::string> candidates;
    while (const dirent *e = ::readdir(dir))
        if (isTemporaryName(e->d_name))
            candidates.push_back(e->d_name);
    ::closedir(dir);
    for (const auto &name : candidates) {
        Fd fd(::openat(folderFd, name.c_str(),
                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat st;
        if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || st.st_uid != ::geteuid() ||
            !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)))
            continue;
        // Its owner holds the lock for as long as it runs.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        removeTree(folderFd, name);
    }
}

bool removeTree(int parentFd, const std::string &name) {
    struct Level {
        std::string name;
        dev_t dev;
        ino_t ino;
    };
    constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    Fd current(::openat(parentFd, name.c_str(), kFolderFlags));
    if (!current.valid())
        return ::unlinkat(parentFd, name.c_str(), 0) == 0 || errno == ENOENT;
    std::vector<Level> path;
    struct stat st;
    if (::fstat(current.get(), &st) != 0)
        return false;
    path.push_back({name, st.st_dev, st.st_ino});
    for (;;) {
        // Unlink everything but folders; go down into the first folder found.
        std::optional<std::string> sub;
        const int listFd = ::fcntl(current.get(), F_DUPFD_CLOEXEC, 0);
        DIR *dir = listFd < 0 ? nullptr : ::fdopendir(listFd);
        if (!dir) {
            if (listFd >= 0)
                ::close(listFd);
            return false;
        }
        ::rewinddir(dir);
        std::vector<std::string> files;
        while (const dirent *e = ::readdir(dir)) {
            const std::string entry = e->d_name;
            if (entry == "." || entry == "..")
                continue;
            struct stat es;
            if (::fstatat(current.get(), e->d_name, &es, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISDIR(es.st_mode)) {
                if (!sub)
                    sub = entry;
            } else {
                files.push_back(entry);
            }
        }
        ::closedir(dir);
        for (const auto &f : files)
            ::unlinkat(current.get(), f.c_str(), 0);
        if (sub) {
            Fd child(::openat(current.get(), sub->c_str(), kFolderFlags));
            if (!child.valid() || ::fstat(child.get(), &st) != 0)
                return false;
            path.push_back({*sub, st.st_dev, st.st_ino});
            current = std::move(child);
            continue;
        }
        const Level done = path.back();
        path.pop_back();
        if (path.empty()) {
            current.close();
            return ::unlinkat(parentFd, done.name.c_str(), AT_REMOVEDIR) == 0;
        }
        // Back up one level, making sure it is the folder we came from.
        Fd up(::openat(current.get(), "..", kFolderFlags));
        if (!up.valid() || ::fstat(up.get(), &st) != 0 || st.st_dev != path.back().dev ||
            st.st_ino != path.back().ino)
            return false;
        current = std::move(up);
        if (::unlinkat(current.get(), done.name.c_str(), AT_REMOVEDIR) != 0)
            return false;
    }
}

void forceNamedTemporaries(bool force) {
    g_forceNamed = force;
}

TemporaryFile::TemporaryFile(int folderFd) : m_folder(folderFd) {
    if (!g_forceNamed && unnamedFilesLinkable()) {
        m_fd = Fd(::openat(folderFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
        if (m_fd.valid() || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
            return;
    }
    removeStaleTemporaries(folderFd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = temporaryName();
        Fd fd(::openat(folderFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                       0600));
        if (!fd.valid()) {
            if (errno == EEXIST)
                continue;
            return;
        }
        // Held until this process ends: while it is, no other run takes the file for stale.
        ::flock(fd.get(), LOCK_EX | LOCK_NB);
        m_fd = std::move(fd);
        m_name = name;
        return;
    }
}

TemporaryFile::~TemporaryFile() {
    if (!m_done && !m_name.empty())
        ::unlinkat(m_folder, m_name.c_str(), 0);
}

bool TemporaryFile::linkAs(const std::string &name) {
    if (m_name.empty()) {
        if (::linkat(AT_FDCWD, descriptorPath(m_fd.get()).c_str(), m_folder, name.c_str(),
                     AT_SYMLINK_FOLLOW) != 0)
            return false;
    } else if (!renameNoReplace(m_folder, m_name, name)) {
        return false;
    }
    m_done = true;
    return true;
}

bool TemporaryFile::replace(const std::string &name) {
    if (m_name.empty()) {
        // Complete already; a run killed between these two steps leaves a temporary that the
        // next one removes.
        std::string linked;
        for (int attempt = 0; attempt < 100 && linked.empty(); ++attempt) {
            const std::string candidate = temporaryName();
            if (::linkat(AT_FDCWD, descriptorPath(m_fd.get()).c_str(), m_folder, candidate.c_str(),
                         AT_SYMLINK_FOLLOW) == 0)
                linked = candidate;
            else if (errno != EEXIST)
                return false;
        }
        if (linked.empty())
            return false;
        if (::renameat(m_folder, linked.c_str(), m_folder, name.c_str()) != 0) {
            const int saved = errno;
            ::unlinkat(m_folder, linked.c_str(), 0);
            errno = saved;
            return false;
        }
    } else if (::renameat(m_folder, m_name.c_str(), m_folder, name.c_str()) != 0) {
        return false;
    }
    m_done = true;
    return true;
}

StagingFolder::StagingFolder(int parentFd) : m_parent(parentFd) {
    removeStaleTemporaries(parentFd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = temporaryName();
        if (::mkdirat(parentFd, name.c_str(), 0700) != 0) {
            if (errno == EEXIST)
                continue;
            return;
        }
        m_fd =
            Fd(::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!m_fd.valid()) {
            ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR);
            return;
        }
        ::flock(m_fd.get(), LOCK_EX | LOCK_NB);
        m_name = name;
        return;
    }
}

StagingFolder::~StagingFolder() {
    remove();
}

bool StagingFolder::remove() {
    if (!m_fd.valid())
        return true;
    m_fd.close();
    return removeTree(m_parent, m_name);
}

} // namespace unlha
