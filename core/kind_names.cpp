#include "kind_names.h"

#include "layout.h"

#include <charconv>

namespace tolvex {
namespace {

struct Alias {
    const char *name;
    int kind;
};

// Other spellings people use for the same file types.
constexpr Alias kAliases[] = {
    {"tvx", 0},  {"jpeg", 3},    {"lha", 4},      {"midi", 5},
    {"wave", 7}, {"tar.gz", 10}, {"tar.bz2", 11}, {"tbz2", 11},
};

std::string lowered(std::string_view text) {
    std::string s(text);
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
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
    if (name == "none")
        return 0;
    for (int k = 1; k < kKindCount; ++k)
        if (name == kindName(k))
            return k;
    for (const Alias &a : kAliases)
        if (name == a.name)
            return a.kind;
    return std::nullopt;
}

std::string kindName(int kind) {
    if (kind <= 0 || kind >= kKindCount)
        return "none";
    return disguiseFor(kind).extension + 1; // without the dot
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
