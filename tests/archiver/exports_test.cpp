// The shared library as the program sees it: its export list, results and output buffer,
// the busy state seen from another process, and FindLzh of the codec library finding it.
#include "busy_lock.h"
#include "support.h"
#include "unlha32.h"

#include "loaded_library.h"
#include <csignal>
#include <cstring>
#include <dlfcn.h>

#include <gtest/gtest.h>
#include <set>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace archiver_test;

namespace {

const std::string kLibrary = std::string(TOLVEX_BIN_DIR) + "/libunlha32.so";

using UnlhaFn = int (*)(void *, const char *, char *, unsigned long);
using IntFn = int (*)();
using FindLzhFn = uint32_t (*)();

using Library = test_files::LoadedLibrary;

TEST(UnlhaExports, ExactlyTheThreeFunctions) {
    const Shell r = shell("nm -D --defined-only " + quote(kLibrary));
    ASSERT_EQ(r.status, 0);
    std::set<std::string> names;
    size_t start = 0;
    while (start < r.output.size()) {
        const size_t end = r.output.find('\n', start);
        const std::string line = r.output.substr(start, end - start);
        names.insert(line.substr(line.rfind(' ') + 1));
        start = end == std::string::npos ? r.output.size() : end + 1;
    }
    EXPECT_EQ(names, (std::set<std::string>{"Unlha", "UnlhaGetRunning", "UnlhaGetVersion"}));
}

TEST(UnlhaExports, PackAndExtractThroughTheLibrary) {
    Library lib(kLibrary);
    ASSERT_TRUE(lib.loaded()) << ::dlerror();
    auto unlha = lib.bind<UnlhaFn>("Unlha");
    TempDir dir;
    makeFolder(dir / "in/my folder");
    writeFile(dir / "in/my folder/a b.txt", textBytes(5000, 1));
    const std::string pack =
        "a -d -r2 " + quote(dir / "temp.lzh") + " " + quote(dir / "in/") + " " + quote("my folder");
    // As the program calls it: an empty output buffer of size 0, which must stay untouched.
    char untouched[1] = {'\x7F'};
    EXPECT_EQ(unlha(nullptr, pack.c_str(), untouched, 0) & 0xFFFF, 0);
    EXPECT_EQ(untouched[0], '\x7F');
    makeFolder(dir / "out");
    const std::string extract =
        "e -d -r2 -jyo0 " + quote(dir / "temp.lzh") + " " + quote(dir / "out/") + " " + quote("*");
    char message[256];
    EXPECT_EQ(unlha(nullptr, extract.c_str(), message, sizeof message), 0);
    EXPECT_GT(std::strlen(message), 0u);
    EXPECT_TRUE(snapshot(dir / "in") == snapshot(dir / "out"));
}

TEST(UnlhaExports, FailuresAreNonZeroAndMessagesFitTheBuffer) {
    Library lib(kLibrary);
    ASSERT_TRUE(lib.loaded());
    auto unlha = lib.bind<UnlhaFn>("Unlha");
    char small[8];
    std::memset(small, 'Z', sizeof small);
    EXPECT_EQ(unlha(nullptr, "q nothing", small, 5), UNLHA_ERROR_COMMAND);
    EXPECT_EQ(std::strlen(small), 4u);
    EXPECT_EQ(small[5], 'Z') << "nothing past the given size";
    EXPECT_EQ(unlha(nullptr, "a -zz x.lzh f", nullptr, 0), UNLHA_ERROR_COMMAND);
    EXPECT_EQ(unlha(nullptr, nullptr, nullptr, 0), UNLHA_ERROR_COMMAND);
    TempDir dir;
    const std::string missing =
        "a -d -r2 " + quote(dir / "t.lzh") + " " + quote(dir / "") + " " + quote("missing");
    EXPECT_EQ(unlha(nullptr, missing.c_str(), nullptr, 0), UNLHA_ERROR_NOT_FOUND);
}

TEST(UnlhaExports, VersionIsNonZeroAndIdleMeansZero) {
    Library lib(kLibrary);
    ASSERT_TRUE(lib.loaded());
    EXPECT_NE(lib.bind<IntFn>("UnlhaGetVersion")() & 0xFFFF, 0);
    const int running = lib.bind<IntFn>("UnlhaGetRunning")();
    // Another test process may be running a command right now: only these two answers exist.
    EXPECT_TRUE(running == 0 || running == -1) << running;
}

TEST(UnlhaExports, FindLzhOfTheCodecLibraryFindsThisLibrary) {
    Library codec(std::string(TOLVEX_BIN_DIR) + "/libHalvet_Tolvex.so");
    ASSERT_TRUE(codec.loaded()) << ::dlerror();
    auto findLzh = codec.bind<FindLzhFn>("FindLzh");
    ASSERT_NE(findLzh, nullptr);
    Library lib(kLibrary);
    EXPECT_EQ(findLzh(), static_cast<uint32_t>(lib.bind<IntFn>("UnlhaGetVersion")() & 0xFFFF));
    EXPECT_NE(findLzh(), 0u);
}

// A child process of the busy helper, with a pipe to its stdin and from its stdout.
class Child {
  public:
    explicit Child(std::vector<std::string> args) {
        int in[2], out[2];
        EXPECT_EQ(::pipe(in), 0);
        EXPECT_EQ(::pipe(out), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        args.insert(args.begin(), UNLHA_BUSY_HELPER);
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        EXPECT_EQ(::posix_spawn(&m_pid, UNLHA_BUSY_HELPER, &actions, nullptr, argv.data(), environ),
                  0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        m_stdin = in[1];
        m_stdout = out[0];
    }
    ~Child() {
        closeStdin();
        ::close(m_stdout);
        if (m_pid > 0)
            wait();
    }
    std::string readLine() {
        std::string line;
        char c;
        while (::read(m_stdout, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }
    void closeStdin() {
        if (m_stdin >= 0)
            ::close(m_stdin);
        m_stdin = -1;
    }
    bool exited(int *status) {
        int s = 0;
        if (::waitpid(m_pid, &s, WNOHANG) != m_pid)
            return false;
        m_pid = -1;
        *status = s;
        return true;
    }
    int wait() {
        int s = 0;
        ::waitpid(m_pid, &s, 0);
        m_pid = -1;
        return s;
    }
    void kill() { ::kill(m_pid, SIGKILL); }

  private:
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
};

class Busy : public ::testing::Test {
  protected:
    bool busy() const { return unlha::machineIsBusy(lockFile); }
    TempDir dir;
    std::string lockFile = dir / "busy.lock";
};

TEST_F(Busy, HeldBySecondProcessThenReleased) {
    EXPECT_FALSE(busy());
    Child child({lockFile, "hold"});
    ASSERT_EQ(child.readLine(), "held");
    EXPECT_TRUE(busy());
    EXPECT_TRUE(busy()) << "asking does not take the lock away";
    child.closeStdin();
    EXPECT_EQ(child.wait(), 0);
    EXPECT_FALSE(busy());
}

TEST_F(Busy, ReleasedWhenTheHolderDies) {
    Child child({lockFile, "hold"});
    ASSERT_EQ(child.readLine(), "held");
    EXPECT_TRUE(busy());
    child.kill();
    child.wait();
    EXPECT_FALSE(busy());
}

TEST_F(Busy, SeenWhileALongCommandRunsInAnotherProcess) {
    makeFolder(dir / "in");
    writeFile(dir / "in/big.bin", randomBytes(24 * 1024 * 1024, 5));
    Child child({lockFile, "run",
                 "a -d -r2 " + quote(dir / "big.lzh") + " " + quote(dir / "in/") + " big.bin"});
    bool seenBusy = false;
    int status = 0;
    // Poll until the child has finished; bounded by the child's own run, no clock involved.
    for (long polls = 0; polls < 100000000 && !child.exited(&status); ++polls) {
        if (busy())
            seenBusy = true;
        ::usleep(200);
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(seenBusy);
    EXPECT_FALSE(busy());
    EXPECT_TRUE(exists(dir / "big.lzh"));
}

} // namespace
