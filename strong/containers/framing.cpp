#include "framing.h"

#include <libdeflate.h>
#include <sodium.h>

#include <algorithm>
#include <array>
#include <ctime>

namespace strong::framing {

Fields &Fields::u8(uint32_t v) {
    m_bytes.push_back(uint8_t(v));
    return *this;
}
Fields &Fields::le16(uint32_t v) {
    return u8(v).u8(v >> 8);
}
Fields &Fields::le32(uint32_t v) {
    return le16(v).le16(v >> 16);
}
Fields &Fields::le64(uint64_t v) {
    return le32(uint32_t(v)).le32(uint32_t(v >> 32));
}
Fields &Fields::be16(uint32_t v) {
    return u8(v >> 8).u8(v);
}
Fields &Fields::be32(uint32_t v) {
    return be16(v >> 16).be16(v);
}
Fields &Fields::text(std::string_view s) {
    m_bytes.insert(m_bytes.end(), s.begin(), s.end());
    return *this;
}
Fields &Fields::append(const uint8_t *data, size_t size) {
    m_bytes.insert(m_bytes.end(), data, data + size);
    return *this;
}
Fields &Fields::fill(size_t count, uint8_t value) {
    m_bytes.insert(m_bytes.end(), count, value);
    return *this;
}
Fields &Fields::random(size_t count) {
    const size_t at = m_bytes.size();
    m_bytes.resize(at + count);
    randomFill(m_bytes.data() + at, count);
    return *this;
}
void Fields::patchLe16(size_t at, uint32_t v) {
    m_bytes.at(at) = uint8_t(v);
    m_bytes.at(at + 1) = uint8_t(v >> 8);
}
void Fields::patchLe32(size_t at, uint32_t v) {
    patchLe16(at, v);
    patchLe16(at + 2, v >> 16);
}
void Fields::patchBe32(size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i)
        m_bytes.at(at + i) = uint8_t(v >> (24 - 8 * i));
}
bool Fields::writeTo(const ContainerOutput &output) const {
    return m_bytes.empty() || output.write(m_bytes.data(), m_bytes.size());
}

uint16_t loadLe16(const uint8_t *p) {
    return uint16_t(p[0] | p[1] << 8);
}
uint32_t loadLe32(const uint8_t *p) {
    return uint32_t(loadLe16(p)) | uint32_t(loadLe16(p + 2)) << 16;
}
uint64_t loadLe64(const uint8_t *p) {
    return uint64_t(loadLe32(p)) | uint64_t(loadLe32(p + 4)) << 32;
}
uint16_t loadBe16(const uint8_t *p) {
    return uint16_t(p[0] << 8 | p[1]);
}
uint32_t loadBe32(const uint8_t *p) {
    return uint32_t(loadBe16(p)) << 16 | loadBe16(p + 2);
}

uint32_t crc32(uint32_t value, const uint8_t *data, size_t size) {
    return libdeflate_crc32(value, data, size);
}
uint32_t adler32(uint32_t value, const uint8_t *data, size_t size) {
    return libdeflate_adler32(value, data, size);
}

uint32_t between(uint32_t low, uint32_t high) {
    if (high <= low)
        return low;
    const uint64_t span = uint64_t(high) - low + 1;
    if (span > 0xFFFFFFFFu)
        return randombytes_random();
    return low + randombytes_uniform(uint32_t(span));
}

void randomFill(uint8_t *data, size_t size) {
    if (size)
        randombytes_buf(data, size);
}

bool writeRandom(const ContainerOutput &output, uint64_t count) {
    std::array<uint8_t, 16384> noise;
    while (count) {
        const size_t n = size_t(std::min<uint64_t>(count, noise.size()));
        randomFill(noise.data(), n);
        if (!output.write(noise.data(), n))
            return false;
        count -= n;
    }
    return true;
}

std::string plausibleName() {
    // Random-looking bytes pass unremarked under these extensions: raw data, disk images,
    // backups and game or application stores.
    static constexpr const char *kExtensions[] = {".bin", ".dat", ".img", ".raw", ".db",
                                                  ".pak", ".sav", ".bak", ".dmp", ".vhd"};
    static constexpr const char *kWords[] = {
        "backup", "data",   "archive", "export", "disk",    "image",   "dump",  "save",
        "store",  "cache",  "library", "index",  "project", "archive", "old",   "copy",
        "scan",   "volume", "sync",    "notes",  "media",   "photos",  "music", "work"};
    static constexpr const char *kSeparators[] = {"_", "-", "", " "};
    std::string name;
    switch (between(0, 3)) {
    case 0: // camera or phone style
        name = std::string(between(0, 1) ? "IMG_" : "DSC") + std::to_string(between(1000, 9999));
        break;
    case 1: { // a word and a date
        char date[16];
        std::snprintf(date, sizeof date, "%04u%02u%02u", between(2015, 2026), between(1, 12),
                      between(1, 28));
        name = std::string(kWords[between(0, std::size(kWords) - 1)]) + kSeparators[between(0, 2)] +
               date;
        break;
    }
    case 2: // two words
        name = std::string(kWords[between(0, std::size(kWords) - 1)]) +
               kSeparators[between(0, std::size(kSeparators) - 1)] +
               kWords[between(0, std::size(kWords) - 1)];
        break;
    default: // a word and a number
        name = std::string(kWords[between(0, std::size(kWords) - 1)]) + kSeparators[between(0, 2)] +
               std::to_string(between(1, 999));
        break;
    }
    return name + kExtensions[between(0, std::size(kExtensions) - 1)];
}

int64_t plausibleTime() {
    const int64_t now = int64_t(std::time(nullptr));
    const int64_t threeYears = int64_t(3) * 365 * 24 * 3600;
    return now - int64_t(between(0, uint32_t(threeYears)));
}

int readExact(const ContainerInput &input, uint64_t offset, uint8_t *data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const int64_t n = input.readAt(offset + done, data + done, size - done);
        if (n < 0)
            return int(kBodyReadFailed);
        if (n == 0)
            return 0;
        done += size_t(n);
    }
    return 1;
}

int64_t ExtentReader::read(uint8_t *buffer, size_t size) {
    while (m_left == 0) {
        if (m_done)
            return 0;
        uint64_t offset = 0, length = 0;
        const int got = next(offset, length);
        if (got < 0)
            return got;
        if (got == 0) {
            m_done = true;
            return 0;
        }
        if (offset > m_input.size || length > m_input.size - offset)
            return kBodyMalformed;
        m_offset = offset;
        m_left = length;
    }
    const size_t want = size_t(std::min<uint64_t>(size, m_left));
    const int64_t n = m_input.readAt(m_offset, buffer, want);
    if (n < 0)
        return kBodyReadFailed;
    if (n == 0)
        return kBodyMalformed; // the file is shorter than its structure says
    m_offset += uint64_t(n);
    m_left -= uint64_t(n);
    return n;
}

} // namespace strong::framing
