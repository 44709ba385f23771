// The real tolvex-cli in a child process: round trips, the codec library's MakeCode on both
// sides, every failure a user can cause with its exit status, and nothing lost.
#include "cli_support.h"
#include "exit_codes.h"
#include "halvet_tolvex.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace cli_test;
using namespace cli;

namespace fs = std::filesystem;

namespace {

const std::string kKey = "TOLVEX_KEY=1A2B";
constexpr uint32_t kKeyCode = 0x1A2B;

bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

// No staging folder or temporary file may stay behind.
void expectNoLeftovers(const std::string &folder) {
    for (const auto &name : listTree(folder))
        EXPECT_EQ(name.find(".tolvex"), std::string::npos) << name;
}

RunResult run(const TempDir &dir, std::vector<std::string> args,
              std::vector<std::string> env = {kKey}) {
    RunOptions o;
    o.workingDirectory = dir.path();
    o.environment = std::move(env);
    return runCli(args, o);
}

} // namespace

TEST(Program, RoundTripThroughEveryDisguise) {
    TempDir dir;
    const Bytes content = randomBytes(70001, 11); // not a multiple of the block size
    writeFile(dir / "holiday.jpg", content);
    for (int k = 0; k < 16; ++k) {
        SCOPED_TRACE(kKindNames[k]);
        const std::string encoded = std::string("holiday.") + (k ? kKindNames[k] : "tvx");
        if (k == 3)
            continue; // holiday.jpg disguised as jpg would be the input itself (tested below)
        RunResult r = run(dir, {"encrypt", "--disguise", kKindNames[k], "holiday.jpg"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(contains(r.err, "holiday.jpg -> " + encoded));
        ASSERT_TRUE(exists(dir / encoded));
        r = run(dir, {"decrypt", "--output", "back", encoded});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(readFile(dir / "back.jpg"), content);
        std::filesystem::remove(dir / "back.jpg");
        std::filesystem::remove(dir / encoded);
    }
    expectNoLeftovers(dir.path());
}

TEST(Program, DisguiseByNumberAndEmptyFile) {
    TempDir dir;
    writeFile(dir / "empty.txt", std::string());
    RunResult r = run(dir, {"encrypt", "-d", "15", "empty.txt", "--output-dir", "."});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(exists(dir / "empty.zip"));
    std::filesystem::create_directory(dir / "out");
    r = run(dir, {"decrypt", "--output-dir", "out", "empty.zip"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(dir / "out/empty.txt"), Bytes());
}

TEST(Program, DotFileComesBackUnderItsOwnName) {
    TempDir dir;
    writeFile(dir / ".bashrc", std::string("alias ll='ls -l'\n"));
    RunResult r = run(dir, {"encrypt", ".bashrc"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(exists(dir / ".bashrc.tvx"));
    std::filesystem::create_directory(dir / "out");
    r = run(dir, {"decrypt", "--output-dir", "out", ".bashrc.tvx"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(dir / "out/.bashrc"), readFile(dir / ".bashrc"));
    EXPECT_FALSE(exists(dir / "out/.bashrc.bashrc"));
    // Beside the input, the original still there: refused without --force, as for any file.
    r = run(dir, {"decrypt", ".bashrc.tvx"});
    EXPECT_EQ(r.status, 7) << r.err;
}

TEST(Program, WhatTheCliWritesMakeCodeDecodes) {
    TempDir dir;
    const Bytes content = randomBytes(300000, 5);
    writeFile(dir / "report.pdf", content);
    for (int k : {0, 1, 7, 14}) {
        SCOPED_TRACE(k);
        const RunResult r = run(dir, {"encrypt", "-d", std::to_string(k), "report.pdf"});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string encoded = dir / (std::string("report.") + (k ? kKindNames[k] : "tvx"));
        ASSERT_EQ(makeCode(encoded, dir / "fromlib", kKeyCode, TOLVEX_MODE_DECODE, 0), TOLVEX_OK);
        EXPECT_EQ(readFile(dir / "fromlib.pdf"), content);
        std::filesystem::remove(dir / "fromlib.pdf");
        std::filesystem::remove(encoded);
    }
}

TEST(Program, WhatMakeCodeWritesTheCliDecodes) {
    TempDir dir;
    const Bytes content = randomBytes(123457, 6);
    writeFile(dir / "notes.txt", content);
    for (int k : {0, 6, 10, 15}) {
        SCOPED_TRACE(k);
        ASSERT_EQ(makeCode(dir / "notes.txt", dir / "bylib", kKeyCode, TOLVEX_MODE_ENCODE, k),
                  TOLVEX_OK);
        const std::string encoded = std::string("bylib.") + (k ? kKindNames[k] : "tvx");
        const RunResult r = run(dir, {"decrypt", encoded});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(readFile(dir / "bylib.txt"), content);
        std::filesystem::remove(dir / "bylib.txt");
        std::filesystem::remove(dir / encoded);
    }
}

TEST(Program, KeysFromTheWideningRangeMatchTheLibrary) {
    TempDir dir;
    writeFile(dir / "a.txt", std::string("widened key"));
    // "8000" is the key FFFF8000, exactly as the window reads it.
    ASSERT_EQ(run(dir, {"encrypt", "a.txt"}, {"TOLVEX_KEY=8000"}).status, 0);
    ASSERT_EQ(makeCode(dir / "a.tvx", dir / "lib", 0xFFFF8000u, TOLVEX_MODE_DECODE, 0), TOLVEX_OK);
    EXPECT_EQ(readFile(dir / "lib.txt"), readFile(dir / "a.txt"));
}

TEST(Program, WrongKeyFailsAndWritesNothing) {
    TempDir dir;
    writeFile(dir / "a.txt", std::string("secret"));
    ASSERT_EQ(run(dir, {"encrypt", "a.txt"}).status, 0);
    std::filesystem::remove(dir / "a.txt");
    const auto before = listTree(dir.path());
    const RunResult r = run(dir, {"decrypt", "a.tvx"}, {"TOLVEX_KEY=1A2C"});
    EXPECT_EQ(r.status, kExitWrongKey);
    EXPECT_TRUE(contains(r.err, "a.tvx: wrong key"));
    EXPECT_EQ(listTree(dir.path()), before);
}

TEST(Program, DamagedContentIsNotKeptUnlessAsked) {
    TempDir dir;
    const Bytes content = randomBytes(5000, 8);
    writeFile(dir / "a.bin", content);
    ASSERT_EQ(run(dir, {"encrypt", "-d", "png", "a.bin"}).status, 0);
    Bytes encoded = *readFile(dir / "a.png");
    encoded[encoded.size() - 100] ^= 0x01;
    writeFile(dir / "a.png", encoded);
    std::filesystem::remove(dir / "a.bin");

    RunResult r = run(dir, {"decrypt", "a.png"});
    EXPECT_EQ(r.status, kExitDamaged);
    EXPECT_TRUE(contains(r.err, "damaged"));
    EXPECT_FALSE(exists(dir / "a.bin"));
    expectNoLeftovers(dir.path());
    EXPECT_EQ(readFile(dir / "a.png"), encoded) << "the source is never changed";

    r = run(dir, {"decrypt", "--keep-damaged", "a.png"});
    EXPECT_EQ(r.status, kExitDamaged);
    const auto kept = readFile(dir / "a.bin");
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->size(), content.size());
    EXPECT_NE(*kept, content);
}

TEST(Program, DamagedContentNeverReplacesAnExistingOutput) {
    TempDir dir;
    writeFile(dir / "a.bin", randomBytes(5000, 8));
    ASSERT_EQ(run(dir, {"encrypt", "a.bin"}).status, 0);
    Bytes encoded = *readFile(dir / "a.tvx");
    encoded.back() ^= 0x40;
    writeFile(dir / "a.tvx", encoded);
    writeFile(dir / "a.bin", std::string("precious"));
    const RunResult r = run(dir, {"decrypt", "--force", "a.tvx"});
    EXPECT_EQ(r.status, kExitDamaged);
    EXPECT_EQ(readFile(dir / "a.bin"), Bytes({'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
}

TEST(Program, CraftedAndPlainFilesAreRefused) {
    TempDir dir;
    writeFile(dir / "plain.txt", std::string("just some text, never encoded\n"));
    RunResult r = run(dir, {"decrypt", "plain.txt"});
    // Never "certainly not encoded": it may be a strong file, which only its passphrase tells.
    EXPECT_EQ(r.status, kExitWrongKey);
    EXPECT_TRUE(contains(r.err, "not a classic encoded file; if it is a strong one")) << r.err;

    // A control record whose extension climbs out of the folder.
    writeFile(dir / "x.txt", std::string("payload"));
    ASSERT_EQ(run(dir, {"encrypt", "x.txt"}).status, 0);
    Bytes crafted = *readFile(dir / "x.tvx");
    crafted[4] = '.';
    crafted[5] = '.';
    crafted[6] = '/';
    crafted[14] = 3;
    writeFile(dir / "evil.tvx", crafted);
    r = run(dir, {"decrypt", "evil.tvx"});
    EXPECT_EQ(r.status, kExitWrongKey);
    EXPECT_FALSE(exists(dir.path() + "/../evil"));
    expectNoLeftovers(dir.path());
}

TEST(Program, MissingInput) {
    TempDir dir;
    const RunResult r = run(dir, {"encrypt", "nothing-here.txt"});
    EXPECT_EQ(r.status, kExitInputMissing);
    EXPECT_TRUE(contains(r.err, "nothing-here.txt: no such file"));
    EXPECT_TRUE(listTree(dir.path()).empty());
}

TEST(Program, ExistingOutputNeedsForceAndIsReplacedWhole) {
    TempDir dir;
    writeFile(dir / "a.txt", std::string("new content"));
    writeFile(dir / "a.bmp", std::string("old"));
    ::chmod((dir / "a.bmp").c_str(), 0640);
    RunResult r = run(dir, {"encrypt", "-d", "bmp", "a.txt"});
    EXPECT_EQ(r.status, kExitOutputExists);
    EXPECT_TRUE(contains(r.err, "a.bmp exists; use --force"));
    EXPECT_EQ(readFile(dir / "a.bmp"), Bytes({'o', 'l', 'd'}));

    r = run(dir, {"encrypt", "-d", "bmp", "--force", "a.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(dir / "a.bmp")->size(), 774u + 15 + 11);
    struct stat st;
    ASSERT_EQ(::stat((dir / "a.bmp").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    expectNoLeftovers(dir.path());
}

TEST(Program, OutputThatWouldBeTheInput) {
    TempDir dir;
    writeFile(dir / "a.jpg", std::string("picture"));
    const RunResult r = run(dir, {"encrypt", "--force", "-d", "jpg", "a.jpg"});
    EXPECT_EQ(r.status, kExitSameFile);
    EXPECT_EQ(readFile(dir / "a.jpg"), Bytes({'p', 'i', 'c', 't', 'u', 'r', 'e'}));
}

TEST(Program, TwoInputsWithOneOutput) {
    TempDir dir;
    writeFile(dir / "a.txt", std::string("1"));
    writeFile(dir / "a.doc", std::string("2"));
    const RunResult r = run(dir, {"encrypt", "a.txt", "a.doc"});
    EXPECT_EQ(r.status, kExitSameFile);
    EXPECT_TRUE(contains(r.err, "a.doc: its output a.tvx is also the output of a.txt"));
    EXPECT_TRUE(exists(dir / "a.tvx"));
}

TEST(Program, ReadOnlyOutputFolder) {
    TempDir dir;
    writeFile(dir / "a.txt", std::string("content"));
    std::filesystem::create_directory(dir / "locked");
    ::chmod((dir / "locked").c_str(), 0555);
    RunOptions o;
    o.workingDirectory = dir.path();
    o.environment = {kKey};
    // The superuser writes anywhere: run as nobody to meet the permission check. The build
    // folder may lie where nobody cannot reach (a clone in a private folder), so nobody runs a
    // copy of the program and its Tolvex.dat from the test's own folder.
    if (::geteuid() == 0) {
        o.user = 65534;
        std::filesystem::create_directory(dir / "program");
        std::filesystem::copy_file(TOLVEX_CLI, dir / "program/tolvex-cli");
        std::filesystem::copy_file(std::string(TOLVEX_BIN_DIR) + "/Tolvex.dat",
                                   dir / "program/Tolvex.dat");
        ::chmod((dir / "program").c_str(), 0755);
        o.program = dir / "program/tolvex-cli";
    }
    const RunResult r = runCli({"encrypt", "--output-dir", "locked", "a.txt"}, o);
    EXPECT_EQ(r.status, kExitCannotWrite) << r.err;
    EXPECT_TRUE(contains(r.err, "cannot write in the folder locked"));
    EXPECT_TRUE(listTree(dir / "locked").empty());
    EXPECT_EQ(readFile(dir / "a.txt"), Bytes({'c', 'o', 'n', 't', 'e', 'n', 't'}));
}

TEST(Program, FullDiskLeavesNoPartialOutput) {
    TempDir dir;
    writeFile(dir / "big.bin", randomBytes(3 << 20, 9));
    RunOptions o;
    o.workingDirectory = dir.path();
    o.environment = {kKey};
    o.fileSizeLimit = 1 << 20; // writes past 1 MiB fail as on a full disk
    const RunResult r = runCli({"encrypt", "big.bin"}, o);
    EXPECT_EQ(r.status, kExitCannotWrite) << r.err;
    EXPECT_TRUE(contains(r.err, "nothing written"));
    EXPECT_FALSE(exists(dir / "big.tvx"));
    expectNoLeftovers(dir.path());
}

TEST(Program, SeveralInputsOneBad) {
    TempDir dir;
    writeFile(dir / "a.txt", std::string("a"));
    writeFile(dir / "c.txt", std::string("c"));
    const RunResult r = run(dir, {"encrypt", "a.txt", "b.txt", "c.txt"});
    EXPECT_EQ(r.status, kExitInputMissing);
    EXPECT_TRUE(exists(dir / "a.tvx"));
    EXPECT_TRUE(exists(dir / "c.tvx"));
    EXPECT_TRUE(contains(r.err, "2 of 3 converted, 1 failed"));
}

TEST(Program, DifferentFailuresGiveTheMixedStatus) {
    TempDir dir;
    writeFile(dir / "plain.txt", std::string("never encoded at all"));
    const RunResult r = run(dir, {"decrypt", "plain.txt", "missing.png"});
    EXPECT_EQ(r.status, kExitMixed);
}

TEST(Program, ParallelJobsGiveTheSameOutputs) {
    TempDir one, two;
    for (const TempDir *dir : {&one, &two})
        for (int i = 0; i < 12; ++i)
            writeFile(*dir / ("f" + std::to_string(i) + ".d" + std::to_string(i % 3)),
                      randomBytes(size_t(1000 * i + 17), uint32_t(i)));
    std::vector<std::string> args = {"encrypt", "-d", "wav"};
    for (int i = 0; i < 12; ++i)
        args.push_back("f" + std::to_string(i) + ".d" + std::to_string(i % 3));
    const std::vector<std::string> env = {kKey, "SOURCE_DATE_EPOCH=1700000000"};
    auto argsOne = args, argsTwo = args;
    argsOne.insert(argsOne.begin() + 1, {"--jobs", "1"});
    argsTwo.insert(argsTwo.begin() + 1, {"--jobs", "2"});
    ASSERT_EQ(run(one, argsOne, env).status, 0);
    ASSERT_EQ(run(two, argsTwo, env).status, 0);
    ASSERT_EQ(listTree(one.path()), listTree(two.path()));
    for (int i = 0; i < 12; ++i) {
        const std::string name = "f" + std::to_string(i) + ".wav";
        ASSERT_TRUE(exists(one / name));
        EXPECT_EQ(readFile(one / name), readFile(two / name)) << name;
    }
}

TEST(Program, InfoOnEveryDisguiseAndOnAPlainFile) {
    TempDir dir;
    writeFile(dir / "doc.txt", randomBytes(999, 4));
    std::vector<std::string> args = {"info"};
    for (int k = 1; k < 16; ++k) {
        ASSERT_EQ(makeCode(dir / "doc.txt", dir / ("k" + std::to_string(k)), kKeyCode,
                           TOLVEX_MODE_ENCODE, k),
                  TOLVEX_OK);
        args.push_back("k" + std::to_string(k) + "." + kKindNames[k]);
    }
    RunResult r = run(dir, args, {});
    ASSERT_EQ(r.status, 0) << r.err;
    for (int k = 1; k < 16; ++k) {
        const std::string block = r.out.substr(r.out.find("k" + std::to_string(k) + "."));
        EXPECT_TRUE(contains(block.substr(0, 300), std::string("disguise:       ") + kKindNames[k] +
                                                       " (kind " + std::to_string(k) + ")"))
            << block;
        EXPECT_TRUE(contains(block.substr(0, 400), "payload length: 999 bytes"));
        EXPECT_TRUE(contains(block.substr(0, 400), "encoded:        yes"));
    }
    r = run(dir, {"info", "doc.txt"}, {});
    EXPECT_EQ(r.status, kExitWrongKey);
    EXPECT_TRUE(contains(r.out, "encoded:        no"));
    r = run(dir, {"info", "absent"}, {});
    EXPECT_EQ(r.status, kExitInputMissing);
}

TEST(Program, KeyIsNeverPrintedAndComesFromSafePlaces) {
    TempDir dir;
    writeFile(dir / "a.txt", std::string("x"));
    RunResult r = run(dir, {"encrypt", "--key", "C0FFEE", "a.txt"}, {});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(contains(r.err, "warning"));
    EXPECT_FALSE(contains(r.err + r.out, "C0FFEE"));

    writeFile(dir / "keyfile", std::string("c0ffee\n"));
    r = run(dir, {"decrypt", "--key-file", "keyfile", "--output", "viafile", "a.tvx"}, {});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(exists(dir / "viafile.txt"));

    RunOptions o;
    o.workingDirectory = dir.path();
    o.standardInput = "C0FFEE\n";
    r = runCli({"decrypt", "--key-file", "-", "--output", "viastdin", "a.tvx"}, o);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(exists(dir / "viastdin.txt"));

    // No terminal and no key: a usage error naming the ways to give one.
    r = run(dir, {"decrypt", "--output", "nokey", "a.tvx"}, {});
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_TRUE(contains(r.err, "TOLVEX_KEY"));
    EXPECT_FALSE(exists(dir / "nokey.txt"));

    r = run(dir, {"decrypt", "--output", "badkey", "a.tvx"}, {"TOLVEX_KEY=NOTAKEY9"});
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_FALSE(contains(r.err, "NOTAKEY9"));
}

TEST(Program, PromptOnATerminalDoesNotEcho) {
    TempDir dir;
    writeFile(dir / "a.txt", std::string("typed"));
    TerminalRun terminal(dir.path(), {"encrypt", "a.txt"}, "TOLVEX_KEY");
    ASSERT_TRUE(terminal.started());
    ASSERT_TRUE(terminal.readUntil("Key"));
    ASSERT_TRUE(terminal.type("5eC0dE"));
    ASSERT_TRUE(terminal.readUntil("again"));
    ASSERT_TRUE(terminal.type("5EC0DE"));
    const std::string &seen = terminal.seen();
    EXPECT_EQ(terminal.finish(), 0) << seen;
    EXPECT_FALSE(contains(seen, "5eC0dE")) << seen;
    EXPECT_FALSE(contains(seen, "5EC0DE")) << seen;
    EXPECT_EQ(makeCode(dir / "a.tvx", dir / "b", 0x5EC0DE, TOLVEX_MODE_DECODE, 0), TOLVEX_OK);
    EXPECT_EQ(readFile(dir / "b.txt"), readFile(dir / "a.txt"));
}

TEST(Program, TemplateBesideTheProgramOrInTheWorkingDirectory) {
    TempDir dir;
    std::filesystem::create_directory(dir / "prog");
    std::filesystem::copy_file(TOLVEX_CLI, dir / "prog/tolvex-cli");
    writeFile(dir / "a.txt", std::string("t"));
    RunOptions o;
    o.workingDirectory = dir.path();
    o.environment = {kKey};
    o.program = dir / "prog/tolvex-cli";
    RunResult r = runCli({"encrypt", "a.txt"}, o);
    EXPECT_EQ(r.status, kExitTemplateMissing);
    EXPECT_TRUE(contains(r.err, "Tolvex.dat"));
    EXPECT_FALSE(exists(dir / "a.tvx"));
    std::filesystem::copy_file(TOLVEX_TEMPLATE_FILE, dir / "Tolvex.dat");
    r = runCli({"encrypt", "a.txt"}, o);
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST(Program, HelpAndUsageErrors) {
    TempDir dir;
    RunResult r = run(dir, {"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(contains(r.out, "Examples:"));
    EXPECT_TRUE(contains(r.out, "Exit status:"));
    r = run(dir, {"encrypt", "--disguise", "gif", "a"});
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_TRUE(contains(r.err, "unknown disguise 'gif'"));
    r = run(dir, {"encrypt", "."});
    EXPECT_EQ(r.status, kExitInputUnreadable);
    EXPECT_TRUE(contains(r.err, "add --compress"));
}

TEST(Program, InterruptionRemovesTheUnfinishedOutput) {
    TempDir dir;
    {
        // Sparse: large to convert, free to make.
        const int fd = ::open((dir / "big.bin").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t(512) << 20), 0);
        ::close(fd);
    }
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::chdir(dir.path().c_str()) != 0)
            ::_exit(126);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 2);
        ::setenv("TOLVEX_KEY", "1", 1);
        ::execl(TOLVEX_CLI, TOLVEX_CLI, "encrypt", "big.bin", static_cast<char *>(nullptr));
        ::_exit(127);
    }
    // Wait until the conversion has begun writing, then interrupt it.
    bool staged = false;
    for (int i = 0; i < 3000 && !staged; ++i) {
        staged = writingIn(pid, dir.path());
        if (!staged)
            ::usleep(10000);
    }
    ::kill(pid, SIGINT);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        GTEST_SKIP() << "the conversion finished before the interruption arrived";
    EXPECT_TRUE(staged);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kExitInterrupted);
    EXPECT_EQ(listTree(dir.path()), std::vector<std::string>{"big.bin"});
}

// Every exit status --help lists, with a cause that gives it and the message that says so.
TEST(Program, ExitStatusesAreTheOnesHelpLists) {
    struct Row {
        int code;
        std::vector<std::string> args;
        std::string message;
        std::string program = {}; // a copy of the program elsewhere
    };
    TempDir dir;
    writeFile(dir / "a.txt", std::string(3000, 'a'));
    fs::create_directory(dir / "folder");
    ASSERT_EQ(run(dir, {"encrypt", "-d", "none", "-o", "enc", "a.txt"}).status, kExitOk);
    Bytes damaged = *readFile(dir / "enc.tvx");
    damaged.back() ^= 1;
    writeFile(dir / "damaged.tvx", damaged);
    ASSERT_EQ(run(dir, {"encrypt", "-d", "png", "a.txt"}).status, kExitOk);
    ASSERT_EQ(run(dir, {"encrypt", "-d", "bmp", "a.txt"}).status, kExitOk);
    writeFile(dir / std::string(255, 'n'), std::string("n"));
    // Without Tolvex.dat beside it, then without the archiver library.
    for (const char *copy : {"bare", "noarchiver"}) {
        fs::create_directory(dir / copy);
        fs::copy_file(std::string(TOLVEX_BIN_DIR) + "/tolvex-cli",
                      dir / (std::string(copy) + "/tolvex-cli"));
    }
    fs::copy_file(std::string(TOLVEX_BIN_DIR) + "/Tolvex.dat", dir / "noarchiver/Tolvex.dat");

    const std::vector<Row> rows = {
        {kExitOk, {"encrypt", "-o", "fresh", "a.txt"}, "a.txt -> fresh.tvx"},
        {kExitUsage, {"encrypt", "-d", "nosuch", "a.txt"}, "unknown disguise"},
        {kExitWrongKey, {"decrypt", "--key", "99", "-o", "x", "enc.tvx"}, "wrong key"},
        {kExitDamaged, {"decrypt", "-o", "x", "damaged.tvx"}, "damaged"},
        {kExitInputMissing, {"encrypt", "missing.txt"}, "no such file"},
        {kExitInputUnreadable, {"encrypt", "folder"}, "is a folder"},
        {kExitOutputExists, {"encrypt", "-d", "png", "a.txt"}, "exists; use --force"},
        {kExitCannotWrite, {"encrypt", std::string(255, 'n')}, "name too long"},
        {kExitSameFile,
         {"decrypt", "--force", "--output-dir", "out", "a.png", "a.bmp"},
         "also the output of"},
        {kExitTemplateMissing,
         {"encrypt", "a.txt"},
         "Tolvex.dat is neither",
         dir / "bare/tolvex-cli"},
        {kExitArchiver,
         {"encrypt", "-c", "-o", "packed", "a.txt"},
         "archiver library",
         dir / "noarchiver/tolvex-cli"},
    };
    std::string help = run(dir, {"--help"}).out;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.args.back() + " -> " + std::to_string(row.code));
        RunOptions o;
        o.workingDirectory = dir.path();
        o.environment = {kKey};
        o.program = row.program;
        const RunResult r = runCli(row.args, o);
        EXPECT_EQ(r.status, row.code) << r.err;
        EXPECT_TRUE(contains(r.out + r.err, row.message)) << r.out << r.err;
        const std::string listed = "\n  " + std::to_string(row.code) + " ";
        EXPECT_TRUE(contains(help, listed)) << "--help does not list " << row.code;
    }
}
