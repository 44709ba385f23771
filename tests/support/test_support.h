// Helpers shared by the codec tests: a private folder per test, file helpers, a slow CRC-32
// reference, and a count of the process's open descriptors.
#pragma once

#include "engine.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

using Bytes = std::vector<uint8_t>;

// A fresh folder under the system's temporary folder, removed with everything in it.
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
bool exists(const std::string &path);
// Names in a folder, sorted, "." and ".." left out.
std::vector<std::string> listFolder(const std::string &path);
Bytes randomBytes(size_t length, uint32_t seed);

// Bit by bit, straight from the polynomial: independent of the table-driven code under test.
uint32_t referenceCrc32(const Bytes &data);

int openDescriptorCount();

// The engine with this build's template file unless another is given.
int32_t runEngine(const std::string &source, const std::string &outputBase, uint32_t key,
                  int32_t mode, int32_t kind = 0, int32_t bufferSize = 1 << 16,
                  const char *templatePath = TOLVEX_TEMPLATE_FILE, uint32_t fillerSeed = 0);

} // namespace testing_support
