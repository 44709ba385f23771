#include "interruption.h"

#include "staging_folder.h"

#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace cli {
namespace {

// Interruption state: the signal, whether one came, and how many conversions are under way.
std::atomic<bool> g_interrupted{false};
std::atomic<int> g_signal{0};
std::mutex g_workMutex;
std::condition_variable g_workChanged;
int g_activeWork = 0;

[[noreturn]] void finishInterrupted() {
    // The lock is kept to the end: nothing is published after the folders went.
    const auto lock = lockStaging();
    removeEveryStagingFolder(lock);
    std::fputs("\ntolvex-cli: interrupted; unfinished outputs removed\n", stderr);
    ::_exit(128 + g_signal.load());
}

} // namespace

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
