// GCA: the archive header this program has always written for the kind (no public description
// of GCA's own layout exists, and no tool on Debian reads it), holding one member stored as it
// is: the body followed by fresh random padding, under a fresh name and time, its CRC-32
// patched in once the data has passed, then the end mark.
#include "containers.h"
#include "framing.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>
#include <string>

namespace strong::containers {
namespace {

constexpr size_t kArchiveHeader = 16; // "GCA0", version, members, first member, length
constexpr size_t kMemberFixed = 30;   // "GCAF" to the name's length, included
constexpr size_t kCrcAt = kArchiveHeader + 16;
constexpr size_t kEndMark = 4;
constexpr size_t kMaxName = 255;
constexpr uint32_t kMaxPadding = 65535;
// Sizes and the archive's length are 32-bit fields.
constexpr uint64_t kMaxMember = 0xFFFFFFFFu - (kArchiveHeader + kMemberFixed + kMaxName + kEndMark);

class Writer : public BodyWriter {
  public:
    Writer(const ContainerOutput &output, uint64_t padding)
        : m_output(output), m_padding(padding) {}

    bool put(const uint8_t *data, size_t size) override {
        m_crc = framing::crc32(m_crc, data, size);
        return m_output.write(data, size);
    }

    bool finish() override {
        std::array<uint8_t, 16384> noise;
        for (uint64_t left = m_padding; left;) {
            const size_t n = size_t(std::min<uint64_t>(left, noise.size()));
            framing::randomFill(noise.data(), n);
            m_crc = framing::crc32(m_crc, noise.data(), n);
            if (!m_output.write(noise.data(), n))
                return false;
            left -= n;
        }
        const uint8_t crc[4] = {uint8_t(m_crc), uint8_t(m_crc >> 8), uint8_t(m_crc >> 16),
                                uint8_t(m_crc >> 24)};
        return m_output.write(reinterpret_cast<const uint8_t *>("GCAE"), kEndMark) &&
               m_output.patch(kCrcAt, crc, sizeof crc);
    }

  private:
    ContainerOutput m_output;
    uint64_t m_padding;
    uint32_t m_crc = 0;
};

// The member's data, checked against its CRC-32 once it has all passed.
class Reader : public BodyReader {
  public:
    Reader(const ContainerInput &input, uint64_t at, uint64_t size, uint32_t crc)
        : m_extent(input, at, size), m_crc(crc) {}

    int64_t read(uint8_t *buffer, size_t size) override {
        const int64_t n = m_extent.read(buffer, size);
        if (n > 0)
            m_seen = framing::crc32(m_seen, buffer, size_t(n));
        else if (n == 0 && m_seen != m_crc)
            return kBodyMalformed;
        return n;
    }

  private:
    class Extent : public framing::ExtentReader {
      public:
        Extent(const ContainerInput &input, uint64_t at, uint64_t size)
            : ExtentReader(input), m_at(at), m_size(size) {}

      protected:
        int next(uint64_t &offset, uint64_t &length) override {
            if (m_given)
                return 0;
            m_given = true;
            offset = m_at;
            length = m_size;
            return 1;
        }

      private:
        uint64_t m_at, m_size;
        bool m_given = false;
    };

    Extent m_extent;
    uint32_t m_crc;
    uint32_t m_seen = 0;
};

std::unique_ptr<BodyWriter> create(const ContainerOutput &output, uint64_t bodySize) {
    if (bodySize > kMaxMember)
        return nullptr;
    const uint64_t padding =
        std::min<uint64_t>(framing::between(0, kMaxPadding), kMaxMember - bodySize);
    const uint64_t member = bodySize + padding;
    std::string name = framing::plausibleName();
    name.resize(std::min(name.size(), kMaxName));
    const uint64_t total = kArchiveHeader + kMemberFixed + name.size() + member + kEndMark;

    const std::time_t t = std::time_t(framing::plausibleTime());
    std::tm when{};
    localtime_r(&t, &when);
    const uint32_t year = uint32_t(std::clamp(when.tm_year + 1900, 1980, 2107));

    framing::Fields h;
    h.text("GCA0").le16(0x0100).le16(1).le32(kArchiveHeader).le32(uint32_t(total));
    h.text("GCAF").le16(0).le16(0);                          // stored, no flags
    h.le32(uint32_t(member)).le32(uint32_t(member)).le32(0); // CRC-32 patched in at the end
    h.le16(uint32_t(when.tm_hour << 11 | when.tm_min << 5 | when.tm_sec / 2));
    h.le16((year - 1980) << 9 | uint32_t(when.tm_mon + 1) << 5 | uint32_t(when.tm_mday));
    h.le32(0x20).le16(uint32_t(name.size())).text(name);
    if (!h.writeTo(output))
        return nullptr;
    return std::make_unique<Writer>(output, padding);
}

std::unique_ptr<BodyReader> open(const ContainerInput &input) {
    uint8_t a[kArchiveHeader];
    if (input.size < kArchiveHeader + kMemberFixed + kEndMark ||
        framing::readExact(input, 0, a, sizeof a) != 1 || std::memcmp(a, "GCA0", 4) != 0)
        return nullptr;
    const uint64_t memberAt = framing::loadLe32(a + 8);
    if (framing::loadLe16(a + 6) != 1 || framing::loadLe32(a + 12) != input.size ||
        memberAt < kArchiveHeader || memberAt > input.size - kMemberFixed - kEndMark)
        return nullptr;
    uint8_t m[kMemberFixed];
    if (framing::readExact(input, memberAt, m, sizeof m) != 1 || std::memcmp(m, "GCAF", 4) != 0 ||
        framing::loadLe16(m + 4) != 0)
        return nullptr;
    const uint64_t packed = framing::loadLe32(m + 8), original = framing::loadLe32(m + 12);
    const uint64_t dataAt = memberAt + kMemberFixed + framing::loadLe16(m + 28);
    // Stored: the data is the member as it is, and the end mark closes the archive.
    if (packed != original || dataAt > input.size - kEndMark ||
        packed != input.size - kEndMark - dataAt)
        return nullptr;
    uint8_t end[kEndMark];
    if (framing::readExact(input, dataAt + packed, end, sizeof end) != 1 ||
        std::memcmp(end, "GCAE", kEndMark) != 0)
        return nullptr;
    return std::make_unique<Reader>(input, dataAt, packed, framing::loadLe32(m + 16));
}

} // namespace

Container gca() {
    Container c;
    c.kind = 8;
    c.maxBody = kMaxMember;
    c.create = create;
    c.open = open;
    return c;
}

} // namespace strong::containers
