// Packing with "a" and extracting with "e", as the program's command lines do it: the restored
// files and folders are identical, and failures leave nothing half-written.
#include "support.h"
#include "unlha32.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace archiver_test;
namespace fs = std::filesystem;

namespace {

std::string packLine(const std::string &archive, const std::string &base, const std::string &name) {
    return "a -d -r2 " + quote(archive) + " " + quote(base + "/") + " " + quote(name);
}
std::string extractLine(const std::string &archive, const std::string &dest) {
    return "e -d -r2 -jyo0 " + quote(archive) + " " + quote(dest + "/") + " " + quote("*");
}

// The tree the issue asks for: nested and empty folders, empty files, a binary file of a few
// MiB, names with blanks and Japanese characters.
void makeTree(const std::string &root) {
    makeFolder(root + "/nested/deeper/deepest");
    makeFolder(root + "/empty folder");
    makeFolder(root + "/nested/also empty");
    writeFile(root + "/empty.txt", Bytes{});
    writeFile(root + "/nested/deeper/deepest/notes.txt", textBytes(30000, 1));
    writeFile(root + "/nested/binary.bin", randomBytes(3 * 1024 * 1024 + 17, 2));
    writeFile(root + "/名前 with blanks.txt", std::string("日本語のテキスト\n"));
    writeFile(root + "/日本語フォルダ.txt", textBytes(70000, 3));
    makeFolder(root + "/フォルダ 1");
    writeFile(root + "/フォルダ 1/ファイル.dat", randomBytes(100, 4));
    writeFile(root + "/nested/tiny", std::string("x"));
}

TEST(RoundTrip, SingleFile) {
    TempDir dir;
    makeFolder(dir / "in");
    const Bytes content = textBytes(123456, 9);
    writeFile(dir / "in/report.doc", content);
    std::string message;
    ASSERT_EQ(runCommand(packLine(dir / "a.lzh", dir / "in", "report.doc"), &message), 0)
        << message;
    makeFolder(dir / "out");
    ASSERT_EQ(runCommand(extractLine(dir / "a.lzh", dir / "out"), &message), 0) << message;
    EXPECT_EQ(allPaths(dir / "out"), std::vector<std::string>{"report.doc"});
    EXPECT_EQ(readFile(dir / "out/report.doc"), content);
}

TEST(RoundTrip, FolderTreeIsRestoredIdentically) {
    TempDir dir;
    makeTree(dir / "in/tree");
    std::string message;
    ASSERT_EQ(runCommand(packLine(dir / "t.lzh", dir / "in", "tree"), &message), 0) << message;
    makeFolder(dir / "out");
    ASSERT_EQ(runCommand(extractLine(dir / "t.lzh", dir / "out"), &message), 0) << message;
    const auto original = snapshot(dir / "in");
    const auto restored = snapshot(dir / "out");
    ASSERT_EQ(original.size(), restored.size());
    EXPECT_TRUE(original == restored);
}

TEST(RoundTrip, TimesAndPermissionsAreKept) {
    TempDir dir;
    makeFolder(dir / "in/f");
    writeFile(dir / "in/f/run.sh", std::string("#!/bin/sh\n"));
    ::chmod((dir / "in/f/run.sh").c_str(), 0750);
    const struct timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
    ::utimensat(AT_FDCWD, (dir / "in/f/run.sh").c_str(), past, 0);
    const struct timespec older[2] = {{900000000, 0}, {900000000, 0}};
    ::utimensat(AT_FDCWD, (dir / "in/f").c_str(), older, 0);
    ASSERT_EQ(runCommand(packLine(dir / "t.lzh", dir / "in", "f")), 0);
    makeFolder(dir / "out");
    ASSERT_EQ(runCommand(extractLine(dir / "t.lzh", dir / "out")), 0);
    struct stat st;
    ASSERT_EQ(::stat((dir / "out/f/run.sh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0750u);
    EXPECT_EQ(st.st_mtime, 1000000000);
    ASSERT_EQ(::stat((dir / "out/f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 900000000);
}

TEST(RoundTrip, ExtractionOverwritesExistingFiles) {
    TempDir dir;
    makeFolder(dir / "in");
    writeFile(dir / "in/a.txt", std::string("new content"));
    ASSERT_EQ(runCommand(packLine(dir / "t.lzh", dir / "in", "a.txt")), 0);
    makeFolder(dir / "out");
    writeFile(dir / "out/a.txt", std::string("old content that is longer"));
    ASSERT_EQ(runCommand(extractLine(dir / "t.lzh", dir / "out")), 0);
    EXPECT_EQ(readFile(dir / "out/a.txt"), readFile(dir / "in/a.txt"));
    EXPECT_EQ(allPaths(dir / "out"), std::vector<std::string>{"a.txt"}) << "no temporary left";
}

TEST(RoundTrip, PatternSelectsMembers) {
    TempDir dir;
    makeFolder(dir / "in/d");
    writeFile(dir / "in/d/a.txt", std::string("a"));
    writeFile(dir / "in/d/b.doc", std::string("b"));
    ASSERT_EQ(runCommand(packLine(dir / "t.lzh", dir / "in", "d")), 0);
    makeFolder(dir / "out");
    ASSERT_EQ(runCommand("e " + quote(dir / "t.lzh") + " " + quote(dir / "out/") + " \"*.txt\""),
              0);
    EXPECT_EQ(allPaths(dir / "out"), (std::vector<std::string>{"d/", "d/a.txt"}));
}

TEST(RoundTrip, AddingToAnExistingArchiveKeepsOtherMembersAndReplacesSameNames) {
    TempDir dir;
    makeFolder(dir / "in");
    writeFile(dir / "in/one.txt", std::string("first"));
    writeFile(dir / "in/two.txt", std::string("second"));
    ASSERT_EQ(runCommand(packLine(dir / "t.lzh", dir / "in", "one.txt")), 0);
    ASSERT_EQ(runCommand(packLine(dir / "t.lzh", dir / "in", "two.txt")), 0);
    writeFile(dir / "in/one.txt", std::string("first, changed"));
    ASSERT_EQ(runCommand(packLine(dir / "t.lzh", dir / "in", "one.txt")), 0);
    makeFolder(dir / "out");
    ASSERT_EQ(runCommand(extractLine(dir / "t.lzh", dir / "out")), 0);
    EXPECT_EQ(snapshot(dir / "out"), snapshot(dir / "in"));
}

TEST(RoundTrip, ArchiveInsideThePackedFolderIsNotPackedIntoItself) {
    TempDir dir;
    makeFolder(dir / "in/d");
    writeFile(dir / "in/d/a.txt", std::string("a"));
    ASSERT_EQ(runCommand(packLine(dir / "in/d/self.lzh", dir / "in", "d")), 0);
    ASSERT_EQ(runCommand(packLine(dir / "in/d/self.lzh", dir / "in", "d")), 0);
    makeFolder(dir / "out");
    ASSERT_EQ(runCommand(extractLine(dir / "in/d/self.lzh", dir / "out")), 0);
    EXPECT_EQ(allPaths(dir / "out"), (std::vector<std::string>{"d/", "d/a.txt"}));
}

TEST(PackFailures, MissingInputGivesNotFoundAndNoArchive) {
    TempDir dir;
    EXPECT_EQ(runCommand(packLine(dir / "t.lzh", dir.path(), "nothing")), UNLHA_ERROR_NOT_FOUND);
    EXPECT_TRUE(allPaths(dir.path()).empty());
}

TEST(PackFailures, NamesOutsideTheBaseFolderAreRefused) {
    TempDir dir;
    makeFolder(dir / "in");
    writeFile(dir / "secret", std::string("s"));
    EXPECT_EQ(runCommand(packLine(dir / "t.lzh", dir / "in", "../secret")), UNLHA_ERROR_NAME);
    EXPECT_EQ(runCommand(packLine(dir / "t.lzh", dir / "in", dir / "secret")), UNLHA_ERROR_NAME);
    EXPECT_FALSE(exists(dir / "t.lzh"));
}

// Runs a pack command as an unprivileged user when the test runs as root, who reads every
// file; returns whether it failed with the read error.
bool packFailsWithReadError(const std::string &line, const std::string &folder) {
    if (::geteuid() != 0)
        return runCommand(line) == UNLHA_ERROR_READ;
    constexpr uid_t kNobody = 65534;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(folder))
        if (::lchown(entry.path().c_str(), kNobody, kNobody) != 0)
            return false;
    if (::chown(folder.c_str(), kNobody, kNobody) != 0)
        return false;
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(2);
        ::_exit(runCommand(line) == UNLHA_ERROR_READ ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(PackFailures, UnreadableFileLeavesNoArchiveAndTheOldOneIntact) {
    TempDir dir;
    makeFolder(dir / "in/d");
    writeFile(dir / "in/d/ok.txt", std::string("fine"));
    writeFile(dir / "in/d/locked.txt", std::string("private"));
    ASSERT_EQ(runCommand(packLine(dir / "t.lzh", dir / "in/d", "ok.txt")), 0);
    const auto previous = readFile(dir / "t.lzh");
    ::chmod((dir / "in/d/locked.txt").c_str(), 0);
    EXPECT_TRUE(packFailsWithReadError(packLine(dir / "t.lzh", dir / "in", "d"), dir.path()));
    EXPECT_EQ(readFile(dir / "t.lzh"), previous);
    EXPECT_EQ(allPaths(dir.path()), (std::vector<std::string>{"in/", "in/d/", "in/d/locked.txt",
                                                              "in/d/ok.txt", "t.lzh"}));
}

TEST(PackFailures, SpecialFileFailsTheCommandAndLeavesNoArchive) {
    TempDir dir;
    makeFolder(dir / "in/d");
    writeFile(dir / "in/d/a", std::string("a"));
    // A special file cannot be packed; the command fails as a whole.
    ASSERT_EQ(::mkfifo((dir / "in/d/pipe").c_str(), 0600), 0);
    EXPECT_EQ(runCommand(packLine(dir / "t.lzh", dir / "in", "d")), UNLHA_ERROR_READ);
    EXPECT_FALSE(exists(dir / "t.lzh"));
    EXPECT_EQ(allPaths(dir.path()).size(), 4u) << "no temporary archive left";
}

// A file size limit makes writes fail part way, as a full disk does.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = m_old;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

  private:
    struct rlimit m_old;
    void (*m_oldHandler)(int);
};

TEST(PackFailures, WriteFailureLeavesNoArchiveAndTheOldOneIntact) {
    TempDir dir;
    makeFolder(dir / "in");
    writeFile(dir / "in/a.bin", randomBytes(900000, 3));
    writeFile(dir / "in/small", std::string("small"));
    ASSERT_EQ(runCommand(packLine(dir / "t.lzh", dir / "in", "small")), 0);
    const auto previous = readFile(dir / "t.lzh");
    int result;
    {
        FileSizeLimit limit(200000);
        result = runCommand(packLine(dir / "t.lzh", dir / "in", "a.bin"));
    }
    EXPECT_EQ(result, UNLHA_ERROR_WRITE);
    EXPECT_EQ(readFile(dir / "t.lzh"), previous);
    EXPECT_EQ(allPaths(dir.path()),
              (std::vector<std::string>{"in/", "in/a.bin", "in/small", "t.lzh"}));
}

TEST(ExtractFailures, WriteFailureLeavesNoPartialFile) {
    TempDir dir;
    makeFolder(dir / "in");
    writeFile(dir / "in/a.txt", textBytes(900000, 3));
    ASSERT_EQ(runCommand(packLine(dir / "t.lzh", dir / "in", "a.txt")), 0);
    makeFolder(dir / "out");
    int result;
    {
        FileSizeLimit limit(200000);
        result = runCommand(extractLine(dir / "t.lzh", dir / "out"));
    }
    EXPECT_EQ(result, UNLHA_ERROR_WRITE);
    EXPECT_TRUE(allPaths(dir / "out").empty());
}

TEST(ExtractFailures, MissingArchiveGivesNotFound) {
    TempDir dir;
    EXPECT_EQ(runCommand(extractLine(dir / "none.lzh", dir.path())), UNLHA_ERROR_NOT_FOUND);
}

TEST(ExtractFailures, NotAnArchiveIsDamaged) {
    TempDir dir;
    writeFile(dir / "x.lzh", textBytes(5000, 1));
    makeFolder(dir / "out");
    EXPECT_EQ(runCommand(extractLine(dir / "x.lzh", dir / "out")), UNLHA_ERROR_DAMAGED);
    EXPECT_TRUE(allPaths(dir / "out").empty());
}

} // namespace
