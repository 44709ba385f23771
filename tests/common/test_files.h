// File helpers every test suite uses: a private folder per test, reading and writing whole
// files, and reproducible random content.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace test_files {

using Bytes = std::vector<uint8_t>;

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it, also what a test
// left without permissions.
class TempDir {
  public:
    explicit TempDir(const char *prefix = "tolvex-test");
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
// Whether anything (file, folder, link, dangling or not) has this name.
bool exists(const std::string &path);
Bytes randomBytes(size_t length, uint32_t seed);

} // namespace test_files
