// The conversion of many inputs: each carried through its steps on its own, one failure
// stopping no other, in parallel when asked, with a summary at the end.
#pragma once

#include "conversion.h"

#include <vector>

namespace cli {

// Converts every input that planned well (options.jobs at a time), reports each failure and,
// unless quiet, each output and a summary. Returns the exit status.
int runAll(const std::vector<Plan> &plans, const Settings &settings, Reporter &reporter,
           ArchiverClient *archiver);

} // namespace cli
