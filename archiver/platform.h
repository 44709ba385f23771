// The archiver's system calls beyond the shared file layer (files/): a buffered output.
// The layer's descriptors, openers, transfers, temporaries and tree moves are used here under
// their own names.
#pragma once

#include "fd.h"
#include "folders.h"
#include "names.h"
#include "temporaries.h"
#include "transfers.h"
#include "tree_mover.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace unlha {

using tolvex::files::createFileAt;
using tolvex::files::duplicate;
using tolvex::files::Fd;
using tolvex::files::freeSpace;
using tolvex::files::listFolder;
using tolvex::files::lockedExclusively;
using tolvex::files::lockExclusive;
using tolvex::files::makeFolders;
using tolvex::files::openFolder;
using tolvex::files::openFolderAt;
using tolvex::files::openLockFile;
using tolvex::files::openRegular;
using tolvex::files::OpenResult;
using tolvex::files::processUmask;
using tolvex::files::readAt;
using tolvex::files::removeFileAt;
using tolvex::files::resolvedPath;
using tolvex::files::setMode;
using tolvex::files::setModifiedTime;
using tolvex::files::status;
using tolvex::files::statusAt;
using tolvex::files::syncFile;
using tolvex::files::writeAt;

// A stdio stream reading `fd` from `start`, for liblhasa; it owns the descriptor once made.
// Nothing on failure (the descriptor then stays the caller's).
FILE *openStream(int fd, uint64_t start = 0);
// Sets the file's length: what was never written reads as zeros (and takes no room where the
// file system keeps holes).
bool setLength(int fd, uint64_t length);

// Appends to a descriptor through a buffer, keeping track of the position.
class BufferedOutput {
  public:
    explicit BufferedOutput(int fd, uint64_t start = 0);
    bool write(const void *data, size_t length);
    bool flush();
    // Forgets everything from `position` on (used to replace a member's data).
    bool truncate(uint64_t position);
    // Overwrites bytes already written (a member's header once its sizes are known).
    bool patch(uint64_t position, const void *data, size_t length);
    uint64_t position() const { return m_flushed + m_buffer.size(); }

  private:
    int m_fd;
    uint64_t m_flushed;
    std::string m_buffer;
};

} // namespace unlha
