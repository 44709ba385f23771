// Folders other users can write: leftovers are removed only when proven ours, removal never
// widens permissions, extraction follows the folder it holds and not its name, every conflict
// of an extraction is found before the first move, and private files stay private.
#include "cli_support.h"
#include "exit_codes.h"
#include "fd.h"
#include "folder_watcher.h"
#include "folders.h"
#include "system_refusals.h"
#include "temporaries.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <iostream>
#include <map>
#include <sys/inotify.h>
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
        // Without unnamed files, as on some file systems, the file gets a name from the start.
        if (!test_files::refuseUnnamedFiles())
            ::_exit(2);
        const files::Fd folder = files::openFolder(dir.path());
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

// Races against a second member of the folder's group, who watches it with inotify and acts the
// moment one of our staging folders appears. The attacker never sleeps: it reacts to events, and
// every interleaving it can bring about must leave the victim's other folders untouched.
namespace {

constexpr uid_t kVictim = 61240;
constexpr uid_t kAttacker = 61241;
constexpr gid_t kTeam = 61300;

// Paths with their contents (files), targets (links) or nothing (folders).
std::map<std::string, std::string> snapshot(const std::string &folder) {
    std::map<std::string, std::string> seen;
    for (const auto &entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = fs::relative(entry.path(), folder).string();
        if (name.rfind(".cache", 0) == 0)
            continue; // the program's own records of what it made
        if (entry.is_symlink())
            seen[name] = "-> " + fs::read_symlink(entry.path()).string();
        else if (entry.is_regular_file()) {
            const auto content = readFile(entry.path().string());
            seen[name] = content ? std::string(content->begin(), content->end()) : "unreadable";
        } else
            seen[name] = "folder";
    }
    return seen;
}

// A group member who watches `watched` with inotify and acts at once on each event of `mask`
// that `act` takes (see FolderWatcher).
class Watcher : public test_files::FolderWatcher {
  public:
    Watcher(const std::string &watched, uint32_t mask, Act act)
        : FolderWatcher(watched, mask, std::move(act), [] {
              const gid_t team = kTeam;
              return ::setgroups(1, &team) == 0 && ::setgid(kAttacker) == 0 &&
                     ::setuid(kAttacker) == 0;
          }) {}
};

bool isStagingName(const std::string &name) {
    return name.rfind(".tolvex-cli-", 0) == 0 || name.rfind(".unlha-", 0) == 0 ||
           name.rfind(".tolvex-", 0) == 0;
}

// For each new folder named like our staging folders: renamed away, a link to `target` in its
// place.
class Swapper : public Watcher {
  public:
    Swapper(const std::string &shared, const std::string &target)
        : Watcher(shared, IN_CREATE,
                  [target, swapped = 0](int folder, const std::string &name) mutable {
                      struct stat st;
                      if (name.rfind(".tolvex-cli-", 0) != 0 ||
                          ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
                          !S_ISDIR(st.st_mode))
                          return false; // the link it put there itself
                      const std::string away = ".stolen-" + std::to_string(swapped);
                      if (::renameat(folder, name.c_str(), folder, away.c_str()) != 0 ||
                          ::symlinkat(target.c_str(), folder, name.c_str()) != 0)
                          return false;
                      ++swapped;
                      return true;
                  }) {}
};

struct Team {
    TempDir base;
    std::string shared = base / "shared";
    std::string home = base / "home";
    // The program with what it loads beside it, where the victim may run it: the build folder
    // may be private to the user who built it.
    std::string program = base / "bin/tolvex-cli";
    explicit Team(mode_t sharedMode) {
        fs::create_directories(base / "bin");
        for (const char *file : {"tolvex-cli", "Tolvex.dat", "libunlha32.so"})
            fs::copy_file(std::string(TOLVEX_BIN_DIR) + "/" + file,
                          base / (std::string("bin/") + file));
        ::chmod((base / "bin").c_str(), 0755);
        fs::create_directories(shared);
        fs::create_directories(home + "/.config");
        writeFile(home + "/.bashrc", std::string("# the victim's own\n"));
        writeFile(home + "/.config/kept", std::string("kept"));
        ::chown(shared.c_str(), 0, kTeam);
        ::chmod(shared.c_str(), sharedMode);
        for (const char *p : {"", "/.config", "/.bashrc", "/.config/kept"})
            ::chown((home + p).c_str(), kVictim, kVictim);
        ::chmod(home.c_str(), 0700);
    }
    RunResult victim(std::vector<std::string> args) const {
        RunOptions o;
        o.workingDirectory = shared;
        o.environment = {"TOLVEX_KEY=77", "HOME=" + home};
        o.user = kVictim;
        o.groups = {kTeam};
        o.program = program;
        return runCli(args, o);
    }
};

// Runs `body` as `user`, a member of the team.
template <typename Body> int asMember(uid_t user, Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        const gid_t team = kTeam;
        if (::setgroups(1, &team) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0)
            ::_exit(100);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

template <typename Body> int asAttacker(Body body) {
    return asMember(kAttacker, body);
}

// An encrypted folder `kit` (a .bashrc and a file in a subfolder) copied into the shared folder.
void placeKit(const Team &team) {
    TempDir maker;
    fs::create_directories(maker / "kit/docs");
    writeFile(maker / "kit/.bashrc", std::string("rm -rf ~ # the archive's\n"));
    writeFile(maker / "kit/docs/plan.txt", std::string(20000, 'p'));
    ASSERT_EQ(run(maker, {"encrypt", "-c", "kit"}).status, 0);
    fs::copy_file(maker / "kit.tvx", team.shared + "/kit.tvx");
    ::chown((team.shared + "/kit.tvx").c_str(), kVictim, kVictim);
}

} // namespace

TEST(SharedFolderRace, ExtractionStaysInTheStagingFolderItHoldsWhenItIsSwappedForALink) {
    int swaps = 0;
    for (const mode_t mode : {02775, 01777}) {
        for (int round = 0; round < 3; ++round) {
            Team team(mode);
            placeKit(team);
            const auto home = snapshot(team.home);
            Swapper attacker(team.shared, team.home);
            ASSERT_TRUE(attacker.ready());
            const RunResult r = team.victim({"decrypt", "-x", "kit.tvx"});
            const int swapped = attacker.stop();
            ASSERT_GE(swapped, 0);
            swaps += swapped;
            EXPECT_EQ(snapshot(team.home), home) << "the victim's home was written";
            if (r.status == 0) {
                EXPECT_EQ(readFile(team.shared + "/kit/docs/plan.txt"), Bytes(20000, 'p'));
            } else {
                EXPECT_FALSE(r.err.empty());
                EXPECT_FALSE(exists(team.shared + "/kit"));
            }
            // What was renamed away was emptied through its descriptor: no plaintext is left.
            for (int i = 0; i < swapped; ++i)
                EXPECT_TRUE(fs::is_empty(team.shared + "/.stolen-" + std::to_string(i)));
        }
    }
    std::cout << "folders swapped for links: " << swaps << "\n";
}

TEST(SharedFolderRace, AFolderAnotherMemberRenamedLikeAStagingFolderIsNotSwept) {
    Team team(02775);
    const std::string mine = team.shared + "/drafts";
    fs::create_directories(mine + "/old");
    writeFile(mine + "/old/letter.txt", std::string("dear"));
    writeFile(team.shared + "/report.txt", std::string(3000, 'r'));
    for (const char *p : {"/drafts", "/drafts/old", "/drafts/old/letter.txt", "/report.txt"})
        ::chown((team.shared + p).c_str(), kVictim, kVictim);
    ::chmod((mine + "/old").c_str(), 0555);
    const std::string lookalike = ".tolvex-cli-" + kDeadPid + "-aaaaaa";
    ASSERT_EQ(asAttacker([&] {
                  return ::rename(mine.c_str(), (team.shared + "/" + lookalike).c_str()) == 0 ? 0
                                                                                              : 1;
              }),
              0);
    const RunResult r = team.victim({"encrypt", "-c", "report.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(team.shared + "/" + lookalike + "/old/letter.txt"),
              Bytes({'d', 'e', 'a', 'r'}));
    EXPECT_EQ(modeOf(team.shared + "/" + lookalike + "/old"), 0555u);
}

TEST(SharedFolderRace, ADecryptedFileTakesNoModeFromALinkAnotherMemberPutInItsPlace) {
    Team team(02775);
    writeFile(team.shared + "/secret.txt", std::string(5000, 's'));
    ::chown((team.shared + "/secret.txt").c_str(), kVictim, kVictim);
    ::chmod((team.shared + "/secret.txt").c_str(), 0600);
    ASSERT_EQ(team.victim({"encrypt", "-d", "png", "secret.txt"}).status, 0);
    ASSERT_EQ(::unlink((team.shared + "/secret.txt").c_str()), 0);
    const std::string bait = team.base / "bait";
    writeFile(bait, std::string("bait"));
    ::chown(bait.c_str(), kAttacker, kAttacker);
    ::chmod(bait.c_str(), 0666);
    ASSERT_EQ(asAttacker([&] {
                  return ::symlink(bait.c_str(), (team.shared + "/secret.txt").c_str()) == 0 ? 0
                                                                                             : 1;
              }),
              0);
    const RunResult r = team.victim({"decrypt", "--force", "secret.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(modeOf(team.shared + "/secret.txt"), 0600u);
    EXPECT_EQ(readFile(bait), Bytes({'b', 'a', 'i', 't'}));
    EXPECT_EQ(modeOf(bait), 0666u);
}

// The five ways a second member of the group could lead the victim's files astray, each tried
// the way it was found. The moments that inotify can catch are raced 20 times.
namespace {

constexpr int kRounds = 20;

void chownAll(const std::string &path, uid_t user) {
    ::lchown(path.c_str(), user, user);
    if (fs::is_directory(fs::symlink_status(path)))
        for (const auto &entry : fs::recursive_directory_iterator(path))
            ::lchown(entry.path().c_str(), user, user);
}

// Busy processes on every core while it lives (at nice 10): the victim, at the lowest
// priority, is then preempted between its system calls, as on a loaded machine, and a watcher
// woken by inotify gets to act in between.
class CpuLoad {
  public:
    CpuLoad() {
        for (long i = 0; i < std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN)); ++i)
            if (const pid_t hog = ::fork(); hog == 0) {
                if (::nice(10) == -1) {
                }
                for (;;)
                    __asm__ volatile("" ::: "memory"); // busy, without being optimised away
            } else if (hog > 0)
                m_hogs.push_back(hog);
    }
    ~CpuLoad() {
        for (const pid_t hog : m_hogs) {
            ::kill(hog, SIGKILL);
            ::waitpid(hog, nullptr, 0);
        }
    }
    CpuLoad(const CpuLoad &) = delete;
    CpuLoad &operator=(const CpuLoad &) = delete;

  private:
    std::vector<pid_t> m_hogs;
};

// The victim's private folder beside the staging folders: twenty files, 0700.
std::map<std::string, std::string> makeVault(const std::string &vault) {
    fs::create_directories(vault);
    std::map<std::string, std::string> files;
    for (int i = 0; i < 20; ++i) {
        const std::string name = "v" + std::to_string(i) + ".txt";
        files[name] = "the victim's own file " + std::to_string(i);
        writeFile(vault + "/" + name, files[name]);
    }
    chownAll(vault, kVictim);
    ::chmod(vault.c_str(), 0700);
    return files;
}

// Every file of the vault, wherever in `shared` its folder has been moved to.
void expectVaultWhole(const std::string &shared, const std::map<std::string, std::string> &vault) {
    std::map<std::string, std::string> found;
    for (const auto &entry : fs::recursive_directory_iterator(shared))
        if (entry.is_regular_file() && vault.count(entry.path().filename().string())) {
            const auto content = readFile(entry.path().string());
            found[entry.path().filename().string()] =
                content ? std::string(content->begin(), content->end()) : "";
        }
    EXPECT_EQ(found, vault) << "a file of the victim's was deleted or changed";
}

// Exchanges every new staging-like folder with the victim's vault.
Watcher::Act exchangeWith(const std::string &vault) {
    return [vault](int folder, const std::string &name) {
        return isStagingName(name) &&
               ::renameat2(folder, name.c_str(), folder, vault.c_str(), RENAME_EXCHANGE) == 0;
    };
}

// An encrypted file of `content` named `name` in the shared folder, the victim's.
void placeEncrypted(const Team &team, const std::string &name, const std::string &content,
                    bool strong) {
    TempDir maker;
    writeFile(maker / "secret.txt", content);
    std::vector<std::string> args = {"encrypt", "-d", "png", "secret.txt"};
    if (strong)
        args.insert(args.begin() + 1, {"--strong", "--kdf", "interactive"});
    ASSERT_EQ(run(maker, args).status, 0);
    fs::copy_file(maker / "secret.png", team.shared + "/" + name);
    ::chown((team.shared + "/" + name).c_str(), kVictim, kVictim);
}

RunResult victimWithPassphrase(const Team &team, std::vector<std::string> args) {
    RunOptions o;
    o.workingDirectory = team.shared;
    o.environment = {"TOLVEX_KEY=77", "TOLVEX_PASSPHRASE=a shared passphrase", "HOME=" + team.home};
    o.user = kVictim;
    o.groups = {kTeam};
    o.program = team.program;
    return runCli(args, o);
}

} // namespace

// 1. A staging folder is made, then opened: exchanged with the victim's own 0700 folder in
// between, that folder must never be taken for it (and emptied at the end).
TEST(SharedFolderRace, AStagingFolderExchangedWithOneOfTheUsersFoldersIsNeverTaken) {
    Team team(02775);
    const std::string vault = team.shared + "/vault";
    const auto files = makeVault(vault);
    int exchanged = 0;
    {
        // The file layer alone, as the archiver's extraction and the CLI use it, on a loaded
        // machine: ten times the rounds, since each is cheap.
        const CpuLoad load; // first: its processes must not hold the watcher's pipes
        Watcher attacker(team.shared, IN_CREATE, exchangeWith("vault"));
        ASSERT_TRUE(attacker.ready());
        const int status = asMember(kVictim, [&] {
            errno = 0;
            if (::nice(19) == -1 && errno != 0)
                return 2;
            const files::Fd shared = files::openFolder(team.shared);
            for (int round = 0; round < 10 * kRounds; ++round) {
                const files::StagingFolder staging(shared.get(), files::kArchiverPrefix);
                if (staging.valid() && !listTree(staging.path()).empty())
                    return 1; // it holds what it did not make
            }
            return 0;
        });
        exchanged += attacker.stop();
        EXPECT_EQ(status, 0) << "a staging folder held the victim's files";
    }
    expectVaultWhole(team.shared, files);
    placeKit(team);
    for (int round = 0; round < kRounds; ++round) {
        Watcher attacker(team.shared, IN_CREATE, exchangeWith("vault"));
        ASSERT_TRUE(attacker.ready());
        const RunResult r = team.victim({"decrypt", "-x", "--force", "kit.tvx"});
        exchanged += attacker.stop();
        expectVaultWhole(team.shared, files);
        if (r.status == 0)
            EXPECT_EQ(readFile(team.shared + "/kit/docs/plan.txt"), Bytes(20000, 'p'));
        else
            EXPECT_NE(r.err.find("cannot write in the folder"), std::string::npos) << r.err;
    }
    std::cout << "folders exchanged with the victim's: " << exchanged << "\n";
}

// 2. The output folder is swapped for a link to the other member's folder once the victim has
// opened it: the plaintext still goes where the victim asked, and nowhere else.
TEST(SharedFolderRace, AnOutputFolderSwappedForALinkAfterItIsOpenedKeepsTheOutput) {
    struct Row {
        const char *name;
        bool strong;
        std::vector<std::string> extra;
    };
    const Row rows[] = {{"classic decrypt", false, {}},
                        {"strong decrypt", true, {}},
                        {"decrypt --extract", false, {"-x"}}};
    int swapped = 0;
    for (const Row &row : rows) {
        for (int round = 0; round < kRounds; ++round) {
            Team team(02775);
            const bool extract = !row.extra.empty();
            if (extract)
                placeKit(team);
            else
                placeEncrypted(team, "secret.png", std::string(30000, 's'), row.strong);
            const std::string out = team.shared + "/out";
            const std::string theirs = team.shared + "/theirs";
            fs::create_directories(out);
            fs::create_directories(theirs);
            ::chown(out.c_str(), kVictim, kVictim);
            ::chown(theirs.c_str(), kAttacker, kAttacker);
            ::chmod(theirs.c_str(), 0777);
            const std::string shared = team.shared;
            Watcher attacker(
                out, IN_OPEN, [shared, done = false](int, const std::string &name) mutable {
                    if (done || !name.empty())
                        return false;
                    done = ::rename((shared + "/out").c_str(), (shared + "/.moved").c_str()) == 0 &&
                           ::symlink("theirs", (shared + "/out").c_str()) == 0;
                    return done;
                });
            ASSERT_TRUE(attacker.ready());
            std::vector<std::string> args = {"decrypt", "--output-dir", "out"};
            args.insert(args.end(), row.extra.begin(), row.extra.end());
            args.push_back(extract ? "kit.tvx" : "secret.png");
            const RunResult r = victimWithPassphrase(team, args);
            const int acted = attacker.stop();
            swapped += acted;
            EXPECT_TRUE(listTree(theirs).empty()) << row.name << ": the output went astray";
            const std::string home = acted ? team.shared + "/.moved" : out;
            if (r.status == 0 && extract)
                EXPECT_EQ(readFile(home + "/kit/docs/plan.txt"), Bytes(20000, 'p')) << row.name;
            else if (r.status == 0)
                EXPECT_EQ(readFile(home + "/secret.txt"), Bytes(30000, 's')) << row.name;
            else
                ADD_FAILURE() << row.name << ": " << r.err;
        }
    }
    std::cout << "output folders swapped after they were opened: " << swapped << "\n";
}

// 5. A link planted in a project folder the group may write never carries in what lies
// outside the folder packed; a link that stays inside it is packed as what it names.
TEST(SharedFolderRace, PackingRefusesALinkAnotherMemberPlantedThatLeadsOutOfTheFolder) {
    for (const bool strong : {false, true}) {
        Team team(02775);
        const std::string project = team.shared + "/project";
        fs::create_directories(project + "/docs");
        writeFile(project + "/docs/readme.txt", std::string("readme"));
        fs::create_directories(team.home + "/.ssh");
        writeFile(team.home + "/.ssh/id_ed25519", std::string("PRIVATE KEY"));
        chownAll(project, kVictim);
        chownAll(team.home, kVictim);
        ::chmod((team.home + "/.ssh/id_ed25519").c_str(), 0600);
        ::chown(project.c_str(), kVictim, kTeam);
        ::chmod(project.c_str(), 02775);
        ASSERT_EQ(asAttacker([&] {
                      return ::symlink((team.home + "/.ssh").c_str(),
                                       (project + "/assets").c_str()) == 0
                                 ? 0
                                 : 1;
                  }),
                  0);
        std::vector<std::string> args = {"encrypt", "-c", "project"};
        if (strong)
            args.insert(args.begin() + 1, {"--strong", "--kdf", "interactive"});
        const RunResult r = victimWithPassphrase(team, args);
        EXPECT_NE(r.status, 0) << (strong ? "strong" : "classic");
        EXPECT_NE(r.err.find("project/assets"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("outside"), std::string::npos) << r.err;
        EXPECT_FALSE(exists(team.shared + "/project.tvx"));
        EXPECT_EQ(listTree(team.shared).size(), listTree(project).size() + 1) << "nothing beside";
    }
}
