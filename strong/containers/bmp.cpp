// A 24-bit Windows bitmap whose pixel array is the body: BITMAPFILEHEADER, BITMAPINFOHEADER,
// then the rows, bottom-up, each a whole number of 4-byte units so that no row needs padding.
#include "containers.h"
#include "framing.h"
#include "png_stream.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace strong::containers {
namespace {

constexpr uint32_t kHeaders = 14 + 40;
constexpr uint32_t kLargestHeaders = 14 + 124;

class Writer : public BodyWriter {
  public:
    Writer(const ContainerOutput &output, uint64_t bodySize, uint64_t padding)
        : m_output(output), m_left(bodySize), m_padding(padding) {}
    bool put(const uint8_t *data, size_t size) override {
        if (size > m_left)
            return false;
        m_left -= size;
        return m_output.write(data, size);
    }
    bool finish() override { return m_left == 0 && framing::writeRandom(m_output, m_padding); }

  private:
    ContainerOutput m_output;
    uint64_t m_left, m_padding;
};

class Reader : public framing::ExtentReader {
  public:
    Reader(const ContainerInput &input, uint64_t offset, uint64_t length)
        : ExtentReader(input), m_offset(offset), m_length(length) {}

  protected:
    int next(uint64_t &offset, uint64_t &length) override {
        if (m_given)
            return 0;
        m_given = true;
        offset = m_offset;
        length = m_length;
        return 1;
    }

  private:
    uint64_t m_offset, m_length;
    bool m_given = false;
};

} // namespace

Container bmp() {
    Container c;
    c.kind = 1;
    // bfSize is 32 bits: the whole file stays under 4 GiB, with room for the headers and the
    // last row's padding (a row is under 200 KiB at any size this allows).
    c.maxBody = 0xffffffffull - (uint64_t(1) << 20);
    c.create = [](const ContainerOutput &output, uint64_t bodySize) -> std::unique_ptr<BodyWriter> {
        // A width that is a multiple of 4 makes every 24-bit row a whole number of 4-byte units.
        const uint64_t holds = pictures::withSlack(bodySize);
        const auto shape = pictures::plausibleShape((holds + 2) / 3, 4);
        const uint64_t rowBytes = shape.width * 3;
        const uint64_t height = std::max<uint64_t>(1, (holds + rowBytes - 1) / rowBytes);
        const uint64_t area = rowBytes * height;
        if (bodySize > 0xffffffffull || area > 0xffffffffull - kLargestHeaders ||
            shape.width > 0x7fffffff || height > 0x7fffffff)
            return nullptr;
        static constexpr uint32_t kDensities[] = {2835, 2835, 2834,  3780, 3780, 3779,
                                                  0,    0,    11811, 5906, 7874};
        const uint32_t density = kDensities[framing::between(0, std::size(kDensities) - 1)];
        // The info header as Paint and older tools write it (40 bytes), or the version 4 or 5
        // one with masks and the sRGB colour space that ImageMagick and GIMP write.
        static constexpr uint32_t kInfoSizes[] = {40, 40, 108, 124, 124};
        const uint32_t info = kInfoSizes[framing::between(0, std::size(kInfoSizes) - 1)];
        const uint32_t imageSize = info == 40 && framing::between(0, 2) == 0 ? 0 : uint32_t(area);
        framing::Fields header;
        header.text("BM").le32(uint32_t(14 + info + area)).le16(0).le16(0).le32(14 + info);
        header.le32(info).le32(uint32_t(shape.width)).le32(uint32_t(height)).le16(1).le16(24);
        header.le32(0).le32(imageSize).le32(density).le32(density).le32(0).le32(0);
        if (info >= 108) {
            header.le32(0x00ff0000).le32(0x0000ff00).le32(0x000000ff).le32(0xff000000);
            header.text("BGRs").fill(36 + 12);
        }
        if (info == 124)
            header.le32(4).le32(0).le32(0).le32(0);
        if (!header.writeTo(output))
            return nullptr;
        return std::make_unique<Writer>(output, bodySize, area - bodySize);
    };
    c.open = [](const ContainerInput &input) -> std::unique_ptr<BodyReader> {
        uint8_t h[kHeaders];
        if (input.size < kHeaders || input.size > 0xffffffffull ||
            framing::readExact(input, 0, h, sizeof h) != 1 || h[0] != 'B' || h[1] != 'M')
            return nullptr;
        const uint32_t fileSize = framing::loadLe32(h + 2), pixels = framing::loadLe32(h + 10);
        const int32_t width = int32_t(framing::loadLe32(h + 18));
        const int32_t height = int32_t(framing::loadLe32(h + 22));
        const uint32_t imageSize = framing::loadLe32(h + 34);
        const uint32_t info = framing::loadLe32(h + 14);
        if (fileSize != input.size || (info != 40 && info != 108 && info != 124) ||
            pixels < 14 + info || width <= 0 || height == 0 || height == INT32_MIN ||
            framing::loadLe16(h + 26) != 1 || framing::loadLe16(h + 28) != 24 ||
            framing::loadLe32(h + 30) != 0)
            return nullptr;
        const uint64_t rowBytes = (uint64_t(width) * 24 + 31) / 32 * 4;
        const uint64_t area = rowBytes * uint64_t(height < 0 ? -int64_t(height) : height);
        if (pixels > input.size || input.size - pixels != area || (imageSize && imageSize != area))
            return nullptr;
        return std::make_unique<Reader>(input, pixels, area);
    };
    return c;
}

} // namespace strong::containers
