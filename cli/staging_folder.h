// Unfinished outputs live in private folders beside their final place and move there only
// when complete, so that a failure or an interruption leaves nothing half-written and an
// existing file is replaced, if at all, in one step.
#pragma once

#include "temporaries.h"

#include <memory>
#include <mutex>
#include <string>

namespace cli {

// A private folder "PARENT/.tolvex-cli-PID-XXXXXX" (see files/temporaries.h: locked while it
// exists and recorded as ours, so that what a killed run leaves is removed by a later one, and
// nothing else is), removed with everything in it when destroyed. It is used only through the
// descriptor it holds: path() reaches that very folder whatever is renamed meanwhile.
class StagingFolder {
  public:
    // Made in the open folder `parent` after sweeping it; nothing and errno set when it cannot
    // be made.
    static std::unique_ptr<StagingFolder> create(int parent);
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
    explicit StagingFolder(int parent);
    tolvex::files::StagingFolder m_folder;
    std::string m_path;
};

// Staging folders are made and removed, and their content moved into place, under this lock:
// an interruption's clean-up takes it too, and so finds each output either complete in place
// or still staged.
[[nodiscard]] std::unique_lock<std::mutex> lockStaging();

// Removes every staging folder alive, under the lock the caller holds (the interruption's
// clean-up, which then ends the process).
void removeEveryStagingFolder(const std::unique_lock<std::mutex> &held);

} // namespace cli
