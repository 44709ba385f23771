// Failures after the output was created: reported as failures, with no incomplete output left
// and an existing file untouched.
#include "halvet_tolvex.h"
#include "test_support.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testing_support;

namespace {

// Runs the engine in a child process whose files may not grow beyond `limit` bytes, as on a
// disk that fills up. Returns the engine's result.
int32_t runWithFileSizeLimit(rlim_t limit, const std::string &source, const std::string &base,
                             int32_t mode, int32_t kind) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN); // so that writes fail with EFBIG instead
        const rlimit rl{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &rl);
        const int32_t r = runEngine(source, base, 77, mode, kind, 1 << 20);
        ::_exit(uint8_t(r));
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status))
        return 1000;
    return int8_t(WEXITSTATUS(status));
}

TEST(WriteFailure, EncodingIntoAFullDiskFailsAndLeavesNothing) {
    TempDir dir;
    writeFile(dir / "big.bin", randomBytes(3 << 20, 1));
    // The limit falls in the header, then in the payload's first and a later piece.
    for (rlim_t limit : {rlim_t(100), rlim_t(5000), rlim_t(2 << 20)}) {
        EXPECT_EQ(runWithFileSizeLimit(limit, dir / "big.bin", dir / "enc", 0, 14),
                  TOLVEX_CANNOT_OPEN)
            << limit;
        EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{"big.bin"}) << limit;
    }
}

TEST(WriteFailure, DecodingIntoAFullDiskFailsAndLeavesNothing) {
    TempDir dir;
    const Bytes content = randomBytes(3 << 20, 2);
    writeFile(dir / "big.bin", content);
    ASSERT_EQ(runEngine(dir / "big.bin", dir / "enc", 77, 0, 0), TOLVEX_OK);
    std::filesystem::remove(dir / "big.bin");
    EXPECT_EQ(runWithFileSizeLimit(1 << 20, dir / "enc.tvx", dir / "big", 1, 0),
              TOLVEX_CANNOT_OPEN);
    EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{"enc.tvx"});
}

TEST(WriteFailure, FailedOverwriteKeepsTheOldFile) {
    TempDir dir;
    const Bytes content = randomBytes(3 << 20, 3);
    writeFile(dir / "big.bin", content);
    writeFile(dir / "enc.gca", std::string("previous encryption"));
    EXPECT_EQ(runWithFileSizeLimit(1 << 20, dir / "big.bin", dir / "enc", 2, 8),
              TOLVEX_CANNOT_OPEN);
    EXPECT_EQ(readFile(dir / "enc.gca")->size(), 19u);

    ASSERT_EQ(runEngine(dir / "big.bin", dir / "new", 77, 0, 8), TOLVEX_OK);
    writeFile(dir / "big.bin", std::string("previous decryption"));
    EXPECT_EQ(runWithFileSizeLimit(1 << 20, dir / "new.gca", dir / "big", 3, 0),
              TOLVEX_CANNOT_OPEN);
    EXPECT_EQ(readFile(dir / "big.bin")->size(), 19u);
    EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"big.bin", "enc.gca", "new.gca"}))
        << "no temporary file stays";
}

TEST(WriteFailure, OverwriteKeepsThePermissionsOfTheReplacedFile) {
    TempDir dir;
    writeFile(dir / "in.txt", std::string("secret"));
    writeFile(dir / "enc.tvx", std::string("old"));
    std::filesystem::permissions(dir / "enc.tvx", std::filesystem::perms(0640));
    ASSERT_EQ(runEngine(dir / "in.txt", dir / "enc", 1, 2, 0), TOLVEX_OK);
    EXPECT_EQ(std::filesystem::status(dir / "enc.tvx").permissions(), std::filesystem::perms(0640));
}

TEST(TemplateFile, TooShortForTheSegmentRefusesToEncode) {
    TempDir dir;
    auto templ = *readFile(TOLVEX_TEMPLATE_FILE);
    templ.resize(40000); // ends inside the ZIP segment
    writeFile(dir / "short.dat", templ);
    writeFile(dir / "in.txt", std::string("abc"));
    const std::string shortTemplate = dir / "short.dat";
    EXPECT_EQ(runEngine(dir / "in.txt", dir / "o", 1, 0, 15, 16, shortTemplate.c_str()),
              TOLVEX_TEMPLATE_MISSING);
    EXPECT_FALSE(exists(dir / "o.zip"));
    // Segments that lie wholly inside still work.
    EXPECT_EQ(runEngine(dir / "in.txt", dir / "o", 1, 0, 14, 16, shortTemplate.c_str()), TOLVEX_OK);
}

} // namespace

namespace {

// Inputs of 2 GiB and more: positions and lengths must not wrap at 31 or 32 bits. The source
// is sparse, so only the encoded and decoded copies take real space.
TEST(LargeFile, BeyondFourGiBRoundTrips) {
    TempDir dir;
    struct statvfs fs;
    ASSERT_EQ(::statvfs(dir.path().c_str(), &fs), 0);
    if (uint64_t(fs.f_bavail) * fs.f_frsize < (uint64_t(12) << 30))
        GTEST_SKIP() << "needs 12 GiB of free space in " << dir.path();

    const uint64_t length = (uint64_t(4) << 30) + 37; // past 2^32, with a tail
    const Bytes end = randomBytes(4096 + 37, 8);
    {
        const std::string source = dir / "big.raw";
        const int fd = ::open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, end.data(), end.size(), off_t(length - end.size())),
                  ssize_t(end.size()));
        ::close(fd);
    }
    ASSERT_EQ(runEngine(dir / "big.raw", dir / "enc", 0xC0FFEE, 0, 1, 1 << 24), TOLVEX_OK);
    std::filesystem::remove(dir / "big.raw");
    EXPECT_EQ(std::filesystem::file_size(dir / "enc.bmp"), 774 + 15 + length);
    ASSERT_EQ(runEngine(dir / "enc.bmp", dir / "dec", 0xC0FFEE, 1, 0, 1 << 24), TOLVEX_OK)
        << "the CRC over all of it matched";
    std::filesystem::remove(dir / "enc.bmp");
    ASSERT_EQ(std::filesystem::file_size(dir / "dec.raw"), length);
    std::ifstream in(dir / "dec.raw", std::ios::binary);
    in.seekg(std::streamoff(length - end.size()));
    Bytes back(end.size());
    in.read(reinterpret_cast<char *>(back.data()), std::streamsize(back.size()));
    EXPECT_EQ(back, end);
}

} // namespace
