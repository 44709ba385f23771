// Feeds arbitrary files to the archiver as archives to extract, through the exported Unlha
// and its "e" command, into a fresh folder each time. Whatever the input: no crash, nothing
// written outside that folder, no temporary left behind, and a result the header documents.
#include "unlha32.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string g_folder; // holds the archive and the destination, nothing else

void fail(const char *what, const std::string &detail) {
    std::fprintf(stderr, "extraction fault: %s %s\n", what, detail.c_str());
    std::abort();
}

bool documented(int result) {
    switch (result & 0xFFFF) {
    case UNLHA_OK:
    case UNLHA_ERROR_READ:
    case UNLHA_ERROR_WRITE:
    case UNLHA_ERROR_DAMAGED:
    case UNLHA_ERROR_UNSAFE:
    case UNLHA_ERROR_NAME:
    case UNLHA_ERROR_NO_SPACE:
    case UNLHA_ERROR_NO_MATCH:
    case UNLHA_ERROR_TOO_LARGE:
    case UNLHA_ERROR_UNSUPPORTED:
        return true;
    default:
        return false; // not found, a command error or an internal failure: none can happen here
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // Memory-backed when possible: deep folders are slow to create on a disk.
    std::string pattern =
        ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/unlha-fuzz-XXXXXX" : "/tmp/unlha-fuzz-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        std::abort();
    g_folder = pattern;
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(g_folder, ignored);
    });
    // A lock folder of its own: the fuzzer neither waits for nor delays other archiving.
    ::setenv("UNLHA32_LOCK_DIR", (g_folder + "/lock").c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string archive = g_folder + "/in.lzh";
    const std::string out = g_folder + "/out";
    FILE *f = std::fopen(archive.c_str(), "wb");
    if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0)
        std::abort();
    ::mkdir(out.c_str(), 0700);

    char message[256];
    const int result =
        Unlha(nullptr, ("e -d -r2 -jyo0 \"" + archive + "\" \"" + out + "/\" \"*\"").c_str(),
              message, sizeof message);
    if (!documented(result))
        fail("undocumented result", std::to_string(result) + " " + message);

    const std::set<std::string> expected = {"in.lzh", "out", "lock"};
    for (const auto &e : fs::directory_iterator(g_folder))
        if (!expected.count(e.path().filename().string()))
            fail("written outside the destination:", e.path().string());
    bool any = false;
    for (auto it = fs::recursive_directory_iterator(out); it != fs::recursive_directory_iterator();
         ++it) {
        any = true;
        // Temporaries (".unlha-" and ten letters or digits) are only ever made at the top.
        const std::string name = it->path().filename().string();
        if (it.depth() == 0 && name.size() == 17 && name.rfind(".unlha-", 0) == 0)
            fail("temporary left behind:", it->path().string());
        if (it->is_symlink())
            fail("a link was extracted:", it->path().string());
    }
    if (any && (result & 0xFFFF) != UNLHA_OK)
        fail("a failed extraction left files:", message);
    fs::remove_all(out);
    return 0;
}
