// PNG pictures whose pixels are the body: the writer streams rows of 8-bit RGB or RGBA through
// stored deflate blocks into IDAT chunks, and the reader inflates any zlib stream back into the
// rows' bytes. Shared by png and by the icons and cursors (ico, cur) that embed PNG images.
#pragma once

#include "container.h"

#include <cstdint>
#include <memory>
#include <vector>

#include <zlib.h>

namespace strong::pictures {

// A width and height for a picture of at least `pixels` pixels, in plausible proportions,
// the width a multiple of `widthStep`, each side within 16384 while the area allows it.
struct Shape {
    uint64_t width = 0;
    uint64_t height = 0;
};
Shape plausibleShape(uint64_t pixels, uint32_t widthStep);
// What a picture holds for a body of `bytes`: a little more, at random, so that sizes vary for
// one body size (at most a quarter more below 1 MiB, at most 64 KiB and 1% more above).
uint64_t withSlack(uint64_t bytes);

// A PNG's layout, from which every byte count follows before the first is written.
struct PngLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t channels = 3;          // 3 (RGB) or 4 (RGBA), 8 bits each
    uint32_t idatSize = 8192;       // data bytes of every IDAT chunk but the last
    uint32_t blockSize = 65535;     // bytes of every stored deflate block but the last
    uint8_t zlibFlags = 0x9c;       // the zlib header's second byte (its level hint)
    std::vector<uint8_t> ancillary; // whole chunks between IHDR and the first IDAT

    uint64_t rowBytes() const { return uint64_t(width) * channels; }
    uint64_t area() const { return rowBytes() * height; } // the pixels: body then padding
    uint64_t rawSize() const { return (rowBytes() + 1) * height; }
    uint64_t zlibSize() const;
    uint64_t fileSize() const;
};

// Random encoder choices (chunk and block sizes, level hint, ancillary chunks) for a picture of
// the given size; `ancillaryChunks` false leaves IHDR, IDAT and IEND alone.
PngLayout plausiblePng(uint32_t width, uint32_t height, uint32_t channels, bool ancillaryChunks);

// Writes one PNG: begin(), the area's bytes through put(), then finish(), which fills the rest
// of the area with random bytes and closes the file. Buffers up to about 1 MiB.
class PngWriter {
  public:
    explicit PngWriter(const ContainerOutput &output) : m_output(output) {}
    bool begin(const PngLayout &layout);
    bool put(const uint8_t *data, size_t size);
    bool finish();
    uint64_t areaLeft() const { return m_areaLeft; }

  private:
    void zput(const uint8_t *data, size_t size);
    void rawPut(const uint8_t *data, size_t size);
    bool flush();

    ContainerOutput m_output;
    PngLayout m_layout;
    std::vector<uint8_t> m_out;
    size_t m_chunkStart = 0; // where the open chunk's type starts in m_out
    uint64_t m_chunkLeft = 0;
    uint64_t m_zlibLeft = 0; // zlib bytes still to come after the open chunk
    uint64_t m_rawLeft = 0;  // raw bytes not yet in a block
    uint64_t m_blockLeft = 0;
    uint64_t m_rowLeft = 0;
    uint64_t m_areaLeft = 0;
    uint32_t m_adler = 1;
    bool m_failed = false;
};

// Reads the area of the PNG held in [start, end) of the input: every row must have filter
// type 0, and the picture must end with IEND exactly at `end`.
class PngReader : public BodyReader {
  public:
    PngReader(const ContainerInput &input, uint64_t start, uint64_t end);
    ~PngReader() override;
    PngReader(const PngReader &) = delete;
    PngReader &operator=(const PngReader &) = delete;
    // Checks the signature, IHDR and the chunks before the first IDAT: false when the range
    // does not hold such a PNG.
    bool open();
    // Reads another range with the same buffers and inflate state (an icon's next image), so
    // that many small pictures cost no more than one large one; open() again after it.
    void reset(uint64_t start, uint64_t end);
    uint32_t width() const { return m_width; }
    uint32_t height() const { return m_height; }
    uint32_t channels() const { return m_channels; }
    int64_t read(uint8_t *buffer, size_t size) override;

  private:
    int chunkHeader(uint64_t at, uint32_t &length, uint32_t &type);
    int nextInput();
    int inflateMore();
    int closeStream();
    int takeBytes(uint8_t *out, size_t n);

    ContainerInput m_input;
    uint64_t m_start, m_end;
    uint32_t m_width = 0, m_height = 0, m_channels = 0;
    uint64_t m_rowBytes = 0;
    uint64_t m_rowsLeft = 0;
    uint64_t m_rowLeft = 0; // bytes of the current row still to give; 0 before a filter byte
    uint64_t m_pos = 0;     // next unread byte of the file
    uint64_t m_idatLeft = 0;
    uint32_t m_crc = 0;
    bool m_inIdat = false; // m_pos is inside an IDAT's data
    bool m_streamEnd = false;
    bool m_done = false;
    int64_t m_failure = 0;
    z_stream m_z{};
    bool m_zReady = false; // m_z holds inflate's state (to end, or reset for the next range)
    bool m_opened = false;
    // The zlib wrapper is read here and the deflate data by zlib: Adler-32 by libdeflate is
    // many times faster than zlib's own.
    bool m_headerRead = false;
    uint32_t m_adler = 1;
    std::vector<uint8_t> m_in, m_raw;
    size_t m_rawPos = 0, m_rawLen = 0;
};

} // namespace strong::pictures
