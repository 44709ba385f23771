// tgz: a gzip member holding a tar of one file, the body. The deflate stream is what gzip makes
// of random content: the tar header compressed with the first bytes, the content in stored
// blocks, the last bytes compressed with the tar's zero padding.
#include "containers.h"
#include "framing.h"
#include "tar_member.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace strong::containers {
namespace {

using framing::between;

constexpr size_t kOut = size_t(1) << 18;
// Below this the whole tar goes through zlib: too short to split.
constexpr uint64_t kSmall = uint64_t(1) << 18;
// gzip's stored blocks for incompressible data: a full buffer of literals and a few matches.
constexpr uint32_t kStoredLow = 32770, kStoredHigh = 32800;

const std::array<uint8_t, 16384> kZeros{};

class Writer : public BodyWriter {
  public:
    Writer(const ContainerOutput &output, uint64_t bodySize)
        : m_output(output), m_bodySize(bodySize), m_out(kOut) {}
    ~Writer() override {
        if (m_deflating)
            deflateEnd(&m_z);
    }

    bool start() {
        m_tar = tar::layout(m_bodySize);
        framing::Fields gz;
        gz.u8(0x1f).u8(0x8b).u8(8);
        // As tar -z writes it (no name, no time), or as gzip writes a .tar it is given.
        const bool named = between(0, 1);
        const std::string name = named ? tarName() : std::string();
        gz.u8(named ? 0x08 : 0).le32(named ? uint32_t(m_tar.mtime + between(0, 600)) : 0);
        gz.u8(0).u8(3); // default level, Unix
        if (named)
            gz.text(name).u8(0);
        if (!gz.writeTo(m_output) || !beginDeflate())
            return false;
        if (m_bodySize > kSmall) {
            m_headEnd = between(2048, 16384);
            m_firstEnd = m_headEnd + between(kStoredLow, kStoredHigh);
            m_handEnd = m_bodySize - between(4096, 16384);
        } else {
            m_headEnd = m_firstEnd = m_handEnd = m_bodySize;
        }
        m_crc = framing::crc32(0, m_tar.head.data(), m_tar.head.size());
        return compress(m_tar.head.data(), m_tar.head.size(), Z_NO_FLUSH);
    }

    bool put(const uint8_t *data, size_t size) override {
        if (size > m_bodySize - m_done)
            return false;
        m_crc = framing::crc32(m_crc, data, size);
        while (size) {
            size_t n = 0;
            bool ok = true;
            if (m_done < m_headEnd) {
                n = size_t(std::min<uint64_t>(size, m_headEnd - m_done));
                ok = compress(data, n, Z_NO_FLUSH) &&
                     (m_done + n < m_headEnd || m_headEnd == m_bodySize || storeFirst());
            } else if (m_done < m_firstEnd) {
                n = size_t(std::min<uint64_t>(size, m_firstEnd - m_done));
                m_held.insert(m_held.end(), data, data + n);
                ok = m_done + n < m_firstEnd || flushFirst();
            } else if (m_done < m_handEnd) {
                if (!m_blockLeft && m_handEnd - m_done < kStoredHigh) {
                    m_handEnd = m_done; // too few left for a whole block: they go with the tail
                    continue;
                }
                if (!m_blockLeft && !startBlock())
                    return false;
                n = size_t(std::min<uint64_t>(size, m_blockLeft));
                ok = m_output.write(data, n);
                m_blockLeft -= n;
            } else { // the last bytes, compressed with the zeros in finish()
                n = size;
                m_held.insert(m_held.end(), data, data + n);
            }
            if (!ok)
                return false;
            m_done += n;
            data += n;
            size -= n;
        }
        return true;
    }

    bool finish() override {
        if (m_done != m_bodySize || m_blockLeft)
            return false;
        if (m_bodySize > kSmall) { // a fresh deflate stream for the tail, from a byte boundary
            deflateEnd(&m_z);
            m_deflating = false;
            if (!beginDeflate() || !compress(m_held.data(), m_held.size(), Z_NO_FLUSH))
                return false;
        }
        for (uint64_t left = m_tar.tailZeros; left;) {
            const size_t n = size_t(std::min<uint64_t>(left, kZeros.size()));
            m_crc = framing::crc32(m_crc, kZeros.data(), n);
            if (!compress(kZeros.data(), n, Z_NO_FLUSH))
                return false;
            left -= n;
        }
        if (!compress(nullptr, 0, Z_FINISH))
            return false;
        const uint64_t tarSize = m_tar.head.size() + m_bodySize + m_tar.tailZeros;
        framing::Fields trailer;
        trailer.le32(m_crc).le32(uint32_t(tarSize));
        return trailer.writeTo(m_output);
    }

  private:
    std::string tarName() const {
        const std::string base = framing::plausibleName();
        return base.substr(0, base.rfind('.')) + ".tar";
    }

    bool beginDeflate() {
        std::memset(&m_z, 0, sizeof m_z);
        if (deflateInit2(&m_z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            return false;
        m_deflating = true;
        return true;
    }

    // Feeds zlib and writes all it gives; with a flush, until the flush is complete.
    bool compress(const uint8_t *data, size_t size, int flush) {
        m_z.next_in = const_cast<Bytef *>(data);
        m_z.avail_in = uInt(size);
        for (;;) {
            m_z.next_out = m_out.data();
            m_z.avail_out = uInt(m_out.size());
            const int ret = deflate(&m_z, flush);
            if (ret == Z_STREAM_ERROR)
                return false;
            const size_t got = m_out.size() - m_z.avail_out;
            if (got && !m_output.write(m_out.data(), got))
                return false;
            if (flush == Z_FINISH ? ret == Z_STREAM_END : (m_z.avail_out != 0 && m_z.avail_in == 0))
                return true;
        }
    }

    // The header and first bytes are in: close their compressed block and go on storing.
    bool storeFirst() {
        if (!compress(nullptr, 0, Z_BLOCK))
            return false;
        m_z.next_out = m_out.data();
        m_z.avail_out = uInt(m_out.size());
        return deflateParams(&m_z, 0, Z_DEFAULT_STRATEGY) == Z_OK && m_z.avail_out == m_out.size();
    }

    // One stored block through zlib ends on a byte boundary, after which blocks are written here.
    bool flushFirst() {
        if (!compress(m_held.data(), m_held.size(), Z_BLOCK))
            return false;
        m_held.clear();
        unsigned pending = 0;
        int bits = 0;
        return deflatePending(&m_z, &pending, &bits) == Z_OK && pending == 0 && bits == 0;
    }

    bool startBlock() {
        const uint32_t length = between(kStoredLow, kStoredHigh);
        framing::Fields block;
        block.u8(0).le16(length).le16(~length & 0xFFFF);
        m_blockLeft = length;
        return block.writeTo(m_output);
    }

    ContainerOutput m_output;
    uint64_t m_bodySize;
    tar::Layout m_tar;
    z_stream m_z{};
    bool m_deflating = false;
    std::vector<uint8_t> m_out;
    std::vector<uint8_t> m_held;
    uint32_t m_crc = 0;
    uint64_t m_done = 0;
    uint64_t m_headEnd = 0, m_firstEnd = 0, m_handEnd = 0;
    uint64_t m_blockLeft = 0;
};

// The tar out of the gzip member: raw inflate, then CRC-32, length and the file's end checked.
class Inflater : public tar::Source {
  public:
    Inflater(const ContainerInput &input, uint64_t offset)
        : m_input(input), m_offset(offset), m_in(size_t(1) << 18) {}
    ~Inflater() override {
        if (m_inflating)
            inflateEnd(&m_z);
    }

    bool start() {
        std::memset(&m_z, 0, sizeof m_z);
        m_inflating = inflateInit2(&m_z, -15) == Z_OK;
        return m_inflating;
    }

    int64_t read(uint8_t *buffer, size_t size) override {
        if (m_ended || size == 0)
            return 0;
        if (m_broken)
            return kBodyMalformed;
        m_z.next_out = buffer;
        m_z.avail_out = uInt(std::min<size_t>(size, size_t(1) << 30));
        while (m_z.avail_out == uInt(std::min<size_t>(size, size_t(1) << 30))) {
            if (m_z.avail_in == 0) {
                const int64_t n = m_input.readAt(m_offset, m_in.data(), m_in.size());
                if (n < 0)
                    return kBodyReadFailed;
                if (n == 0)
                    return fail(); // the file ends inside the deflate stream
                m_offset += uint64_t(n);
                m_z.next_in = m_in.data();
                m_z.avail_in = uInt(n);
            }
            const int ret = inflate(&m_z, Z_NO_FLUSH);
            if (ret == Z_STREAM_END) {
                const size_t got = size_t(m_z.next_out - buffer);
                account(buffer, got);
                if (!trailer())
                    return fail();
                m_ended = true;
                return int64_t(got);
            }
            if (ret != Z_OK && ret != Z_BUF_ERROR)
                return fail();
        }
        const size_t got = size_t(m_z.next_out - buffer);
        account(buffer, got);
        return int64_t(got);
    }

  private:
    int64_t fail() {
        m_broken = true;
        return kBodyMalformed;
    }

    void account(const uint8_t *data, size_t size) {
        m_crc = framing::crc32(m_crc, data, size);
        m_size += size;
    }

    // CRC-32 and the length mod 2^32, and the file ends there: no second member, nothing after.
    bool trailer() {
        const uint64_t at = m_offset - m_z.avail_in;
        std::array<uint8_t, 8> t;
        return framing::readExact(m_input, at, t.data(), t.size()) == 1 &&
               at + t.size() == m_input.size && framing::loadLe32(t.data()) == m_crc &&
               framing::loadLe32(t.data() + 4) == uint32_t(m_size);
    }

    ContainerInput m_input;
    uint64_t m_offset;
    std::vector<uint8_t> m_in;
    z_stream m_z{};
    bool m_inflating = false, m_ended = false, m_broken = false;
    uint32_t m_crc = 0;
    uint64_t m_size = 0;
};

// Past a zero-terminated field of at most `limit` bytes; false when it does not end in time.
bool skipString(const ContainerInput &input, uint64_t &at, size_t limit) {
    std::array<uint8_t, 256> buffer;
    for (size_t seen = 0; seen < limit;) {
        const int64_t n = input.readAt(at, buffer.data(), std::min(buffer.size(), limit - seen));
        if (n <= 0)
            return false;
        const auto end = std::find(buffer.begin(), buffer.begin() + n, 0);
        if (end != buffer.begin() + n) {
            at += uint64_t(end - buffer.begin()) + 1;
            return true;
        }
        at += uint64_t(n);
        seen += size_t(n);
    }
    return false;
}

// The gzip header: magic, deflate, no reserved flag; an extra field, name and comment skipped,
// a header CRC checked. Answers where the deflate stream starts, or 0.
uint64_t deflateStart(const ContainerInput &input) {
    std::array<uint8_t, 10> h;
    if (framing::readExact(input, 0, h.data(), h.size()) != 1 || h[0] != 0x1f || h[1] != 0x8b ||
        h[2] != 8 || (h[3] & 0xE0))
        return 0;
    const uint8_t flags = h[3];
    uint64_t at = h.size();
    if (flags & 0x04) { // FEXTRA
        std::array<uint8_t, 2> length;
        if (framing::readExact(input, at, length.data(), 2) != 1)
            return 0;
        at += 2 + framing::loadLe16(length.data());
    }
    if ((flags & 0x08) && !skipString(input, at, 4096)) // FNAME
        return 0;
    if ((flags & 0x10) && !skipString(input, at, 65536)) // FCOMMENT
        return 0;
    if (flags & 0x02) { // FHCRC: the low half of the CRC-32 of the header before it
        if (at > 65536 + 4096 + 65536 + 16)
            return 0;
        std::vector<uint8_t> header(size_t(at) + 2);
        if (framing::readExact(input, 0, header.data(), header.size()) != 1 ||
            framing::loadLe16(header.data() + at) !=
                (framing::crc32(0, header.data(), size_t(at)) & 0xFFFF))
            return 0;
        at += 2;
    }
    return at < input.size ? at : 0;
}

} // namespace

Container tgz() {
    Container c;
    c.kind = 10;
    // Sizes past 8 GiB take the tar's base-256 field and gzip counts the length mod 2^32:
    // the format sets no limit below what a file holds.
    c.maxBody = uint64_t(1) << 62;
    c.create = [](const ContainerOutput &output, uint64_t bodySize) -> std::unique_ptr<BodyWriter> {
        auto writer = std::make_unique<Writer>(output, bodySize);
        return writer->start() ? std::move(writer) : nullptr;
    };
    c.open = [](const ContainerInput &input) -> std::unique_ptr<BodyReader> {
        const uint64_t start = deflateStart(input);
        if (start == 0)
            return nullptr;
        auto inflater = std::make_unique<Inflater>(input, start);
        if (!inflater->start())
            return nullptr;
        return tar::openMember(std::move(inflater));
    };
    return c;
}

} // namespace strong::containers
