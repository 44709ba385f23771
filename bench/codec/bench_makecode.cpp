// Runs one conversion the way the program does, for timing from the outside.
// Usage: bench_makecode encode|decode SOURCE OUTPUT_BASE TEMPLATE [KIND]
#include "engine.h"
#include "queries.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

int main(int argc, char **argv) {
    if (argc < 5 || (std::strcmp(argv[1], "encode") && std::strcmp(argv[1], "decode"))) {
        std::fprintf(stderr, "usage: %s encode|decode SOURCE OUTPUT_BASE TEMPLATE [KIND]\n",
                     argv[0]);
        return 2;
    }
    struct stat st;
    if (::stat(argv[2], &st) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    // The program's rule: the smaller of the file's length and a tenth of the free memory.
    const int64_t tenth = int64_t(tolvex::memoryFigure(2) / 10);
    const int64_t size = std::min<int64_t>({int64_t(st.st_size), tenth, INT32_MAX});

    tolvex::ConvertRequest r;
    const bool encode = argv[1][0] == 'e';
    r.source = argv[2];
    r.outputBase = argv[3];
    r.templatePath = argv[4];
    r.keyCode = 0x5A17C0DE;
    r.mode = encode ? 0 : 1; // the runner removes each output before the next run
    r.kind = argc > 5 ? std::atoi(argv[5]) : 0;
    r.bufferSize = int32_t(size);
    const int32_t result = tolvex::convert(r);
    if (result != 0) {
        std::fprintf(stderr, "conversion failed with result %d\n", result);
        return 1;
    }
    return 0;
}
