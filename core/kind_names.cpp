#include "kind_names.h"

#include "layout.h"

#include <charconv>

namespace tolvex {
namespace {

std::string lowered(std::string_view text) {
    std::string s(text);
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

} // namespace

std::optional<int> parseKind(std::string_view text) {
    if (text.empty())
        return std::nullopt;
    if (text.front() >= '0' && text.front() <= '9') {
        int value = -1;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size() || value < 0 ||
            value >= kKindCount)
            return std::nullopt;
        return value;
    }
    std::string name = lowered(text);
    if (!name.empty() && name.front() == '.')
        name.erase(0, 1);
    for (const DisguiseKind &d : kDisguiseKinds) {
        if (name == d.name)
            return d.kind;
        for (const char *alias : d.aliases)
            if (alias && name == alias)
                return d.kind;
    }
    return std::nullopt;
}

std::string kindName(int kind) {
    return disguiseFor(kind).name; // "none" for kind 0 and numbers outside the table
}

std::string kindList() {
    std::string list;
    for (int k = 0; k < kKindCount; ++k) {
        if (k)
            list += k % 8 ? ", " : ",\n    ";
        list += kindName(k) + " (" + std::to_string(k) + ")";
    }
    return list;
}

} // namespace tolvex
