// The passphrase of strong files: one rule, whatever it comes from. It is never printed.
//
// The passphrase is its bytes as given (UTF-8 from a UTF-8 terminal or file), without Unicode
// normalisation or any conversion. ASCII white space (space, tab, LF, VT, FF, CR) is cut at
// both ends; what remains must be 1 to kMaxPassphrase bytes. A key file holds it on one line
// (see readKeyFile); a longer line at the prompt is refused, never cut.
#pragma once

#include "passphrase_rule.h"
#include "secret.h"

#include <optional>
#include <string>
#include <string_view>

namespace cli {

using strong::Secret;
using strong::wipe;

using strong::kMaxPassphrase;
using strong::kPassphraseRule;

struct PassphraseSources {
    std::optional<std::string> keyFile; // --key-file FILE ("-": standard input), for messages
    // Views, never copies: the texts stay where they are wiped (or in the environment).
    std::optional<std::string_view> keyFileText; // what readKeyFile gave for it
    std::optional<std::string_view> environment; // TOLVEX_PASSPHRASE
    bool interactive = false;                    // standard input is a terminal
    bool confirm = false;                        // ask twice (encryption)
};

struct PassphraseResult {
    std::optional<Secret> passphrase;
    std::string error; // set when passphrase is empty
};

// What --key-file serves in a run: the classic files' key, the strong files' passphrase, or
// (when the run has both kinds) the one kind that has no other source. One file never serves
// both: the same text as a key and as a passphrase would be a surprise either way.
struct KeyFileUse {
    bool servesClassic = false;
    bool servesStrong = false;
    std::string note;  // in a run of both kinds: which source serves which files
    std::string error; // no way to serve both kinds; says what to give
};
KeyFileUse keyFileUse(bool keyFile, bool anyClassic, bool anyStrong, bool passphraseInEnvironment,
                      bool keyGivenOtherwise);

// The rule applied to a text from `where` ("in TOLVEX_PASSPHRASE", "typed", ...).
PassphraseResult passphraseFromText(std::string_view text, const std::string &where);

// Takes the key file's text, then TOLVEX_PASSPHRASE, then a prompt without echo when
// interactive.
PassphraseResult obtainPassphrase(const PassphraseSources &sources);

} // namespace cli
