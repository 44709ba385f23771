#include "archiver_commands.h"

namespace archiver_commands {
namespace {

std::string quoted(std::string_view s) {
    return '"' + std::string(s) + '"';
}

std::string withSlash(const std::string &folder) {
    return !folder.empty() && folder.back() == '/' ? folder : folder + "/";
}

// "photos/" and "photos//" name the folder "photos"; "/" stays the root.
std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

} // namespace

bool canCarry(std::string_view path) {
    return path.find(kUnquotable) == std::string_view::npos;
}

std::optional<std::string> packCommandLine(const std::string &archive, const std::string &input) {
    if (!canCarry(archive) || !canCarry(input))
        return std::nullopt;
    const std::string path = withoutTrailingSlashes(input);
    const auto cut = path.rfind('/') + 1; // npos + 1 is 0: no folder part
    return "a -d -r2 " + quoted(archive) + " " + quoted(std::string_view(path).substr(0, cut)) +
           " " + quoted(std::string_view(path).substr(cut));
}

std::optional<std::string> extractCommandLine(const std::string &archive,
                                              const std::string &folder) {
    if (!canCarry(archive) || !canCarry(folder))
        return std::nullopt;
    return "e -d -r2 -jyo0 " + quoted(archive) + " " + quoted(withSlash(folder)) + " " +
           quoted("*");
}

} // namespace archiver_commands
