// A PNG picture whose pixels are the body: 8-bit RGB or RGBA rows, stored deflate blocks.
#include "containers.h"
#include "framing.h"
#include "png_stream.h"

#include <algorithm>

namespace strong::containers {
namespace {

using pictures::PngLayout;

// The layout of a picture whose pixels hold `bodySize` bytes, false past the format's bounds.
bool layoutFor(uint64_t bodySize, PngLayout &layout) {
    const uint32_t channels = framing::between(0, 9) < 6 ? 3 : 4;
    const uint64_t holds = pictures::withSlack(bodySize);
    const auto shape = pictures::plausibleShape((holds + channels - 1) / channels, 1);
    const uint64_t rowBytes = shape.width * channels;
    const uint64_t height = std::max<uint64_t>(1, (holds + rowBytes - 1) / rowBytes);
    if (shape.width > 0x7fffffffu || height > 0x7fffffffu)
        return false;
    layout = pictures::plausiblePng(uint32_t(shape.width), uint32_t(height), channels, true);
    return true;
}

class Writer : public BodyWriter {
  public:
    Writer(const ContainerOutput &output, uint64_t bodySize) : m_png(output), m_left(bodySize) {}
    bool begin(const PngLayout &layout) { return m_png.begin(layout); }
    bool put(const uint8_t *data, size_t size) override {
        if (size > m_left)
            return false;
        m_left -= size;
        return m_png.put(data, size);
    }
    bool finish() override { return m_left == 0 && m_png.finish(); }

  private:
    pictures::PngWriter m_png;
    uint64_t m_left;
};

} // namespace

Container png() {
    Container c;
    c.kind = 6;
    // Rows and IDAT chunks are unbounded in number and each side may reach 2^31 - 1 pixels:
    // the limit is the file system's. 2^48 bytes keeps both sides far within their fields.
    c.maxBody = uint64_t(1) << 48;
    c.create = [](const ContainerOutput &output, uint64_t bodySize) -> std::unique_ptr<BodyWriter> {
        PngLayout layout;
        if (!layoutFor(bodySize, layout))
            return nullptr;
        auto writer = std::make_unique<Writer>(output, bodySize);
        if (!writer->begin(layout))
            return nullptr;
        return writer;
    };
    c.open = [](const ContainerInput &input) -> std::unique_ptr<BodyReader> {
        auto reader = std::make_unique<pictures::PngReader>(input, 0, input.size);
        if (!reader->open())
            return nullptr;
        return reader;
    };
    return c;
}

} // namespace strong::containers
