// Strong files on disk: a whole file encrypted into a new output, or decrypted into one.
#pragma once

#include "fd.h"
#include "strong_format.h"

#include <cstdint>
#include <optional>
#include <string>

namespace strong {

struct StrongEncryption {
    int kind = 0;
    strong::KdfParams kdf;
    std::string_view passphrase; // held by the caller
    // The permission bits the output is made from, when the source is a stand-in (the archive
    // of a packed input) for what the user chose; the source's own otherwise.
    std::optional<uint32_t> permissions;
};

// The extension (without its dot) a strong file's recorded name gives an output named
// `baseName`: the recorded one, except that a dot-file (".bashrc") was recorded under its
// whole name, which is the base already.
std::string recordedExtension(const std::string &recorded, const std::string &baseName);
// The output's name for a decrypted strong file: `baseName` with the recorded extension.
std::string decryptedName(const std::string &recorded, const std::string &baseName);

// Encrypts `source` into `folder` (an open folder) as `outputName`, published whole: written
// to a private temporary there and given the name once complete. A taken name is replaced only
// when `replace`; otherwise the result is OutputExists and nothing is written.
Status encryptStrongInto(const std::string &source, const std::string &recordedName, int folder,
                         const std::string &outputName, bool replace,
                         const StrongEncryption &settings, const Hooks &hooks);

// Decrypts `source` into `folder` as decryptedName(recorded name, `baseName`), published whole
// once the whole file has proved authentic; `outputName` tells the name. A taken name is
// replaced only when `replace` (OutputExists otherwise, found before any content is
// decrypted). On any result but Ok nothing is left in the folder. With `written`, it holds
// the published file afterwards, whatever is done to its name.
Status decryptStrongInto(const std::string &source, int folder, const std::string &baseName,
                         bool replace, std::string_view passphrase, std::string &outputName,
                         const Hooks &hooks, tolvex::files::Fd *written = nullptr);

// Probe of a file's first bytes: Ok for a strong file, NotStrong, or why it cannot be read
// (Unsupported, Damaged, ReadFailed).
strong::Status probeStrongFile(const std::string &path, strong::Preamble &preamble);

// What info shows of a strong file: its disguise and the key derivation's cost, nothing
// about the content.
std::string describeStrong(const std::string &shownPath, const strong::Preamble &preamble);
std::string describeStrong(const std::string &shownPath, const strong::Decrypted &opened);

// Opens a strong file with the passphrase, without decrypting its content (identify()).
strong::Status identifyStrongFile(const std::string &path, std::string_view passphrase,
                                  strong::Decrypted &opened);

} // namespace strong
