// The file-system and loader services the codec needs, one implementation per system
// (platform_unix.cpp, platform_win32.cpp). Paths are bytes: the file system's on Linux, the
// ANSI code page's on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tolvex::platform {

// Whether this byte separates folders in a path on this system ('/'; on Windows also '\\').
bool isSeparator(char c);

// Whether a recorded extension, appended to a name, still names a plain file in the same
// folder here: no separator and nothing the system reads as more than a name (a stream after
// ':' on Windows).
bool isPlainName(std::string_view name);

// The archiver library's file name, for the system's own search.
extern const char *const kArchiverLibrary;

// True when something (file, folder, link) exists under this name.
bool pathExists(const char *path);

// True when both names lead to the very same file (same device and inode, or volume and file
// index), links followed.
bool sameFile(const char *a, const char *b);

// A file opened for reading. Closed by its destructor.
class InputFile {
  public:
    // Fails for a path that cannot be opened and for anything but a regular file: a FIFO,
    // device or socket is refused at once instead of blocking the caller.
    static std::optional<InputFile> open(const char *path);
    InputFile(InputFile &&other) noexcept : m_handle(other.m_handle) { other.m_handle = -1; }
    InputFile &operator=(InputFile &&) = delete;
    ~InputFile();

    // Reads up to `length` bytes at `offset`, retrying short reads; -1 on a read error,
    // otherwise the count read (less than asked only at the end of the file).
    int64_t readAt(uint64_t offset, void *buffer, size_t length);
    std::optional<uint64_t> size() const;
    // Its permission bits, where the system has them (not on Windows).
    std::optional<uint32_t> permissions() const;

  private:
    explicit InputFile(intptr_t handle) : m_handle(handle) {}
    intptr_t m_handle; // a descriptor, or a system handle; -1 for none
};

// A new output file. It is written as an unnamed file in the output's folder and gets its
// name only in commit(), when it is complete: a crash or a kill never leaves a truncated file
// under the final name. Where there are no unnamed files (some file systems; always on
// Windows), a hidden named temporary stands in; it carries the owner's process id and is held
// against others (a lock; on Windows a handle that shares nothing), and a later create() in
// that folder removes the ones this program can show it left (on Linux a record in the user's
// private folder; on Windows their owner is gone). Unless committed, the destructor removes
// what was written.
class OutputFile {
  public:
    // The output gets the source's read and write bits (`permissions`, where the system has
    // them) under the umask, as cp gives them; a replacement never gets wider ones than the
    // file it replaces. Nothing is taken from what a link at the name points to.
    static std::optional<OutputFile> create(const std::string &path, bool replace,
                                            std::optional<uint32_t> permissions);
    OutputFile(OutputFile &&other) noexcept
        : m_handle(other.m_handle), m_finalPath(std::move(other.m_finalPath)),
          m_tempPath(std::move(other.m_tempPath)), m_replace(other.m_replace), m_done(other.m_done),
          m_state(other.m_state) {
        other.m_handle = -1;
        other.m_done = true;
        other.m_state = nullptr;
    }
    OutputFile &operator=(OutputFile &&) = delete;
    ~OutputFile() {
        if (!m_done)
            discard();
    }

    // Each returns false on any error (full disk, file too large, I/O error).
    bool write(const void *data, size_t length);
    bool writeAt(uint64_t offset, const void *data, size_t length);

    enum class Commit { Done, Exists, Failed };
    // Gives the file its final name. Without replace mode an existing name is never touched,
    // even one that appeared while writing (Exists); with it, the old file is replaced in one
    // rename after the new content is on the disk. Nothing is left behind unless Done.
    Commit commit();

  private:
    OutputFile(intptr_t handle, std::string finalPath, std::string tempPath, bool replace)
        : m_handle(handle), m_finalPath(std::move(finalPath)), m_tempPath(std::move(tempPath)),
          m_replace(replace) {}
    void discard();
    intptr_t m_handle;
    std::string m_finalPath;
    std::string m_tempPath; // the named stand-in, empty for an unnamed file
    bool m_replace;
    bool m_done = false;
    // What the platform file keeps beyond a handle (Linux: the folder's descriptor and the
    // temporary); released by commit() and discard().
    void *m_state = nullptr;
};

// The prefix of the named temporaries: ".tolvex-<pid>-XXXXXX".
inline constexpr const char *kTemporaryPrefix = ".tolvex-";

// Shared-library loading: a handle or nullptr; unloading a nullptr does nothing.
void *loadLibrary(const char *name);
void *findSymbol(void *library, const char *name);
void unloadLibrary(void *library);

// The memory figures the platform reports, in bytes; the load in percent.
struct MemoryStatus {
    uint32_t load = 0;
    uint64_t total = 0;
    uint64_t available = 0;
    uint64_t commitLimit = 0;
    uint64_t committed = 0;
};
std::optional<MemoryStatus> readMemoryStatus();

} // namespace tolvex::platform
