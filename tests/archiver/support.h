// Helpers for the archiver tests: private folders, files, running commands and outside tools.
#pragma once

#include "commands.h"
#include "test_files.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace archiver_test {

using test_files::Bytes;
using test_files::exists;
using test_files::makeFolder;
using test_files::randomBytes;
using test_files::readFile;
using test_files::writeFile;

// A private folder for one test.
class TempDir : public test_files::TempDir {
  public:
    TempDir() : test_files::TempDir("unlha-test") {}
};

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
