#include "display_name.h"

#include <cstdint>
#include <cstdio>

namespace cli {

std::string displayName(const std::string &name) {
    // Valid UTF-8 without control characters (C0, DEL, C1) passes as it is.
    auto sequenceLength = [&](size_t i) -> size_t {
        const auto b = [&](size_t k) { return static_cast<uint8_t>(name[k]); };
        const uint8_t c = b(i);
        if (c < 0x80)
            return (c < 0x20 || c == 0x7F) ? 0 : 1;
        size_t n = c >= 0xC2 && c <= 0xDF   ? 2
                   : c >= 0xE0 && c <= 0xEF ? 3
                   : c >= 0xF0 && c <= 0xF4 ? 4
                                            : 0;
        if (n == 0 || i + n > name.size())
            return 0;
        for (size_t k = 1; k < n; ++k)
            if ((b(i + k) & 0xC0) != 0x80)
                return 0;
        if (c == 0xC2 && b(i + 1) < 0xA0)
            return 0; // C1 control
        if ((c == 0xE0 && b(i + 1) < 0xA0) || (c == 0xF0 && b(i + 1) < 0x90) ||
            (c == 0xF4 && b(i + 1) > 0x8F) || (c == 0xED && b(i + 1) > 0x9F))
            return 0; // overlong, beyond U+10FFFF, or a surrogate
        return n;
    };
    bool plain = true;
    for (size_t i = 0; i < name.size() && plain;) {
        const size_t n = sequenceLength(i);
        plain = n != 0;
        i += n;
    }
    if (plain)
        return name;
    std::string out = "$'";
    for (size_t i = 0; i < name.size();) {
        const size_t n = sequenceLength(i);
        if (n > 0) {
            if (name[i] == '\'' || name[i] == '\\')
                out += '\\';
            out.append(name, i, n);
            i += n;
            continue;
        }
        const uint8_t c = static_cast<uint8_t>(name[i++]);
        switch (c) {
        case '\a':
            out += "\\a";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\v':
            out += "\\v";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\r':
            out += "\\r";
            break;
        default: {
            char octal[6];
            std::snprintf(octal, sizeof octal, "\\%03o", static_cast<unsigned>(c));
            out += octal;
        }
        }
    }
    return out + "'";
}

} // namespace cli
