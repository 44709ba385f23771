// The file-system and loader services the codec needs, one implementation per system.
// Paths are the file system's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tolvex::platform {

inline constexpr char kSeparator = '/';

// Whether this byte separates folders in a path on this system.
bool isSeparator(char c);

// True when something (file, folder, link) exists under this name.
bool pathExists(const char *path);

// True when both names lead to the very same file (same device and inode), links followed.
bool sameFile(const char *a, const char *b);

// Opens a file for (blocking) reading without ever blocking in the open: anything but a
// regular file, a FIFO, device or socket among them, is refused with errno EINVAL, judged by
// the descriptor itself. -1 with errno set on failure.
int openRegular(const char *path);

// Reads up to `length` bytes at `offset`, past interruptions and short reads; -1 on error,
// else the count (short only at the end of the file).
int64_t readAt(int fd, uint64_t offset, void *buffer, size_t length);

// A file opened for reading. Closed by its destructor.
class InputFile {
  public:
    // Fails for a path that cannot be opened and for anything but a regular file: a FIFO,
    // device or socket is refused at once instead of blocking the caller.
    static std::optional<InputFile> open(const char *path);
    InputFile(InputFile &&other) noexcept;
    InputFile &operator=(InputFile &&) = delete;
    ~InputFile();

    // Reads up to `length` bytes at `offset`, retrying short reads; -1 on a read error,
    // otherwise the count read (less than asked only at the end of the file).
    int64_t readAt(uint64_t offset, void *buffer, size_t length);
    std::optional<uint64_t> size() const;

  private:
    explicit InputFile(int fd) : m_fd(fd) {}
    int m_fd;
};

// A new output file. It is written as an unnamed file in the output's folder and gets its
// name only in commit(), when it is complete: a crash or a kill never leaves a truncated file
// under the final name. Where the file system has no unnamed files, a hidden named temporary
// stands in; it carries the owner's process id and a lock, and a later create() in that
// folder removes the ones whose owner is gone. Unless committed, the destructor removes what
// was written.
class OutputFile {
  public:
    // In replace mode the output keeps the permissions of the file it will replace.
    static std::optional<OutputFile> create(const std::string &path, bool replace);
    OutputFile(OutputFile &&other) noexcept;
    OutputFile &operator=(OutputFile &&) = delete;
    ~OutputFile();

    // Each returns false on any error (full disk, file too large, I/O error).
    bool write(const void *data, size_t length);
    bool writeAt(uint64_t offset, const void *data, size_t length);

    enum class Commit { Done, Exists, Failed };
    // Gives the file its final name. Without replace mode an existing name is never touched,
    // even one that appeared while writing (Exists); with it, the old file is replaced in one
    // rename after the new content is on the disk. Nothing is left behind unless Done.
    Commit commit();

  private:
    OutputFile(int fd, std::string finalPath, std::string tempPath, bool replace)
        : m_fd(fd), m_finalPath(std::move(finalPath)), m_tempPath(std::move(tempPath)),
          m_replace(replace) {}
    void discard();
    int m_fd;
    std::string m_finalPath;
    std::string m_tempPath; // the named stand-in, empty for an unnamed file
    bool m_replace;
    bool m_done = false;
};

// Test hook: pretend the file systems have no unnamed files, as some network ones do.
void setUnnamedFilesAvailable(bool available);

// The prefix of the named temporaries: ".tolvex-<pid>-XXXXXX".
inline constexpr const char *kTemporaryPrefix = ".tolvex-";

// Shared-library loading: a handle or nullptr; unloading a nullptr does nothing.
void *loadLibrary(const char *name);
void *findSymbol(void *library, const char *name);
void unloadLibrary(void *library);

// The memory figures the platform reports, in bytes.
struct MemoryStatus {
    uint64_t total = 0;
    uint64_t available = 0;
    uint64_t commitLimit = 0;
    uint64_t committed = 0;
};
std::optional<MemoryStatus> readMemoryStatus();

} // namespace tolvex::platform
