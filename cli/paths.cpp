#include "paths.h"

#include "engine.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

std::string programFolder() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    return folderName(std::string(buffer, size_t(n)));
}

std::string findTemplate(const std::string &folder) {
    struct stat st;
    if (!folder.empty()) {
        const std::string beside = folder + "/Tolvex.dat";
        if (::stat(beside.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            return beside;
    }
    char cwd[PATH_MAX];
    if (::stat("Tolvex.dat", &st) == 0 && S_ISREG(st.st_mode) && ::getcwd(cwd, sizeof cwd))
        return std::string(cwd) + "/Tolvex.dat";
    return {};
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string baseName(const std::string &path) {
    const std::string p = withoutTrailingSlashes(path);
    const auto slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string folderName(const std::string &path) {
    const std::string p = withoutTrailingSlashes(path);
    const auto slash = p.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : p.substr(0, slash);
}

std::string stem(const std::string &name) {
    const std::string_view extension = tolvex::extensionOf(name);
    if (extension.size() + 1 >= name.size() && name.find('.') == 0)
        return name;
    if (extension.empty() && (name.empty() || name.back() != '.'))
        return name;
    return name.substr(0, name.size() - extension.size() - 1);
}

} // namespace cli
