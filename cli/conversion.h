// What every step of a conversion shares: the run's settings, each input's plan and outcome,
// the outputs the run has claimed, and one input's context on its way through the steps.
#pragma once

#include "fd.h"
#include "options.h"
#include "publishing.h"
#include "secret.h"
#include "strong_format.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace cli {

class ArchiverClient;
class Reporter;

enum class Direction { Encrypt, Decrypt };

struct Outcome {
    int exitCode = 0;    // one of ExitCode
    std::string message; // the failure, or what was written
};

inline Outcome fail(int code, std::string message) {
    return {code, std::move(message)};
}

// What one input will become, found before any key is asked for.
struct Plan {
    std::string input;
    std::string outputFolder;    // where the output goes (the staging folder is made there)
    std::string outputBase;      // the output path without extension
    std::string outputPath;      // the final name (for --extract of an archive: the folder)
    std::string extension;       // decrypt: the recorded extension
    bool folderInput = false;    // encrypt --compress of a folder
    bool extractArchive = false; // decrypt --extract of an LHA archive
    bool strong = false;         // decrypt: a strong file (its name is known once decrypted)
    bool unmarked = false;       // decrypt: strong only in that it cannot be classic
    // decrypt: a file that may be classic (no disguise, a control record that may be one) or
    // strong; classic first, and with a passphrase at hand strong when the key does not open it
    bool strongAfterClassic = false;
    uint64_t size = 0;
    std::optional<Outcome> failed; // set when the input cannot even be started
    // The output folder, opened once before the first job starts (holdOutputFolders).
    std::shared_ptr<const tolvex::files::Fd> folder;
};

// The outputs of one run and the inputs that make them, so that no output of a run is written
// over by another. Planning claims what it can name; a strong file's output is named by its
// recorded name, so it is claimed once that is decrypted, before any content is.
class OutputClaims {
  public:
    // Claims `outputPath` for `input`; the input that has it already, if another does.
    std::optional<std::string> claim(const std::string &outputPath, const std::string &input);
    // The same, as the refusal of an input whose output another input makes already.
    std::optional<Outcome> refuseShared(const std::string &outputPath, const std::string &input);

  private:
    std::mutex m_mutex;
    std::map<std::string, std::string> m_claims; // absolute output path -> input
};

struct Settings {
    Options options;
    Direction direction = Direction::Encrypt;
    uint32_t key = 0;
    std::string templatePath;
    uint32_t fillerSeed = 0;   // 0: the engine's clock
    strong::Secret passphrase; // strong files
    strong::KdfParams kdf;     // encrypt --strong
    std::shared_ptr<OutputClaims> claims = std::make_shared<OutputClaims>();

    bool encrypting() const { return direction == Direction::Encrypt; }
};

// Forwards per-piece progress to the reporter as increments.
struct ProgressLink {
    Reporter *reporter;
    uint64_t reported = 0;
    void reach(uint64_t done);
};

// One input on its way through the steps.
struct Job {
    Plan plan; // decrypting a strong file completes it
    const Settings &settings;
    ArchiverClient *archiver;
    ProgressLink link;
    // The output folder, opened once when the job starts: every later step (staging, writing,
    // publishing, extracting) works relative to it, whatever its path names meanwhile.
    tolvex::files::Fd folder{};
    const Options &options() const { return settings.options; }
};

// What follows the last '/' of a path, as its folder holds it ("" for "out/", whose output is
// a dot-file named by its extension alone).
std::string leafName(const std::string &path);

// A path to `name` inside the open folder `folder`, for interfaces that take paths: it reaches
// that very folder however it is renamed or replaced. Empty without /proc.
std::string inFolder(int folder, const std::string &name);

// What a file system takes for one name (NAME_MAX on Linux).
inline constexpr size_t kMaxNameLength = 255;

// ASCII letters in lower case ("LZH" is an archive too).
std::string lowered(std::string s);

// Why a file would not open as a regular file.
std::string whyUnreadable(int error);

// The engine's -2, and a strong file's read or write failure, cover both sides; find out which,
// to say something useful. `folder` is the output folder, where the staging folder lives.
Outcome readOrWriteFailure(const std::string &source, const std::string &folder, uint64_t size);

// The refusal of an output folder where no staging folder can be made.
Outcome cannotWriteIn(const std::string &folder, int error);

// The outcome of publishing the input's output.
Outcome published(Publish result, const std::string &input, const std::string &output);

// The size of the file now; 0 when it cannot be told.
uint64_t sizeOf(const std::string &path);

// Whether `output` is free to take for `input`, or may be replaced with `force`. `advice`
// follows the refusal of an output that would be the input itself.
std::optional<Outcome> outputIsFree(const std::string &output, const std::string &input, bool force,
                                    const std::string &advice);

// Why content of `size` bytes cannot be a strong file of `kind`, naming the kinds that hold it.
std::string tooLargeText(int kind, uint64_t size);

// The outcome of a strong file that could not be read or written. `folder` is the output
// folder and `size` the source's, to tell a full disk; `output` the output's path.
Outcome strongFailure(strong::Status status, const std::string &source, const std::string &folder,
                      uint64_t size, const std::string &output);

} // namespace cli
