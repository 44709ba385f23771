// Disguise kinds by name, as users type them, and back (the rule lives in the core library).
#pragma once

#include "kind_names.h"

namespace cli {

using tolvex::kindList;
using tolvex::kindName;
using tolvex::parseKind;

} // namespace cli
