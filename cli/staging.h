// Unfinished outputs live in private folders beside their final place and move there only
// when complete, so that a failure or an interruption leaves nothing half-written and an
// existing file is replaced, if at all, in one step.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

namespace cli {

// A folder made with mkdtemp, removed with everything in it when destroyed. Its name carries
// the process id and it is locked while it exists, so that a run killed outright (SIGKILL, the
// file-size limit) leaves something the next run in that folder recognises and removes.
class StagingFolder {
  public:
    // A new folder "PARENT/.tolvex-cli-PID-XXXXXX", after removing those in PARENT whose
    // owner is gone; nothing and errno set when it cannot be made.
    static std::optional<StagingFolder> create(const std::string &parent);
    StagingFolder(StagingFolder &&other) noexcept;
    StagingFolder &operator=(StagingFolder &&) = delete;
    ~StagingFolder();
    const std::string &path() const { return m_path; }

  private:
    StagingFolder(std::string path, int fd) : m_path(std::move(path)), m_fd(fd) {}
    std::string m_path;
    int m_fd = -1; // holds the lock
};

// Removes a file or a folder with everything in it, holding only a few descriptors however
// deep it goes, and making folders writable where it needs to. False when something stayed.
bool removeTree(const std::string &path);

// The text of a name for a terminal: as it is when it holds no control characters, else
// quoted as ls and the shell do ($'a\nb').
std::string displayName(const std::string &name);

enum class Publish { Done, Exists, IsFolder, Failed };

// Moves a finished file to its final name. Without `replace` an existing name is never
// touched, even one that appeared meanwhile. With it, a regular file is replaced in one
// rename, keeping its permissions, after the new content is on the disk. errno is set on
// Failed.
Publish publishFile(const std::string &staged, const std::string &finalPath, bool replace);

struct TreeResult {
    Publish outcome = Publish::Done;
    std::string conflict; // the first name that exists (Exists) or could not be moved (Failed)
};

// Moves everything in `stagedFolder` into `destination`. Without `replace` nothing moves
// when any top-level name exists already. With it, folders are merged and files replaced.
TreeResult publishTree(const std::string &stagedFolder, const std::string &destination,
                       bool replace);

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
