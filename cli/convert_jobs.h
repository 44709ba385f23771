// Encryption and decryption of many inputs: each planned and converted on its own, one
// failure stopping no other, in parallel when asked, with a summary at the end.
#pragma once

#include "options.h"
#include "secret.h"
#include "strong_format.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace cli {

class ArchiverClient;
class Reporter;

struct Outcome {
    int exitCode = 0;    // one of ExitCode
    std::string message; // the failure, or what was written
};

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
    uint64_t size = 0;
    std::optional<Outcome> failed; // set when the input cannot even be started
};

// The outputs of one run and the inputs that make them, so that no output of a run is written
// over by another. Planning claims what it can name; a strong file's output is named by its
// recorded name, so it is claimed once that is decrypted, before any content is.
class OutputClaims {
  public:
    // Claims `outputPath` for `input`; the input that has it already, if another does.
    std::optional<std::string> claim(const std::string &outputPath, const std::string &input);

  private:
    std::mutex m_mutex;
    std::map<std::string, std::string> m_claims; // absolute output path -> input
};

struct Settings {
    Options options;
    uint32_t key = 0;
    std::string templatePath;
    uint32_t fillerSeed = 0; // 0: the engine's clock
    Secret passphrase;       // strong files
    strong::KdfParams kdf;   // encrypt --strong
    std::shared_ptr<OutputClaims> claims = std::make_shared<OutputClaims>();
};

// Checks every input and names its output; never asks for the key and writes nothing.
std::vector<Plan> planAll(const Options &options, OutputClaims &claims);

// Converts one planned input.
Outcome convertOne(const Plan &plan, const Settings &settings, Reporter &reporter,
                   ArchiverClient *archiver);

// Converts every input that planned well (options.jobs at a time), reports each failure and,
// unless quiet, each output and a summary. Returns the exit status.
int runAll(std::vector<Plan> &plans, const Settings &settings, Reporter &reporter,
           ArchiverClient *archiver);

// The exit status for these per-input codes: 0 when all are 0, the shared code when every
// failure has the same one, otherwise kExitMixed.
int combinedExitCode(const std::vector<int> &codes);

} // namespace cli
