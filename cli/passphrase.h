// Where the passphrase of a strong file comes from. It is never printed.
#pragma once

#include <optional>
#include <string>

namespace cli {

struct PassphraseSources {
    std::optional<std::string> keyFile;     // --key-file FILE ("-": standard input)
    std::optional<std::string> environment; // TOLVEX_PASSPHRASE
    bool interactive = false;               // standard input is a terminal
    bool confirm = false;                   // ask twice (encryption)
};

struct PassphraseResult {
    std::optional<std::string> passphrase;
    std::string error; // set when passphrase is empty
};

// Takes the key file, then TOLVEX_PASSPHRASE, then a prompt without echo when interactive.
// Spaces and line ends at both ends are cut, as for keys; an empty passphrase is refused.
PassphraseResult obtainPassphrase(const PassphraseSources &sources);

} // namespace cli
