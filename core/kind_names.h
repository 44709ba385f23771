// Disguise kinds by name, as users type them, and back.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tolvex {

// A kind name ("png", "JPEG", "none", ...) or its number 0 to 15; nothing for anything else.
std::optional<int> parseKind(std::string_view text);

// The short name of a kind: "none" for 0, "bmp" for 1, ..., "zip" for 15.
std::string kindName(int kind);

// Every kind name with its number, for --help.
std::string kindList();

} // namespace tolvex
