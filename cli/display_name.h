// Names as a terminal shows them.
#pragma once

#include <string>

namespace cli {

// The text of a name for a terminal: as it is when it holds no control characters, else
// quoted as ls and the shell do ($'a\nb').
std::string displayName(const std::string &name);

} // namespace cli
