// Unfinished outputs live in private folders beside their final place and move there only
// when complete, so that a failure or an interruption leaves nothing half-written and an
// existing file is replaced, if at all, in one step.
#pragma once

#include <mutex>
#include <optional>
#include <string>

namespace cli {

// A folder made with mkdtemp, removed with everything in it when destroyed. While it exists,
// an interruption (see installInterruptCleanup) removes it too.
class StagingFolder {
  public:
    // A new folder "PARENT/.tolvex-cli-XXXXXX"; nothing and errno set when it cannot be made.
    static std::optional<StagingFolder> create(const std::string &parent);
    StagingFolder(StagingFolder &&other) noexcept;
    StagingFolder &operator=(StagingFolder &&) = delete;
    ~StagingFolder();
    const std::string &path() const { return m_path; }

  private:
    explicit StagingFolder(std::string path) : m_path(std::move(path)) {}
    std::string m_path;
};

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
// wait for them: it removes every staging folder and ends the process with 128 + signal.
void installInterruptCleanup();

} // namespace cli
