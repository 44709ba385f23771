#include "exit_codes.h"

#include <cstdio>

namespace cli {

int combinedExitCode(const std::vector<int> &codes) {
    int result = kExitOk;
    for (int code : codes) {
        if (code == kExitOk)
            continue;
        if (result == kExitOk)
            result = code;
        else if (result != code)
            return kExitMixed;
    }
    return result;
}

int exitWith(int code, const std::string &message) {
    std::fprintf(stderr, "tolvex-cli: %s\n", message.c_str());
    return code;
}

} // namespace cli
