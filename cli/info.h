// The command info: what can be told about each input without its key, strong or classic.
#pragma once

#include "options.h"
#include "recognition.h"

#include <string>

namespace cli {

// A few lines for a person to read.
std::string describe(const std::string &path, const Recognition &recognition);

// Describes each input. Returns the exit status.
int runInfo(const Options &options);

} // namespace cli
