#include "busy_lock.h"

#include "platform.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace unlha {
namespace {

constexpr char kLockName[] = "unlha32.lock";

std::mutex g_pathMutex;
std::string g_overridePath;

// A folder the lock may live in: the user's own, not writable by group or others.
bool folderIsPrivate(const std::string &folder) {
    Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    return fd.valid() && ::fstat(fd.get(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The folder named, created with mode 0700 when missing; empty when it is not private.
std::string privateFolder(const std::string &folder) {
    if (folder.empty())
        return {};
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    return folderIsPrivate(folder) ? folder : std::string();
}

std::string lockFolder() {
    if (const char *dir = std::getenv("UNLHA32_LOCK_DIR"); dir && *dir)
        return privateFolder(dir);
    if (const char *dir = std::getenv("XDG_RUNTIME_DIR"); dir && *dir) {
        if (folderIsPrivate(dir))
            return dir;
    }
    // /tmp itself, not $TMPDIR: every process of the user must agree on the place.
    return privateFolder("/tmp/unlha32-" + std::to_string(::geteuid()));
}

// Opens the lock file, creating it; never through a link, never blocking on a FIFO, and only
// when it is a regular file of this user.
int openLockFile() {
    const std::string path = busyLockPath();
    if (path.empty())
        return -1;
    Fd fd(::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                 0600));
    struct stat st;
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid())
        return -1;
    return fd.release();
}

} // namespace

std::string busyLockPath() {
    {
        std::lock_guard lock(g_pathMutex);
        if (!g_overridePath.empty())
            return g_overridePath;
    }
    const std::string folder = lockFolder();
    return folder.empty() ? std::string() : folder + "/" + kLockName;
}

BusyLock::BusyLock() : m_fd(openLockFile()) {
    if (m_fd < 0)
        return;
    while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

BusyLock::~BusyLock() {
    if (m_fd >= 0)
        ::close(m_fd); // closing drops the lock
}

bool machineIsBusy() {
    const int fd = openLockFile();
    if (fd < 0)
        return false;
    // A shared lock is refused only while a command holds the exclusive one; two callers
    // asking at once do not disturb each other.
    const bool busy = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return busy;
}

void setBusyLockPath(const std::string &path) {
    std::lock_guard lock(g_pathMutex);
    g_overridePath = path;
}

} // namespace unlha
