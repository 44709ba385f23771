#include "key_code.h"

namespace tolvex {
namespace {

uint32_t digitValue(char c) {
    if (c >= '0' && c <= '9')
        return uint32_t(c - '0');
    if (c >= 'a' && c <= 'f')
        return uint32_t(c - 'a' + 10);
    return uint32_t(c - 'A' + 10);
}

} // namespace

std::optional<uint32_t> keyCodeFromText(std::string_view text) {
    if (text.empty() || text.size() > kMaxKeyDigits)
        return std::nullopt;
    uint32_t v = 0;
    for (char c : text) {
        if (!isKeyDigit(char32_t(static_cast<unsigned char>(c))))
            return std::nullopt;
        v = v << 4 | digitValue(c);
    }
    // A value that fits sixteen bits is read as a signed 16-bit number and widened.
    if (v >= 0x8000 && v <= 0xFFFF)
        v |= 0xFFFF0000u;
    return v;
}

} // namespace tolvex
