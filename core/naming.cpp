#include "naming.h"

#include "layout.h"

namespace tolvex {

std::string encodedName(std::string_view base, int kind) {
    return std::string(base) + disguiseFor(kind).extension;
}

std::string decodedName(std::string_view base, std::string_view extension) {
    std::string name(base);
    if (!extension.empty())
        name.append(".").append(extension);
    return name;
}

bool isUsableExtension(std::string_view extension) {
    if (extension == "." || extension == "..")
        return false;
    for (const unsigned char c : extension)
        if (c < 0x20 || c == 0x7F || c == '/')
            return false;
    return true;
}

std::string temporaryName(std::string_view prefix, unsigned long pid, uint64_t entropy) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string name(prefix);
    name.append(std::to_string(pid)).append("-");
    for (int i = 0; i < 6; ++i, entropy /= 62)
        name.push_back(alphabet[entropy % 62]);
    return name;
}

long temporaryOwner(std::string_view name, std::string_view prefix) {
    if (name.substr(0, prefix.size()) != prefix)
        return 0;
    size_t at = prefix.size();
    long long pid = 0;
    const size_t digits = at;
    while (at < name.size() && name[at] >= '0' && name[at] <= '9' && pid < (1LL << 31))
        pid = pid * 10 + (name[at++] - '0');
    if (at == digits || at >= name.size() || name[at] != '-' || name.size() - at - 1 != 6 ||
        pid <= 0 || pid >= (1LL << 31))
        return 0;
    // Only the generator's alphabet.
    for (size_t i = at + 1; i < name.size(); ++i) {
        const char c = name[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return 0;
    }
    return long(pid);
}

SplitPath splitPath(std::string_view path) {
    const size_t slash = path.rfind('/');
    const size_t cut = slash == std::string_view::npos ? 0 : slash + 1;
    return {std::string(path.substr(0, cut)), std::string(path.substr(cut))};
}

} // namespace tolvex
