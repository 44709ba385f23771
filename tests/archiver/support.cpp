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

TempDir::TempDir() {
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/unlha-test-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(
             m_path, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(m_path, ec);
}

void writeFile(const std::string &path, const Bytes &content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(content.data()), std::streamsize(content.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

void writeFile(const std::string &path, const std::string &content) {
    writeFile(path, Bytes(content.begin(), content.end()));
}

std::optional<Bytes> readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void makeFolder(const std::string &path) { fs::create_directories(path); }

bool exists(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

Bytes randomBytes(size_t length, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes out(length);
    for (auto &b : out)
        b = uint8_t(random());
    return out;
}

Bytes textBytes(size_t length, uint32_t seed) {
    static const char *kWords[] = {"the ", "archive ", "member ", "header ", "window ", "match ",
                                   "length ", "code ", "table ", "block\n", "static ", "of ",
                                   "Huffman ", "and ", "a ", "{ return x; }\n", "int ", "0x2F, "};
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

std::string quote(const std::string &s) { return "\"" + s + "\""; }

Shell shell(const std::string &command) {
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
