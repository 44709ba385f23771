#include "staging.h"

#include "naming.h"

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <pthread.h>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace cli {
namespace {

namespace fs = std::filesystem;

// The staging folders alive now. Publishing holds the lock across its renames so that an
// interruption finds each output either complete in place or still staged.
std::mutex g_registryMutex;
std::set<std::string> &registry() {
    static std::set<std::string> folders;
    return folders;
}

constexpr const char *kStagingPrefix = ".tolvex-cli-";

// Interruption state: the signal, whether one came, and how many conversions are under way.
std::atomic<bool> g_interrupted{false};
std::atomic<int> g_signal{0};
std::mutex g_workMutex;
std::condition_variable g_workChanged;
int g_activeWork = 0;

// Removes the non-folders in the folder `fd` and returns the name of one subfolder, if any.
// False in `ok` when an entry could not be removed.
std::optional<std::string> emptyFilesIn(int fd, bool &ok) {
    const int listing = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (listing < 0) {
        ok = false;
        return std::nullopt;
    }
    DIR *dir = ::fdopendir(listing);
    if (!dir) {
        ::close(listing);
        ok = false;
        return std::nullopt;
    }
    ::rewinddir(dir);
    std::optional<std::string> folder;
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (!std::strcmp(name, ".") || !std::strcmp(name, ".."))
            continue;
        struct stat st;
        if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // gone meanwhile
        if (S_ISDIR(st.st_mode)) {
            if (!folder)
                folder = name;
            continue;
        }
        if (::unlinkat(fd, name, 0) != 0 && errno != ENOENT)
            ok = false;
    }
    ::closedir(dir);
    return folder;
}

int openFolderAt(int at, const char *name) {
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::openat(at, name, flags);
    if (fd < 0 && errno == EACCES && ::fchmodat(at, name, 0700, 0) == 0)
        fd = ::openat(at, name, flags);
    if (fd >= 0)
        ::fchmod(fd, 0700); // it goes anyway; its entries must be removable
    return fd;
}

// Removes the staging folders in `parent` left by runs that were killed: their owner no
// longer exists and nobody holds their lock.
void removeStaleStaging(const std::string &parent) {
    DIR *dir = ::opendir(parent.c_str());
    if (!dir)
        return;
    std::vector<std::string> stale;
    const int dirFd = ::dirfd(dir);
    while (const dirent *entry = ::readdir(dir)) {
        const auto owner = pid_t(tolvex::temporaryOwner(entry->d_name, kStagingPrefix));
        if (owner == 0 || owner == ::getpid())
            continue;
        if (::kill(owner, 0) == 0 || errno == EPERM)
            continue;
        const int fd =
            ::openat(dirFd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st;
        if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            stale.push_back(parent + "/" + entry->d_name);
        ::close(fd);
    }
    ::closedir(dir);
    for (const auto &folder : stale)
        removeTree(folder);
}

[[noreturn]] void finishInterrupted() {
    std::lock_guard lock(g_registryMutex);
    for (const auto &folder : registry())
        removeTree(folder);
    std::fputs("\ntolvex-cli: interrupted; unfinished outputs removed\n", stderr);
    ::_exit(128 + g_signal.load());
}

bool syncFile(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// rename() that fails with EEXIST rather than replace; link() where the file system lacks
// the flag (link also refuses an existing name).
int renameNoReplace(const std::string &from, const std::string &to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    if (::link(from.c_str(), to.c_str()) != 0)
        return -1;
    ::unlink(from.c_str());
    return 0;
}

bool exists(const std::string &path, struct stat &st) {
    return ::lstat(path.c_str(), &st) == 0;
}

// Moves one entry into place, merging folders; `replace` allows replacing files.
bool moveEntry(const std::string &from, const std::string &to, std::string &failed) {
    struct stat target, source;
    if (!exists(to, target)) {
        if (::rename(from.c_str(), to.c_str()) == 0)
            return true;
        failed = to;
        return false;
    }
    if (!exists(from, source)) {
        failed = from;
        return false;
    }
    if (S_ISDIR(source.st_mode) && S_ISDIR(target.st_mode)) {
        std::error_code error;
        for (const auto &entry : fs::directory_iterator(from, error))
            if (!moveEntry(entry.path().string(), to + "/" + entry.path().filename().string(),
                           failed))
                return false;
        if (error) {
            failed = from;
            return false;
        }
        return true;
    }
    // A folder never replaces a file nor a file a folder: one of them would be lost whole.
    if (S_ISDIR(source.st_mode) || S_ISDIR(target.st_mode)) {
        errno = EISDIR;
        failed = to;
        return false;
    }
    if (::rename(from.c_str(), to.c_str()) != 0) {
        failed = to;
        return false;
    }
    return true;
}

} // namespace

bool removeTree(const std::string &path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode))
        return ::unlink(path.c_str()) == 0 || errno == ENOENT;
    int fd = openFolderAt(AT_FDCWD, path.c_str());
    if (fd < 0)
        return false;
    // Depth first, one folder open at a time: the way back up is "..", the names of the
    // folders entered are kept as text.
    std::vector<std::string> entered;
    bool ok = true;
    for (;;) {
        const auto folder = emptyFilesIn(fd, ok);
        if (folder) {
            const int child = openFolderAt(fd, folder->c_str());
            if (child < 0) {
                ok = false;
                break;
            }
            ::close(fd);
            fd = child;
            entered.push_back(*folder);
            continue;
        }
        if (entered.empty())
            break;
        const int parent = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = parent;
        if (fd < 0 || ::unlinkat(fd, entered.back().c_str(), AT_REMOVEDIR) != 0) {
            ok = false;
            break;
        }
        entered.pop_back();
    }
    if (fd >= 0)
        ::close(fd);
    return ok && ::rmdir(path.c_str()) == 0;
}

std::string displayName(const std::string &name) {
    // Valid UTF-8 without control characters (C0, DEL, C1) passes as it is.
    auto sequenceLength = [&](size_t i) -> size_t {
        const auto b = [&](size_t k) { return uint8_t(name[k]); };
        const uint8_t c = b(i);
        if (c < 0x80)
            return (c < 0x20 || c == 0x7F) ? 0 : 1;
        size_t n = c >= 0xC2 && c <= 0xDF   ? 2
                   : c >= 0xE0 && c <= 0xEF ? 3
                   : c >= 0xF0 && c <= 0xF4 ? 4
                                            : 0;
        if (n == 0 || i + n > name.size())
            return 0;
        for (size_t k = 1; k < n; ++k)
            if ((b(i + k) & 0xC0) != 0x80)
                return 0;
        if (c == 0xC2 && b(i + 1) < 0xA0)
            return 0; // C1 control
        if ((c == 0xE0 && b(i + 1) < 0xA0) || (c == 0xF0 && b(i + 1) < 0x90) ||
            (c == 0xF4 && b(i + 1) > 0x8F) || (c == 0xED && b(i + 1) > 0x9F))
            return 0; // overlong, beyond U+10FFFF, or a surrogate
        return n;
    };
    bool plain = true;
    for (size_t i = 0; i < name.size() && plain;) {
        const size_t n = sequenceLength(i);
        plain = n != 0;
        i += n;
    }
    if (plain)
        return name;
    std::string out = "$'";
    for (size_t i = 0; i < name.size();) {
        const size_t n = sequenceLength(i);
        if (n > 0) {
            if (name[i] == '\'' || name[i] == '\\')
                out += '\\';
            out.append(name, i, n);
            i += n;
            continue;
        }
        const uint8_t c = uint8_t(name[i++]);
        switch (c) {
        case '\a':
            out += "\\a";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\v':
            out += "\\v";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\r':
            out += "\\r";
            break;
        default: {
            char octal[6];
            std::snprintf(octal, sizeof octal, "\\%03o", unsigned(c));
            out += octal;
        }
        }
    }
    return out + "'";
}

std::optional<StagingFolder> StagingFolder::create(const std::string &parent) {
    const std::string folder = parent.empty() ? std::string(".") : parent;
    removeStaleStaging(folder);
    std::string templ = folder + "/" + kStagingPrefix + std::to_string(::getpid()) + "-XXXXXX";
    std::lock_guard lock(g_registryMutex);
    if (!::mkdtemp(templ.data()))
        return std::nullopt;
    const int fd = ::open(templ.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        ::rmdir(templ.c_str());
        errno = error;
        return std::nullopt;
    }
    registry().insert(templ);
    return StagingFolder(std::move(templ), fd);
}

StagingFolder::StagingFolder(StagingFolder &&other) noexcept
    : m_path(std::move(other.m_path)), m_fd(other.m_fd) {
    other.m_path.clear();
    other.m_fd = -1;
}

StagingFolder::~StagingFolder() {
    if (m_path.empty())
        return;
    std::lock_guard lock(g_registryMutex);
    removeTree(m_path);
    registry().erase(m_path);
    if (m_fd >= 0)
        ::close(m_fd);
}

Publish publishFile(const std::string &staged, const std::string &finalPath, bool replace) {
    std::lock_guard lock(g_registryMutex);
    if (!replace) {
        if (renameNoReplace(staged, finalPath) == 0)
            return Publish::Done;
        return errno == EEXIST ? Publish::Exists : Publish::Failed;
    }
    struct stat old;
    if (exists(finalPath, old)) {
        if (S_ISDIR(old.st_mode))
            return Publish::IsFolder;
        // The replacement keeps the permissions of the file it replaces.
        if (S_ISREG(old.st_mode))
            ::chmod(staged.c_str(), old.st_mode & 07777);
        // The new content must be on the disk before the old goes: a crash could leave neither.
        if (!syncFile(staged))
            return Publish::Failed;
    }
    return ::rename(staged.c_str(), finalPath.c_str()) == 0 ? Publish::Done : Publish::Failed;
}

TreeResult publishTree(const std::string &stagedFolder, const std::string &destination,
                       bool replace) {
    std::lock_guard lock(g_registryMutex);
    std::vector<std::string> names;
    std::error_code error;
    for (const auto &entry : fs::directory_iterator(stagedFolder, error))
        names.push_back(entry.path().filename().string());
    if (error)
        return {Publish::Failed, stagedFolder};
    struct stat st;
    if (!replace)
        for (const auto &name : names)
            if (exists(destination + "/" + name, st))
                return {Publish::Exists, destination + "/" + name};
    for (const auto &name : names) {
        std::string failed;
        if (!moveEntry(stagedFolder + "/" + name, destination + "/" + name, failed))
            return {Publish::Failed, failed};
    }
    return {};
}

void installInterruptCleanup() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals] {
        int signal = 0;
        while (::sigwait(&signals, &signal) != 0) {
        }
        g_signal = signal;
        // Workers stop at their next piece or input; the clean-up waits until they have, so
        // nothing is written into a folder after it was removed.
        std::unique_lock lock(g_workMutex);
        g_interrupted = true;
        g_workChanged.wait(lock, [] { return g_activeWork == 0; });
        finishInterrupted();
    }).detach();
}

const std::atomic<bool> &interruptRequested() {
    return g_interrupted;
}

ActiveWork::ActiveWork() {
    std::lock_guard lock(g_workMutex);
    ++g_activeWork;
}

ActiveWork::~ActiveWork() {
    std::unique_lock lock(g_workMutex);
    --g_activeWork;
    g_workChanged.notify_all();
    if (g_interrupted && g_activeWork == 0) {
        lock.unlock();
        finishInterrupted(); // the signal's thread may be first; either ends the process
    }
}

} // namespace cli
