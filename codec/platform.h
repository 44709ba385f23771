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

// A file opened for reading. Closed by its destructor.
class InputFile {
  public:
    // Fails for a path that cannot be opened and for a folder.
    static std::optional<InputFile> open(const char *path);
    InputFile(InputFile &&other) noexcept;
    InputFile &operator=(InputFile &&) = delete;
    ~InputFile();

    // Reads up to `length` bytes at `offset`, retrying short reads; -1 on a read error,
    // otherwise the count read (less than asked only at the end of the file).
    int64_t readAt(uint64_t offset, void *buffer, size_t length);
    // The same from the current position, which it advances.
    int64_t read(void *buffer, size_t length);
    std::optional<uint64_t> size() const;

  private:
    explicit InputFile(int fd) : m_fd(fd) {}
    int m_fd;
};

// A new output file. In replace mode it is written under a temporary name in the same folder
// and renamed over the final name by commit(), so a failed run leaves an existing file as it
// was. Otherwise the final name is created exclusively. Unless committed, the destructor
// removes what was written.
class OutputFile {
  public:
    static std::optional<OutputFile> create(const std::string &path, bool replace);
    OutputFile(OutputFile &&other) noexcept;
    OutputFile &operator=(OutputFile &&) = delete;
    ~OutputFile();

    // Each returns false on any error (full disk, file too large, I/O error).
    bool write(const void *data, size_t length);
    bool writeAt(uint64_t offset, const void *data, size_t length);
    // Closes the file and gives it its final name; false (with nothing left behind) on failure.
    bool commit();

  private:
    OutputFile(int fd, std::string finalPath, std::string tempPath)
        : m_fd(fd), m_finalPath(std::move(finalPath)), m_tempPath(std::move(tempPath)) {}
    void discard();
    int m_fd;
    std::string m_finalPath;
    std::string m_tempPath; // empty unless replacing
    bool m_done = false;
};

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
