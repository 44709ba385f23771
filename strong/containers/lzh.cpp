// LHA: an archive of one member stored as it is (-lh0-) under a level-2 header, the kind that
// jLHA and LHa for UNIX write, with the 0x42 extended header for member sizes of 4 GiB and more.
// The member is the body followed by fresh random padding, so that its size (and the archive's)
// differs from one file to the next even for bodies of one size.
#include "archive_fields.h"
#include "containers.h"
#include "framing.h"

#include <algorithm>
#include <array>
#include <cstring>
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
constexpr uint64_t kLargeMember = uint64_t(1) << 32;
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
std::vector<uint8_t> lhaHeader(uint64_t memberSize, const std::string &name, uint32_t mtime,
                               uint8_t osId) {
    framing::Fields h;
    h.le16(0).append(kMethod, sizeof kMethod);
    h.le32(uint32_t(memberSize)).le32(uint32_t(memberSize)); // the low half past 4 GiB
    h.le32(mtime).u8(0x20).u8(2).le16(0).u8(osId);
    h.le16(5).u8(0x00).le16(0); // common header: the header's CRC
    h.le16(3 + uint32_t(name.size())).u8(0x01).text(name);
    if (memberSize >= kLargeMember)
        h.le16(3 + 16).u8(0x42).le64(memberSize).le64(memberSize);
    h.le16(0);
    h.patchLe16(0, uint32_t(h.size()));
    return h.bytes();
}

namespace {

class Writer : public BodyWriter {
  public:
    Writer(const ContainerOutput &output, std::vector<uint8_t> header, uint64_t padding)
        : m_output(output), m_header(std::move(header)), m_padding(padding) {}

    bool put(const uint8_t *data, size_t size) override {
        m_crc = lhaCrc16(m_crc, data, size);
        return m_output.write(data, size);
    }

    bool finish() override {
        std::array<uint8_t, 16384> noise;
        for (uint64_t left = m_padding; left;) {
            const size_t n = size_t(std::min<uint64_t>(left, noise.size()));
            framing::randomFill(noise.data(), n);
            m_crc = lhaCrc16(m_crc, noise.data(), n);
            if (!m_output.write(noise.data(), n))
                return false;
            left -= n;
        }
        const uint8_t end = 0;
        if (!m_output.write(&end, 1))
            return false;
        uint8_t *h = m_header.data();
        h[kDataCrcAt] = uint8_t(m_crc);
        h[kDataCrcAt + 1] = uint8_t(m_crc >> 8);
        const uint16_t headerCrc = lhaCrc16(0, h, m_header.size());
        h[kHeaderCrcAt] = uint8_t(headerCrc);
        h[kHeaderCrcAt + 1] = uint8_t(headerCrc >> 8);
        return m_output.patch(kDataCrcAt, h + kDataCrcAt, kHeaderCrcAt + 2 - kDataCrcAt);
    }

  private:
    ContainerOutput m_output;
    std::vector<uint8_t> m_header;
    uint64_t m_padding;
    uint16_t m_crc = 0;
};

// The member's data, checked against its CRC once it has all passed.
class Reader : public BodyReader {
  public:
    Reader(const ContainerInput &input, uint64_t at, uint64_t size, uint16_t crc)
        : m_extent(input, at, size), m_crc(crc) {}

    int64_t read(uint8_t *buffer, size_t size) override {
        const int64_t n = m_extent.read(buffer, size);
        if (n > 0)
            m_seen = lhaCrc16(m_seen, buffer, size_t(n));
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
    uint16_t m_crc;
    uint16_t m_seen = 0;
};

std::unique_ptr<BodyWriter> create(const ContainerOutput &output, uint64_t bodySize) {
    if (bodySize > kMaxMember)
        return nullptr;
    const uint64_t padding =
        std::min<uint64_t>(framing::between(0, kMaxPadding), kMaxMember - bodySize);
    // jLHA leaves the OS byte 0; LHA for MS-DOS and its Windows successors write 'M'.
    const uint8_t osId = framing::between(0, 1) ? 'M' : 0;
    auto header = lhaHeader(bodySize + padding, framing::plausibleName(),
                            uint32_t(framing::plausibleTime()), osId);
    if (!output.write(header.data(), header.size()))
        return nullptr;
    return std::make_unique<Writer>(output, std::move(header), padding);
}

std::unique_ptr<BodyReader> open(const ContainerInput &input) {
    uint8_t fixed[kFixedPart];
    if (input.size < kFixedPart + 1 || framing::readExact(input, 0, fixed, sizeof fixed) != 1)
        return nullptr;
    if (std::memcmp(fixed + 2, kMethod, sizeof kMethod) != 0 || fixed[20] != 2)
        return nullptr;
    const size_t headerSize = loadLe16(fixed);
    if (headerSize < kFixedPart || headerSize > kMaxHeader || headerSize > input.size)
        return nullptr;
    std::vector<uint8_t> h(headerSize);
    if (framing::readExact(input, 0, h.data(), h.size()) != 1)
        return nullptr;

    uint64_t packed = loadLe32(h.data() + 7), original = loadLe32(h.data() + 11);
    bool largeSizes = false;
    size_t headerCrcAt = 0;
    // Extended headers: each announced by the two-byte size before it, the last size 0.
    size_t at = kFixedPart;
    for (size_t next = loadLe16(h.data() + at - 2); next != 0;) {
        if (next < 3 || next > headerSize - at)
            return nullptr;
        const uint8_t type = h[at];
        const size_t dataSize = next - 3;
        const uint8_t *data = h.data() + at + 1;
        if (type == 0x00) {
            if (dataSize < 2 || headerCrcAt)
                return nullptr;
            headerCrcAt = at + 1;
        } else if (type == 0x42) {
            if (dataSize != 16 || largeSizes)
                return nullptr;
            largeSizes = true;
            packed = loadLe64(data);
            original = loadLe64(data + 8);
        }
        at += next;
        next = loadLe16(h.data() + at - 2);
    }
    if (headerCrcAt) {
        const uint16_t stated = loadLe16(h.data() + headerCrcAt);
        h[headerCrcAt] = h[headerCrcAt + 1] = 0;
        if (lhaCrc16(0, h.data(), h.size()) != stated)
            return nullptr;
    }
    // Stored: the data is the member as it is, and the archive's end mark follows it.
    if (packed != original || packed > input.size - headerSize - 1)
        return nullptr;
    uint8_t end = 1;
    if (framing::readExact(input, headerSize + packed, &end, 1) != 1 || end != 0)
        return nullptr;
    return std::make_unique<Reader>(input, headerSize, packed, loadLe16(h.data() + kDataCrcAt));
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
