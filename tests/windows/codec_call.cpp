// codec_call MODE KEY KIND BUFFER SOURCE OUTPUT-BASE
// Prints MakeCode's result code; the exit status is 0 whenever the call was made.
#include "codec_call.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: codec_call MODE KEY KIND BUFFER SOURCE OUTPUT-BASE\n");
        return 2;
    }
    const MakeCodeFunction makeCode = bindMakeCode();
    if (!makeCode)
        return 3;
    const auto mode = int32_t(std::strtol(argv[1], nullptr, 0));
    const auto key = uint32_t(std::strtoul(argv[2], nullptr, 16));
    const auto kind = int32_t(std::strtol(argv[3], nullptr, 0));
    const auto buffer = int32_t(std::strtol(argv[4], nullptr, 0));
    std::printf("%d\n", int(makeCode(argv[5], argv[6], key, mode, kind, buffer)));
    return 0;
}
