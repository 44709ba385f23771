// Archives other LHA implementations wrote (tests/data/lha/foreign, see its README), extracted
// through the exported command line: each either writes exactly the members its headers record
// (listing.txt: kind, path, length, CRC-16, method) or is refused with a message naming the
// member and the cause; never a success with less.
#include "test_files.h"
#include "unlha32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/statvfs.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kForeign = std::string(LHA_GOLDEN_DATA) + "/foreign";

struct Recorded {
    bool folder = false;
    std::string path; // as the archive records it
    uint64_t length = 0;
    uint16_t crc = 0;
};

// The members listing.txt records for one archive.
std::vector<Recorded> recorded(const std::string &archive) {
    std::ifstream in(kForeign + "/listing.txt");
    std::vector<Recorded> members;
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[') {
            inside = line == "[" + archive + "]";
            continue;
        }
        if (!inside)
            continue;
        std::istringstream fields(line);
        std::string kind, path, length, crc;
        std::getline(fields, kind, '\t');
        std::getline(fields, path, '\t');
        std::getline(fields, length, '\t');
        std::getline(fields, crc, '\t');
        members.push_back({kind == "folder", path, std::stoull(length),
                           static_cast<uint16_t>(std::stoul(crc, nullptr, 16))});
    }
    return members;
}

// LHA's CRC-16 (polynomial 0xA001, reflected, from 0), over a whole file read in pieces. From
// 0, zeros leave it 0: a run of them is skipped.
uint16_t fileCrc16(const std::string &path, uint64_t &length) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> buffer(size_t(1) << 20);
    uint16_t crc = 0;
    length = 0;
    while (in.read(buffer.data(), std::streamsize(buffer.size())) || in.gcount() > 0) {
        const size_t n = size_t(in.gcount());
        length += n;
        if (crc == 0 && buffer[0] == 0 && std::memcmp(buffer.data(), buffer.data() + 1, n - 1) == 0)
            continue;
        for (size_t i = 0; i < n; ++i) {
            crc ^= static_cast<uint8_t>(buffer[i]);
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
        }
    }
    return crc;
}

// Every path below `root`, folders ending in '/'.
std::vector<std::string> extracted(const std::string &root) {
    std::vector<std::string> paths;
    for (const auto &entry : fs::recursive_directory_iterator(root))
        paths.push_back(entry.path().native().substr(root.size() + 1) +
                        (entry.is_directory() ? "/" : ""));
    std::sort(paths.begin(), paths.end());
    return paths;
}

// Below the destination: a recorded leading '/' is dropped.
std::string below(std::string path) {
    path.erase(0, std::min(path.find_first_not_of('/'), path.size()));
    return path;
}

struct Sample {
    std::string archive;
    int result = UNLHA_OK;
    std::string message; // a refusal's message, or part of it
    // A member written other than as recorded: the data fork of a MacBinary member, its
    // length and CRC-16.
    std::map<std::string, std::pair<uint64_t, uint16_t>> written = {};
};

const Sample kSamples[] = {
    {"lha_os9_211c-h1_lh0.lzh", UNLHA_OK, ""},
    {"lhark04d-lh7.lzh",
     UNLHA_ERROR_UNSUPPORTED,
     "LHARK's -lh7- variant is not supported in GPL-2",
     {}},
    {"lhmelt_16536-h1_subdir.lzh", UNLHA_OK, ""},
    // Its data fork is GPL-2 as LHARK's member holds it.
    {"maclha_224-l2_lh5.lzh", UNLHA_OK, "", {{"gpl-2", {18092, 0xa33a}}}},
    {"morphos_lha_2717-h2_huge.lzh", UNLHA_OK, ""},
    {"pmarc2-pm2.pma", UNLHA_OK, ""},
};

void PrintTo(const Sample &sample, std::ostream *out) {
    *out << sample.archive;
}

class Foreign : public testing::TestWithParam<Sample> {};

TEST_P(Foreign, ExtractsAsTheHeadersSayOrRefusesByName) {
    const Sample &sample = GetParam();
    const std::vector<Recorded> members = recorded(sample.archive);
    ASSERT_FALSE(members.empty()) << "no listing for " << sample.archive;
    const test_files::TempDir dir("lha-foreign");
    const std::string out = dir / "out";
    fs::create_directory(out);
    uint64_t total = 0;
    for (const auto &m : members)
        total += m.length;
    struct statvfs vfs {};
    ASSERT_EQ(::statvfs(out.c_str(), &vfs), 0);
    if (total > uint64_t(vfs.f_bavail) * vfs.f_frsize - total / 16)
        GTEST_SKIP() << sample.archive << " needs " << total << " bytes free in " << out
                     << " to extract: not tried";

    char message[512] = "";
    const std::string line =
        "e -d -r2 -jyo0 \"" + kForeign + "/" + sample.archive + "\" \"" + out + "/\" \"*\"";
    const int result = Unlha(nullptr, line.c_str(), message, sizeof message);
    ASSERT_EQ(result, sample.result) << message;
    if (result != UNLHA_OK) {
        EXPECT_NE(std::string(message).find(sample.message), std::string::npos) << message;
        EXPECT_TRUE(extracted(out).empty());
        return;
    }
    std::vector<std::string> expected;
    for (const auto &m : members) {
        const std::string path = below(m.path);
        expected.push_back(path);
        if (m.folder) {
            EXPECT_TRUE(fs::is_directory(out + "/" + path)) << path;
            continue;
        }
        const auto other = sample.written.find(m.path);
        const auto [length, crc] = other == sample.written.end()
                                       ? std::pair<uint64_t, uint16_t>{m.length, m.crc}
                                       : other->second;
        uint64_t got = 0;
        EXPECT_EQ(fileCrc16(out + "/" + path, got), crc) << path;
        EXPECT_EQ(got, length) << path;
    }
    // Nothing more: the folders on the way to a member are all the listing leaves out.
    for (const auto &path : extracted(out)) {
        if (path.back() != '/') {
            EXPECT_NE(std::find(expected.begin(), expected.end(), path), expected.end()) << path;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, Foreign, testing::ValuesIn(kSamples), [](const auto &p) {
    std::string name = p.param.archive.substr(0, p.param.archive.find('.'));
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
});

} // namespace
