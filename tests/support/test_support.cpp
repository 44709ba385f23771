#include "test_support.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <sys/stat.h>

namespace testing_support {

std::vector<std::string> listFolder(const std::string &path) {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

uint32_t referenceCrc32(const Bytes &data) {
    uint32_t crc = 0xFFFFFFFF;
    for (uint8_t byte : data) {
        crc ^= byte;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc ^ 0xFFFFFFFF;
}

int openDescriptorCount() {
    int count = 0;
    if (DIR *d = ::opendir("/proc/self/fd")) {
        while (::readdir(d))
            ++count;
        ::closedir(d);
    }
    return count;
}

int32_t runEngine(const std::string &source, const std::string &outputBase, uint32_t key,
                  int32_t mode, int32_t kind, int32_t bufferSize, const char *templatePath,
                  uint32_t fillerSeed) {
    tolvex::ConvertRequest r;
    r.source = source.c_str();
    r.outputBase = outputBase.c_str();
    r.keyCode = key;
    r.mode = mode;
    r.kind = kind;
    r.bufferSize = bufferSize;
    r.templatePath = templatePath;
    r.fillerSeed = fillerSeed;
    return tolvex::convert(r);
}

} // namespace testing_support
