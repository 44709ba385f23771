// The archiver's system calls in one place: an owning descriptor, opening without following
// links, reads and writes that retry short transfers, creating with modes, folders and free
// space. The named temporaries of the archive folder are in temporary.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace unlha {

class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(Fd &&other) noexcept : m_fd(other.release()) {}
    Fd &operator=(Fd &&other) noexcept;
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd();
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release();
    // Closes now and tells whether the close itself succeeded (it can report a late write error).
    bool close();

  private:
    int m_fd = -1;
};

// Opens a file that must be a regular file, for reading. Opened without blocking (a FIFO or
// device would otherwise hang the open or the first read), checked on the descriptor, then
// switched back to blocking reads. `follow` false refuses a link at the last component.
enum class OpenResult { Ok, Missing, NotRegular, Failed };
Fd openRegular(int folderFd, const std::string &path, bool follow, OpenResult &result);

// The process umask, read without changing it (the umask call would race with other threads
// creating files). 022 when it cannot be read.
unsigned processUmask();

// A second descriptor for the same open file (closed on exec); invalid on failure.
Fd duplicate(int fd);
// Opens the folder `name` inside `folder`, never through a link; errno tells why not.
Fd openFolderAt(int folder, const std::string &name);
// Creates the file `name` inside `folder` for writing with `mode` (the umask applies); fails
// when anything, a link included, already has that name.
Fd createFileAt(int folder, const std::string &name, unsigned mode);

// Creates a folder and its missing parents (the umask applies); true when it is a folder now.
bool makeFolders(const std::string &path);
// Free bytes where `path` is, or where it will be created (its nearest existing parent).
std::optional<uint64_t> freeSpace(std::string path);

// Reads up to `length` bytes at `offset`; -1 on error, else the count (short only at the end).
int64_t readAt(int fd, uint64_t offset, void *buffer, size_t length);
// Writes all bytes at `offset`; false on any error (a full disk included).
bool writeAt(int fd, uint64_t offset, const void *data, size_t length);

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
