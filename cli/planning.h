// Every input checked and its output named before any key is asked for or anything written.
#pragma once

#include "conversion.h"

#include <optional>
#include <string>
#include <vector>

namespace cli {

// Checks every input and names its output (claiming it in settings.claims); never asks for the
// key and writes nothing.
std::vector<Plan> planAll(const Settings &settings);

// Opens each output folder once, for all the plans that write into it: from then on their
// jobs work relative to that descriptor, whatever the folder's path names meanwhile.
void holdOutputFolders(std::vector<Plan> &plans);

} // namespace cli
