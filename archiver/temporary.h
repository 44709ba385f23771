// Files and folders that are not finished yet. Nothing gets its final name before it is
// complete: a file is written unnamed (O_TMPFILE) and linked into place at the end, a set of
// extracted members is gathered in a private staging folder. Where the file system has no
// unnamed files, a named temporary (".unlha-" and ten letters or digits) is held with an flock
// for its owner's lifetime; any later run in that folder removes those whose owner is gone.
#pragma once

#include "platform.h"

#include <string>

namespace unlha {

// A fresh name of the form every temporary of ours has.
std::string temporaryName();
bool isTemporaryName(const std::string &name);

// Removes the temporaries in a folder whose owners have ended (a kill or a crash).
void removeStaleTemporaries(int folderFd);

// Removes a folder and everything below it, never following a link, with at most three
// descriptors open however deep the tree is. A plain file or link is simply unlinked.
bool removeTree(int parentFd, const std::string &name);

// Tests: use named temporaries even where unnamed ones work.
void forceNamedTemporaries(bool force);

class TemporaryFile {
  public:
    // Creates it in the folder; valid() tells whether that worked.
    explicit TemporaryFile(int folderFd);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;
    bool valid() const { return m_fd.valid(); }
    int fd() const { return m_fd.get(); }
    // Gives it `name` in the folder it was created in, only when nothing has that name
    // (EEXIST otherwise, even against a file that appeared meanwhile).
    bool linkAs(const std::string &name);
    // Gives it `name`, replacing whatever file has it in one step.
    bool replace(const std::string &name);

  private:
    int m_folder;
    Fd m_fd;
    std::string m_name; // empty for an unnamed file
    bool m_done = false;
};

// A private folder (mode 0700) inside another, removed with its content unless kept.
class StagingFolder {
  public:
    explicit StagingFolder(int parentFd);
    ~StagingFolder();
    StagingFolder(const StagingFolder &) = delete;
    StagingFolder &operator=(const StagingFolder &) = delete;
    bool valid() const { return m_fd.valid(); }
    int fd() const { return m_fd.get(); }
    const std::string &name() const { return m_name; }
    // Removes it now; false when something could not be removed.
    bool remove();

  private:
    int m_parent;
    Fd m_fd;
    std::string m_name;
};

} // namespace unlha
