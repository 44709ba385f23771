// Packing reads files ahead and codes them on several threads; the archive must be the very
// one a plain member-by-member writer makes, every time.
#include "lha_writer.h"
#include "segment_scheduler.h"
#include "support.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace archiver_test;
namespace fs = std::filesystem;

namespace {

std::string packLine(const std::string &archive, const std::string &base, const std::string &name) {
    return "a -d -r2 " + quote(archive) + " " + quote(base + "/") + " " + quote(name);
}

// Many small files, files of several segments, tiny, empty and incompressible ones.
void makeTree(const std::string &root) {
    makeFolder(root + "/src/inner");
    makeFolder(root + "/empty");
    for (int i = 0; i < 40; ++i)
        writeFile(root + "/src/file" + std::to_string(i) + ".h",
                  textBytes(static_cast<size_t>(500 + i * 997), static_cast<uint32_t>(i)));
    Bytes big = textBytes(2 * 1024 * 1024 + 4321, 50);
    const Bytes noise = randomBytes(700000, 51);
    big.insert(big.begin() + 900000, noise.begin(), noise.end());
    writeFile(root + "/src/inner/big.bin", big);
    writeFile(root + "/src/inner/noise.bin", randomBytes(300000, 52));
    writeFile(root + "/src/inner/tiny", std::string("12345678"));
    writeFile(root + "/src/inner/nine", std::string("123456789"));
    writeFile(root + "/src/inner/empty.txt", Bytes{});
    writeFile(root + "/z-last.txt", textBytes(1024 * 1024, 53));
}

// The members as packing plans them: a folder, then its entries in byte order, depth first.
void addSerially(unlha::ArchiveWriter &writer, const std::string &disk, const std::string &name) {
    struct stat st;
    ASSERT_EQ(::stat(disk.c_str(), &st), 0);
    const unlha::MemberInfo info{name, static_cast<uint32_t>(st.st_mtime),
                                 static_cast<uint16_t>(st.st_mode & 0xFFFF)};
    if (S_ISREG(st.st_mode)) {
        const int fd = ::open(disk.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(writer.addFile(info, fd), unlha::WriteStatus::Ok) << name;
        ::close(fd);
        return;
    }
    ASSERT_EQ(writer.addFolder(info), unlha::WriteStatus::Ok);
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(disk))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    for (const auto &n : names)
        addSerially(writer, disk + "/" + n, name + "/" + n);
}

TEST(ParallelPack, SameArchiveAsTheMemberByMemberWriter) {
    TempDir dir;
    makeTree(dir / "in/tree");
    std::string message;
    ASSERT_EQ(runCommand(packLine(dir / "parallel.lzh", dir / "in", "tree"), &message), 0)
        << message;

    const int fd = ::open((dir / "serial.lzh").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    {
        unlha::SegmentScheduler scheduler;
        unlha::ArchiveWriter writer(fd, scheduler);
        addSerially(writer, dir / "in/tree", "tree");
        EXPECT_EQ(writer.finish(), unlha::WriteStatus::Ok);
    }
    ::close(fd);
    const auto parallel = readFile(dir / "parallel.lzh");
    const auto serial = readFile(dir / "serial.lzh");
    ASSERT_TRUE(parallel && serial);
    EXPECT_EQ(parallel->size(), serial->size());
    EXPECT_TRUE(*parallel == *serial);

    // Stored and packed members both occur; independent readers accept the archive.
    const Shell listing = shell("lhasa v " + quote(dir / "parallel.lzh"));
    EXPECT_NE(listing.output.find("-lh0-"), std::string::npos);
    EXPECT_NE(listing.output.find("-lh5-"), std::string::npos);
    EXPECT_EQ(shell("lhasa t " + quote(dir / "parallel.lzh") + " >/dev/null").status, 0);
    EXPECT_EQ(shell("bsdtar -xOf " + quote(dir / "parallel.lzh") + " >/dev/null").status, 0);
}

TEST(ParallelPack, RepeatedPackingGivesTheSameBytes) {
    TempDir dir;
    makeTree(dir / "in/tree");
    for (int round = 0; round < 3; ++round)
        ASSERT_EQ(
            runCommand(packLine(dir / ("r" + std::to_string(round) + ".lzh"), dir / "in", "tree")),
            0);
    const auto first = readFile(dir / "r0.lzh");
    ASSERT_TRUE(first);
    EXPECT_TRUE(readFile(dir / "r1.lzh") == first);
    EXPECT_TRUE(readFile(dir / "r2.lzh") == first);
}

} // namespace
