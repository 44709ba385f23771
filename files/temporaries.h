// Files and folders that are not finished yet, and the clean-up of those a killed run left.
//
// Nothing gets its final name before it is complete: a file is written unnamed (O_TMPFILE) and
// linked into place at the end; where the file system has no unnamed files, and for staging
// folders, a named temporary "<prefix><pid>-XXXXXX" stands in, locked by its creator for as long
// as it lives. A name proves nothing (anyone who can write the folder can rename their own
// folder, or the user's, to look like one), so each named temporary is also recorded in the
// user's private cache folder under its device and inode. A later run removes a leftover only
// when its name has the exact form, it is the user's own, nobody holds its lock and the record
// says this program made it there under that name. (A run killed between making it and
// recording it leaves a record of the name alone: then only an empty leftover goes.)
#pragma once

#include "fd.h"
#include "names.h"

#include <string>
#include <string_view>

namespace tolvex::files {

// The prefixes of the codec's, tolvex-cli's and the archiver's temporaries.
inline constexpr std::string_view kCodecPrefix = ".tolvex-";
inline constexpr std::string_view kCliPrefix = ".tolvex-cli-";
inline constexpr std::string_view kArchiverPrefix = ".unlha-";

// A fresh "<prefix><pid>-XXXXXX".
std::string temporaryName(std::string_view prefix);
// Whether a name has exactly the form of one of ours, whichever prefix.
bool isTemporaryName(std::string_view name);
// Whether a name could be taken for one of ours, in this form or an earlier one: a prefix and
// a digit. Archive members named like this are refused.
bool looksLikeTemporary(std::string_view name);

// rename() that fails with EEXIST rather than replace, also against a name taken meanwhile; a
// hard link where the file system lacks the flag (a link refuses a taken name too).
bool renameNoReplace(int fromFolder, const std::string &from, int toFolder, const std::string &to);

// Removes the leftovers in the folder that can be shown to be ours (see above).
void sweep(int folder);

// Removes `name` inside `parent`: a file or link is unlinked, a folder emptied first, never
// through a link, with a few descriptors however deep it goes. Permissions are never changed:
// what cannot be removed stays as it was. True when nothing is left.
bool removeTree(int parent, const std::string &name);
// Removes everything inside the folder `fd`, as removeTree does.
bool emptyFolder(int fd);

// A file being written: unnamed where the file system can link one into place, under a
// recorded name from the start where it has no unnamed files (some network ones).
class TemporaryFile {
  public:
    // Creates it in `folder` (which must outlive it), private (0600) while it is written, after
    // sweeping that folder.
    TemporaryFile(int folder, std::string_view prefix);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;
    bool valid() const { return m_fd.valid(); }
    int fd() const { return m_fd.get(); }
    int folder() const { return m_folder; }
    // Gives it `name` in its folder, only when nothing has that name (EEXIST otherwise, even
    // against a file that appeared meanwhile).
    bool linkAs(const std::string &name);
    // Gives it `name`, replacing whatever has it in one step.
    bool replace(const std::string &name);
    // Closes the descriptor (a late write error shows here) and forgets the file; nothing is
    // left behind.
    void discard();

  private:
    int m_folder;
    std::string m_prefix;
    Fd m_fd;
    std::string m_name; // empty for an unnamed file
    bool m_done = false;
};

// A private folder (0700) inside another, locked while it exists and removed with its content
// unless kept. Used only through its descriptor. Linux has no call that makes a folder and
// opens it in one step, so the folder opened under the new name must prove to be the one just
// made: empty, and born no earlier than the mkdir (anyone who can write the parent could have
// exchanged the name with one of the user's own folders in between).
class StagingFolder {
  public:
    // Creates it in `parent` after sweeping that folder; valid() tells whether that worked.
    StagingFolder(int parent, std::string_view prefix);
    ~StagingFolder();
    StagingFolder(const StagingFolder &) = delete;
    StagingFolder &operator=(const StagingFolder &) = delete;
    bool valid() const { return m_fd.valid(); }
    int fd() const { return m_fd.get(); }
    int parent() const { return m_parent.get(); }
    const std::string &name() const { return m_name; }
    // A path to this very folder for interfaces that take paths (descriptorPath).
    std::string path() const { return descriptorPath(m_fd.get()); }
    // Removes it now; false when something could not be removed.
    bool remove();

  private:
    Fd m_parent;
    Fd m_fd;
    std::string m_name;
    dev_t m_dev = 0;
    ino_t m_ino = 0;
};

} // namespace tolvex::files
