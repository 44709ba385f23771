// The picture disguises: bitmap, JPEG, PNG, icon and cursor, each a complete small picture.
#include "byte_writer.h"
#include "checksums.h"
#include "sample_content.h"
#include "segments.h"

#include <array>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

namespace templates {
namespace {

constexpr uint32_t kPixelsPerMetre = 2835; // 72 dots per inch

void bitmapInfoHeader(ByteWriter &w, int width, int height, int bitCount, uint32_t imageSize) {
    w.le32(40).le32(uint32_t(width)).le32(uint32_t(height)).le16(1).le16(uint32_t(bitCount));
    w.le32(0).le32(imageSize).le32(kPixelsPerMetre).le32(kPixelsPerMetre).le32(0).le32(0);
}

// The segment must come out at exactly the kind's length; anything else is a fault here.
Bytes checked(ByteWriter &w, size_t length, const char *what) {
    if (w.size() != length)
        throw std::logic_error(std::string(what) + " segment has the wrong length");
    return w.take();
}

// ---- JPEG: a baseline, Huffman-coded colour picture made of flat 8x8 tiles ----

// Bits go out most significant first; every 0xFF byte in the scan is followed by a stuffed 0.
class ScanWriter {
  public:
    void put(uint32_t code, int length) {
        for (int i = length - 1; i >= 0; --i) {
            m_acc = uint8_t(m_acc << 1 | ((code >> i) & 1));
            if (++m_bits == 8)
                flushByte();
        }
    }
    Bytes finish() {
        while (m_bits != 0)
            put(1, 1); // pad the last byte with one-bits
        return std::move(m_out);
    }

  private:
    void flushByte() {
        m_out.push_back(m_acc);
        if (m_acc == 0xFF)
            m_out.push_back(0);
        m_acc = 0;
        m_bits = 0;
    }
    Bytes m_out;
    uint8_t m_acc = 0;
    int m_bits = 0;
};

// DC differences: the twelve size categories 0..11, all with 4-bit codes 0000..1011.
// AC: only end-of-block (code "0") is ever used; a second symbol keeps the table ordinary.
constexpr int kDcCodeLength = 4;
constexpr uint8_t kDcQuantiser = 8; // a flat tile's DC coefficient is 8 x (level - 128)

void putDcDifference(ScanWriter &scan, int diff) {
    int category = 0;
    for (int magnitude = diff < 0 ? -diff : diff; magnitude; magnitude >>= 1)
        ++category;
    scan.put(uint32_t(category), kDcCodeLength);
    if (category > 0) {
        // Negative values are sent as diff - 1 in `category` bits (ones' complement).
        const int bits = diff < 0 ? diff - 1 : diff;
        scan.put(uint32_t(bits) & ((1u << category) - 1), category);
    }
    scan.put(0, 1); // end of block: every AC coefficient is zero
}

void jpegSegmentHeader(ByteWriter &w, uint8_t marker, size_t contentLength) {
    w.u8(0xFF).u8(marker).be16(uint32_t(contentLength + 2));
}

} // namespace

Bytes bitmapSegment() {
    // 16 x 15 pixels at 24 bits: rows of 48 bytes need no padding, 720 bytes of pixels.
    constexpr int kWidth = 16, kHeight = 15;
    constexpr uint32_t kFileSize = 774, kPixelOffset = 14 + 40;
    ByteWriter w;
    w.text("BM").le32(kFileSize).le16(0).le16(0).le32(kPixelOffset);
    bitmapInfoHeader(w, kWidth, kHeight, 24, kWidth * kHeight * 3);
    for (int y = kHeight - 1; y >= 0; --y) // bottom row first
        for (int x = 0; x < kWidth; ++x) {
            const Rgb c = samplePixel(x, y, kWidth, kHeight);
            w.u8(c.b).u8(c.g).u8(c.r);
        }
    return checked(w, kFileSize, "bitmap");
}

Bytes jpegSegment() {
    constexpr size_t kLength = 918;
    constexpr int kSize = 32, kTiles = kSize / 8;

    // Each tile is the sample picture's mean colour over it, in JFIF's YCbCr.
    int levels[kTiles * kTiles][3];
    for (int ty = 0; ty < kTiles; ++ty)
        for (int tx = 0; tx < kTiles; ++tx) {
            int r = 0, g = 0, b = 0;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) {
                    const Rgb c = samplePixel(tx * 8 + x, ty * 8 + y, kSize, kSize);
                    r += c.r;
                    g += c.g;
                    b += c.b;
                }
            r /= 64, g /= 64, b /= 64;
            int *ycc = levels[ty * kTiles + tx];
            ycc[0] = (299 * r + 587 * g + 114 * b + 500) / 1000;
            ycc[1] = (-1687 * r - 3313 * g + 5000 * b + 5000) / 10000 + 128;
            ycc[2] = (5000 * r - 4187 * g - 813 * b + 5000) / 10000 + 128;
        }

    ScanWriter scan;
    int predictor[3] = {0, 0, 0};
    for (const auto &tile : levels) // one block of each component per MCU, no subsampling
        for (int c = 0; c < 3; ++c) {
            const int dc = (tile[c] - 128) * 8 / kDcQuantiser;
            putDcDifference(scan, dc - predictor[c]);
            predictor[c] = dc;
        }
    const Bytes scanData = scan.finish();

    ByteWriter w;
    w.u8(0xFF).u8(0xD8);            // SOI
    jpegSegmentHeader(w, 0xE0, 14); // APP0: JFIF 1.01, 72 dpi
    w.text(std::string_view("JFIF\0", 5)).u8(1).u8(1).u8(1).be16(72).be16(72).u8(0).u8(0);

    const size_t commentAt = w.size(); // COM, sized last
    jpegSegmentHeader(w, 0xFE, 0);

    jpegSegmentHeader(w, 0xDB, 65); // DQT: table 0, 8-bit
    w.u8(0x00).u8(kDcQuantiser).fill(63, 16);

    jpegSegmentHeader(w, 0xC0, 15); // SOF0: baseline, 3 components
    w.u8(8).be16(kSize).be16(kSize).u8(3);
    for (int id = 1; id <= 3; ++id)
        w.u8(uint32_t(id)).u8(0x11).u8(0);

    std::array<uint8_t, 16> dcCounts{}, acCounts{};
    dcCounts[kDcCodeLength - 1] = 12;
    acCounts[0] = 1;                                          // 0x00, end of block: "0"
    acCounts[1] = 1;                                          // 0xF0, sixteen zeros: "10"
    jpegSegmentHeader(w, 0xC4, (1 + 16 + 12) + (1 + 16 + 2)); // DHT: DC 0 and AC 0
    w.u8(0x00);
    for (uint8_t n : dcCounts)
        w.u8(n);
    for (int category = 0; category < 12; ++category)
        w.u8(uint32_t(category));
    w.u8(0x10);
    for (uint8_t n : acCounts)
        w.u8(n);
    w.u8(0x00).u8(0xF0);

    jpegSegmentHeader(w, 0xDA, 10); // SOS: all three, full band
    w.u8(3);
    for (int id = 1; id <= 3; ++id)
        w.u8(uint32_t(id)).u8(0x00);
    w.u8(0).u8(63).u8(0);
    w.append(scanData);
    w.u8(0xFF).u8(0xD9); // EOI

    // The comment takes up the rest of the length.
    if (w.size() > kLength)
        throw std::logic_error("JPEG picture does not fit its segment");
    const size_t commentLength = kLength - w.size();
    Bytes b = w.take();
    std::string comment = "Tile study, 32 x 32, baseline JFIF.";
    comment.resize(commentLength, ' ');
    b.insert(b.begin() + ptrdiff_t(commentAt + 4), comment.begin(), comment.end());
    b[commentAt + 2] = uint8_t((commentLength + 2) >> 8);
    b[commentAt + 3] = uint8_t(commentLength + 2);
    if (b.size() != kLength)
        throw std::logic_error("JPEG segment has the wrong length");
    return b;
}

namespace {

void pngChunk(ByteWriter &w, std::string_view type, const Bytes &data) {
    w.be32(uint32_t(data.size()));
    const size_t typeAt = w.size();
    w.text(type).append(data);
    const Bytes &all = w.bytes();
    w.be32(crc32(std::span(all).subspan(typeAt, 4 + data.size())));
}

// A zlib stream: header (deflate, 32K window, best compression), data, Adler-32 of the input.
Bytes zlibStream(const Bytes &data) {
    ByteWriter w;
    w.u8(0x78).u8(0xDA).append(deflateRaw(data)).be32(adler32(data));
    return w.take();
}

} // namespace

Bytes pngSegment() {
    constexpr size_t kLength = 283;
    constexpr int kSize = 16;
    // Truecolour rows, all under the one filter type (None, Sub, Up, Average, Paeth) that
    // compresses best: the gentle gradient turns into small repeating differences.
    auto at = [](int x, int y, int channel) -> int {
        if (x < 0 || y < 0)
            return 0;
        const Rgb c = samplePixel(x, y, kSize, kSize);
        return channel == 0 ? c.r : channel == 1 ? c.g : c.b;
    };
    auto paeth = [](int a, int b, int c) {
        const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
        return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
    };
    Bytes idat;
    for (int filter = 0; filter <= 4; ++filter) {
        Bytes raw;
        for (int y = 0; y < kSize; ++y) {
            raw.push_back(uint8_t(filter));
            for (int x = 0; x < kSize; ++x)
                for (int ch = 0; ch < 3; ++ch) {
                    const int left = at(x - 1, y, ch), up = at(x, y - 1, ch),
                              corner = at(x - 1, y - 1, ch);
                    const int predicted = filter == 1   ? left
                                          : filter == 2 ? up
                                          : filter == 3 ? (left + up) / 2
                                          : filter == 4 ? paeth(left, up, corner)
                                                        : 0;
                    raw.push_back(uint8_t(at(x, y, ch) - predicted));
                }
        }
        Bytes candidate = zlibStream(raw);
        if (idat.empty() || candidate.size() < idat.size())
            idat = std::move(candidate);
    }

    ByteWriter header;
    header.be32(kSize).be32(kSize).u8(8).u8(2).u8(0).u8(0).u8(0);
    constexpr size_t kFixed = 8 + 25 + 12 + 12 + 8; // signature, IHDR, IEND, tEXt's frame + keyword
    if (kFixed + 12 + idat.size() > kLength)
        throw std::logic_error("PNG picture does not fit its segment");
    std::string comment = "Tolvex sample picture";
    comment.resize(kLength - kFixed - 12 - idat.size(), ' ');
    ByteWriter text;
    text.text(std::string_view("Comment\0", 8)).text(comment);

    ByteWriter w;
    w.u8(0x89).text("PNG\r\n").u8(0x1A).u8('\n');
    pngChunk(w, "IHDR", header.bytes());
    pngChunk(w, "tEXt", text.bytes());
    pngChunk(w, "IDAT", idat);
    pngChunk(w, "IEND", {});
    return checked(w, kLength, "PNG");
}

Bytes iconSegment() {
    // One 32 x 32 picture with 256 colours: 40 + 1024 palette + 1024 pixels + 128 mask = 2216
    // bytes after the 6-byte directory and its 16-byte entry.
    constexpr int kSize = 32;
    constexpr uint32_t kImageBytes = 40 + 256 * 4 + kSize * kSize + kSize * 4;
    ByteWriter w;
    w.le16(0).le16(1).le16(1); // reserved, type icon, one image
    w.u8(kSize).u8(kSize).u8(0).u8(0).le16(1).le16(8).le32(kImageBytes).le32(6 + 16);
    bitmapInfoHeader(w, kSize, 2 * kSize, 8, kSize * kSize + kSize * 4); // pixels, then mask
    // A 6 x 6 x 6 colour cube, then a ramp of greys.
    for (int i = 0; i < 256; ++i) {
        if (i < 216)
            w.u8(uint32_t(i % 6 * 51)).u8(uint32_t(i / 6 % 6 * 51)).u8(uint32_t(i / 36 * 51)).u8(0);
        else
            w.u8(uint32_t((i - 216) * 255 / 39))
                .u8(uint32_t((i - 216) * 255 / 39))
                .u8(uint32_t((i - 216) * 255 / 39))
                .u8(0);
    }
    // A disc on a transparent ground: the mask's 1-bits mark what shows through.
    auto inside = [](int x, int y) {
        const int dx = 2 * x + 1 - kSize, dy = 2 * y + 1 - kSize;
        return dx * dx + dy * dy <= (kSize - 2) * (kSize - 2);
    };
    for (int y = kSize - 1; y >= 0; --y)
        for (int x = 0; x < kSize; ++x) {
            const Rgb c = samplePixel(x, y, kSize, kSize);
            const int index = ((c.r + 25) / 51) * 36 + ((c.g + 25) / 51) * 6 + (c.b + 25) / 51;
            w.u8(inside(x, y) ? uint32_t(index) : 0);
        }
    for (int y = kSize - 1; y >= 0; --y) {
        uint32_t row = 0;
        for (int x = 0; x < kSize; ++x)
            row = row << 1 | (inside(x, y) ? 0 : 1);
        w.be32(row); // leftmost pixel in the highest bit
    }
    return checked(w, 2238, "icon");
}

Bytes cursorSegment() {
    // One 32 x 32 picture with 16 colours: 40 + 64 palette + 512 pixels + 128 mask = 744 bytes.
    constexpr int kSize = 32;
    constexpr uint32_t kImageBytes = 40 + 16 * 4 + kSize * kSize / 2 + kSize * 4;
    constexpr uint8_t kBlack = 0, kWhite = 15;
    ByteWriter w;
    w.le16(0).le16(2).le16(1); // reserved, type cursor, one image
    // Width, height, colours, reserved, then the hot spot (the arrow's tip) where icons keep
    // planes and bit count.
    w.u8(kSize).u8(kSize).u8(16).u8(0).le16(0).le16(0).le32(kImageBytes).le32(6 + 16);
    bitmapInfoHeader(w, kSize, 2 * kSize, 4, kSize * kSize / 2 + kSize * 4);
    static constexpr uint8_t kPalette[16][3] = {
        {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},  {0, 0, 128}, {128, 0, 128},
        {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},    {0, 255, 0}, {255, 255, 0},
        {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
    for (const auto &rgb : kPalette)
        w.u8(rgb[2]).u8(rgb[1]).u8(rgb[0]).u8(0);
    // The familiar arrow, tip at the top left: B black rim, W white body, anything else shows
    // the screen through.
    static constexpr std::string_view kArrow[] = {
        "B",           "BB",           "BWB",         "BWWB",        "BWWWB",
        "BWWWWB",      "BWWWWWB",      "BWWWWWWB",    "BWWWWWWWB",   "BWWWWWWWWB",
        "BWWWWWWWWWB", "BWWWWWWBBBBB", "BWWWBWWB",    "BWWB BWWB",   "BWB  BWWB",
        "BB    BWWB",  "B     BWWB",   "       BWWB", "       BWWB", "        BB"};
    auto pixel = [](int x, int y) -> int { // -1: transparent
        if (y >= int(std::size(kArrow)) || x >= int(kArrow[y].size()))
            return -1;
        const char c = kArrow[y][size_t(x)];
        return c == 'B' ? kBlack : c == 'W' ? kWhite : -1;
    };
    for (int y = kSize - 1; y >= 0; --y)
        for (int x = 0; x < kSize; x += 2) {
            const int left = pixel(x, y), right = pixel(x + 1, y);
            w.u8(uint32_t((left < 0 ? 0 : left) << 4 | (right < 0 ? 0 : right)));
        }
    for (int y = kSize - 1; y >= 0; --y) {
        uint32_t row = 0;
        for (int x = 0; x < kSize; ++x)
            row = row << 1 | (pixel(x, y) < 0 ? 1 : 0);
        w.be32(row);
    }
    return checked(w, 766, "cursor");
}

} // namespace templates
