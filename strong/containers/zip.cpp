// zip: one member stored as it is (method 0), the body, with the headers Info-ZIP's zip 3.0
// writes on Unix; Zip64 records once a size or offset passes 32 bits.
#include "containers.h"
#include "framing.h"
#include "zip_records.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>
#include <vector>

namespace strong::zip {
namespace {

constexpr uint32_t kMadeBy = 0x031E; // Unix, zip 3.0
constexpr uint32_t kFull = 0xFFFFFFFF;
constexpr uint16_t kZip64Extra = 0x0001, kTimeExtra = 0x5455, kOwnerExtra = 0x7875;

uint32_t needed(const Plan &plan) {
    return plan.zip64Member ? 45 : 10;
}

size_t extrasSize(const Member &member, bool local) {
    return member.unixExtras ? (local ? 13 : 9) + 15 : 0;
}

// MS-DOS time and date in local time, seconds rounded up to even as Info-ZIP does.
void dosTime(int64_t t, uint32_t &time, uint32_t &date) {
    const std::time_t even = std::time_t((t + 1) & ~int64_t(1));
    std::tm tm{};
    localtime_r(&even, &tm);
    time = uint32_t(tm.tm_hour << 11 | tm.tm_min << 5 | tm.tm_sec / 2);
    date = uint32_t(std::max(tm.tm_year - 80, 0) << 9 | (tm.tm_mon + 1) << 5 | tm.tm_mday);
}

void extras(framing::Fields &f, const Member &member, const Plan &plan, bool local) {
    if (member.unixExtras) {
        f.le16(kTimeExtra).le16(local ? 9 : 5).u8(3).le32(uint32_t(member.mtime));
        if (local)
            f.le32(uint32_t(member.atime));
        f.le16(kOwnerExtra).le16(11).u8(1).u8(4).le32(member.uid).u8(4).le32(member.gid);
    }
    if (plan.zip64Member)
        f.le16(kZip64Extra).le16(16).le64(member.size).le64(member.size);
}

// The fields both headers share, from the version needed to the extra field's length.
void common(framing::Fields &f, const Member &member, const Plan &plan, uint32_t crc, bool local) {
    uint32_t time = 0, date = 0;
    dosTime(member.mtime, time, date);
    const uint32_t size = plan.zip64Member ? kFull : uint32_t(member.size);
    f.le16(needed(plan)).le16(0).le16(0).le16(time).le16(date).le32(crc).le32(size).le32(size);
    f.le16(uint32_t(member.name.size()))
        .le16(uint32_t(extrasSize(member, local) + (plan.zip64Member ? 20 : 0)));
}

} // namespace

Plan plan(const Member &member) {
    Plan p;
    p.zip64Member = member.size >= kFull;
    p.localSize = 30 + member.name.size() + extrasSize(member, true) + (p.zip64Member ? 20 : 0);
    p.centralOffset = p.localSize + member.size;
    p.zip64End = p.zip64Member || p.centralOffset >= kFull;
    return p;
}

std::vector<uint8_t> localHeader(const Member &member, const Plan &plan) {
    framing::Fields f;
    f.le32(kLocal);
    common(f, member, plan, 0, true);
    f.text(member.name);
    extras(f, member, plan, true);
    return f.bytes();
}

std::vector<uint8_t> trailer(const Member &member, const Plan &plan, uint32_t crc) {
    framing::Fields f;
    f.le32(kCentral).le16(kMadeBy);
    common(f, member, plan, crc, false);
    f.le16(0).le16(0).le16(0).le32(member.mode << 16).le32(0); // comment, disk, attributes, offset
    f.text(member.name);
    extras(f, member, plan, false);
    const uint64_t centralSize = f.size();
    const uint64_t end64 = plan.centralOffset + centralSize;
    if (plan.zip64End) {
        f.le32(kEnd64).le64(44).le16(kMadeBy).le16(45).le32(0).le32(0).le64(1).le64(1);
        f.le64(centralSize).le64(plan.centralOffset);
        f.le32(kLocator).le32(0).le64(end64).le32(1);
    }
    f.le32(kEnd).le16(0).le16(0).le16(1).le16(1).le32(uint32_t(centralSize));
    f.le32(uint32_t(std::min<uint64_t>(plan.centralOffset, kFull))).le16(0);
    return f.bytes();
}

} // namespace strong::zip

namespace strong::containers {
namespace {

using framing::between;
using framing::loadLe16;
using framing::loadLe32;
using framing::loadLe64;
using zip::kCentral;
using zip::kEnd;
using zip::kEnd64;
using zip::kLocal;
using zip::kLocator;

zip::Member freshMember(uint64_t size) {
    zip::Member m;
    m.name = framing::plausibleName();
    m.mode = between(0, 3) ? 0100644 : 0100600;
    m.mtime = framing::plausibleTime();
    m.atime = std::min<int64_t>(m.mtime + between(0, 30 * 86400), std::time(nullptr));
    m.atime = std::max(m.atime, m.mtime);
    switch (between(0, 5)) { // the owner: a Linux or macOS user, now and then root
    case 0:
        m.uid = m.gid = 0;
        break;
    case 1:
        m.uid = between(501, 503);
        m.gid = 20;
        break;
    default:
        m.uid = between(0, 2) ? 1000 : between(1001, 1004);
        m.gid = between(0, 3) ? m.uid : 100;
    }
    m.unixExtras = between(0, 4) != 0; // zip -X leaves them out
    m.size = size;
    return m;
}

class Writer : public BodyWriter {
  public:
    Writer(const ContainerOutput &output, uint64_t bodySize)
        : m_output(output), m_member(freshMember(bodySize)), m_plan(zip::plan(m_member)) {}

    bool start() {
        const auto local = zip::localHeader(m_member, m_plan);
        return m_output.write(local.data(), local.size());
    }

    bool put(const uint8_t *data, size_t size) override {
        m_crc = framing::crc32(m_crc, data, size);
        m_done += size;
        return m_done <= m_member.size && m_output.write(data, size);
    }

    bool finish() override {
        if (m_done != m_member.size)
            return false;
        uint8_t crc[4] = {uint8_t(m_crc), uint8_t(m_crc >> 8), uint8_t(m_crc >> 16),
                          uint8_t(m_crc >> 24)};
        const auto tail = zip::trailer(m_member, m_plan, m_crc);
        return m_output.patch(zip::kCrcOffset, crc, 4) && m_output.write(tail.data(), tail.size());
    }

  private:
    ContainerOutput m_output;
    zip::Member m_member;
    zip::Plan m_plan;
    uint32_t m_crc = 0;
    uint64_t m_done = 0;
};

// The member's data, with its CRC-32 checked at the end.
class Reader : public BodyReader {
  public:
    Reader(const ContainerInput &input, uint64_t offset, uint64_t size, uint32_t crc)
        : m_input(input), m_offset(offset), m_left(size), m_expected(crc) {}

    int64_t read(uint8_t *buffer, size_t size) override {
        if (m_left == 0)
            return m_crc == m_expected ? 0 : kBodyMalformed;
        const int64_t n =
            m_input.readAt(m_offset, buffer, size_t(std::min<uint64_t>(size, m_left)));
        if (n < 0)
            return kBodyReadFailed;
        if (n == 0)
            return kBodyMalformed;
        m_crc = framing::crc32(m_crc, buffer, size_t(n));
        m_offset += uint64_t(n);
        m_left -= uint64_t(n);
        return n;
    }

  private:
    ContainerInput m_input;
    uint64_t m_offset, m_left;
    uint32_t m_expected, m_crc = 0;
};

// Reads `size` bytes at `offset` when they lie wholly inside the file.
bool bytesAt(const ContainerInput &input, uint64_t offset, uint8_t *data, size_t size) {
    return offset <= input.size && size <= input.size - offset &&
           framing::readExact(input, offset, data, size) == 1;
}

// The Zip64 extended information field's values, in its order, for the fields that are full.
bool zip64Values(const uint8_t *extra, size_t length, uint64_t *values[], size_t count) {
    for (size_t at = 0; at + 4 <= length;) {
        const uint16_t id = loadLe16(extra + at), size = loadLe16(extra + at + 2);
        if (size > length - at - 4)
            return false;
        if (id == 0x0001) {
            for (size_t i = 0; i < count; ++i)
                if (size < 8 * (i + 1))
                    return false;
                else
                    *values[i] = loadLe64(extra + at + 4 + 8 * i);
            return true;
        }
        at += 4 + size;
    }
    return count == 0;
}

struct Found {
    uint64_t centralOffset = 0, centralSize = 0, centralEnd = 0;
};

// The end record (at the end, after its comment) and the Zip64 end record it may lead to.
bool findEnd(const ContainerInput &input, Found &found) {
    const size_t span = size_t(std::min<uint64_t>(input.size, 22 + 65535));
    if (span < 22)
        return false; // too short for an end record
    std::vector<uint8_t> tail(span);
    if (!bytesAt(input, input.size - span, tail.data(), span))
        return false;
    for (size_t at = span - 22 + 1; at-- > 0;) {
        const uint8_t *e = tail.data() + at;
        if (loadLe32(e) != kEnd || size_t(22) + loadLe16(e + 20) != span - at)
            continue;
        const uint64_t endAt = input.size - span + at;
        if (loadLe16(e + 4) != 0 || loadLe16(e + 6) != 0)
            return false; // one disk only
        uint64_t entries = loadLe16(e + 10);
        found.centralSize = loadLe32(e + 12);
        found.centralOffset = loadLe32(e + 16);
        found.centralEnd = endAt;
        std::array<uint8_t, 56> r;
        if (endAt >= 20 + 56 && bytesAt(input, endAt - 20, r.data(), 20) &&
            loadLe32(r.data()) == kLocator) { // Zip64: its end record holds the numbers
            const uint64_t end64 = loadLe64(r.data() + 8);
            if (loadLe32(r.data() + 4) != 0 || loadLe32(r.data() + 16) != 1 ||
                end64 > endAt - 20 - 56 || !bytesAt(input, end64, r.data(), 56) ||
                loadLe32(r.data()) != kEnd64 || loadLe64(r.data() + 4) < 44 ||
                loadLe64(r.data() + 4) != endAt - 20 - end64 - 12 || loadLe32(r.data() + 16) != 0 ||
                loadLe32(r.data() + 20) != 0 || loadLe64(r.data() + 24) != 1)
                return false;
            entries = loadLe64(r.data() + 32);
            found.centralSize = loadLe64(r.data() + 40);
            found.centralOffset = loadLe64(r.data() + 48);
            found.centralEnd = end64;
        }
        return entries == 1 && found.centralOffset <= found.centralEnd &&
               found.centralSize == found.centralEnd - found.centralOffset;
    }
    return false;
}

std::unique_ptr<BodyReader> open(const ContainerInput &input) {
    std::array<uint8_t, 4> signature;
    if (!bytesAt(input, 0, signature.data(), 4) || loadLe32(signature.data()) != kLocal)
        return nullptr;
    Found found;
    if (!findEnd(input, found) || found.centralSize < 46 || found.centralSize > 46 + 3 * 65535)
        return nullptr;
    std::vector<uint8_t> central(size_t(found.centralSize));
    if (!bytesAt(input, found.centralOffset, central.data(), central.size()))
        return nullptr;
    const uint8_t *c = central.data();
    const size_t nameLength = loadLe16(c + 28), extraLength = loadLe16(c + 30);
    if (loadLe32(c) != kCentral ||
        46 + nameLength + extraLength + loadLe16(c + 32) != central.size() ||
        (loadLe16(c + 8) & 1) || loadLe16(c + 10) != 0 || loadLe16(c + 34) != 0)
        return nullptr; // one header, not encrypted, stored, on this disk
    const uint32_t crc = loadLe32(c + 16);
    uint64_t compressed = loadLe32(c + 20), size = loadLe32(c + 24), offset = loadLe32(c + 42);
    uint64_t *full[3];
    size_t count = 0;
    for (uint64_t *v : {&size, &compressed, &offset})
        if (*v == 0xFFFFFFFF)
            full[count++] = v;
    if (!zip64Values(c + 46 + nameLength, extraLength, full, count) || compressed != size)
        return nullptr;

    std::array<uint8_t, 30> l;
    if (!bytesAt(input, offset, l.data(), l.size()) || loadLe32(l.data()) != kLocal ||
        loadLe16(l.data() + 8) != 0 || loadLe16(l.data() + 26) != nameLength)
        return nullptr;
    const size_t localExtra = loadLe16(l.data() + 28);
    std::vector<uint8_t> local(nameLength + localExtra);
    if (!bytesAt(input, offset + 30, local.data(), local.size()) ||
        !std::equal(local.begin(), local.begin() + std::ptrdiff_t(nameLength), c + 46))
        return nullptr;
    if (!(loadLe16(l.data() + 6) & 8)) { // without a data descriptor the local header agrees
        uint64_t localSize = loadLe32(l.data() + 22), localCompressed = loadLe32(l.data() + 18);
        if (localSize == 0xFFFFFFFF || localCompressed == 0xFFFFFFFF) {
            uint64_t *both[2] = {&localSize, &localCompressed};
            if (!zip64Values(local.data() + nameLength, localExtra, both, 2))
                return nullptr;
        }
        if (loadLe32(l.data() + 14) != crc || localSize != size || localCompressed != size)
            return nullptr;
    }
    const uint64_t data = offset + 30 + local.size();
    if (data > found.centralOffset || size > found.centralOffset - data)
        return nullptr;
    return std::make_unique<Reader>(input, data, size, crc);
}

} // namespace

Container zip() {
    Container c;
    c.kind = 15;
    // Zip64's sizes and offsets are 64-bit: no limit below what a file holds.
    c.maxBody = uint64_t(1) << 62;
    c.create = [](const ContainerOutput &output, uint64_t bodySize) -> std::unique_ptr<BodyWriter> {
        auto writer = std::make_unique<Writer>(output, bodySize);
        return writer->start() ? std::move(writer) : nullptr;
    };
    c.open = open;
    return c;
}

} // namespace strong::containers
