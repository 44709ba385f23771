// Hostile conditions around a conversion: sources that are not files, a process killed or cut
// off by the file-size limit while writing, a name taken while the output is written, and a
// progress callback that throws on the path where a second thread writes.
#include "halvet_tolvex.h"
#include "system_refusals.h"
#include "test_support.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <new>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testing_support;

namespace {

// Runs `body` in a child process and returns its wait status. A child that would block
// forever is ended by its alarm, which the caller sees as a signal, not as a result.
int inChild(const std::function<int()> &body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(60);
        ::_exit(uint8_t(body()));
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

int32_t resultOf(int status) {
    EXPECT_TRUE(WIFEXITED(status))
        << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    return WIFEXITED(status) ? int8_t(WEXITSTATUS(status)) : 1000;
}

constexpr uint32_t kKey = 0x5EED;

// The request keeps pointers into `source` and `base`: they must outlive it.
tolvex::ConvertRequest request(const std::string &source, const std::string &base, int32_t mode) {
    tolvex::ConvertRequest r;
    r.source = source.c_str();
    r.outputBase = base.c_str();
    r.keyCode = kKey;
    r.mode = mode;
    r.bufferSize = 1 << 20;
    r.templatePath = TOLVEX_TEMPLATE_FILE;
    r.fillerSeed = 9;
    return r;
}

TEST(SourceType, FifoIsRefusedWithoutBlocking) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "pipe.txt").c_str(), 0600), 0);
    for (int32_t mode : {0, 1, 2, 3}) {
        const std::string source = dir / "pipe.txt";
        const std::string base = dir / "out";
        EXPECT_EQ(resultOf(inChild([&] { return runEngine(source, base, 1, mode, 0); })),
                  TOLVEX_CANNOT_OPEN)
            << mode;
    }
    EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{"pipe.txt"});
}

TEST(SourceType, DeviceIsRefused) {
    TempDir dir;
    EXPECT_EQ(runEngine("/dev/null", dir / "out", 1, 0, 0), TOLVEX_CANNOT_OPEN);
    EXPECT_EQ(resultOf(inChild([&] { return runEngine("/dev/zero", dir / "out", 1, 0, 0); })),
              TOLVEX_CANNOT_OPEN);
    EXPECT_TRUE(listFolder(dir.path()).empty());
}

// In a child: without `unnamed`, unnamed files are refused from now on, as a file system without
// them does, and the output is held under a named temporary. False when that failed.
bool temporariesAs(bool unnamed) {
    return unnamed || test_files::refuseUnnamedFiles();
}

// The named temporaries of ours in the folder.
size_t namedTemporaries(const TempDir &dir) {
    const auto names = listFolder(dir.path());
    return size_t(std::count_if(names.begin(), names.end(), [](const std::string &name) {
        return name.rfind(".tolvex-", 0) == 0;
    }));
}

// One row per mode and per kind of temporary (unnamed, or the named stand-in).
struct KillCase {
    int32_t mode;
    bool unnamed;
};

class KilledWhileWriting : public testing::TestWithParam<KillCase> {
  protected:
    // The source for the mode (a plain file to encode, or an encoded one to decode), and the
    // final output's path; `previous` is there before when the mode replaces.
    void prepare(TempDir &dir, std::string &source, std::string &output, bool withPrevious) {
        const Bytes content = randomBytes(6 << 20, 21);
        writeFile(dir / "plain.bin", content);
        const bool encoding = GetParam().mode == 0 || GetParam().mode == 2;
        if (encoding) {
            source = dir / "plain.bin";
            output = dir / "out.tvx";
        } else {
            ASSERT_EQ(runEngine(dir / "plain.bin", dir / "enc", kKey, 0, 0), TOLVEX_OK);
            std::filesystem::remove(dir / "plain.bin");
            source = dir / "enc.tvx";
            output = dir / "out.bin";
        }
        if (withPrevious)
            writeFile(output, std::string("previous"));
    }

    // What the folder holds once a later run has created an output there.
    std::vector<std::string> afterNextRun(TempDir &dir) {
        writeFile(dir / "later.txt", std::string("x"));
        EXPECT_EQ(runEngine(dir / "later.txt", dir / "later", 1, 0, 0), TOLVEX_OK);
        std::filesystem::remove(dir / "later.txt");
        std::filesystem::remove(dir / "later.tvx");
        return listFolder(dir.path());
    }

    // After the next run in the folder, only the source (and the old output being replaced) are
    // left: no temporary of the killed run survives.
    void expectOnlyTheSourceAndOldOutput(TempDir &dir, const std::string &source,
                                         const std::string &output, bool replacing) {
        std::vector<std::string> expected{std::filesystem::path(source).filename()};
        if (replacing)
            expected.push_back(std::filesystem::path(output).filename());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(afterNextRun(dir), expected) << "no temporary survives the next run";
    }
};

void killSelfAfterFirstPieces(void *, uint64_t done, uint64_t) {
    if (done >= (1u << 20))
        ::raise(SIGKILL);
}

TEST_P(KilledWhileWriting, SigkillLeavesNoFileUnderTheFinalName) {
    TempDir dir;
    std::string source, output;
    const bool replacing = GetParam().mode >= 2;
    prepare(dir, source, output, replacing);
    const std::string base = dir / "out";
    const int status = inChild([&] {
        if (!temporariesAs(GetParam().unnamed))
            return 98;
        auto r = request(source, base, GetParam().mode);
        r.progress = killSelfAfterFirstPieces;
        return tolvex::convert(r);
    });
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    EXPECT_EQ(namedTemporaries(dir), GetParam().unnamed ? 0u : 1u) << "the kind of temporary";
    if (replacing)
        EXPECT_EQ(readFile(output)->size(), 8u) << "the old file stays as it was";
    else
        EXPECT_FALSE(exists(output));
    expectOnlyTheSourceAndOldOutput(dir, source, output, replacing);
}

TEST_P(KilledWhileWriting, FileSizeLimitLeavesNoFileUnderTheFinalName) {
    TempDir dir;
    std::string source, output;
    const bool replacing = GetParam().mode >= 2;
    prepare(dir, source, output, replacing);
    const std::string base = dir / "out";
    const int status = inChild([&] {
        if (!temporariesAs(GetParam().unnamed))
            return 98;
        const rlimit rl{3 << 20, 3 << 20}; // SIGXFSZ keeps its default: the process ends
        ::setrlimit(RLIMIT_FSIZE, &rl);
        return tolvex::convert(request(source, base, GetParam().mode));
    });
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
    EXPECT_EQ(namedTemporaries(dir), GetParam().unnamed ? 0u : 1u) << "the kind of temporary";
    if (replacing)
        EXPECT_EQ(readFile(output)->size(), 8u);
    else
        EXPECT_FALSE(exists(output));
    expectOnlyTheSourceAndOldOutput(dir, source, output, replacing);
}

INSTANTIATE_TEST_SUITE_P(Modes, KilledWhileWriting,
                         testing::Values(KillCase{0, true}, KillCase{1, true}, KillCase{2, true},
                                         KillCase{3, true}, KillCase{0, false}, KillCase{1, false},
                                         KillCase{2, false}, KillCase{3, false}),
                         [](const testing::TestParamInfo<KillCase> &row) {
                             return "Mode" + std::to_string(row.param.mode) +
                                    (row.param.unnamed ? "Unnamed" : "Named");
                         });

// A file that takes the output's name while the output is still being written.
struct Intruder {
    std::string path;
    bool placed = false;
};

void placeIntruder(void *context, uint64_t, uint64_t) {
    auto *intruder = static_cast<Intruder *>(context);
    if (!intruder->placed) {
        writeFile(intruder->path, std::string("someone else's"));
        intruder->placed = true;
    }
}

TEST(NameTakenMeanwhile, AnswersOutputExistsAndKeepsTheOtherFile) {
    for (bool unnamed : {true, false}) {
        TempDir dir;
        writeFile(dir / "plain.bin", randomBytes(100000, 5));
        Intruder intruder{dir / "out.tvx"};
        const std::string source = dir / "plain.bin", base = dir / "out";
        const int status = inChild([&] {
            if (!temporariesAs(unnamed))
                return 98;
            auto r = request(source, base, 0);
            r.progress = placeIntruder;
            r.progressContext = &intruder;
            return tolvex::convert(r);
        });
        EXPECT_EQ(resultOf(status), TOLVEX_OUTPUT_EXISTS) << unnamed;
        const std::string other = "someone else's";
        EXPECT_EQ(readFile(dir / "out.tvx"), Bytes(other.begin(), other.end()));
        EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"out.tvx", "plain.bin"}));
    }
}

void throwRuntime(void *, uint64_t done, uint64_t) {
    if (done >= (1u << 20))
        throw std::runtime_error("callback failed");
}
void throwBadAlloc(void *, uint64_t done, uint64_t) {
    if (done >= (1u << 20))
        throw std::bad_alloc();
}

// The large input takes the path where a second thread writes while this one reads.
TEST(CallbackThrows, OnTheWriterThreadPathBecomesTheResultCode) {
    TempDir dir;
    writeFile(dir / "plain.bin", randomBytes(5 << 20, 6));
    const std::string source = dir / "plain.bin", base = dir / "out";
    for (int32_t mode : {0, 2}) {
        using Callback = void (*)(void *, uint64_t, uint64_t);
        const std::pair<Callback, int32_t> cases[] = {{throwRuntime, TOLVEX_CANNOT_OPEN},
                                                      {throwBadAlloc, TOLVEX_NO_MEMORY}};
        for (const auto &[callback, expected] : cases) {
            const int status = inChild([&] {
                auto r = request(source, base, mode);
                r.progress = callback;
                return tolvex::convert(r);
            });
            EXPECT_EQ(resultOf(status), expected) << mode;
            EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{"plain.bin"}) << mode;
        }
    }
}

TEST(Cancel, StopsTheCallWithNothingLeft) {
    TempDir dir;
    writeFile(dir / "plain.bin", randomBytes(3 << 20, 7));
    const std::atomic<bool> stop{true};
    const std::string source = dir / "plain.bin", base = dir / "out";
    auto r = request(source, base, 0);
    r.cancel = &stop;
    EXPECT_EQ(tolvex::convert(r), TOLVEX_CANNOT_OPEN);
    EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{"plain.bin"});
}

} // namespace
