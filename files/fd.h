// The file layer's ground floor: an owning descriptor, opening and creating files with their
// type checked on the descriptor, what the system says of an open file, its mode and times, and
// locks. Linux only; every call keeps errno as the system left it on failure.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace tolvex::files {

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

// Opens a file that must be a regular file, for reading, relative to `folder` (AT_FDCWD for the
// working directory). Opened without blocking (a FIFO or device would otherwise hang the open or
// the first read), checked on the descriptor, then switched back to blocking reads. `follow`
// false refuses a link at the last component.
enum class OpenResult { Ok, Missing, NotRegular, Failed };
Fd openRegular(int folder, const std::string &path, bool follow, OpenResult &result);

// The same, for callers that only need the descriptor: errno EINVAL for anything but a regular
// file, -1 on failure.
int openRegular(const char *path);

// Creates the file `name` inside `folder` for writing with `mode` (the umask applies); fails
// when anything, a link included, already has that name.
Fd createFileAt(int folder, const std::string &name, unsigned mode);
// A second descriptor for the same open file (closed on exec); invalid on failure.
Fd duplicate(int fd);

// What the system says of an open file, or of `name` in `folder` (AT_FDCWD for the working
// directory; `follow` false describes a link itself). Nothing on failure.
std::optional<struct stat> status(int fd);
std::optional<struct stat> statusAt(int folder, const std::string &name, bool follow);

// The process umask, read without changing it (the umask call would race with other threads
// creating files). 022 when it cannot be read.
mode_t processUmask();
// The permission bits a new output made from `source` gets: the source's read and write bits,
// masked by the umask, as cp gives them; 0666 under the umask without a source.
mode_t outputMode(std::optional<mode_t> source);
// Permission bits and modification time, set through the descriptor (the access time is kept).
bool setMode(int fd, mode_t mode);
bool setModifiedTime(int fd, time_t modified);

// A lock file of this user's, created 0600 when missing: never through a link, never blocking
// on a FIFO, and only when it is a regular file owned by this user. Invalid otherwise.
Fd openLockFile(const std::string &path);
// Holds an exclusive flock on `fd`, waiting for other holders.
bool lockExclusive(int fd);
// True while another descriptor holds an exclusive flock on the same file.
bool lockedExclusively(int fd);

} // namespace tolvex::files
