// tbz: a tar of one file, the body, compressed as pbzip2 does it: the tar cut in 900,000-byte
// pieces, each its own bzip2 stream, the streams one after another. bzip2 cannot store data as
// it is, so the body is compressed (by two threads) and the file is a little larger than it.
#include "containers.h"
#include "framing.h"
#include "tar_member.h"

#include <bzlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <future>
#include <memory>
#include <system_error>
#include <vector>

namespace strong::containers {
namespace {

constexpr size_t kPiece = 900000; // pbzip2's default: one piece per 900 kB block
constexpr size_t kWorkers = 2;

struct Compressed {
    bool ok = false;
    std::vector<char> bytes;
};

// One independent bzip2 stream (level 9, as bzip2 and pbzip2 default to); never throws, since
// it runs on a worker thread.
Compressed compressPiece(const std::vector<uint8_t> &piece) noexcept {
    Compressed out;
    try {
        // bzip2's bound: 1% more and 600 bytes.
        unsigned size = unsigned(piece.size() + piece.size() / 100 + 600);
        out.bytes.resize(size);
        out.ok = BZ2_bzBuffToBuffCompress(
                     out.bytes.data(), &size,
                     const_cast<char *>(reinterpret_cast<const char *>(piece.data())),
                     unsigned(piece.size()), 9, 0, 0) == BZ_OK;
        out.bytes.resize(size);
    } catch (...) {
        out.ok = false;
    }
    return out;
}

class Writer : public BodyWriter {
  public:
    Writer(const ContainerOutput &output, uint64_t bodySize)
        : m_output(output), m_bodySize(bodySize) {
        m_piece.reserve(kPiece);
    }
    // The futures' destructors wait for the threads still working: none outlives the writer.
    ~Writer() override = default;

    bool start() {
        m_tar = tar::layout(m_bodySize);
        return feed(m_tar.head.data(), m_tar.head.size());
    }

    bool put(const uint8_t *data, size_t size) override {
        m_done += size;
        return m_done <= m_bodySize && feed(data, size);
    }

    bool finish() override {
        static const std::array<uint8_t, 16384> zeros{};
        if (m_done != m_bodySize)
            return false;
        for (uint64_t left = m_tar.tailZeros; left;) {
            const size_t n = size_t(std::min<uint64_t>(left, zeros.size()));
            if (!feed(zeros.data(), n))
                return false;
            left -= n;
        }
        if (!m_piece.empty() && !dispatch())
            return false;
        while (!m_pending.empty())
            if (!writeOldest())
                return false;
        return true;
    }

  private:
    bool feed(const uint8_t *data, size_t size) {
        while (size) {
            const size_t n = std::min(size, kPiece - m_piece.size());
            m_piece.insert(m_piece.end(), data, data + n);
            data += n;
            size -= n;
            if (m_piece.size() == kPiece && !dispatch())
                return false;
        }
        return true;
    }

    // Hands the piece to a worker, once one is free; streams come out in the tar's order.
    bool dispatch() {
        while (m_pending.size() >= kWorkers)
            if (!writeOldest())
                return false;
        auto piece = std::make_shared<std::vector<uint8_t>>();
        piece->reserve(kPiece);
        piece->swap(m_piece);
        try {
            m_pending.push_back(std::async(std::launch::async,
                                           [piece]() noexcept { return compressPiece(*piece); }));
        } catch (const std::system_error &) { // no thread to be had: compress it here
            std::promise<Compressed> here;
            here.set_value(compressPiece(*piece));
            m_pending.push_back(here.get_future());
        }
        return true;
    }

    bool writeOldest() {
        const Compressed c = m_pending.front().get();
        m_pending.pop_front();
        return c.ok &&
               m_output.write(reinterpret_cast<const uint8_t *>(c.bytes.data()), c.bytes.size());
    }

    ContainerOutput m_output;
    uint64_t m_bodySize;
    uint64_t m_done = 0;
    tar::Layout m_tar;
    std::vector<uint8_t> m_piece;
    std::deque<std::future<Compressed>> m_pending;
};

// The tar out of the bzip2 streams, one after another until the file ends with the last.
class Decompressor : public tar::Source {
  public:
    explicit Decompressor(const ContainerInput &input) : m_input(input), m_in(size_t(1) << 18) {}
    ~Decompressor() override {
        if (m_inStream)
            BZ2_bzDecompressEnd(&m_bz);
    }

    int64_t read(uint8_t *buffer, size_t size) override {
        if (m_broken)
            return kBodyMalformed;
        size = std::min<size_t>(size, size_t(1) << 30);
        if (size == 0)
            return 0;
        for (;;) {
            if (m_bz.avail_in == 0) {
                const int64_t n = m_input.readAt(m_offset, m_in.data(), m_in.size());
                if (n < 0)
                    return kBodyReadFailed;
                m_offset += uint64_t(n);
                m_bz.next_in = reinterpret_cast<char *>(m_in.data());
                m_bz.avail_in = unsigned(n);
                if (n == 0) // the file's end: right only between streams
                    return m_inStream ? fail() : 0;
            }
            if (!m_inStream) { // the next stream starts here
                m_bz.bzalloc = nullptr;
                m_bz.bzfree = nullptr;
                m_bz.opaque = nullptr;
                if (BZ2_bzDecompressInit(&m_bz, 0, 0) != BZ_OK)
                    return fail();
                m_inStream = true;
            }
            m_bz.next_out = reinterpret_cast<char *>(buffer);
            m_bz.avail_out = unsigned(size);
            const int ret = BZ2_bzDecompress(&m_bz);
            const size_t got = size - m_bz.avail_out;
            if (ret == BZ_STREAM_END) {
                BZ2_bzDecompressEnd(&m_bz);
                m_inStream = false;
            } else if (ret != BZ_OK) {
                return fail();
            }
            if (got)
                return int64_t(got);
        }
    }

  private:
    int64_t fail() {
        m_broken = true;
        return kBodyMalformed;
    }

    ContainerInput m_input;
    uint64_t m_offset = 0;
    std::vector<uint8_t> m_in;
    bz_stream m_bz{};
    bool m_inStream = false, m_broken = false;
};

} // namespace

Container tbz() {
    Container c;
    c.kind = 11;
    // Sizes past 8 GiB take the tar's base-256 field, and streams follow one another without
    // end: the format sets no limit below what a file holds.
    c.maxBody = uint64_t(1) << 62;
    c.create = [](const ContainerOutput &output, uint64_t bodySize) -> std::unique_ptr<BodyWriter> {
        auto writer = std::make_unique<Writer>(output, bodySize);
        return writer->start() ? std::move(writer) : nullptr;
    };
    c.open = [](const ContainerInput &input) -> std::unique_ptr<BodyReader> {
        // A stream's signature and level, then its first block's: a file of another kind
        // is refused before any decompression.
        std::array<uint8_t, 10> h;
        if (framing::readExact(input, 0, h.data(), h.size()) != 1 ||
            std::memcmp(h.data(), "BZh", 3) != 0 || h[3] < '1' || h[3] > '9' ||
            std::memcmp(h.data() + 4, "1AY&SY", 6) != 0)
            return nullptr;
        return tar::openMember(std::make_unique<Decompressor>(input));
    };
    return c;
}

} // namespace strong::containers
