#include "busy_lock.h"

#include "platform.h"

#include "folders.h"
#include "private_folders.h"

#include <cstdlib>
#include <fcntl.h>

namespace unlha {
namespace {

constexpr char kLockName[] = "unlha32.lock";

// A folder the lock may live in: the user's own, not writable by group or others.
bool folderIsPrivate(const std::string &folder) {
    const Fd fd = openFolderAt(AT_FDCWD, folder);
    return fd.valid() && tolvex::files::isPrivateFolder(fd.get());
}

// The folder named, created with mode 0700 when missing; empty when it is not private.
std::string privateFolder(const std::string &folder) {
    if (folder.empty())
        return {};
    tolvex::files::makePrivateFolders(folder);
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
    return privateFolder("/tmp/unlha32-" + std::to_string(tolvex::files::userId()));
}

Fd openBusyLock(const std::string &path) {
    return path.empty() ? Fd() : openLockFile(path);
}

} // namespace

std::string busyLockPath() {
    const std::string folder = lockFolder();
    return folder.empty() ? std::string() : folder + "/" + kLockName;
}

BusyLock::BusyLock(const std::string &path) : m_fd(openBusyLock(path)) {
    if (m_fd.valid())
        lockExclusive(m_fd.get());
}

// Closing the descriptor drops the lock.
BusyLock::~BusyLock() = default;

bool machineIsBusy(const std::string &path) {
    const Fd fd = openBusyLock(path);
    return fd.valid() && lockedExclusively(fd.get());
}

} // namespace unlha
