// File helpers every test suite uses: a private folder per test, reading and writing whole
// files, reproducible random content, and running a check as an ordinary user.
#pragma once

#include <cstdint>
#include <functional>
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

// The user an unprivileged run takes when the suite runs as root ("nobody").
inline constexpr unsigned kNobody = 65534;
// Runs body in a child process as an ordinary user (as kNobody when the suite runs as root);
// its result is the child's exit status (0 for success, anything else names the check that
// failed), -1 when the child died, 100 when the user could not be changed.
int asOrdinaryUser(const std::function<int()> &body);

} // namespace test_files
