// Unfinished outputs live in private folders beside their final place and move there only
// when complete, so that a failure or an interruption leaves nothing half-written and an
// existing file is replaced, if at all, in one step.
#pragma once

#include "temporaries.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace cli {

// A private folder "PARENT/.tolvex-cli-PID-XXXXXX" (see files/temporaries.h: locked while it
// exists and recorded as ours, so that what a killed run leaves is removed by a later one, and
// nothing else is), removed with everything in it when destroyed. It is used only through the
// descriptor it holds: path() reaches that very folder whatever is renamed meanwhile.
class StagingFolder {
  public:
    // Made in PARENT after sweeping it; nothing and errno set when it cannot be made.
    static std::unique_ptr<StagingFolder> create(const std::string &parent);
    // Made in the user's private folder, for plaintext that has no place beside the output.
    static std::unique_ptr<StagingFolder> createPrivate();
    ~StagingFolder();
    StagingFolder(const StagingFolder &) = delete;
    StagingFolder &operator=(const StagingFolder &) = delete;
    const std::string &path() const { return m_path; }
    int fd() const { return m_folder.fd(); }
    // Removes it now (the interruption's clean-up).
    void remove();

  private:
    StagingFolder(int parent);
    tolvex::files::StagingFolder m_folder;
    std::string m_path;
};

// The text of a name for a terminal: as it is when it holds no control characters, else
// quoted as ls and the shell do ($'a\nb').
std::string displayName(const std::string &name);

enum class Publish { Done, Exists, IsFolder, Unsafe, Failed };

// Moves a finished file to its final name. Without `replace` an existing name is never
// touched, even one that appeared meanwhile. With it, a regular file is replaced in one
// rename after the new content is on the disk; the new file never gets wider permissions than
// the one it replaces. errno is set on Failed.
Publish publishFile(const std::string &staged, const std::string &finalPath, bool replace);

struct TreeResult {
    Publish outcome = Publish::Done;
    std::string conflict; // the first name that stands in the way or could not be moved
};

// Moves everything in the staging folder `staged` into `destination`, opened once. Every
// conflict is found before the first move: without `replace`, any top-level name that exists;
// with it, a file meeting a folder or a folder a file (folders are merged, files replaced), and
// a link or file on the way. A failure while moving puts back everything moved and replaced.
TreeResult publishTree(const StagingFolder &staged, const std::string &destination, bool replace);

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
