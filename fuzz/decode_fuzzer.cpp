// Feeds arbitrary files to the decoder. Input: one control byte, then the file to decode.
// With the control byte odd, the key is chosen so that the key check passes, which carries
// the input past the check into the extension and payload handling; otherwise the next four
// bytes are the key. Whatever the input, the decoder must not crash, and it may only ever
// write the output it was asked for, inside the output folder.
#include "engine.h"
#include "layout.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string g_folder;
std::string g_template;

// The key that makes the stored key-check word match, as far as the file allows.
uint32_t keyPassingTheCheck(const uint8_t *file, size_t size) {
    const auto header = tolvex::headerLengthFor({file, size < 8 ? size : 8});
    if (!header || size < *header + tolvex::kControlRecordSize)
        return 0;
    const uint8_t *record = file + *header;
    int n = int8_t(record[tolvex::record::kExtensionLength]);
    if (n < 0 || n > int(tolvex::kExtensionFieldSize))
        n = 0;
    const std::string extension(reinterpret_cast<const char *>(record + tolvex::record::kExtension),
                                size_t(n));
    return tolvex::loadLe32(record + tolvex::record::kCheckWord) ^
           uint32_t(tolvex::extensionChecksum(extension)) ^ tolvex::kKeyWhitening;
}

void failIfStrayFiles(const std::string &folder) {
    DIR *d = ::opendir(folder.c_str());
    if (!d)
        std::abort();
    while (const dirent *e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        if (name.rfind("x", 0) != 0) {
            std::fprintf(stderr, "decoder wrote outside its output: %s\n", name.c_str());
            std::abort();
        }
        ::unlink((folder + "/" + name).c_str());
    }
    ::closedir(d);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    char pattern[] = "/tmp/tolvex-fuzz-XXXXXX";
    if (!::mkdtemp(pattern))
        std::abort();
    g_folder = pattern;
    ::mkdir((g_folder + "/out").c_str(), 0700);
    const char *templ = std::getenv("TOLVEX_TEMPLATE_FILE");
    g_template = templ ? templ : TOLVEX_TEMPLATE_FILE;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    const bool passCheck = data[0] & 1;
    ++data, --size;
    uint32_t key = 0;
    if (passCheck) {
        key = keyPassingTheCheck(data, size);
    } else if (size >= 4) {
        key = tolvex::loadLe32(data);
        data += 4, size -= 4;
    }
    const std::string input = g_folder + "/input";
    FILE *f = std::fopen(input.c_str(), "wb");
    if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0)
        std::abort();

    tolvex::ConvertRequest r;
    r.source = input.c_str();
    const std::string base = g_folder + "/out/x";
    r.outputBase = base.c_str();
    r.keyCode = key;
    r.mode = 3;
    r.bufferSize = int32_t(size % 64);
    r.templatePath = g_template.c_str();
    const int32_t result = tolvex::convert(r);
    if (result != 0 && result != 2 && result != -4)
        std::abort(); // any other answer to a readable file is a fault
    failIfStrayFiles(g_folder + "/out");
    return 0;
}
