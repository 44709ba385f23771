#include "busy_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace unlha {
namespace {

std::string &lockPath() {
    // A fixed path, not $TMPDIR: every process on the machine must agree on it.
    static std::string path = "/tmp/unlha32.lock";
    return path;
}

// Opens the lock file, creating it readable by everyone. An existing file is opened without
// O_CREAT, which a sticky /tmp may refuse for another user's file.
int openLockFile() {
    const std::string &path = lockPath();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd >= 0)
            ::fchmod(fd, 0644);
        else if (errno == EEXIST)
            fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    }
    return fd;
}

} // namespace

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

void setBusyLockPath(const std::string &path) { lockPath() = path; }

} // namespace unlha
