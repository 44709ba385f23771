#include "support.h"

#include "command_line.h"
#include "commands.h"
#include "unlha32.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace archiver_test {

Bytes textBytes(size_t length, uint32_t seed) {
    static const char *kWords[] = {
        "the ",     "archive ", "member ", "header ",         "window ", "match ",
        "length ",  "code ",    "table ",  "block\n",         "static ", "of ",
        "Huffman ", "and ",     "a ",      "{ return x; }\n", "int ",    "0x2F, "};
    std::mt19937 random(seed);
    Bytes out;
    out.reserve(length + 16);
    while (out.size() < length) {
        const char *w = kWords[random() % (sizeof kWords / sizeof *kWords)];
        out.insert(out.end(), w, w + std::char_traits<char>::length(w));
    }
    out.resize(length);
    return out;
}

std::vector<Entry> snapshot(const std::string &folder) {
    std::vector<Entry> entries;
    for (auto it = fs::recursive_directory_iterator(folder);
         it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = fs::relative(it->path(), folder).string();
        if (it->is_directory())
            entries.push_back({rel + "/", std::nullopt});
        else if (it->is_regular_file())
            entries.push_back({rel, readFile(it->path().string())});
        else
            entries.push_back({rel, Bytes{}});
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry &a, const Entry &b) { return a.path < b.path; });
    return entries;
}

std::vector<std::string> allPaths(const std::string &folder) {
    std::vector<std::string> paths;
    for (const auto &e : snapshot(folder))
        paths.push_back(e.path);
    return paths;
}

int runCommand(const std::string &line, std::string *message) {
    std::string text;
    const auto command = unlha::parseCommand(line, text);
    int result = UNLHA_ERROR_COMMAND;
    if (command)
        result = command->action == unlha::Action::Pack ? unlha::packArchive(*command, text)
                                                        : unlha::extractArchive(*command, text);
    if (message)
        *message = text;
    return result;
}

std::string quote(const std::string &s) {
    return "\"" + s + "\"";
}

Shell shell(const std::string &command) {
    // The outside tools must read our UTF-8 names as UTF-8 whatever locale the suite runs in
    // (bsdtar refuses a name it cannot convert under the plain C locale).
    ::setenv("LC_ALL", "C.UTF-8", 1);
    Shell result{-1, {}};
    FILE *p = ::popen(command.c_str(), "r");
    if (!p)
        return result;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
        result.output.append(buffer, n);
    const int status = ::pclose(p);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace archiver_test
