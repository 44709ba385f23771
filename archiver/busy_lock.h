// The machine-wide busy state: a command holds an exclusive lock on a file in /tmp while it
// runs. The system drops the lock when its holder ends, even by a crash.
#pragma once

#include <string>

namespace unlha {

// Holds the lock for its lifetime, waiting first for any other command to finish. Commands
// go on even when the lock file cannot be had: the lock only informs other callers.
class BusyLock {
  public:
    BusyLock();
    ~BusyLock();
    BusyLock(const BusyLock &) = delete;
    BusyLock &operator=(const BusyLock &) = delete;

  private:
    int m_fd = -1;
};

// True while some process holds the lock.
bool machineIsBusy();

// Tests use a lock file of their own so that other tests running at the same time do not
// make this machine look busy.
void setBusyLockPath(const std::string &path);

} // namespace unlha
