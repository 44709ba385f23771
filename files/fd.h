// The file layer's ground floor: an owning descriptor, opening files and folders with their type
// checked on the descriptor, reads and writes that retry short transfers, and the queries the
// codec, the archiver and tolvex-cli share. Linux only; every call keeps errno as the system
// left it on failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

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

// Opens the folder `name` inside `folder`, never through a link at its last component.
Fd openFolderAt(int folder, const std::string &name);
// Opens a folder by a path the user gave (links followed, as a shell would).
Fd openFolder(const std::string &path);
// Creates the file `name` inside `folder` for writing with `mode` (the umask applies); fails
// when anything, a link included, already has that name.
Fd createFileAt(int folder, const std::string &name, unsigned mode);
// A second descriptor for the same open file (closed on exec); invalid on failure.
Fd duplicate(int fd);
// Creates a folder and its missing parents, as mkdir -p does (the umask applies); true when it
// is a folder now. On failure `failedAt`, when given, names the part that could not be made.
bool makeFolders(const std::string &path, std::string *failedAt = nullptr);

// Reads up to `length` bytes at `offset` (or at the current position without one), past
// interruptions and short reads; -1 on error, else the count (short only at the end).
int64_t readAt(int fd, uint64_t offset, void *buffer, size_t length);
int64_t readSome(int fd, void *buffer, size_t length);
// Writes all bytes at `offset` (or at the current position); false on any error, a full disk
// included.
bool writeAt(int fd, uint64_t offset, const void *data, size_t length);
bool writeAll(int fd, const void *data, size_t length);

// The process umask, read without changing it (the umask call would race with other threads
// creating files). 022 when it cannot be read.
mode_t processUmask();
// The permission bits a new output made from `source` gets: the source's read and write bits,
// masked by the umask, as cp gives them; 0666 under the umask without a source.
mode_t outputMode(std::optional<mode_t> source);
// Free bytes in the file system of the folder `fd`.
std::optional<uint64_t> freeSpace(int fd);
// Where `path` is, or where it will be created (its nearest existing parent).
std::optional<uint64_t> freeSpace(std::string path);

// What the system says of an open file, or of `name` in `folder` (AT_FDCWD for the working
// directory; `follow` false describes a link itself). Nothing on failure.
std::optional<struct stat> status(int fd);
std::optional<struct stat> statusAt(int folder, const std::string &name, bool follow);
// Whether two descriptions are of one file: the same device and inode. Names, letter case
// and links never decide it.
bool sameFile(const struct stat &a, const struct stat &b);
// Whether `name` in the open folder `folder` and the path `input` reach one file (links
// followed): an output that would be its own input. AT_FDCWD compares two paths.
bool sameFileAt(int folder, const std::string &name, const std::string &input);
// Permission bits and modification time, set through the descriptor (the access time is kept).
bool setMode(int fd, mode_t mode);
bool setModifiedTime(int fd, time_t modified);
// Waits until what was written to `fd` is on the disk.
bool syncFile(int fd);
// Removes the file or link `name` in `folder` (never a folder).
bool removeFileAt(int folder, const std::string &name);
// The names in a folder given by path, "." and ".." left out, sorted; nothing when it cannot be
// read to the end.
std::optional<std::vector<std::string>> listFolder(const std::string &path);
// The names in an open folder, as listFolder gives them.
std::optional<std::vector<std::string>> listFolderAt(int fd);
// Opens `path` below the open folder `root` (openat2's RESOLVE_BENEATH): links on the way are
// followed only while they stay inside `root`; one that leads out fails with EXDEV. `flags`
// as for open; a regular file or folder only, checked on the descriptor as openRegular does.
Fd openBeneath(int root, const std::string &path, int flags);

// The absolute path with every link resolved; nothing when some part does not exist.
std::optional<std::string> resolvedPath(const std::string &path);

// The effective user id, and whether an open folder is this user's own and writable by nobody
// else.
uid_t userId();
bool isPrivateFolder(int fd);

// A lock file of this user's, created 0600 when missing: never through a link, never blocking
// on a FIFO, and only when it is a regular file owned by this user. Invalid otherwise.
Fd openLockFile(const std::string &path);
// Holds an exclusive flock on `fd`, waiting for other holders.
bool lockExclusive(int fd);
// True while another descriptor holds an exclusive flock on the same file.
bool lockedExclusively(int fd);

// "/proc/self/fd/N": a path that reaches the very folder or file a descriptor holds, whatever
// has been renamed or swapped since, for interfaces that take a path. Empty where /proc is not
// mounted.
std::string descriptorPath(int fd);

} // namespace tolvex::files
