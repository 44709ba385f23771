// LHA: an archive of one file stored as it is (-lh0-) under level-2 headers, as jLHA and LHa
// for UNIX write them. The file is the body followed by fresh random padding, so that its size
// (and the archive's) differs from one archive to the next even for bodies of one size; from
// 4 GiB on it is split into numbered members of 4095 MiB, which every LHA reader lists, where
// the 0x42 extended header's 64-bit sizes are lost on 7-Zip and Debian's lhasa.
#include "archive_fields.h"
#include "containers.h"
#include "framing.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace strong::containers {
namespace {

using framing::loadLe16;
using framing::loadLe32;
using framing::loadLe64;

constexpr uint8_t kMethod[5] = {'-', 'l', 'h', '0', '-'};
constexpr size_t kFixedPart = 26; // size to the first extended header's size field, included
constexpr size_t kDataCrcAt = 21;
constexpr size_t kHeaderCrcAt = 27; // in the common extended header, always first here
constexpr size_t kMaxHeader = 4096; // real level-2 headers are a few hundred bytes at most
constexpr uint32_t kMaxPadding = 65535;
constexpr uint64_t kMaxMember = uint64_t(1) << 62;

// LHA's CRC-16 (polynomial 0x8005 reflected, starting at 0). Tables for short runs and for
// machines without carry-less multiplication, eight bytes a step: table k gives a byte's effect
// on the CRC after k more bytes have passed.
using Crc16Tables = std::array<std::array<uint16_t, 256>, 8>;

constexpr Crc16Tables makeCrc16Tables() {
    Crc16Tables t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint16_t c = uint16_t(i);
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? uint16_t((c >> 1) ^ 0xA001) : uint16_t(c >> 1);
        t[0][i] = c;
    }
    for (size_t s = 1; s < 8; ++s)
        for (uint32_t i = 0; i < 256; ++i)
            t[s][i] = uint16_t((t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF]);
    return t;
}

constexpr Crc16Tables kCrc16 = makeCrc16Tables();

uint32_t crc16Tables(uint32_t c, const uint8_t *p, size_t n) {
    for (; n >= 8; n -= 8, p += 8) {
        c ^= uint32_t(p[0]) | uint32_t(p[1]) << 8;
        c = kCrc16[7][c & 0xFF] ^ kCrc16[6][c >> 8] ^ kCrc16[5][p[2]] ^ kCrc16[4][p[3]] ^
            kCrc16[3][p[4]] ^ kCrc16[2][p[5]] ^ kCrc16[1][p[6]] ^ kCrc16[0][p[7]];
    }
    for (; n; --n, ++p)
        c = kCrc16[0][(c ^ *p) & 0xFF] ^ (c >> 8);
    return c;
}

#if defined(__x86_64__) || defined(__i386__)
// The CRC-16 is the low half of a reflected 32-bit CRC whose polynomial is LHA's times x^16,
// so blocks of 16 bytes fold forward as for any 32-bit CRC: a block's halves are multiplied
// by x^n mod that polynomial, n the distance folded (one less, for the product's extra x).
constexpr uint64_t kFoldPolynomial = uint64_t(0x18005) << 16;

constexpr uint64_t xPowerMod(unsigned n) {
    uint64_t r = 1;
    for (unsigned i = 0; i < n; ++i) {
        r <<= 1;
        if (r & (uint64_t(1) << 32))
            r ^= kFoldPolynomial;
    }
    return r;
}

// x^n mod the polynomial as a reflected 64-bit lane: the coefficient of x^j at bit 63 - j.
constexpr uint64_t foldConstant(unsigned n) {
    const uint64_t r = xPowerMod(n);
    uint64_t lane = 0;
    for (unsigned j = 0; j < 32; ++j)
        if (r >> j & 1)
            lane |= uint64_t(1) << (63 - j);
    return lane;
}

// For each distance folded: the constants of the block's later half and of its earlier half.
constexpr uint64_t kFold[4][2] = {
    {foldConstant(128 - 1), foldConstant(128 + 64 - 1)},
    {foldConstant(256 - 1), foldConstant(256 + 64 - 1)},
    {foldConstant(384 - 1), foldConstant(384 + 64 - 1)},
    {foldConstant(512 - 1), foldConstant(512 + 64 - 1)},
};

__attribute__((target("pclmul,sse2"))) inline __m128i fold(__m128i x, __m128i k) {
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

__attribute__((target("pclmul,sse2"))) uint32_t crc16Folded(uint32_t c, const uint8_t *p,
                                                            size_t n) {
    // Four blocks at a time, 512 bits apart; then the four into one; then single blocks.
    auto constants = [](const uint64_t(&k)[2]) {
        return _mm_set_epi64x(int64_t(k[0]), int64_t(k[1]));
    };
    const __m128i by128 = constants(kFold[0]), by256 = constants(kFold[1]);
    const __m128i by384 = constants(kFold[2]), by512 = constants(kFold[3]);
    auto load = [](const uint8_t *at) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
    };
    __m128i a0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(int(c)));
    __m128i a1 = load(p + 16), a2 = load(p + 32), a3 = load(p + 48);
    p += 64;
    n -= 64;
    for (; n >= 64; n -= 64, p += 64) {
        a0 = _mm_xor_si128(fold(a0, by512), load(p));
        a1 = _mm_xor_si128(fold(a1, by512), load(p + 16));
        a2 = _mm_xor_si128(fold(a2, by512), load(p + 32));
        a3 = _mm_xor_si128(fold(a3, by512), load(p + 48));
    }
    __m128i x = _mm_xor_si128(_mm_xor_si128(fold(a0, by384), fold(a1, by256)),
                              _mm_xor_si128(fold(a2, by128), a3));
    for (; n >= 16; n -= 16, p += 16)
        x = _mm_xor_si128(fold(x, by128), load(p));
    alignas(16) uint8_t last[16];
    _mm_store_si128(reinterpret_cast<__m128i *>(last), x);
    return crc16Tables(crc16Tables(0, last, sizeof last), p, n);
}

const bool kHasClmul = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
}();
#endif

} // namespace

uint16_t lhaCrc16(uint16_t crc, const uint8_t *p, size_t n) {
#if defined(__x86_64__) || defined(__i386__)
    if (n >= 64 && kHasClmul)
        return uint16_t(crc16Folded(crc, p, n));
#endif
    return uint16_t(crc16Tables(crc, p, n));
}

// The level-2 header of a stored member of `memberSize` bytes; the data CRC and the header CRC
// are left zero until the data has passed.
std::vector<uint8_t> lhaHeader(uint32_t memberSize, const std::string &name, uint32_t mtime,
                               uint8_t osId) {
    framing::Fields h;
    h.le16(0).append(kMethod, sizeof kMethod).le32(memberSize).le32(memberSize);
    h.le32(mtime).u8(0x20).u8(2).le16(0).u8(osId);
    h.le16(5).u8(0x00).le16(0); // common header: the header's CRC
    h.le16(3 + uint32_t(name.size())).u8(0x01).text(name);
    h.le16(0);
    h.patchLe16(0, uint32_t(h.size()));
    return h.bytes();
}

uint64_t lhaPartCount(uint64_t total) {
    return total <= 0xFFFFFFFFu ? 1 : (total + kLhaPart - 1) / kLhaPart;
}

uint32_t lhaPartSize(uint64_t total, uint64_t index) {
    if (lhaPartCount(total) == 1)
        return uint32_t(total);
    return uint32_t(std::min<uint64_t>(kLhaPart, total - index * kLhaPart));
}

namespace {

// Writes the members in order: each one's header, its share of the body area, and once its data
// has passed, its data CRC and header CRC over their places; the end mark after the last.
class Writer : public BodyWriter {
  public:
    Writer(const ContainerOutput &output, uint64_t total, uint64_t padding, std::string name,
           uint32_t mtime, uint8_t osId)
        : m_output(output), m_total(total), m_padding(padding), m_parts(lhaPartCount(total)),
          m_name(std::move(name)), m_mtime(mtime), m_osId(osId) {}

    bool start() { return begin(); }

    bool put(const uint8_t *data, size_t size) override { return take(data, size); }

    bool finish() override {
        std::array<uint8_t, 16384> noise;
        for (uint64_t left = m_padding; left;) {
            const size_t n = size_t(std::min<uint64_t>(left, noise.size()));
            framing::randomFill(noise.data(), n);
            if (!take(noise.data(), n))
                return false;
            left -= n;
        }
        if (m_part != m_parts) // the body area ended before its members did
            return false;
        const uint8_t end = 0;
        return m_output.write(&end, 1);
    }

  private:
    bool begin() {
        const std::string name =
            m_parts == 1 ? m_name : m_name + "." + numbered(m_part + 1, m_parts);
        m_left = lhaPartSize(m_total, m_part);
        m_header = lhaHeader(uint32_t(m_left), name, m_mtime, m_osId);
        m_headerAt = m_written;
        m_crc = 0;
        m_written += m_header.size();
        return m_output.write(m_header.data(), m_header.size());
    }

    bool take(const uint8_t *data, size_t size) {
        while (size) {
            if (m_part == m_parts)
                return false; // more than the size given at the start
            const size_t n = size_t(std::min<uint64_t>(size, m_left));
            m_crc = lhaCrc16(m_crc, data, n);
            if (!m_output.write(data, n))
                return false;
            m_written += n;
            m_left -= n;
            data += n;
            size -= n;
            if (m_left == 0 && !(close() && (++m_part == m_parts || begin())))
                return false;
        }
        return true;
    }

    bool close() {
        uint8_t *h = m_header.data();
        h[kDataCrcAt] = uint8_t(m_crc);
        h[kDataCrcAt + 1] = uint8_t(m_crc >> 8);
        const uint16_t headerCrc = lhaCrc16(0, h, m_header.size());
        h[kHeaderCrcAt] = uint8_t(headerCrc);
        h[kHeaderCrcAt + 1] = uint8_t(headerCrc >> 8);
        return m_output.patch(m_headerAt + kDataCrcAt, h + kDataCrcAt,
                              kHeaderCrcAt + 2 - kDataCrcAt);
    }

    // "001", "002", ... as split volumes are named, wider when there are more than 999.
    static std::string numbered(uint64_t n, uint64_t count) {
        std::string digits = std::to_string(n);
        const size_t width = std::max<size_t>(3, std::to_string(count).size());
        return std::string(width - std::min(width, digits.size()), '0') + digits;
    }

    ContainerOutput m_output;
    uint64_t m_total, m_padding, m_parts;
    std::string m_name;
    uint32_t m_mtime;
    uint8_t m_osId;
    uint64_t m_part = 0, m_left = 0, m_written = 0, m_headerAt = 0;
    std::vector<uint8_t> m_header;
    uint16_t m_crc = 0;
};

struct Member {
    uint64_t dataAt, size;
    uint16_t crc;
};

// One member's header at `at`: its data's place, size and CRC, or nothing when the bytes there
// are not a level-2 header of a stored member whose data lies within the file.
std::optional<Member> memberAt(const ContainerInput &input, uint64_t at) {
    uint8_t fixed[kFixedPart];
    if (at > input.size || input.size - at < kFixedPart + 1 ||
        framing::readExact(input, at, fixed, sizeof fixed) != 1)
        return std::nullopt;
    if (std::memcmp(fixed + 2, kMethod, sizeof kMethod) != 0 || fixed[20] != 2)
        return std::nullopt;
    const size_t headerSize = loadLe16(fixed);
    if (headerSize < kFixedPart || headerSize > kMaxHeader || headerSize > input.size - at)
        return std::nullopt;
    std::vector<uint8_t> h(headerSize);
    if (framing::readExact(input, at, h.data(), h.size()) != 1)
        return std::nullopt;

    uint64_t packed = loadLe32(h.data() + 7), original = loadLe32(h.data() + 11);
    bool largeSizes = false;
    size_t headerCrcAt = 0;
    // Extended headers: each announced by the two-byte size before it, the last size 0.
    size_t pos = kFixedPart;
    for (size_t next = loadLe16(h.data() + pos - 2); next != 0;) {
        if (next < 3 || next > headerSize - pos)
            return std::nullopt;
        const uint8_t type = h[pos];
        const size_t dataSize = next - 3;
        const uint8_t *data = h.data() + pos + 1;
        if (type == 0x00) {
            if (dataSize < 2 || headerCrcAt)
                return std::nullopt;
            headerCrcAt = pos + 1;
        } else if (type == 0x42) { // 64-bit sizes, as jLHA writes past 4 GiB
            if (dataSize != 16 || largeSizes)
                return std::nullopt;
            largeSizes = true;
            packed = loadLe64(data);
            original = loadLe64(data + 8);
        }
        pos += next;
        next = loadLe16(h.data() + pos - 2);
    }
    if (headerCrcAt) {
        const uint16_t stated = loadLe16(h.data() + headerCrcAt);
        h[headerCrcAt] = h[headerCrcAt + 1] = 0;
        if (lhaCrc16(0, h.data(), h.size()) != stated)
            return std::nullopt;
    }
    // Stored: the data is the member as it is; something (a member or the end mark) follows.
    const uint64_t dataAt = at + headerSize;
    if (packed != original || packed > input.size - dataAt - 1)
        return std::nullopt;
    return Member{dataAt, packed, loadLe16(h.data() + kDataCrcAt)};
}

// The members' data one after another, each checked against its CRC once it has all passed;
// the next member's header is read when the one before has ended, up to the end mark.
class Reader : public BodyReader {
  public:
    Reader(const ContainerInput &input, const Member &first) : m_input(input), m_member(first) {}

    int64_t read(uint8_t *buffer, size_t size) override {
        while (!m_ended && m_done == m_member.size) {
            if (m_crc != m_member.crc)
                return kBodyMalformed;
            const uint64_t next = m_member.dataAt + m_member.size;
            uint8_t mark = 1;
            const int got = framing::readExact(m_input, next, &mark, 1);
            if (got != 1)
                return got == 0 ? kBodyMalformed : got;
            if (mark == 0) {
                m_ended = true;
                break;
            }
            const auto member = memberAt(m_input, next);
            if (!member)
                return kBodyMalformed;
            m_member = *member;
            m_done = 0;
            m_crc = 0;
        }
        if (m_ended)
            return 0;
        const size_t want = size_t(std::min<uint64_t>(size, m_member.size - m_done));
        const int64_t n = m_input.readAt(m_member.dataAt + m_done, buffer, want);
        if (n < 0)
            return kBodyReadFailed;
        if (n == 0)
            return kBodyMalformed; // the file is shorter than its headers say
        m_crc = lhaCrc16(m_crc, buffer, size_t(n));
        m_done += uint64_t(n);
        return n;
    }

  private:
    ContainerInput m_input;
    Member m_member;
    uint64_t m_done = 0;
    uint16_t m_crc = 0;
    bool m_ended = false;
};

std::unique_ptr<BodyWriter> create(const ContainerOutput &output, uint64_t bodySize) {
    if (bodySize > kMaxMember)
        return nullptr;
    const uint64_t padding =
        std::min<uint64_t>(framing::between(0, kMaxPadding), kMaxMember - bodySize);
    // jLHA leaves the OS byte 0; LHA for MS-DOS and its Windows successors write 'M'.
    const uint8_t osId = framing::between(0, 1) ? 'M' : 0;
    auto writer =
        std::make_unique<Writer>(output, bodySize + padding, padding, framing::plausibleName(),
                                 uint32_t(framing::plausibleTime()), osId);
    return writer->start() ? std::move(writer) : nullptr;
}

std::unique_ptr<BodyReader> open(const ContainerInput &input) {
    // The first member tells the kind; the reader walks the others as it reaches them.
    const auto first = memberAt(input, 0);
    if (!first)
        return nullptr;
    return std::make_unique<Reader>(input, *first);
}

} // namespace

Container lzh() {
    Container c;
    c.kind = 4;
    c.maxBody = kMaxMember;
    c.create = create;
    c.open = open;
    return c;
}

} // namespace strong::containers
