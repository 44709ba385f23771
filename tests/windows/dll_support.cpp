#include "dll_support.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>

namespace dll_test {
namespace {

void removeTree(const std::string &path) {
    WIN32_FIND_DATAA entry;
    HANDLE search = ::FindFirstFileA((path + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string child = path + "\\" + name;
            ::SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(child);
            else
                ::DeleteFileA(child.c_str());
        } while (::FindNextFileA(search, &entry));
        ::FindClose(search);
    }
    ::RemoveDirectoryA(path.c_str());
}

} // namespace

const std::string &programFolder() {
    static const std::string folder = [] {
        char path[MAX_PATH];
        const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
        std::string p(path, n);
        return p.substr(0, p.find_last_of("\\/"));
    }();
    return folder;
}

const Codec &codec() {
    static const Codec bound = [] {
        Codec c;
        HMODULE library = ::LoadLibraryA((programFolder() + "\\Halvet_Tolvex.dll").c_str());
        c.library = library;
        if (!library)
            return c;
        auto find = [&](const char *name) {
            return reinterpret_cast<void *>(::GetProcAddress(library, name));
        };
        c.makeCode = reinterpret_cast<MakeCodeFunction>(find("MakeCode"));
        c.findLzh = reinterpret_cast<FindLzhFunction>(find("FindLzh"));
        c.getMemDat = reinterpret_cast<GetMemDatFunction>(find("GetMemDat"));
        return c;
    }();
    EXPECT_TRUE(bound.library && bound.makeCode && bound.findLzh && bound.getMemDat)
        << "Halvet_Tolvex.dll or one of its functions cannot be bound";
    return bound;
}

int32_t makeCode(const std::string &source, const std::string &outputBase, uint32_t key,
                 int32_t mode, int32_t kind, int32_t bufferSize) {
    const Codec &c = codec();
    if (!c.makeCode)
        return INT32_MIN;
    const CurrentFolder here(programFolder());
    return c.makeCode(source.c_str(), outputBase.c_str(), key, mode, kind, bufferSize);
}

TempFolder::TempFolder() {
    static unsigned counter = 0;
    char base[MAX_PATH];
    ::GetTempPathA(MAX_PATH, base);
    for (;;) {
        m_path = std::string(base) + "tolvex-dll-" + std::to_string(::GetCurrentProcessId()) + "-" +
                 std::to_string(++counter);
        if (::CreateDirectoryA(m_path.c_str(), nullptr))
            break;
    }
}

TempFolder::~TempFolder() {
    removeTree(m_path);
}

std::vector<std::string> TempFolder::names() const {
    return namesIn(m_path);
}

std::vector<std::string> namesIn(const std::string &folder) {
    std::vector<std::string> found;
    WIN32_FIND_DATAA entry;
    HANDLE search = ::FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return found;
    do {
        const std::string name = entry.cFileName;
        if (name != "." && name != "..")
            found.push_back(name);
    } while (::FindNextFileA(search, &entry));
    ::FindClose(search);
    std::sort(found.begin(), found.end());
    return found;
}

CurrentFolder::CurrentFolder(const std::string &folder) {
    char previous[MAX_PATH];
    const DWORD n = ::GetCurrentDirectoryA(MAX_PATH, previous);
    m_previous.assign(previous, n);
    EXPECT_TRUE(::SetCurrentDirectoryA(folder.c_str())) << folder;
}

CurrentFolder::~CurrentFolder() {
    ::SetCurrentDirectoryA(m_previous.c_str());
}

bool writeFile(const std::string &path, const Bytes &content) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    return std::fclose(f) == 0 && ok;
}

bool writeFile(const std::string &path, const std::string &content) {
    return writeFile(path, Bytes(content.begin(), content.end()));
}

std::optional<Bytes> readFile(const std::string &path) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return std::nullopt;
    Bytes content;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        content.insert(content.end(), chunk, chunk + n);
    std::fclose(f);
    return content;
}

bool exists(const std::string &path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

Bytes randomBytes(size_t length, uint32_t seed) {
    Bytes out(length);
    uint32_t s = seed ? seed : 1;
    for (auto &b : out) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        b = uint8_t(s);
    }
    return out;
}

std::string fromHost(const std::string &hostPath) {
    std::string path = "Z:" + hostPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

} // namespace dll_test
