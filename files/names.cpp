#include "names.h"

#include "fd.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvex::files {

std::string descriptorPath(int fd) {
    static const bool mounted = ::access("/proc/self/fd", X_OK) == 0;
    return mounted ? "/proc/self/fd/" + std::to_string(fd) : std::string();
}

bool sameFile(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool sameFileAt(int folder, const std::string &name, const std::string &input) {
    const auto out = statusAt(folder, name, true);
    const auto in = statusAt(AT_FDCWD, input, true);
    return out && in && sameFile(*out, *in);
}

bool removeIfStill(int folder, const std::string &name, const struct stat &held) {
    const auto now = statusAt(folder, name, false);
    return now && sameFile(*now, held) && ::unlinkat(folder, name.c_str(), 0) == 0;
}

std::optional<std::string> resolvedPath(const std::string &path) {
    char *resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return std::nullopt;
    std::string out = resolved;
    std::free(resolved);
    return out;
}

} // namespace tolvex::files
