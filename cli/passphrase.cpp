#include "passphrase.h"

#include "key_input.h"

namespace cli {
namespace {

PassphraseResult checked(std::string_view text, const std::string &where) {
    const std::string_view cut = trimmed(text);
    if (cut.empty())
        return {std::nullopt, "the passphrase " + where + " is empty"};
    return {std::string(cut), {}};
}

} // namespace

PassphraseResult obtainPassphrase(const PassphraseSources &sources) {
    if (sources.keyFile) {
        std::string error;
        const auto text = readKeyFile(*sources.keyFile, error);
        if (!text)
            return {std::nullopt, error};
        return checked(*text, "in " + (*sources.keyFile == "-" ? std::string("standard input")
                                                               : *sources.keyFile));
    }
    if (sources.environment)
        return checked(*sources.environment, "in TOLVEX_PASSPHRASE");
    if (!sources.interactive)
        return {std::nullopt, "no passphrase: standard input is not a terminal, so give "
                              "--key-file FILE (or - for standard input) or set TOLVEX_PASSPHRASE"};
    const auto typed = promptHidden("Passphrase: ");
    if (!typed)
        return {std::nullopt, "no passphrase typed"};
    PassphraseResult r = checked(*typed, "typed");
    if (!r.passphrase || !sources.confirm)
        return r;
    const auto again = promptHidden("Type the passphrase again: ");
    if (!again || std::string(trimmed(*again)) != *r.passphrase)
        return {std::nullopt, "the passphrases typed differ"};
    return r;
}

} // namespace cli
