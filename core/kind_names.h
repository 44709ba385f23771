// Disguise kinds by name, as users type them, and back.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tolvex {

// A kind name or alias ("png", "JPEG", "none", ...) or its number below kKindCount; nothing for
// anything else.
std::optional<int> parseKind(std::string_view text);

// The short name of a kind: "none" for 0 and numbers outside the table, "bmp" for 1, ...
std::string kindName(int kind);

// Every kind name with its number, for --help.
std::string kindList();

} // namespace tolvex
