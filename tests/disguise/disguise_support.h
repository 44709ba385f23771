// Helpers of the disguise tests: running outside tools, reading big- and little-endian fields,
// and the unmasked segments of the generated template file.
#pragma once

#include "test_support.h"

#include <cstdint>
#include <string>

namespace disguise_support {

using testing_support::Bytes;

struct CommandResult {
    int status = -1; // the exit status, or -1 when the command did not exit normally
    std::string out;
    std::string err;
};

// Runs a shell command line, capturing its standard output and standard error.
CommandResult run(const std::string &commandLine);

// The argument quoted for the shell.
std::string quoted(const std::string &argument);

uint32_t le16(const Bytes &b, size_t at);
uint32_t le32(const Bytes &b, size_t at);
uint32_t be16(const Bytes &b, size_t at);
uint32_t be32(const Bytes &b, size_t at);
std::string textAt(const Bytes &b, size_t at, size_t length);

// The kind's segment as the generated Tolvex.dat holds it, unmasked.
Bytes generatedSegment(int kind);

} // namespace disguise_support
