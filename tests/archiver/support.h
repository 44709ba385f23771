// Helpers for the archiver tests: private folders, files, running commands and outside tools.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace archiver_test {

using Bytes = std::vector<uint8_t>;

// A fresh folder under the temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return m_path; }
    std::string operator/(const std::string &name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};

void writeFile(const std::string &path, const Bytes &content);
void writeFile(const std::string &path, const std::string &content);
std::optional<Bytes> readFile(const std::string &path);
void makeFolder(const std::string &path);
bool exists(const std::string &path);
Bytes randomBytes(size_t length, uint32_t seed);
// Text-like bytes: words from a small vocabulary, so that LZ matches and skewed codes occur.
Bytes textBytes(size_t length, uint32_t seed);

// Every entry below a folder as "relative/path" (folders end with '/'), sorted, with content.
struct Entry {
    std::string path;
    std::optional<Bytes> content; // nothing for a folder
    bool operator==(const Entry &) const = default;
};
std::vector<Entry> snapshot(const std::string &folder);
// Every path below a folder, the folder itself left out.
std::vector<std::string> allPaths(const std::string &folder);

// Runs a command line through the library's core, as Unlha does (without the busy lock).
int runCommand(const std::string &line, std::string *message = nullptr);
std::string quote(const std::string &s);

// Runs a shell command; its exit status and what it printed to stdout.
struct Shell {
    int status;
    std::string output;
};
Shell shell(const std::string &command);

} // namespace archiver_test
