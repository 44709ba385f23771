// tolvex-cli where things go wrong: FIFOs and devices where files belong, a program killed
// while writing, trees too deep for the descriptor limit, names with control characters.
#include "cli_support.h"
#include "display_name.h"
#include "exit_codes.h"
#include "fd.h"
#include "folders.h"
#include "key_input.h"
#include "staging_folder.h"
#include "temporaries.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace cli_test;
using namespace cli;
namespace fs = std::filesystem;

namespace {

const std::string kKey = "TOLVEX_KEY=5A";

bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

RunResult run(const TempDir &dir, std::vector<std::string> args, RunOptions o = {}) {
    o.workingDirectory = dir.path();
    if (o.environment.empty())
        o.environment = {kKey};
    return runCli(args, o);
}

// Names in the folder (not below it) that a run uses for unfinished work.
std::vector<std::string> leftovers(const std::string &folder) {
    std::vector<std::string> found;
    for (const auto &entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename();
        if (name.rfind(".tolvex", 0) == 0)
            found.push_back(name);
    }
    return found;
}

// Waits until `ready` holds (checked every 10 ms, for at most a minute).
bool waitFor(const std::function<bool()> &ready) {
    for (int i = 0; i < 6000; ++i) {
        if (ready())
            return true;
        ::usleep(10000);
    }
    return false;
}

int waitStatus(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(Fifo, InfoRefusesItWithoutBlocking) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "pipe.png").c_str(), 0600), 0);
    const RunResult r = run(dir, {"info", "pipe.png"});
    EXPECT_EQ(r.status, kExitInputUnreadable);
    EXPECT_TRUE(contains(r.err, "not a regular file")) << r.err;
}

TEST(Fifo, EncryptAndDecryptRefuseItWithoutBlocking) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "pipe.png").c_str(), 0600), 0);
    for (const char *command : {"encrypt", "decrypt"}) {
        const RunResult r = run(dir, {command, "pipe.png"});
        EXPECT_EQ(r.status, kExitInputUnreadable) << command;
        EXPECT_TRUE(contains(r.err, "regular file")) << r.err;
    }
    EXPECT_EQ(listTree(dir.path()), std::vector<std::string>{"pipe.png"});
}

TEST(KeyFile, DeviceIsRefusedWithAClearMessage) {
    TempDir dir;
    writeFile(dir / "a.txt", std::string("text"));
    const RunResult r = run(dir, {"encrypt", "--key-file", "/dev/zero", "a.txt"});
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_TRUE(contains(r.err, "neither a regular file nor a pipe")) << r.err;
    EXPECT_FALSE(exists(dir / "a.tvx"));
}

TEST(KeyFile, PipesAreReadToTheirEnd) {
    TempDir dir;
    writeFile(dir / "a.txt", std::string("text"));
    // Standard input is read to its end: blank lines after the key are harmless, a second
    // line is refused rather than dropped.
    RunOptions o;
    o.standardInput = "5A\n" + std::string(3000, '\n');
    RunResult r = run(dir, {"encrypt", "--key-file", "-", "a.txt"}, o);
    ASSERT_EQ(r.status, kExitOk) << r.err;
    o.standardInput = "5A\nsecond line\n";
    r = run(dir, {"encrypt", "--force", "--key-file", "-", "a.txt"}, o);
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_TRUE(contains(r.err, "more than one line")) << r.err;

    // A FIFO the user named: waited for until its writer comes.
    ASSERT_EQ(::mkfifo((dir / "key.fifo").c_str(), 0600), 0);
    const pid_t writer = ::fork();
    if (writer == 0) {
        const int fd = ::open((dir / "key.fifo").c_str(), O_WRONLY);
        const bool ok = fd >= 0 && ::write(fd, "5A\n", 3) == 3;
        ::_exit(ok ? 0 : 1);
    }
    r = run(dir, {"decrypt", "--key-file", "key.fifo", "--output", "back", "a.tvx"});
    EXPECT_EQ(waitStatus(writer), 0);
    ASSERT_EQ(r.status, kExitOk) << r.err;
    EXPECT_EQ(readFile(dir / "back.txt"), readFile(dir / "a.txt"));

    // More than a key file could ever hold is refused.
    o.standardInput = std::string(kMaxKeyFile + 10, '5');
    r = run(dir, {"encrypt", "--force", "--key-file", "-", "a.txt"}, o);
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_TRUE(contains(r.err, "larger than")) << r.err;
}

// One row per command and whether it replaces an existing output.
struct WriteCase {
    const char *command;
    bool force;
};

class KilledWhileWriting : public testing::TestWithParam<WriteCase> {
  protected:
    // The input for the row, and the output's final name. With --force, an old output is
    // there first.
    void prepare(TempDir &dir, std::string &input, std::string &output) {
        writeFile(dir / "big.bin", randomBytes(24 << 20, 3));
        const bool decrypting = std::string(GetParam().command) == "decrypt";
        if (decrypting) {
            ASSERT_EQ(run(dir, {"encrypt", "big.bin"}).status, kExitOk);
            fs::remove(dir / "big.bin");
            input = "big.tvx";
            output = "big.bin";
        } else {
            input = "big.bin";
            output = "big.tvx";
        }
        if (GetParam().force)
            writeFile(dir / output, std::string("old"));
    }

    std::vector<std::string> arguments(const std::string &input) {
        std::vector<std::string> args{GetParam().command};
        if (GetParam().force)
            args.push_back("--force");
        args.push_back(input);
        return args;
    }

    // The final name holds nothing new, and the next run in the folder leaves no temporary.
    void expectNothingHalfWritten(TempDir &dir, const std::string &output) {
        if (GetParam().force)
            EXPECT_EQ(readFile(dir / output)->size(), 3u) << "the old output stays";
        else
            EXPECT_FALSE(exists(dir / output));
        writeFile(dir / "later.txt", std::string("x"));
        EXPECT_EQ(run(dir, {"encrypt", "later.txt"}).status, kExitOk);
        EXPECT_TRUE(leftovers(dir.path()).empty()) << leftovers(dir.path()).front();
    }
};

TEST_P(KilledWhileWriting, AtTheFileSizeLimit) {
    TempDir dir;
    std::string input, output;
    prepare(dir, input, output);
    RunOptions o;
    o.fileSizeLimit = 8 << 20;
    o.limitKills = true;
    const RunResult r = run(dir, arguments(input), o);
    EXPECT_EQ(r.status, 128 + SIGXFSZ) << r.err;
    expectNothingHalfWritten(dir, output);
}

TEST_P(KilledWhileWriting, BySigkill) {
    TempDir dir;
    std::string input, output;
    prepare(dir, input, output);
    const pid_t pid = startCli(dir.path(), arguments(input), "5A");
    EXPECT_TRUE(waitFor([&] { return writingIn(pid, dir.path()); }));
    ::kill(pid, SIGKILL);
    if (waitStatus(pid) != 128 + SIGKILL)
        GTEST_SKIP() << "the conversion finished before the signal arrived";
    expectNothingHalfWritten(dir, output);
}

INSTANTIATE_TEST_SUITE_P(Commands, KilledWhileWriting,
                         testing::Values(WriteCase{"encrypt", false}, WriteCase{"decrypt", false},
                                         WriteCase{"encrypt", true}, WriteCase{"decrypt", true}),
                         [](const testing::TestParamInfo<WriteCase> &row) {
                             return std::string(row.param.command) +
                                    (row.param.force ? "Force" : "");
                         });

TEST(Staging, DeepTreeIsRemovedUnderALowDescriptorLimit) {
    TempDir dir;
    const pid_t pid = ::fork();
    if (pid == 0) {
        bool gone = false;
        {
            const tolvex::files::Fd parent = tolvex::files::openFolder(dir.path());
            auto staging = StagingFolder::create(parent.get());
            if (!staging)
                ::_exit(2);
            int fd = ::open(staging->path().c_str(), O_RDONLY | O_DIRECTORY);
            for (int depth = 0; depth < 1100 && fd >= 0; ++depth) {
                ::mkdirat(fd, "d", 0700);
                const int inner = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
                if (depth % 100 == 0)
                    ::close(::openat(fd, "f", O_WRONLY | O_CREAT, 0400));
                ::close(fd);
                fd = inner;
            }
            ::close(fd);
            const rlimit few{32, 32};
            ::setrlimit(RLIMIT_NOFILE, &few);
        }
        gone = leftovers(dir.path()).empty();
        ::_exit(gone ? 0 : 1);
    }
    EXPECT_EQ(waitStatus(pid), 0) << "the staging folder stayed";
}

// Whoever may remove unwritable folders (the owner of a staging tree, root) removes them as
// they are; nobody's permissions are widened on the way (see the shared-folder suite).
TEST(Staging, RemoveTreeTakesUnwritableFoldersItMayRemove) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root may empty a folder it cannot write";
    TempDir dir;
    fs::create_directories(dir / "t/a/b");
    writeFile(dir / "t/a/b/f", std::string("x"));
    ::chmod((dir / "t/a/b").c_str(), 0500);
    ::chmod((dir / "t/a").c_str(), 0500);
    const tolvex::files::Fd parent = tolvex::files::openFolder(dir.path());
    EXPECT_TRUE(tolvex::files::removeTree(parent.get(), "t"));
    EXPECT_FALSE(exists(dir / "t"));
}

TEST(Names, ControlCharactersAreQuotedAsTheShellDoes) {
    EXPECT_EQ(displayName("holiday photo.jpg"), "holiday photo.jpg");
    EXPECT_EQ(displayName("写真.png"), "写真.png");
    EXPECT_EQ(displayName("a\nb"), "$'a\\nb'");
    EXPECT_EQ(displayName("\x1b[2Jx"), "$'\\033[2Jx'");
    EXPECT_EQ(displayName("it's\t"), "$'it\\'s\\t'");
    EXPECT_EQ(displayName("bad\xff"), "$'bad\\377'");
    EXPECT_EQ(displayName("c1\xc2\x9b"), "$'c1\\302\\233'");
}

TEST(Names, ProgramPrintsControlCharactersQuoted) {
    TempDir dir;
    writeFile(dir / "a\x1b]0;x\x07\nb.txt", std::string("text"));
    const RunResult r = run(dir, {"encrypt", "a\x1b]0;x\x07\nb.txt"});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    EXPECT_TRUE(contains(r.err, "$'a\\033]0;x\\a\\nb.txt' -> $'a\\033]0;x\\a\\nb.tvx'")) << r.err;
    EXPECT_FALSE(contains(r.err, "\x1b")) << "no raw escape reaches the terminal";
}

} // namespace
