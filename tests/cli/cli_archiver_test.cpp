// tolvex-cli with the real archiver library: folders packed before encryption, archives
// unpacked after decryption, and a busy or missing archiver. These take the machine-wide
// archiver lock, so ctest runs them apart from the window's tests.
#include "cli_support.h"
#include "exit_codes.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace cli_test;
using namespace cli;
namespace fs = std::filesystem;

namespace {

const std::string kKey = "TOLVEX_KEY=77";

bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

RunResult run(const TempDir &dir, std::vector<std::string> args) {
    RunOptions o;
    o.workingDirectory = dir.path();
    o.environment = {kKey};
    return runCli(args, o);
}

void makeAlbum(const std::string &root) {
    fs::create_directories(root + "/2023/summer");
    fs::create_directories(root + "/empty");
    writeFile(root + "/cover.jpg", randomBytes(40000, 1));
    writeFile(root + "/2023/notes.txt", std::string(5000, 'n'));
    writeFile(root + "/2023/summer/beach.png", randomBytes(70000, 2));
}

// Both trees hold the same names and the same file contents.
void expectSameTree(const std::string &a, const std::string &b) {
    ASSERT_EQ(listTree(a), listTree(b));
    for (const auto &name : listTree(a)) {
        if (fs::is_regular_file(a + "/" + name)) {
            EXPECT_EQ(readFile(a + "/" + name), readFile(b + "/" + name)) << name;
        }
    }
}

} // namespace

TEST(Archiver, FolderRoundTripWithCompressAndExtract) {
    TempDir dir;
    makeAlbum(dir / "album");
    RunResult r = run(dir, {"encrypt", "--compress", "--disguise", "zip", "album/"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(exists(dir / "album.zip"));

    // Without --extract the archive itself comes back, under the recorded extension.
    fs::create_directory(dir / "plain");
    r = run(dir, {"decrypt", "--output-dir", "plain", "album.zip"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto archive = readFile(dir / "plain/album.lzh");
    ASSERT_TRUE(archive);
    ASSERT_GT(archive->size(), 21u);
    EXPECT_EQ(std::string(archive->begin() + 2, archive->begin() + 5), "-lh"); // an LHA header

    fs::create_directory(dir / "out");
    r = run(dir, {"decrypt", "--extract", "--output-dir", "out", "album.zip"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "extracted into out"));
    expectSameTree(dir / "album", dir / "out/album");
    EXPECT_EQ(listTree(dir / "out").front(), "album") << "no archive or staging left";
    for (const auto &name : listTree(dir.path()))
        EXPECT_EQ(name.find(".tolvex"), std::string::npos) << name;
}

TEST(Archiver, ExtractNeverReplacesWithoutForce) {
    TempDir dir;
    makeAlbum(dir / "album");
    ASSERT_EQ(run(dir, {"encrypt", "-c", "album"}).status, 0);
    fs::create_directories(dir / "out/album");
    writeFile(dir / "out/album/cover.jpg", std::string("mine"));

    RunResult r = run(dir, {"decrypt", "-x", "--output-dir", "out", "album.tvx"});
    EXPECT_EQ(r.status, kExitOutputExists);
    EXPECT_TRUE(contains(r.err, "album exists"));
    EXPECT_EQ(listTree(dir / "out"), (std::vector<std::string>{"album", "album/cover.jpg"}));
    EXPECT_EQ(readFile(dir / "out/album/cover.jpg"), Bytes({'m', 'i', 'n', 'e'}));

    r = run(dir, {"decrypt", "-x", "--force", "--output-dir", "out", "album.tvx"});
    ASSERT_EQ(r.status, 0) << r.err;
    expectSameTree(dir / "album", dir / "out/album");
}

TEST(Archiver, CompressedFileRoundTrip) {
    TempDir dir;
    const Bytes content(200000, 'a'); // compresses well
    writeFile(dir / "log.txt", content);
    ASSERT_EQ(run(dir, {"encrypt", "-c", "-d", "bmp", "log.txt"}).status, 0);
    EXPECT_LT(readFile(dir / "log.bmp")->size(), 20000u);
    fs::remove(dir / "log.txt");
    const RunResult r = run(dir, {"decrypt", "-x", "log.bmp"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(dir / "log.txt"), content);
    EXPECT_FALSE(exists(dir / "log.lzh"));
}

TEST(Archiver, BusyArchiverIsWaitedForThenRefused) {
    TempDir dir;
    makeAlbum(dir / "album");
    const char *lockDir = std::getenv("UNLHA32_LOCK_DIR");
    ASSERT_NE(lockDir, nullptr) << "the suite runs with a lock folder of its own";
    ::mkdir(lockDir, 0700);
    const int lock =
        ::open((std::string(lockDir) + "/unlha32.lock").c_str(), O_RDONLY | O_CREAT, 0600);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    const RunResult r = run(dir, {"encrypt", "-c", "--archiver-wait", "0", "album"});
    ::close(lock);
    EXPECT_EQ(r.status, kExitArchiver);
    EXPECT_TRUE(contains(r.err, "busy"));
    EXPECT_FALSE(exists(dir / "album.tvx"));
}

TEST(Archiver, MissingLibraryIsReported) {
    TempDir dir;
    fs::create_directory(dir / "prog");
    fs::copy_file(TOLVEX_CLI, dir / "prog/tolvex-cli");
    fs::copy_file(TOLVEX_TEMPLATE_FILE, dir / "prog/Tolvex.dat");
    makeAlbum(dir / "album");
    RunOptions o;
    o.workingDirectory = dir.path();
    o.environment = {kKey};
    o.program = dir / "prog/tolvex-cli";
    const RunResult r = runCli({"encrypt", "-c", "album"}, o);
    EXPECT_EQ(r.status, kExitArchiver);
    EXPECT_TRUE(contains(r.err, "libunlha32.so"));
    EXPECT_FALSE(exists(dir / "album.tvx"));
}

TEST(Archiver, OutputFolderWithADoubleQuoteIsRefusedByName) {
    TempDir dir;
    makeAlbum(dir / "album");
    ASSERT_EQ(run(dir, {"encrypt", "--compress", "album"}).status, 0);
    fs::create_directory(dir / "out\"q");
    const RunResult r = run(dir, {"decrypt", "--extract", "--output-dir", "out\"q", "album.tvx"});
    EXPECT_EQ(r.status, kExitArchiver);
    EXPECT_TRUE(contains(r.err, "the character '\"'")) << r.err;
    EXPECT_TRUE(listTree(dir / "out\"q").empty());
}

// The clean-up after SIGINT waits for the workers: no staging folder survives, however far
// the extraction of many members had come.
TEST(Archiver, InterruptedExtractionLeavesNoStagingFolder) {
    TempDir dir;
    fs::create_directories(dir / "many/sub");
    for (int i = 0; i < 3000; ++i)
        writeFile(dir / ("many/sub/f" + std::to_string(i)), std::string(64, char('a' + i % 26)));
    ASSERT_EQ(run(dir, {"encrypt", "--compress", "many"}).status, 0);
    fs::create_directory(dir / "out");
    const pid_t pid =
        startCli(dir.path(), {"decrypt", "--extract", "--output-dir", "out", "many.tvx"}, "77");
    // Interrupt once members are being written: a staging folder holds more than the archive.
    bool extracting = false;
    for (int i = 0; i < 6000 && !extracting; ++i) {
        extracting = listTree(dir / "out").size() > 4;
        if (!extracting)
            ::usleep(5000);
    }
    ::kill(pid, SIGINT);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        GTEST_SKIP() << "the extraction finished before the interruption arrived";
    EXPECT_TRUE(extracting);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kExitInterrupted);
    EXPECT_TRUE(listTree(dir / "out").empty()) << listTree(dir / "out").front();
}
