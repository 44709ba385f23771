// The shared library as callers see it: its export list, MakeCode reading "Tolvex.dat" from the
// working directory, FindLzh finding the archiver library beside it, and GetMemDat.
#include "halvet_tolvex.h"
#include "test_support.h"

#include "loaded_library.h"
#include <cstdio>
#include <dlfcn.h>
#include <filesystem>

#include <gtest/gtest.h>
#include <set>
#include <sys/sysinfo.h>
#include <unistd.h>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const std::string kCodecLibrary = std::string(TOLVEX_BIN_DIR) + "/libHalvet_Tolvex.so";

// A loaded copy of the codec library with its exports bound by name, as the program binds them.
using CodecLibrary = test_files::LoadedLibrary;

using MakeCodeFn = int32_t (*)(const char *, const char *, uint32_t, int32_t, int32_t, int32_t);
using FindLzhFn = uint32_t (*)();
using GetMemDatFn = uint32_t (*)(uint32_t);

// Runs with the working directory changed, as the program runs from its folder.
class WorkingDirectory {
  public:
    explicit WorkingDirectory(const std::string &path) : m_old(fs::current_path()) {
        fs::current_path(path);
    }
    ~WorkingDirectory() { fs::current_path(m_old); }

  private:
    fs::path m_old;
};

TEST(Exports, ExactlyTheFourNamesAreExported) {
    FILE *nm = ::popen(("nm -D --defined-only '" + kCodecLibrary + "'").c_str(), "r");
    ASSERT_NE(nm, nullptr);
    std::set<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, nm)) {
        char address[64], type[8], name[400];
        if (std::sscanf(line, "%63s %7s %399s", address, type, name) == 3)
            names.insert(name);
    }
    ASSERT_EQ(::pclose(nm), 0);
    EXPECT_EQ(names, (std::set<std::string>{"MakeCode", "FindLzh", "GetMemDat",
                                            "_ZN14CHalvet_TolvexaSERKS_"}));
}

TEST(Exports, MakeCodeReadsTheTemplateFromTheWorkingDirectory) {
    CodecLibrary codec(kCodecLibrary);
    ASSERT_TRUE(codec.loaded()) << ::dlerror();
    auto makeCode = codec.bind<MakeCodeFn>("MakeCode");
    ASSERT_NE(makeCode, nullptr);

    TempDir dir;
    const Bytes content = randomBytes(1234, 5);
    writeFile(dir / "in.doc", content);
    {
        WorkingDirectory cwd(dir.path());
        EXPECT_EQ(makeCode("in.doc", "enc", 0xFEED, 0, 10, 1234), TOLVEX_TEMPLATE_MISSING);
        fs::copy_file(TOLVEX_TEMPLATE_FILE, "Tolvex.dat");
        EXPECT_EQ(makeCode("in.doc", "enc", 0xFEED, 0, 10, 1234), TOLVEX_OK);
        EXPECT_EQ(makeCode("enc.tgz", "dec", 0xFEED, 1, 0, 1234), TOLVEX_OK);
        fs::remove("Tolvex.dat");
        EXPECT_EQ(makeCode("enc.tgz", "dec2", 0xFEED, 1, 0, 1234), TOLVEX_TEMPLATE_MISSING);
    }
    EXPECT_EQ(readFile(dir / "dec.doc"), content);
}

// FindLzh from a copy of the codec library in a folder of its own, beside whichever archiver
// library the case puts there.
uint32_t findLzhBeside(const char *archiverLibrary) {
    TempDir dir;
    fs::copy_file(kCodecLibrary, dir / "libHalvet_Tolvex.so");
    if (archiverLibrary)
        fs::copy_file(archiverLibrary, dir / "libunlha32.so");
    CodecLibrary codec(dir / "libHalvet_Tolvex.so");
    EXPECT_TRUE(codec.loaded()) << ::dlerror();
    if (!codec.loaded())
        return 0xDEAD;
    auto findLzh = codec.bind<FindLzhFn>("FindLzh");
    const uint32_t first = findLzh();
    EXPECT_EQ(findLzh(), first) << "nothing cached or left over between calls";
    return first;
}

TEST(Exports, FindLzhKeepsTheLow16BitsOfTheVersion) {
    EXPECT_EQ(findLzhBeside(FAKE_UNLHA_VERSIONED), 0x2345u);
}

TEST(Exports, FindLzhGivesZeroWithoutVersionFunctionOrLibrary) {
    EXPECT_EQ(findLzhBeside(FAKE_UNLHA_UNVERSIONED), 0u);
    EXPECT_EQ(findLzhBeside(nullptr), 0u);
}

TEST(Exports, FindLzhUnloadsTheArchiverLibrary) {
    TempDir dir;
    fs::copy_file(kCodecLibrary, dir / "libHalvet_Tolvex.so");
    fs::copy_file(FAKE_UNLHA_VERSIONED, dir / "libunlha32.so");
    CodecLibrary codec(dir / "libHalvet_Tolvex.so");
    ASSERT_TRUE(codec.loaded());
    ASSERT_EQ(codec.bind<FindLzhFn>("FindLzh")(), 0x2345u);
    // Still loaded, RTLD_NOLOAD would hand back a handle.
    const std::string archiver = dir / "libunlha32.so";
    EXPECT_EQ(::dlopen(archiver.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
}

TEST(Exports, GetMemDatReportsEachFigure) {
    CodecLibrary codec(kCodecLibrary);
    ASSERT_TRUE(codec.loaded());
    auto getMemDat = codec.bind<GetMemDatFn>("GetMemDat");
    struct sysinfo si;
    ASSERT_EQ(::sysinfo(&si), 0);
    const uint64_t total = uint64_t(si.totalram) * si.mem_unit;

    EXPECT_LE(getMemDat(0), 100u);
    EXPECT_EQ(getMemDat(1), uint32_t(std::min<uint64_t>(total, UINT32_MAX)));
    EXPECT_GT(getMemDat(2), 0u);
    EXPECT_LE(uint64_t(getMemDat(2)), total);
    EXPECT_GT(getMemDat(3), 0u);
    EXPECT_LE(getMemDat(4), getMemDat(3));
    for (uint32_t index : {5u, 1000u, uint32_t(-1)})
        EXPECT_EQ(getMemDat(index), 0u) << index;
}

} // namespace
