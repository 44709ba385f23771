// Helpers shared by the codec tests: a slow CRC-32 reference, a count of the process's open
// descriptors, and the engine called with this build's template file.
#pragma once

#include "engine.h"
#include "test_files.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

using test_files::Bytes;
using test_files::exists;
using test_files::randomBytes;
using test_files::readFile;
using test_files::TempDir;
using test_files::writeFile;

// Names in a folder, sorted, "." and ".." left out.
std::vector<std::string> listFolder(const std::string &path);

// Bit by bit, straight from the polynomial: independent of the table-driven code under test.
uint32_t referenceCrc32(const Bytes &data);

int openDescriptorCount();

// The engine with this build's template file unless another is given.
int32_t runEngine(const std::string &source, const std::string &outputBase, uint32_t key,
                  int32_t mode, int32_t kind = 0, int32_t bufferSize = 1 << 16,
                  const char *templatePath = TOLVEX_TEMPLATE_FILE, uint32_t fillerSeed = 0);

} // namespace testing_support
