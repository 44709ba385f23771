// What the Windows tests share: Halvet_Tolvex.dll bound the way its callers bind it (by name,
// at run time), private folders, whole files, and the folder the tests run in.
#pragma once

#include "halvet_tolvex.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dll_test {

using Bytes = std::vector<uint8_t>;

using MakeCodeFunction = int32_t(TOLVEX_CALL *)(const char *, const char *, uint32_t, int32_t,
                                                int32_t, int32_t);
using FindLzhFunction = uint32_t(TOLVEX_CALL *)();
using GetMemDatFunction = uint32_t(TOLVEX_CALL *)(uint32_t);

// The library's name for MSVC's `CHalvet_Tolvex &CHalvet_Tolvex::operator=(const &)`.
inline constexpr const char *kAssignName = "??4CHalvet_Tolvex@@QAEAAV0@ABV0@@Z";

struct Codec {
    void *library = nullptr;
    MakeCodeFunction makeCode = nullptr;
    FindLzhFunction findLzh = nullptr;
    GetMemDatFunction getMemDat = nullptr;
};

// Halvet_Tolvex.dll beside the test program, loaded once; fails the test when it cannot be.
const Codec &codec();

// The folder of the test program, where the DLL and Tolvex.dat lie (no trailing separator).
const std::string &programFolder();

// MakeCode with the test program's folder as the current one, where it finds Tolvex.dat.
int32_t makeCode(const std::string &source, const std::string &outputBase, uint32_t key,
                 int32_t mode, int32_t kind = 0, int32_t bufferSize = 1 << 16);

// A fresh folder under the system's temporary folder, removed with its contents.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    const std::string &path() const { return m_path; }
    std::string operator/(const std::string &name) const { return m_path + "\\" + name; }
    std::vector<std::string> names() const;

  private:
    std::string m_path;
};

// Makes `folder` the current one until destroyed.
class CurrentFolder {
  public:
    explicit CurrentFolder(const std::string &folder);
    ~CurrentFolder();
    CurrentFolder(const CurrentFolder &) = delete;
    CurrentFolder &operator=(const CurrentFolder &) = delete;

  private:
    std::string m_previous;
};

// The names in a folder (files and folders, "." and ".." left out), sorted.
std::vector<std::string> namesIn(const std::string &folder);

bool writeFile(const std::string &path, const Bytes &content);
bool writeFile(const std::string &path, const std::string &content);
std::optional<Bytes> readFile(const std::string &path);
bool exists(const std::string &path);
Bytes randomBytes(size_t length, uint32_t seed);

// A path of the Linux side as Wine shows it ("/a/b" -> "Z:\a\b").
std::string fromHost(const std::string &hostPath);

} // namespace dll_test
