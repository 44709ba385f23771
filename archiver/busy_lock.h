// The busy state of one user: a command holds an exclusive flock on a lock file in the user's
// runtime folder while it runs. The system drops the lock when its holder ends, even by a
// crash. The folder is $UNLHA32_LOCK_DIR when set (tests give each suite its own), else
// $XDG_RUNTIME_DIR, else /tmp/unlha32-<uid>; it must belong to the user and be writable by
// nobody else, and the lock file must be a regular file of the user's: nobody else can put a
// FIFO or an unreadable file there and stop the archiver.
#pragma once

#include "fd.h"

#include <string>

namespace unlha {

// Where the lock file of this user lives (empty when no safe folder could be had), worked out
// afresh from the environment on each call.
std::string busyLockPath();

// Holds the lock at `path` for its lifetime, waiting first for any other command to finish.
// Commands go on even when the lock file cannot be had: the lock only informs other callers.
class BusyLock {
  public:
    explicit BusyLock(const std::string &path = busyLockPath());
    ~BusyLock();
    BusyLock(const BusyLock &) = delete;
    BusyLock &operator=(const BusyLock &) = delete;

  private:
    tolvex::files::Fd m_fd;
};

// True while some process of this user holds the lock at `path`.
bool machineIsBusy(const std::string &path = busyLockPath());

} // namespace unlha
