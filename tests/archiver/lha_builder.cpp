#include "lha_builder.h"

#include "crc16.h"

#include <stdexcept>

namespace archiver_test {
namespace {

void put16(Bytes &b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void put32(Bytes &b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}
void putAt16(Bytes &b, size_t at, uint32_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void putAt32(Bytes &b, size_t at, uint32_t v) {
    putAt16(b, at, v & 0xFFFF);
    putAt16(b, at + 2, v >> 16);
}
void append(Bytes &b, const std::string &s) {
    b.insert(b.end(), s.begin(), s.end());
}

constexpr uint32_t kUnixTime = 1700000000;
// 2023-11-14 22:13:20 in MS-DOS form, for the levels that store it.
constexpr uint32_t kDosTime =
    (uint32_t(2023 - 1980) << 25) | (11u << 21) | (14u << 16) | (22u << 11) | (13u << 5) | 10u;

using Extended = std::vector<std::pair<uint8_t, std::string>>;

Extended extendedOf(const RawMember &m, bool withName, bool withCrc) {
    Extended ext;
    if (withCrc)
        ext.push_back({0x00, std::string(2, '\0')});
    if (withName)
        ext.push_back({0x01, m.name});
    if (m.folder)
        ext.push_back({0x02, *m.folder});
    if (m.mode)
        ext.push_back({0x50, std::string{char(*m.mode & 0xFF), char(*m.mode >> 8)}});
    ext.insert(ext.end(), m.extended.begin(), m.extended.end());
    return ext;
}

// Extended headers, each followed by the size of the next (0 after the last).
void appendExtended(Bytes &h, const Extended &ext, size_t sizeWidth) {
    for (size_t i = 0; i < ext.size(); ++i) {
        h.push_back(ext[i].first);
        append(h, ext[i].second);
        const uint32_t next =
            i + 1 < ext.size() ? uint32_t(1 + ext[i + 1].second.size() + sizeWidth) : 0;
        sizeWidth == 2 ? put16(h, next) : put32(h, next);
    }
}

// The fixed fields every level shares from the method to the level byte.
void appendCommon(Bytes &h, const RawMember &m, uint32_t compressed, uint32_t time) {
    if (m.method.size() != 5)
        throw std::invalid_argument("a method is five characters");
    append(h, m.method);
    put32(h, compressed);
    put32(h, m.originalSize.value_or(uint32_t(m.data.size())));
    put32(h, time);
    h.push_back(0x20);
    h.push_back(uint8_t(m.level));
}

} // namespace

Bytes rawMember(const RawMember &m) {
    const uint16_t crc = m.crc.value_or(unlha::crc16Update(0, m.data.data(), m.data.size()));
    Bytes h;
    switch (m.level) {
    case 0:
    case 1: {
        if (m.name.size() > 200)
            throw std::invalid_argument("name too long for this level");
        const Extended ext = m.level == 1 ? extendedOf(m, false, false) : Extended{};
        uint32_t extBytes = 0;
        for (const auto &e : ext)
            extBytes += uint32_t(1 + e.second.size() + 2);
        h.resize(2);
        appendCommon(h, m, uint32_t(m.data.size()) + extBytes, kDosTime);
        h.push_back(uint8_t(m.name.size()));
        append(h, m.name);
        put16(h, crc);
        if (m.level == 1) {
            h.push_back(m.osId);
            put16(h, ext.empty() ? 0 : uint32_t(1 + ext[0].second.size() + 2));
        }
        const size_t base = h.size();
        h[0] = uint8_t(base - 2);
        uint8_t sum = 0;
        for (size_t i = 2; i < base; ++i)
            sum = uint8_t(sum + h[i]);
        h[1] = sum;
        appendExtended(h, ext, 2);
        break;
    }
    case 2: {
        const Extended ext = extendedOf(m, true, true);
        put16(h, 0); // total size, below
        appendCommon(h, m, uint32_t(m.data.size()), kUnixTime);
        put16(h, crc);
        h.push_back(m.osId);
        put16(h, uint32_t(1 + ext[0].second.size() + 2));
        const size_t crcAt = h.size() + 1;
        appendExtended(h, ext, 2);
        putAt16(h, 0, uint32_t(h.size()));
        const uint16_t headerCrc = unlha::crc16Update(0, h.data(), h.size());
        putAt16(h, crcAt, headerCrc);
        break;
    }
    case 3: {
        const Extended ext = extendedOf(m, true, true);
        put16(h, 4); // the word size of the size fields
        appendCommon(h, m, uint32_t(m.data.size()), kUnixTime);
        put16(h, crc);
        h.push_back(m.osId);
        put32(h, 0); // total size, below
        put32(h, uint32_t(1 + ext[0].second.size() + 4));
        const size_t crcAt = h.size() + 1;
        appendExtended(h, ext, 4);
        putAt32(h, 24, uint32_t(h.size()));
        const uint16_t headerCrc = unlha::crc16Update(0, h.data(), h.size());
        putAt16(h, crcAt, headerCrc);
        break;
    }
    default:
        throw std::invalid_argument("no such header level");
    }
    append(h, m.data);
    return h;
}

std::pair<uint8_t, std::string> sizesHeader(uint64_t packed, uint64_t original) {
    std::string field;
    for (const uint64_t v : {packed, original})
        for (int i = 0; i < 8; ++i)
            field += char(uint8_t(v >> (8 * i)));
    return {0x42, field};
}

Bytes rawArchive(const std::vector<Bytes> &members) {
    Bytes out;
    for (const auto &m : members)
        out.insert(out.end(), m.begin(), m.end());
    out.push_back(0);
    return out;
}

} // namespace archiver_test
