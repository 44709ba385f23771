#include "png_stream.h"

#include "framing.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

namespace strong::pictures {

using framing::between;

namespace {

constexpr uint64_t kSide = 16384; // what viewers' default limits allow per side
constexpr uint32_t kIdat = 0x49444154, kIend = 0x49454e44, kIhdr = 0x49484452;
constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr size_t kFlushAt = size_t(1) << 20;

uint64_t ceilDiv(uint64_t a, uint64_t b) {
    return a / b + (a % b != 0);
}

void appendChunk(std::vector<uint8_t> &out, const char *type, const framing::Fields &data) {
    framing::Fields chunk;
    chunk.be32(uint32_t(data.size())).text(type).append(data.bytes().data(), data.size());
    const uint32_t crc = framing::crc32(0, chunk.bytes().data() + 4, chunk.size() - 4);
    chunk.be32(crc);
    out.insert(out.end(), chunk.bytes().begin(), chunk.bytes().end());
}

bool validType(uint32_t type) {
    for (int i = 0; i < 4; ++i) {
        const uint8_t c = uint8_t(type >> (24 - 8 * i));
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
            return false;
    }
    return true;
}

} // namespace

Shape plausibleShape(uint64_t pixels, uint32_t widthStep) {
    static constexpr double kRatios[] = {4.0 / 3, 3.0 / 2, 16.0 / 9, 1.0,    5.0 / 4,
                                         3.0 / 4, 2.0 / 3, 9.0 / 16, 4.0 / 5};
    const double ratio =
        kRatios[between(0, std::size(kRatios) - 1)] * (0.94 + 0.12 * between(0, 100000) / 100000.0);
    pixels = std::max<uint64_t>(pixels, 1);
    const uint64_t step = std::max<uint32_t>(widthStep, 1);
    auto roundUp = [step](uint64_t v) { return ceilDiv(v, step) * step; };
    uint64_t width =
        roundUp(std::max<uint64_t>(8, uint64_t(std::llround(std::sqrt(double(pixels) * ratio)))));
    if (width > kSide) {
        // Wider than viewers like: the widest width that still keeps the height within bounds.
        const uint64_t capped = (kSide - step * between(0, 63)) / step * step;
        if (ceilDiv(pixels, capped) <= kSide)
            width = capped;
    } else if (ceilDiv(pixels, width) > kSide) {
        width = std::min(roundUp(ceilDiv(pixels, kSide - between(0, 63))), kSide / step * step);
    }
    return {width, ceilDiv(pixels, width)};
}

uint64_t withSlack(uint64_t bytes) {
    const uint64_t most =
        bytes < (uint64_t(1) << 20) ? bytes / 4 : std::min<uint64_t>(bytes / 100, 65536);
    return bytes + between(0, uint32_t(most));
}

uint64_t PngLayout::zlibSize() const {
    const uint64_t raw = rawSize();
    return 2 + raw + 5 * ceilDiv(raw, blockSize) + 4;
}

uint64_t PngLayout::fileSize() const {
    const uint64_t zlib = zlibSize();
    return 8 + 25 + ancillary.size() + zlib + 12 * ceilDiv(zlib, idatSize) + 12;
}

PngLayout plausiblePng(uint32_t width, uint32_t height, uint32_t channels, bool ancillaryChunks) {
    PngLayout layout;
    layout.width = width;
    layout.height = height;
    layout.channels = channels;
    // libpng's default buffer gives 8 KiB chunks; other encoders write larger ones.
    static constexpr uint32_t kIdatSizes[] = {8192, 8192, 8192, 16384, 32768, 65536, 131072};
    layout.idatSize = kIdatSizes[between(0, std::size(kIdatSizes) - 1)];
    // zlib's stored blocks are as long as its buffers allow, up to 65535 bytes.
    layout.blockSize = between(0, 1) ? 65535 : between(8000, 65535);
    static constexpr uint8_t kLevels[] = {0x01, 0x5e, 0x9c, 0x9c, 0xda};
    layout.zlibFlags = kLevels[between(0, std::size(kLevels) - 1)];
    if (ancillaryChunks) {
        if (between(0, 9) < 4) { // an sRGB picture, with the gAMA that accompanies it
            framing::Fields gamma, srgb;
            gamma.be32(45455);
            srgb.u8(between(0, 3) ? 0 : 1);
            appendChunk(layout.ancillary, "gAMA", gamma);
            appendChunk(layout.ancillary, "sRGB", srgb);
        }
        if (between(0, 9) < 6) {
            static constexpr uint32_t kDensities[] = {2835, 2835, 3780, 3780, 11811, 5906};
            const uint32_t d = kDensities[between(0, std::size(kDensities) - 1)];
            framing::Fields phys;
            phys.be32(d).be32(d).u8(1);
            appendChunk(layout.ancillary, "pHYs", phys);
        }
    }
    return layout;
}

bool PngWriter::begin(const PngLayout &layout) {
    m_layout = layout;
    m_out.clear();
    m_out.reserve(kFlushAt + layout.idatSize + 64);
    m_out.insert(m_out.end(), std::begin(kSignature), std::end(kSignature));
    framing::Fields ihdr;
    ihdr.be32(layout.width).be32(layout.height).u8(8).u8(layout.channels == 4 ? 6 : 2);
    ihdr.u8(0).u8(0).u8(0);
    appendChunk(m_out, "IHDR", ihdr);
    m_out.insert(m_out.end(), layout.ancillary.begin(), layout.ancillary.end());
    m_chunkLeft = 0;
    m_zlibLeft = layout.zlibSize();
    m_rawLeft = layout.rawSize();
    m_blockLeft = 0;
    m_rowLeft = 0;
    m_areaLeft = layout.area();
    m_adler = 1;
    m_failed = false;
    const uint8_t header[2] = {0x78, layout.zlibFlags};
    zput(header, 2);
    return !m_failed;
}

void PngWriter::zput(const uint8_t *data, size_t size) {
    while (size) {
        if (m_chunkLeft == 0) {
            if (m_zlibLeft == 0) {
                m_failed = true; // more than the layout holds
                return;
            }
            const uint64_t length = std::min<uint64_t>(m_layout.idatSize, m_zlibLeft);
            m_zlibLeft -= length;
            const uint8_t head[8] = {uint8_t(length >> 24),
                                     uint8_t(length >> 16),
                                     uint8_t(length >> 8),
                                     uint8_t(length),
                                     'I',
                                     'D',
                                     'A',
                                     'T'};
            m_out.insert(m_out.end(), head, head + 8);
            m_chunkStart = m_out.size() - 4;
            m_chunkLeft = length;
        }
        const size_t n = size_t(std::min<uint64_t>(size, m_chunkLeft));
        m_out.insert(m_out.end(), data, data + n);
        data += n;
        size -= n;
        m_chunkLeft -= n;
        if (m_chunkLeft == 0) {
            const uint32_t crc =
                framing::crc32(0, m_out.data() + m_chunkStart, m_out.size() - m_chunkStart);
            const uint8_t tail[4] = {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8),
                                     uint8_t(crc)};
            m_out.insert(m_out.end(), tail, tail + 4);
            if (m_out.size() >= kFlushAt && !flush())
                return;
        }
    }
}

void PngWriter::rawPut(const uint8_t *data, size_t size) {
    m_adler = framing::adler32(m_adler, data, size);
    while (size) {
        if (m_blockLeft == 0) {
            const uint64_t length = std::min<uint64_t>(m_layout.blockSize, m_rawLeft);
            if (length == 0) {
                m_failed = true;
                return;
            }
            m_rawLeft -= length;
            const uint8_t head[5] = {uint8_t(m_rawLeft == 0), uint8_t(length), uint8_t(length >> 8),
                                     uint8_t(~length), uint8_t(~length >> 8)};
            zput(head, 5);
            m_blockLeft = length;
        }
        const size_t n = size_t(std::min<uint64_t>(size, m_blockLeft));
        zput(data, n);
        data += n;
        size -= n;
        m_blockLeft -= n;
    }
}

bool PngWriter::put(const uint8_t *data, size_t size) {
    if (size > m_areaLeft)
        return false;
    while (size && !m_failed) {
        if (m_rowLeft == 0) {
            const uint8_t filter = 0;
            rawPut(&filter, 1);
            m_rowLeft = m_layout.rowBytes();
        }
        const size_t n = size_t(std::min<uint64_t>(size, m_rowLeft));
        rawPut(data, n);
        data += n;
        size -= n;
        m_rowLeft -= n;
        m_areaLeft -= n;
    }
    return !m_failed;
}

bool PngWriter::finish() {
    std::vector<uint8_t> noise(65536);
    while (m_areaLeft && !m_failed) {
        const size_t n = size_t(std::min<uint64_t>(m_areaLeft, noise.size()));
        framing::randomFill(noise.data(), n);
        put(noise.data(), n);
    }
    const uint8_t trailer[4] = {uint8_t(m_adler >> 24), uint8_t(m_adler >> 16),
                                uint8_t(m_adler >> 8), uint8_t(m_adler)};
    zput(trailer, 4);
    if (m_failed || m_chunkLeft || m_zlibLeft || m_rawLeft || m_blockLeft)
        return false;
    static constexpr uint8_t kEnd[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xae, 0x42, 0x60, 0x82};
    m_out.insert(m_out.end(), std::begin(kEnd), std::end(kEnd));
    return flush();
}

bool PngWriter::flush() {
    if (!m_out.empty() && !m_output.write(m_out.data(), m_out.size()))
        m_failed = true;
    m_out.clear();
    return !m_failed;
}

PngReader::PngReader(const ContainerInput &input, uint64_t start, uint64_t end)
    : m_input(input), m_start(start), m_end(std::min(end, input.size)) {}

PngReader::~PngReader() {
    if (m_zReady)
        inflateEnd(&m_z);
}

int PngReader::chunkHeader(uint64_t at, uint32_t &length, uint32_t &type) {
    uint8_t head[8];
    if (at > m_end || m_end - at < 12)
        return int(kBodyMalformed);
    const int got = framing::readExact(m_input, at, head, 8);
    if (got <= 0)
        return got < 0 ? got : int(kBodyMalformed);
    length = framing::loadBe32(head);
    type = framing::loadBe32(head + 4);
    if (length > 0x7fffffffu || !validType(type) || m_end - at - 12 < length)
        return int(kBodyMalformed);
    return 1;
}

bool PngReader::open() {
    uint8_t head[33];
    if (m_start > m_end || m_end - m_start < sizeof head + 12 + 12)
        return false;
    if (framing::readExact(m_input, m_start, head, sizeof head) != 1)
        return false;
    if (std::memcmp(head, kSignature, 8) != 0 || framing::loadBe32(head + 8) != 13 ||
        framing::loadBe32(head + 12) != kIhdr ||
        framing::crc32(0, head + 12, 17) != framing::loadBe32(head + 29))
        return false;
    m_width = framing::loadBe32(head + 16);
    m_height = framing::loadBe32(head + 20);
    const uint8_t depth = head[24], color = head[25];
    if (m_width == 0 || m_width > 0x7fffffffu || m_height == 0 || m_height > 0x7fffffffu ||
        depth != 8 || (color != 2 && color != 6) || head[26] || head[27] || head[28])
        return false;
    m_channels = color == 6 ? 4 : 3;
    m_rowBytes = uint64_t(m_width) * m_channels;
    m_rowsLeft = m_height;
    // Ancillary chunks may stand before the pixels; anything critical but IDAT may not.
    uint64_t at = m_start + sizeof head;
    for (int count = 0; count < 4096; ++count) {
        uint32_t length = 0, type = 0;
        if (chunkHeader(at, length, type) != 1)
            return false;
        if (type == kIdat) {
            m_pos = at + 8;
            m_idatLeft = length;
            static constexpr uint8_t kIdatName[4] = {'I', 'D', 'A', 'T'};
            m_crc = framing::crc32(0, kIdatName, 4);
            m_inIdat = true;
            m_in.resize(size_t(1) << 18);
            m_raw.resize(size_t(1) << 18);
            if ((m_zReady ? inflateReset(&m_z) : inflateInit2(&m_z, -15)) != Z_OK)
                return false;
            m_zReady = m_opened = true;
            return true;
        }
        if (!(type & 0x20000000u))
            return false; // critical
        at += 12 + uint64_t(length);
    }
    return false;
}

int PngReader::nextInput() {
    while (m_idatLeft == 0) {
        if (!m_inIdat)
            return 0;
        uint8_t crc[4];
        const int got = framing::readExact(m_input, m_pos, crc, 4);
        if (got <= 0)
            return got < 0 ? got : int(kBodyMalformed);
        if (framing::loadBe32(crc) != m_crc)
            return int(kBodyMalformed);
        m_pos += 4;
        m_inIdat = false;
        uint32_t length = 0, type = 0;
        const int header = chunkHeader(m_pos, length, type);
        if (header != 1)
            return header;
        if (type != kIdat)
            return 0;
        m_pos += 8;
        m_idatLeft = length;
        static constexpr uint8_t kIdatName[4] = {'I', 'D', 'A', 'T'};
        m_crc = framing::crc32(0, kIdatName, 4);
        m_inIdat = true;
    }
    const size_t n = size_t(std::min<uint64_t>(m_idatLeft, m_in.size()));
    const int got = framing::readExact(m_input, m_pos, m_in.data(), n);
    if (got <= 0)
        return got < 0 ? got : int(kBodyMalformed);
    m_crc = framing::crc32(m_crc, m_in.data(), n);
    m_pos += n;
    m_idatLeft -= n;
    m_z.next_in = m_in.data();
    m_z.avail_in = uInt(n);
    return 1;
}

// The next bytes of the zlib stream itself (its header and trailer), across IDAT chunks.
int PngReader::takeBytes(uint8_t *out, size_t n) {
    for (size_t got = 0; got < n;) {
        if (m_z.avail_in == 0) {
            const int more = nextInput();
            if (more <= 0)
                return more < 0 ? more : int(kBodyMalformed);
        }
        const size_t k = std::min<size_t>(n - got, m_z.avail_in);
        std::memcpy(out + got, m_z.next_in, k);
        m_z.next_in += k;
        m_z.avail_in -= uInt(k);
        got += k;
    }
    return 1;
}

int PngReader::inflateMore() {
    m_rawPos = m_rawLen = 0;
    if (m_streamEnd)
        return 0;
    if (!m_headerRead) {
        // Deflate (method 8) with a window of at most 32 KiB and no preset dictionary.
        uint8_t head[2];
        const int got = takeBytes(head, 2);
        if (got < 0)
            return got;
        if ((head[0] & 0x0F) != 8 || (head[0] >> 4) > 7 || (head[0] << 8 | head[1]) % 31 ||
            (head[1] & 0x20))
            return int(kBodyMalformed);
        m_headerRead = true;
    }
    m_z.next_out = m_raw.data();
    m_z.avail_out = uInt(m_raw.size());
    while (m_z.avail_out == m_raw.size()) {
        if (m_z.avail_in == 0) {
            const int got = nextInput();
            if (got < 0)
                return got;
            if (got == 0)
                return int(kBodyMalformed); // the pixels stop before the stream ends
        }
        const int z = inflate(&m_z, Z_NO_FLUSH);
        if (z == Z_STREAM_END) {
            m_streamEnd = true;
            break;
        }
        if (z != Z_OK && !(z == Z_BUF_ERROR && m_z.avail_in == 0))
            return int(kBodyMalformed);
    }
    m_rawLen = m_raw.size() - m_z.avail_out;
    m_adler = framing::adler32(m_adler, m_raw.data(), m_rawLen);
    if (m_streamEnd) {
        uint8_t trailer[4];
        const int got = takeBytes(trailer, 4);
        if (got < 0)
            return got;
        if (framing::loadBe32(trailer) != m_adler)
            return int(kBodyMalformed);
    }
    return 1;
}

int PngReader::closeStream() {
    if (m_rawPos != m_rawLen)
        return int(kBodyMalformed); // more rows than the picture has
    while (!m_streamEnd) {
        const int got = inflateMore();
        if (got < 0)
            return got;
        if (m_rawLen)
            return int(kBodyMalformed);
    }
    if (m_z.avail_in || m_idatLeft)
        return int(kBodyMalformed); // bytes after the stream's end
    if (m_inIdat) {
        const int got = nextInput(); // checks the last IDAT's CRC and looks past it
        if (got != 0)
            return got < 0 ? got : int(kBodyMalformed);
    }
    uint64_t at = m_pos;
    for (int count = 0; count < 4096; ++count) {
        uint32_t length = 0, type = 0;
        const int header = chunkHeader(at, length, type);
        if (header != 1)
            return header;
        if (type == kIend)
            return length == 0 && at + 12 == m_end ? 1 : int(kBodyMalformed);
        if (!(type & 0x20000000u))
            return int(kBodyMalformed); // a critical chunk after the pixels
        at += 12 + uint64_t(length);
    }
    return int(kBodyMalformed);
}

void PngReader::reset(uint64_t start, uint64_t end) {
    m_start = start;
    m_end = std::min(end, m_input.size);
    m_width = m_height = m_channels = 0;
    m_rowBytes = m_rowsLeft = m_rowLeft = m_pos = m_idatLeft = 0;
    m_crc = 0;
    m_inIdat = m_streamEnd = m_done = m_opened = m_headerRead = false;
    m_adler = 1;
    m_failure = 0;
    m_rawPos = m_rawLen = 0;
}

int64_t PngReader::read(uint8_t *buffer, size_t size) {
    if (m_failure)
        return m_failure;
    if (m_done || !m_opened)
        return m_done ? 0 : kBodyMalformed;
    size_t out = 0;
    while (out < size && m_rowsLeft) {
        if (m_rawPos == m_rawLen) {
            const int got = inflateMore();
            if (got < 0)
                return m_failure = got;
            if (m_rawLen == 0)
                return m_failure = kBodyMalformed; // fewer rows than the picture has
        }
        if (m_rowLeft == 0) {
            if (m_raw[m_rawPos++] != 0)
                return m_failure = kBodyMalformed; // only filter type 0 keeps bytes as they are
            m_rowLeft = m_rowBytes;
            continue;
        }
        const size_t n = size_t(std::min<uint64_t>({size - out, m_rowLeft, m_rawLen - m_rawPos}));
        std::memcpy(buffer + out, m_raw.data() + m_rawPos, n);
        out += n;
        m_rawPos += n;
        m_rowLeft -= n;
        if (m_rowLeft == 0)
            --m_rowsLeft;
    }
    if (out)
        return int64_t(out);
    const int closed = closeStream();
    if (closed < 0)
        return m_failure = closed;
    m_done = true;
    return 0;
}

} // namespace strong::pictures
