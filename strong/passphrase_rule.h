// The passphrase of strong files: one rule for every face and every source. The passphrase is
// its bytes as given (UTF-8), without Unicode normalisation or any conversion. ASCII white space
// (space, tab, LF, VT, FF, CR) is cut at both ends; what remains must be 1 to kMaxPassphrase
// bytes.
#pragma once

#include <cstddef>
#include <string_view>

namespace strong {

inline constexpr size_t kMaxPassphrase = 4096;

// The rule as tolvex-cli's --help states it; the manual, README and the format page say it
// word for word.
inline constexpr const char *kPassphraseRule =
    "A passphrase is its bytes as given (UTF-8 from a UTF-8 terminal or file), without\n"
    "normalisation; ASCII white space is cut at both ends, and 1 to 4096 bytes must remain.\n"
    "A key file holds it on one line: one trailing LF or CRLF is dropped, and a second line\n"
    "that is not blank is refused, never cut. The prompt takes as much as a key file.\n";

// ASCII white space (space, tab, LF, VT, FF, CR) cut from both ends; other bytes are kept.
inline std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

enum class PassphraseCheck { Ok, Empty, TooLong };

// The rule applied to a text: what is left of it after trimming must be 1 to kMaxPassphrase
// bytes.
inline PassphraseCheck checkPassphrase(std::string_view text) {
    const std::string_view cut = trimmed(text);
    if (cut.empty())
        return PassphraseCheck::Empty;
    return cut.size() > kMaxPassphrase ? PassphraseCheck::TooLong : PassphraseCheck::Ok;
}

} // namespace strong
