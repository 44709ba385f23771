#include "passphrase.h"

#include "key_input.h"

namespace cli {

namespace {

PassphraseResult tooLong(const std::string &where) {
    return {std::nullopt, "the passphrase " + where + " is longer than " +
                              std::to_string(kMaxPassphrase) + " bytes"};
}

} // namespace

PassphraseResult passphraseFromText(std::string_view text, const std::string &where) {
    const std::string_view cut = trimmed(text);
    if (cut.empty())
        return {std::nullopt, "the passphrase " + where + " is empty"};
    if (cut.size() > kMaxPassphrase)
        return tooLong(where);
    auto secret = Secret::from(cut);
    if (!secret)
        return {std::nullopt, "no locked memory for the passphrase (see ulimit -l)"};
    return {std::move(secret), {}};
}

KeyFileUse keyFileUse(bool keyFile, bool anyClassic, bool anyStrong, bool passphraseInEnvironment,
                      bool keyGivenOtherwise) {
    KeyFileUse use;
    if (!(anyClassic && anyStrong)) {
        use.servesClassic = keyFile && anyClassic;
        use.servesStrong = keyFile && anyStrong;
        return use;
    }
    const std::string key = keyGivenOtherwise ? "the key given (--key or TOLVEX_KEY)" : "";
    const std::string passphrase = passphraseInEnvironment ? "TOLVEX_PASSPHRASE" : "";
    if (!keyFile) {
        use.note = "this run has classic and strong files: the classic ones take the key (" +
                   (key.empty() ? std::string("asked for") : key) +
                   "), the strong ones the passphrase (" +
                   (passphrase.empty() ? std::string("asked for") : passphrase) + ")";
        return use;
    }
    if (passphraseInEnvironment == keyGivenOtherwise) {
        use.error = passphraseInEnvironment
                        ? "--key-file would serve nothing: the classic files take " + key +
                              " and the strong ones TOLVEX_PASSPHRASE"
                        : "this run has classic and strong files, and one key file cannot serve "
                          "both: give the strong files' passphrase in TOLVEX_PASSPHRASE, or the "
                          "classic files' key in TOLVEX_KEY";
        return use;
    }
    use.servesClassic = passphraseInEnvironment;
    use.servesStrong = keyGivenOtherwise;
    use.note = use.servesClassic
                   ? "the key file serves the classic files; TOLVEX_PASSPHRASE "
                     "the strong ones"
                   : "the key file serves the strong files; " + key + " the classic ones";
    return use;
}

namespace {

PassphraseResult typed(const char *prompt, const std::string &where) {
    TypedLine line = promptHidden(prompt);
    if (line.tooLong)
        return tooLong(where);
    if (!line.text)
        return {std::nullopt, "no passphrase typed"};
    PassphraseResult r = passphraseFromText(*line.text, where);
    wipe(*line.text);
    return r;
}

} // namespace

PassphraseResult obtainPassphrase(const PassphraseSources &sources) {
    if (sources.keyFileText)
        return passphraseFromText(*sources.keyFileText,
                                  "in " + keyFileName(sources.keyFile.value_or("-")));
    if (sources.environment)
        return passphraseFromText(*sources.environment, "in TOLVEX_PASSPHRASE");
    if (!sources.interactive)
        return {std::nullopt, "no passphrase: standard input is not a terminal, so give "
                              "--key-file FILE (or - for standard input) or set TOLVEX_PASSPHRASE"};
    PassphraseResult r = typed("Passphrase: ", "typed");
    if (!r.passphrase || !sources.confirm)
        return r;
    const PassphraseResult again = typed("Type the passphrase again: ", "typed again");
    if (!again.passphrase)
        return again;
    if (!(*again.passphrase == *r.passphrase))
        return {std::nullopt, "the passphrases typed differ"};
    return r;
}

} // namespace cli
