// The command info: what can be told about each input without its key, strong or classic.
#pragma once

#include "inspection.h"
#include "options.h"

#include <string>

namespace cli {

// A few lines for a person to read.
std::string describe(const std::string &path, const Inspection &inspection);

// Describes each input. Returns the exit status.
int runInfo(const Options &options);

} // namespace cli
