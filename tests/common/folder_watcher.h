// A second process that watches a folder with inotify and acts the moment something happens in
// it: the other side of a race, which never sleeps but reacts to events.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>

namespace test_files {

// Watches `watched` for the events of `mask` and, for each, calls `act` at once with the open
// folder watched and the name the event carries (empty for the folder itself); `act` tells
// whether it acted. `become`, when given, runs first in the watching process (to take another
// user's identity, say); its false ends the process with 100. Started with its watch in place;
// stop() ends it and tells how often it acted (at most 99), or 100 and up when it could not
// watch, -1 when it died.
class FolderWatcher {
  public:
    using Act = std::function<bool(int folder, const std::string &name)>;
    FolderWatcher(const std::string &watched, uint32_t mask, Act act,
                  const std::function<bool()> &become = {});
    // Stops it when stop() was not called.
    ~FolderWatcher();
    FolderWatcher(const FolderWatcher &) = delete;
    FolderWatcher &operator=(const FolderWatcher &) = delete;
    bool ready() const { return m_ready; }
    int stop();

  private:
    static int watch(const std::string &watched, uint32_t mask, const Act &act, int ready,
                     int stop);

    pid_t m_child = -1;
    int m_stop[2] = {-1, -1};
    bool m_ready = false;
};

} // namespace test_files
