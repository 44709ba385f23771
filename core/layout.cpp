#include "layout.h"

#include <string_view>

namespace tolvex {
namespace {

// The table's rules, checked when it is compiled so that a new row cannot break an old one.

constexpr bool rowsAreNumberedInOrder() {
    for (int k = 0; k < kKindCount; ++k)
        if (kDisguiseKinds[static_cast<size_t>(k)].kind != k)
            return false;
    return true;
}
static_assert(rowsAreNumberedInOrder(), "row k must be kind k");

// Kind 0 alone has no header; every other kind has one to be recognised by.
constexpr bool onlyKindZeroIsUndisguised() {
    for (const DisguiseKind &d : kDisguiseKinds)
        if ((d.length == 0) != (d.kind == 0) || (d.caption == nullptr) != (d.kind == 0))
            return false;
    return true;
}
static_assert(onlyKindZeroIsUndisguised());

// Names are read lower-cased, without a leading dot, and as numbers when they start with a digit.
constexpr bool isTypeable(std::string_view name) {
    if (name.empty() || name.front() == '.' || (name.front() >= '0' && name.front() <= '9'))
        return false;
    for (char c : name)
        if (c >= 'A' && c <= 'Z')
            return false;
    return true;
}

// Every spelling of a kind, its name first, then its aliases.
constexpr std::array<const char *, 3> spellings(const DisguiseKind &d) {
    return {d.name, d.aliases[0], d.aliases[1]};
}

constexpr bool everySpellingNamesOneKind() {
    for (size_t a = 0; a < kDisguiseKinds.size(); ++a)
        for (size_t i = 0; i < 3; ++i) {
            const char *x = spellings(kDisguiseKinds[a])[i];
            if (!x)
                continue;
            if (!isTypeable(x))
                return false;
            for (size_t b = 0; b < kDisguiseKinds.size(); ++b)
                for (size_t j = 0; j < 3; ++j) {
                    const char *y = spellings(kDisguiseKinds[b])[j];
                    if (y && (a != b || i != j) && std::string_view(x) == std::string_view(y))
                        return false;
                }
        }
    return true;
}
static_assert(everySpellingNamesOneKind(), "a name or alias is taken twice or cannot be typed");

// Two kinds with the same first word must be told apart by bytes 4-7 for every file.
constexpr bool apart(const DisguiseKind &a, const DisguiseKind &b) {
    if (a.magic != b.magic)
        return true;
    if (a.test == SecondWord::Any || b.test == SecondWord::Any)
        return false;
    if (a.test == SecondWord::Is && b.test == SecondWord::Is)
        return a.second != b.second;
    if (a.test == SecondWord::IsNot && b.test == SecondWord::IsNot)
        return false;
    return a.second == b.second;
}

constexpr bool recognitionIsUnambiguous() {
    for (int a = 1; a < kKindCount; ++a)
        for (int b = a + 1; b < kKindCount; ++b)
            if (!apart(kDisguiseKinds[static_cast<size_t>(a)],
                       kDisguiseKinds[static_cast<size_t>(b)]))
                return false;
    return true;
}
static_assert(recognitionIsUnambiguous(), "two kinds are recognised by the same bytes");

bool matchesSecondWord(const DisguiseKind &d, uint32_t word) {
    switch (d.test) {
    case SecondWord::Any:
        return true;
    case SecondWord::Is:
        return word == d.second;
    case SecondWord::IsNot:
        return word != d.second;
    }
    return false;
}

} // namespace

const DisguiseKind &disguiseFor(int kind) {
    return (kind >= 1 && kind < kKindCount) ? kDisguiseKinds[static_cast<size_t>(kind)]
                                            : kDisguiseKinds[0];
}

std::optional<uint32_t> headerLengthFor(std::span<const uint8_t> leading) {
    if (leading.size() < 4)
        return std::nullopt;
    const uint32_t magic = loadLe32(leading.data());
    for (const DisguiseKind &d : kDisguiseKinds) {
        if (d.length == 0 || d.magic != magic)
            continue;
        if (d.test == SecondWord::Any)
            return d.length;
        if (leading.size() < 8)
            return std::nullopt;
        if (matchesSecondWord(d, loadLe32(leading.data() + 4)))
            return d.length;
    }
    return 0u;
}

std::optional<ControlRecord> readControlRecord(std::span<const uint8_t, kControlRecordSize> bytes) {
    const int n = static_cast<int8_t>(bytes[record::kExtensionLength]);
    if (n < 0 || n > static_cast<int>(kExtensionFieldSize))
        return std::nullopt;
    ControlRecord r;
    r.checkWord = loadLe32(bytes.data() + record::kCheckWord);
    r.extension.assign(reinterpret_cast<const char *>(bytes.data() + record::kExtension),
                       static_cast<size_t>(n));
    r.contentCrc = loadLe32(bytes.data() + record::kContentCrc);
    return r;
}

const char *kindCaption(int kind) {
    return (kind >= 0 && kind < kKindCount) ? kDisguiseKinds[static_cast<size_t>(kind)].caption
                                            : nullptr;
}

} // namespace tolvex
