#include "disguise_support.h"

#include "layout.h"

#include <cstdio>
#include <stdexcept>
#include <sys/wait.h>

namespace disguise_support {

using testing_support::readFile;

std::string quoted(const std::string &argument) {
    std::string q = "'";
    for (char c : argument)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

CommandResult run(const std::string &commandLine) {
    testing_support::TempDir scratch;
    const std::string errPath = scratch / "stderr";
    CommandResult r;
    std::FILE *p = ::popen(("(" + commandLine + ") 2>" + quoted(errPath)).c_str(), "r");
    if (!p)
        throw std::runtime_error("popen failed");
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
        r.out.append(buffer, n);
    const int status = ::pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (auto err = readFile(errPath))
        r.err.assign(err->begin(), err->end());
    return r;
}

uint32_t le16(const Bytes &b, size_t at) {
    return uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8;
}
uint32_t le32(const Bytes &b, size_t at) {
    return le16(b, at) | le16(b, at + 2) << 16;
}
uint32_t be16(const Bytes &b, size_t at) {
    return uint32_t(b.at(at)) << 8 | uint32_t(b.at(at + 1));
}
uint32_t be32(const Bytes &b, size_t at) {
    return be16(b, at) << 16 | be16(b, at + 2);
}

std::string textAt(const Bytes &b, size_t at, size_t length) {
    if (at + length > b.size())
        throw std::out_of_range("text beyond the end");
    return std::string(b.begin() + long(at), b.begin() + long(at + length));
}

Bytes generatedSegment(int kind) {
    const auto file = readFile(TOLVEX_TEMPLATE_FILE);
    if (!file)
        throw std::runtime_error("template file missing");
    const auto &d = tolvex::disguiseFor(kind);
    Bytes segment(file->begin() + d.first, file->begin() + d.first + d.length);
    for (auto &b : segment)
        b ^= tolvex::kHeaderMask;
    return segment;
}

} // namespace disguise_support
