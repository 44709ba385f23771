// Folders other users can write: leftovers are removed only when proven ours, removal never
// widens permissions, extraction follows the folder it holds and not its name, every conflict
// of an extraction is found before the first move, and private files stay private.
#include "cli_support.h"
#include "exit_codes.h"
#include "fd.h"
#include "temporaries.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace cli_test;
namespace fs = std::filesystem;
namespace files = tolvex::files;

namespace {

// An id no process runs as: names made with it carry a dead owner.
const std::string kDeadPid = "4000000";
// An unprivileged user for the checks that root's permissions would hide.
constexpr uid_t kOtherUser = 61234;

mode_t modeOf(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

RunResult run(const TempDir &dir, std::vector<std::string> args, uid_t *user = nullptr) {
    RunOptions o;
    o.workingDirectory = dir.path();
    o.environment = {"TOLVEX_KEY=77", "TOLVEX_PASSPHRASE=a shared passphrase"};
    if (user)
        o.user = *user;
    return runCli(args, o);
}

// Runs `body` in a child process as `user`; its exit status.
template <typename Body> int asUser(uid_t user, Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(user) != 0 || ::setuid(user) != 0)
            ::_exit(100);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A user's own things, named as a temporary of ours would be (or renamed so by someone else).
void makeLookalikes(const std::string &folder) {
    writeFile(folder + "/.tolvex-" + kDeadPid + "-notes1", std::string("my notes"));
    writeFile(folder + "/.unlha-" + kDeadPid + "-abcdef", std::string("mine too"));
    const std::string tree = folder + "/.tolvex-cli-" + kDeadPid + "-aaaaaa";
    fs::create_directories(tree + "/kept");
    writeFile(tree + "/kept/letter.txt", std::string("dear"));
    ::chmod((tree + "/kept").c_str(), 0555);
}

void expectLookalikesKept(const std::string &folder) {
    EXPECT_EQ(readFile(folder + "/.tolvex-" + kDeadPid + "-notes1"),
              Bytes({'m', 'y', ' ', 'n', 'o', 't', 'e', 's'}));
    EXPECT_TRUE(exists(folder + "/.unlha-" + kDeadPid + "-abcdef"));
    const std::string tree = folder + "/.tolvex-cli-" + kDeadPid + "-aaaaaa";
    EXPECT_TRUE(exists(tree + "/kept/letter.txt"));
    EXPECT_EQ(modeOf(tree + "/kept"), 0555u) << "its permissions were widened";
}

} // namespace

TEST(Sweep, LeavesTheUsersOwnThingsThatOnlyLookLikeTemporaries) {
    TempDir dir;
    makeLookalikes(dir.path());
    const files::Fd folder = files::openFolder(dir.path());
    files::sweep(folder.get());
    expectLookalikesKept(dir.path());
}

TEST(Sweep, RemovesWhatAKilledRunProvablyLeft) {
    TempDir dir;
    const pid_t child = ::fork();
    if (child == 0) {
        const files::Fd folder = files::openFolder(dir.path());
        files::forceNamedTemporaries(true);
        auto *staging = new files::StagingFolder(folder.get(), files::kCliPrefix);
        auto *temp = new files::TemporaryFile(folder.get(), files::kCodecPrefix);
        const bool made =
            staging->valid() && temp->valid() && ::mkdirat(staging->fd(), "inner", 0500) == 0;
        ::_exit(made ? 0 : 1); // killed: nothing cleans up
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(status, 0);
    ASSERT_EQ(listTree(dir.path()).size(), 3u) << "a staging folder, its subfolder, a file";
    const files::Fd folder = files::openFolder(dir.path());
    files::sweep(folder.get());
    EXPECT_TRUE(listTree(dir.path()).empty());
}

TEST(Sweep, ATemporaryRenamedAwayFromItsRecordedNameIsNotTrusted) {
    TempDir dir;
    std::string renamed;
    const pid_t child = ::fork();
    if (child == 0) {
        const files::Fd folder = files::openFolder(dir.path());
        auto *staging = new files::StagingFolder(folder.get(), files::kCliPrefix);
        ::_exit(staging->valid() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(status, 0);
    const auto names = listTree(dir.path());
    ASSERT_EQ(names.size(), 1u);
    // Another name of the same form: the record names the one it was made under.
    const std::string other = ".tolvex-cli-" + kDeadPid + "-bbbbbb";
    fs::rename(dir / names[0], dir / other);
    const files::Fd folder = files::openFolder(dir.path());
    files::sweep(folder.get());
    EXPECT_TRUE(exists(dir / other));
}

TEST(RemoveTree, NeverWidensPermissionsOfWhatItCannotRemove) {
    TempDir dir;
    fs::create_directories(dir / "tree/locked");
    writeFile(dir / "tree/locked/keep.txt", std::string("keep"));
    writeFile(dir / "tree/loose.txt", std::string("loose"));
    for (const char *p : {"tree", "tree/locked", "tree/locked/keep.txt", "tree/loose.txt"})
        ASSERT_EQ(::chown((dir / p).c_str(), kOtherUser, kOtherUser), 0);
    ::chmod((dir / "tree/locked").c_str(), 0555);
    ::chmod(dir.path().c_str(), 0777);
    const int status = asUser(kOtherUser, [&] {
        const files::Fd parent = files::openFolder(dir.path());
        return files::removeTree(parent.get(), "tree") ? 1 : 0;
    });
    EXPECT_EQ(status, 0) << "a folder it may not empty cannot be removed";
    EXPECT_EQ(modeOf(dir / "tree/locked"), 0555u);
    EXPECT_TRUE(exists(dir / "tree/locked/keep.txt"));
    EXPECT_FALSE(exists(dir / "tree/loose.txt"));
}

TEST(SharedFolderCli, EncryptionSparesLookalikesInTheOutputFolder) {
    TempDir dir;
    makeLookalikes(dir.path());
    writeFile(dir / "report.txt", std::string(3000, 'r'));
    const RunResult r = run(dir, {"encrypt", "-c", "report.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    expectLookalikesKept(dir.path());
}

TEST(SharedFolderCli, CompressingAFolderNamedLikeAStagingFolderKeepsIt) {
    TempDir dir;
    const std::string name = ".tolvex-cli-" + kDeadPid + "-cccccc";
    fs::create_directories(dir / name);
    ::chmod((dir / name).c_str(), 0700);
    writeFile(dir / (name + "/a.txt"), std::string("a"));
    const RunResult r = run(dir, {"encrypt", "-c", name});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(dir / (name + "/a.txt")), Bytes({'a'}));
}

TEST(SharedFolderCli, ExtractWithForceFindsEveryConflictBeforeTheFirstMove) {
    TempDir dir;
    fs::create_directories(dir / "proj/zz");
    for (int i = 1; i <= 6; ++i)
        writeFile(dir / ("proj/a" + std::to_string(i) + ".txt"), std::string("new"));
    writeFile(dir / "proj/zz/f.txt", std::string("new"));
    ASSERT_EQ(run(dir, {"encrypt", "-c", "proj"}).status, 0);
    fs::create_directories(dir / "dest/proj");
    for (int i = 1; i <= 6; ++i)
        writeFile(dir / ("dest/proj/a" + std::to_string(i) + ".txt"), std::string("old"));
    writeFile(dir / "dest/proj/zz", std::string("a file where the archive has a folder"));
    const auto before = listTree(dir / "dest");

    const RunResult r = run(dir, {"decrypt", "-x", "--force", "--output-dir", "dest", "proj.tvx"});
    EXPECT_EQ(r.status, cli::kExitOutputExists) << r.err;
    EXPECT_NE(r.err.find("proj/zz"), std::string::npos) << r.err;
    EXPECT_EQ(listTree(dir / "dest"), before);
    for (int i = 1; i <= 6; ++i)
        EXPECT_EQ(readFile(dir / ("dest/proj/a" + std::to_string(i) + ".txt")),
                  Bytes({'o', 'l', 'd'}));
}

TEST(SharedFolderCli, APrivateFileStaysPrivateThroughEncryptionAndDecryption) {
    for (const bool strong : {false, true}) {
        TempDir dir;
        writeFile(dir / "secret.txt", std::string(5000, 's'));
        ::chmod((dir / "secret.txt").c_str(), 0600);
        std::vector<std::string> encrypt = {"encrypt", "-d", "png", "secret.txt"};
        if (strong)
            encrypt.insert(encrypt.begin() + 1, {"--strong", "--kdf", "interactive"});
        ASSERT_EQ(run(dir, encrypt).status, 0);
        EXPECT_EQ(modeOf(dir / "secret.png"), 0600u) << (strong ? "strong" : "classic");
        fs::create_directory(dir / "back");
        ASSERT_EQ(run(dir, {"decrypt", "--output-dir", "back", "secret.png"}).status, 0);
        EXPECT_EQ(modeOf(dir / "back/secret.txt"), 0600u) << (strong ? "strong" : "classic");
    }
}

TEST(SharedFolderCodec, ReplacingALinkTakesNoModeFromItsTarget) {
    TempDir dir;
    writeFile(dir / "secret.txt", std::string(5000, 's'));
    ::chmod((dir / "secret.txt").c_str(), 0600);
    ASSERT_EQ(makeCode(dir / "secret.txt", dir / "secret", 0x77, 0, 6), 0);
    fs::create_directory(dir / "out");
    writeFile(dir / "bait", std::string("bait"));
    ::chmod((dir / "bait").c_str(), 0666);
    fs::create_symlink(dir / "bait", dir / "out/secret.txt");
    ASSERT_EQ(makeCode(dir / "secret.png", dir / "out/secret", 0x77, 3, 0), 0);
    EXPECT_EQ(modeOf(dir / "out/secret.txt"), 0600u);
    EXPECT_EQ(readFile(dir / "bait"), Bytes({'b', 'a', 'i', 't'}));
    EXPECT_EQ(modeOf(dir / "bait"), 0666u);
}
