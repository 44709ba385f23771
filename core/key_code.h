// The key text and the key code it stands for, one rule for the window and tolvex-cli.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tolvex {

inline constexpr size_t kMaxKeyDigits = 8;

// 0-9, A-F and a-f; nothing else, not even other scripts' digits.
constexpr bool isKeyDigit(char32_t c) {
    return (c >= U'0' && c <= U'9') || (c >= U'A' && c <= U'F') || (c >= U'a' && c <= U'f');
}

// One to eight hexadecimal digits, either case. Values 8000 to FFFF widen with their sign (to
// FFFF8000 to FFFFFFFF); everything else passes as its bit pattern. Nothing for anything else.
std::optional<uint32_t> keyCodeFromText(std::string_view text);

} // namespace tolvex
