// SIGINT, SIGTERM and SIGHUP stop the work and remove every unfinished output before the
// process ends.
#pragma once

#include <atomic>

namespace cli {

// Blocks SIGINT, SIGTERM and SIGHUP in every thread started afterwards and has one thread
// wait for them. A signal sets interruptRequested(); once no ActiveWork is left, every
// staging folder is removed and the process ends with 128 + signal.
void installInterruptCleanup();

// Turns true when an interruption arrived: workers take no new input and the engine stops.
const std::atomic<bool> &interruptRequested();

// Conversions under way. The clean-up after an interruption waits until the last one is
// destroyed (its workers stopped and joined), so it never races a worker still writing.
class ActiveWork {
  public:
    ActiveWork();
    ~ActiveWork();
    ActiveWork(const ActiveWork &) = delete;
    ActiveWork &operator=(const ActiveWork &) = delete;
};

} // namespace cli
