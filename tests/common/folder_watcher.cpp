#include "folder_watcher.h"

#include <algorithm>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

namespace test_files {

FolderWatcher::FolderWatcher(const std::string &watched, uint32_t mask, Act act,
                             const std::function<bool()> &become) {
    int ready[2];
    if (::pipe(ready) != 0)
        return;
    if (::pipe(m_stop) != 0) {
        ::close(ready[0]);
        ::close(ready[1]);
        return;
    }
    m_child = ::fork();
    if (m_child == 0) {
        ::close(ready[0]);
        ::close(m_stop[1]);
        if (become && !become())
            ::_exit(100);
        ::_exit(watch(watched, mask, act, ready[1], m_stop[0]));
    }
    ::close(ready[1]);
    ::close(m_stop[0]);
    char c = 0;
    m_ready = m_child > 0 && ::read(ready[0], &c, 1) == 1;
    ::close(ready[0]);
}

FolderWatcher::~FolderWatcher() {
    stop();
}

int FolderWatcher::stop() {
    if (m_child <= 0)
        return -1;
    ::close(m_stop[1]);
    int status = 0;
    ::waitpid(m_child, &status, 0);
    m_child = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int FolderWatcher::watch(const std::string &watched, uint32_t mask, const Act &act, int ready,
                         int stop) {
    const int events = ::inotify_init1(IN_CLOEXEC);
    const int folder = ::open(watched.c_str(), O_RDONLY | O_DIRECTORY);
    if (events < 0 || folder < 0 || ::inotify_add_watch(events, watched.c_str(), mask) < 0)
        return 101;
    if (::write(ready, "r", 1) != 1)
        return 102;
    int acted = 0;
    alignas(struct inotify_event) char buffer[8192];
    for (;;) {
        struct pollfd waits[2] = {{events, POLLIN, 0}, {stop, POLLIN, 0}};
        ::poll(waits, 2, -1);
        if (waits[0].revents & POLLIN) {
            const ssize_t n = ::read(events, buffer, sizeof buffer);
            for (ssize_t at = 0; at < n;) {
                const auto *e = reinterpret_cast<const struct inotify_event *>(buffer + at);
                at += static_cast<ssize_t>(sizeof(struct inotify_event) + e->len);
                if (act(folder, e->len ? std::string(e->name) : std::string()))
                    ++acted;
            }
        } else if (waits[1].revents) {
            return std::min(acted, 99);
        }
    }
}

} // namespace test_files
