// Our archiver against an independent one, both ways, through the exported command line the
// program itself calls:
// - archives jlha made (tests/data/lha, see its README) extract to the tree their listing
//   records: paths byte for byte, sizes and CRC-32s;
// - an archive we pack is listed with the same members by jlha, lhasa, bsdtar and 7-Zip.
#include "test_files.h"
#include "unlha32.h"

#include <libdeflate.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using test_files::Bytes;

namespace {

const std::string kData = LHA_GOLDEN_DATA;

// Names as the listings write them: printable ASCII stays, every other byte and '\' is \xHH.
std::string escape(const std::string &bytes) {
    std::string out;
    for (const unsigned char c : bytes) {
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        out += c >= 0x20 && c < 0x7F && c != '\\' ? std::string(1, static_cast<char>(c)) : hex;
    }
    return out;
}

testing::AssertionResult unlha(const std::string &line) {
    char message[512] = "";
    const int result = Unlha(nullptr, line.c_str(), message, sizeof message);
    if (result == 0)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << line << ": " << std::hex << result << " " << message;
}

std::string unlhaQuote(const std::string &s) {
    return "\"" + s + "\"";
}

// The extracted tree as a listing: "dir - - PATH/" or "file SIZE CRC32 PATH", sorted by path.
std::vector<std::string> listTree(const std::string &root) {
    std::vector<std::pair<std::string, std::string>> rows;
    for (const auto &entry : fs::recursive_directory_iterator(root)) {
        const std::string path = escape(entry.path().native().substr(root.size() + 1));
        if (entry.is_directory() && !entry.is_symlink()) {
            rows.emplace_back(path + "/", "dir - - " + path + "/");
        } else if (entry.is_regular_file() && !entry.is_symlink()) {
            const Bytes data = test_files::readFile(entry.path()).value_or(Bytes{});
            char crc[9];
            std::snprintf(crc, sizeof crc, "%08x",
                          static_cast<unsigned>(libdeflate_crc32(0, data.data(), data.size())));
            rows.emplace_back(path, "file " + std::to_string(data.size()) + " " + crc + " " + path);
        } else {
            rows.emplace_back(path, "other - - " + path);
        }
    }
    std::sort(rows.begin(), rows.end());
    std::vector<std::string> lines;
    for (auto &row : rows)
        lines.push_back(std::move(row.second));
    return lines;
}

std::vector<std::string> readListing(const std::string &path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#')
            lines.push_back(line);
    return lines;
}

std::vector<std::string> goldenArchives() {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(kData))
        if (entry.path().extension() == ".lzh")
            names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

class Golden : public testing::TestWithParam<std::string> {};

TEST_P(Golden, ExtractsToItsListing) {
    const test_files::TempDir dir("lha-golden");
    const std::string out = dir / "out";
    fs::create_directory(out);
    ASSERT_TRUE(unlha("e -d -r2 -jyo0 " + unlhaQuote(kData + "/" + GetParam() + ".lzh") + " " +
                      unlhaQuote(out + "/") + " \"*\""));
    const std::vector<std::string> expected = readListing(kData + "/" + GetParam() + ".txt");
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(listTree(out), expected);
}

INSTANTIATE_TEST_SUITE_P(Jlha, Golden, testing::ValuesIn(goldenArchives()), [](const auto &p) {
    std::string name = p.param;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
});

// ---- Our archives, listed by other readers ----------------------------------------------------
//
// "Listed identically" means: the tool succeeds and lists exactly the members we packed, each
// once, as (kind, path, size) with kind folder or file, the path '/'-separated and relative as
// stored, compared byte for byte (a folder's trailing '/' dropped, the tool's display encoding
// undone: jlha prints each name byte as its Latin-1 character), and the size in bytes before
// packing (none for a folder). lhasa prints '?' for every byte outside printable ASCII, so with it
// our paths are compared with those bytes masked the same way. Order, dates, permissions, packed
// sizes and CRCs are not compared: the tools show them differently.

std::string memberLine(bool folder, std::string path, const std::string &size) {
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    return folder ? "dir " + escape(path) : "file " + size + " " + escape(path);
}

using NameMap = std::string (*)(const std::string &);

std::string same(const std::string &s) {
    return s;
}

std::string masked(const std::string &s) {
    std::string out = s;
    for (char &c : out)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F)
            c = '?';
    return out;
}

// Undoes a Latin-1 reading of the name bytes: U+0080 to U+00FF back to one byte each.
std::string fromLatin1(const std::string &s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if ((c == 0xC2 || c == 0xC3) && i + 1 < s.size())
            out += static_cast<char>((c & 0x03) << 6 | (static_cast<unsigned char>(s[++i]) & 0x3F));
        else
            out += s[i];
    }
    return out;
}

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// "lhasa v" and "jlha v", the same table: PACKED SIZE RATIO METHOD CRC MON DAY YEAR|TIME NAME,
// after a permissions column of one or two words, between two rules of dashes.
std::vector<std::string> parseLhaTable(const std::string &text, NameMap printedName) {
    std::vector<std::string> out;
    int rules = 0;
    for (const std::string &line : lines(text)) {
        if (line.rfind("----", 0) == 0) {
            ++rules;
            continue;
        }
        if (rules != 1)
            continue;
        std::istringstream in(line);
        std::vector<std::string> words;
        for (std::string w; in >> w && !(w.size() == 5 && w.rfind("-l", 0) == 0 && w[4] == '-');)
            words.push_back(w);
        std::string crc, month, day, yearOrTime, name;
        in >> crc >> month >> day >> yearOrTime >> std::ws;
        std::getline(in, name);
        const bool folder = line.find(" -lhd- ") != std::string::npos;
        out.push_back(memberLine(folder, printedName(name),
                                 words.size() >= 2 ? words[words.size() - 2] : "?"));
    }
    return out;
}

std::vector<std::string> parseJlha(const std::string &text) {
    return parseLhaTable(text, fromLatin1);
}

std::vector<std::string> parseLhasa(const std::string &text) {
    return parseLhaTable(text, same);
}

// "bsdtar tvf": MODE LINKS OWNER GROUP SIZE MON DAY YEAR|TIME NAME.
std::vector<std::string> parseBsdtar(const std::string &text) {
    std::vector<std::string> out;
    for (const std::string &line : lines(text)) {
        std::istringstream in(line);
        std::string mode, links, owner, group, size, month, day, yearOrTime, name;
        in >> mode >> links >> owner >> group >> size >> month >> day >> yearOrTime >> std::ws;
        std::getline(in, name);
        out.push_back(memberLine(!mode.empty() && mode[0] == 'd', name, size));
    }
    return out;
}

// "7z l -slt": a block of "Key = value" lines per member, after a rule when -ba is not known.
std::vector<std::string> parse7z(const std::string &text) {
    std::vector<std::string> out;
    std::vector<std::string> all = lines(text);
    auto it = std::find(all.begin(), all.end(), "----------");
    std::optional<std::string> path;
    std::string size;
    bool folder = false;
    auto flush = [&] {
        if (path)
            out.push_back(memberLine(folder, *path, size));
        path.reset();
    };
    for (it = it == all.end() ? all.begin() : it + 1; it != all.end(); ++it) {
        const size_t eq = it->find(" = ");
        const std::string key = it->substr(0, eq),
                          value = eq == std::string::npos ? "" : it->substr(eq + 3);
        if (key == "Path") {
            flush();
            path = value;
            size.clear();
            folder = false;
        } else if (key == "Size") {
            size = value;
        } else if (key == "Folder") {
            folder = value == "+";
        }
    }
    flush();
    return out;
}

std::optional<std::string> findProgram(const std::vector<std::string> &names) {
    const char *env = std::getenv("PATH");
    std::istringstream dirs(env ? env : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');)
        for (const std::string &name : names)
            if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0)
                return dir + "/" + name;
    return std::nullopt;
}

std::string shellQuote(const std::string &s) {
    std::string out = "'";
    for (const char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

struct Reader {
    std::string name;
    std::vector<std::string> programs; // the first found on PATH is used
    std::string package;
    std::string arguments; // before the archive
    std::vector<std::string> (*parse)(const std::string &);
    NameMap shownAs = same; // what of our paths the tool can show
};

const Reader kReaders[] = {
    {"jlha", {"jlha"}, "jlha-utils", "v", parseJlha},
    // Not as "lha": Debian points that name at jlha when both are installed.
    {"lhasa", {"lhasa"}, "lhasa", "v", parseLhasa, masked},
    {"bsdtar", {"bsdtar"}, "libarchive-tools", "tvf", parseBsdtar},
    {"7z", {"7z", "7zz", "7za"}, "7zip", "l -slt -ba", parse7z},
};

void PrintTo(const Reader &reader, std::ostream *out) {
    *out << reader.name;
}

class ListedBy : public testing::TestWithParam<Reader> {};

TEST_P(ListedBy, TheMembersWePacked) {
    const Reader &reader = GetParam();
    const auto program = findProgram(reader.programs);
    if (!program)
        GTEST_SKIP() << reader.name << " is not installed (Debian package " << reader.package
                     << "): this comparison did not run";
    const test_files::TempDir dir("lha-golden");
    // Folders nested and empty, an empty file, Japanese names, a name with a blank, content that
    // packs as -lh5- and content that does not (stored as -lh0-): all our packer writes.
    const std::string text(3000, 'x');
    const std::vector<std::pair<std::string, std::optional<Bytes>>> tree = {
        {"empty.txt", Bytes{}},
        {"text.txt", Bytes(text.begin(), text.end())},
        {"docs", std::nullopt},
        {"docs/a b.txt", Bytes{'a', ' ', 'b', '\n'}},
        {"docs/notes", std::nullopt},
        {"docs/notes/deep", std::nullopt},
        {"docs/notes/random.bin", test_files::randomBytes(1500, 7)},
        {"日本語", std::nullopt},
        {"日本語/メモ.txt", Bytes(400, 0xE3)},
    };
    std::vector<std::string> expected;
    test_files::makeFolder(dir / "in");
    for (const auto &[path, content] : tree) {
        if (content)
            test_files::writeFile(dir / ("in/" + path), *content);
        else
            test_files::makeFolder(dir / ("in/" + path));
        expected.push_back(memberLine(!content, reader.shownAs(path),
                                      std::to_string(content ? content->size() : 0)));
    }
    std::sort(expected.begin(), expected.end());
    const std::string archive = dir / "ours.lzh";
    ASSERT_TRUE(unlha("a -d -r2 " + unlhaQuote(archive) + " " + unlhaQuote(dir / "in/") +
                      " empty.txt text.txt docs 日本語"));

    // A fixed locale: jlha reads names as Shift_JIS under a Japanese one.
    const std::string command = "env -u JAVA_TOOL_OPTIONS LC_ALL=C.UTF-8 " + shellQuote(*program) +
                                " " + reader.arguments + " " + shellQuote(archive) + " 2>" +
                                shellQuote(dir / "stderr");
    std::string output;
    FILE *pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    const int status = ::pclose(pipe);
    const Bytes errors = test_files::readFile(dir / "stderr").value_or(Bytes{});
    ASSERT_EQ(status, 0) << command << "\n" << std::string(errors.begin(), errors.end());
    std::vector<std::string> listed = reader.parse(output);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, expected) << command << " printed:\n" << output;
}

INSTANTIATE_TEST_SUITE_P(Ours, ListedBy, testing::ValuesIn(kReaders),
                         [](const auto &p) { return p.param.name; });

} // namespace
