// Helpers for the command-line tests: private folders, files, running the real program in
// a child process, and the codec library's MakeCode for cross-checks.
#pragma once

#include "test_files.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace cli_test {

using test_files::Bytes;
using test_files::exists;
using test_files::randomBytes;
using test_files::readFile;
using test_files::writeFile;

// A private folder that an unprivileged child process may work in too.
class TempDir : public test_files::TempDir {
  public:
    TempDir();
};

// Every path below the folder, relative to it, sorted; hidden names included.
std::vector<std::string> listTree(const std::string &folder);

struct RunOptions {
    std::string workingDirectory;             // empty: the test's own
    std::vector<std::string> environment;     // "NAME=value" added to a clean copy
    std::optional<std::string> standardInput; // empty: /dev/null
    std::optional<uid_t> user;                // run under this user and its group
    std::vector<gid_t> groups;                // with `user`: its supplementary groups
    std::optional<uint64_t> fileSizeLimit;    // RLIMIT_FSIZE in bytes
    bool limitKills = false;                  // SIGXFSZ ends the program at the limit
    std::string program;                      // empty: the built tolvex-cli
};

struct RunResult {
    int status = -1; // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs the program with these arguments. TOLVEX_KEY and SOURCE_DATE_EPOCH are removed from
// the inherited environment unless given in options.environment.
// Whether the process holds a file it is writing in `folder`: a temporary there, named or
// unnamed (which shows as "FOLDER/#INODE (deleted)").
bool writingIn(pid_t pid, const std::string &folder);

RunResult runCli(const std::vector<std::string> &arguments, const RunOptions &options = {});

// The codec library's MakeCode, called with the working directory set to the program's
// folder (where Tolvex.dat lies), as the window calls it.
int32_t makeCode(const std::string &source, const std::string &outputBase, uint32_t key,
                 int32_t mode, int32_t kind);

// Starts the program in `folder` with TOLVEX_KEY=key, without waiting; its output goes
// nowhere. The caller signals and reaps it.
pid_t startCli(const std::string &folder, const std::vector<std::string> &arguments,
               const std::string &key);

// The program on a pseudo-terminal, as a person at a terminal runs it: read what it shows,
// type lines, then collect its exit status. `unsetVariable` is removed from its environment.
class TerminalRun {
  public:
    TerminalRun(const std::string &folder, const std::vector<std::string> &arguments,
                const char *unsetVariable);
    ~TerminalRun();
    TerminalRun(const TerminalRun &) = delete;
    TerminalRun &operator=(const TerminalRun &) = delete;
    bool started() const { return m_pid > 0; }
    // Reads until `what` has been shown; false at the end of the output, or after 30 s
    // without output (a guard against a hang, not a timing check).
    bool readUntil(const std::string &what);
    // Types the line and Enter; false when it could not be written whole.
    bool type(const std::string &line);
    // Reads to the end of the output and waits: the exit status, or 128 + signal.
    int finish();
    const std::string &seen() const { return m_seen; }

  private:
    pid_t m_pid = -1;
    int m_master = -1;
    std::string m_seen;
};

extern const char *const kKindNames[16];

} // namespace cli_test
