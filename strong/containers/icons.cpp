#include "icons.h"

#include "framing.h"
#include "png_stream.h"

#include <algorithm>
#include <vector>

namespace strong::containers {
namespace {

using pictures::PngLayout;

constexpr uint64_t kLargest = 256;
constexpr uint64_t kLargestArea = kLargest * kLargest * 4;
constexpr uint64_t kMaxImages = 16000;
constexpr uint64_t kMostEntries = 65535;
constexpr uint64_t kSmallestPng = 8 + 25 + 12 + 12 + 12; // signature, IHDR, IDAT, IEND

struct Entry {
    uint32_t width = 0, height = 0;
    uint64_t offset = 0, size = 0;
};

class Writer : public BodyWriter {
  public:
    Writer(const ContainerOutput &output, uint64_t bodySize, std::vector<uint32_t> heights,
           const PngLayout &shape)
        : m_png(output), m_left(bodySize), m_heights(std::move(heights)), m_shape(shape) {}
    bool put(const uint8_t *data, size_t size) override {
        if (size > m_left)
            return false;
        m_left -= size;
        while (size) {
            if (m_png.areaLeft() == 0 && !nextImage())
                return false;
            const size_t n = size_t(std::min<uint64_t>(size, m_png.areaLeft()));
            if (!m_png.put(data, n))
                return false;
            data += n;
            size -= n;
        }
        return true;
    }
    bool finish() override {
        // The body ends in the last image, which finish() pads; none is left unwritten.
        if (m_left || (m_next == 0 && !nextImage()) || m_next != m_heights.size())
            return false;
        return m_png.finish();
    }

  private:
    bool nextImage() {
        if (m_next == m_heights.size() || (m_next && !m_png.finish()))
            return false;
        PngLayout layout = m_shape;
        layout.width = uint32_t(kLargest);
        layout.height = m_heights[m_next++];
        return m_png.begin(layout);
    }

    pictures::PngWriter m_png;
    uint64_t m_left;
    std::vector<uint32_t> m_heights;
    PngLayout m_shape;
    size_t m_next = 0;
};

class Reader : public BodyReader {
  public:
    Reader(const ContainerInput &input, std::vector<Entry> entries)
        : m_input(input), m_entries(std::move(entries)) {}
    // The first image is looked at before the file is taken for an icon.
    bool openNext() {
        const Entry &e = m_entries[m_next++];
        if (m_png)
            m_png->reset(e.offset, e.offset + e.size);
        else
            m_png = std::make_unique<pictures::PngReader>(m_input, e.offset, e.offset + e.size);
        m_reading = true;
        return m_png->open() && m_png->width() == e.width && m_png->height() == e.height &&
               m_png->channels() == 4;
    }
    int64_t read(uint8_t *buffer, size_t size) override {
        for (;;) {
            if (!m_reading) {
                if (m_next == m_entries.size())
                    return 0;
                if (!openNext())
                    return kBodyMalformed;
            }
            const int64_t n = m_png->read(buffer, size);
            if (n != 0)
                return n;
            m_reading = false;
        }
    }

  private:
    ContainerInput m_input;
    std::vector<Entry> m_entries;
    size_t m_next = 0;
    std::unique_ptr<pictures::PngReader> m_png; // one reader, reset for each image
    bool m_reading = false;                     // m_png is open on the current image
};

std::unique_ptr<BodyWriter> create(const ContainerOutput &output, uint64_t bodySize,
                                   IconType type) {
    // Images 256 pixels wide: as many 256x256 as the body fills, then one for the rest, which
    // is 256x256 too below 1 MiB (where size costs nothing) and otherwise only as tall as the
    // rest needs, give or take a few rows, so that the padding stays small.
    std::vector<uint32_t> heights(size_t(bodySize / kLargestArea), uint32_t(kLargest));
    const uint64_t rest = bodySize % kLargestArea;
    if (rest || heights.empty()) {
        const uint64_t rows = (rest + kLargest * 4 - 1) / (kLargest * 4) + framing::between(0, 15);
        heights.push_back(bodySize < (uint64_t(1) << 20) ? uint32_t(kLargest)
                                                         : uint32_t(std::min(rows, kLargest)));
    }
    if (heights.size() > kMaxImages)
        return nullptr;
    const PngLayout shape = pictures::plausiblePng(16, 16, 4, true);
    // A cursor's hot spot: the tip of an arrow, the middle of a cross, or anywhere.
    double hotX = 0, hotY = 0;
    switch (framing::between(0, 3)) {
    case 0:
    case 1:
        break;
    case 2:
        hotX = hotY = 0.5;
        break;
    default:
        hotX = framing::between(0, 1000) / 1000.0;
        hotY = framing::between(0, 1000) / 1000.0;
    }
    framing::Fields dir;
    dir.le16(0).le16(uint32_t(type)).le16(uint32_t(heights.size()));
    uint64_t offset = 6 + 16 * uint64_t(heights.size());
    for (const uint32_t height : heights) {
        PngLayout layout = shape;
        layout.width = uint32_t(kLargest);
        layout.height = height;
        const uint64_t size = layout.fileSize();
        if (offset + size > 0xffffffffull)
            return nullptr;
        dir.u8(0).u8(height & 0xff).u8(0).u8(0); // 0 stands for 256
        if (type == IconType::icon)
            dir.le16(1).le16(32);
        else
            dir.le16(std::min<uint32_t>(kLargest - 1, uint32_t(hotX * kLargest)))
                .le16(std::min<uint32_t>(height - 1, uint32_t(hotY * height)));
        dir.le32(uint32_t(size)).le32(uint32_t(offset));
        offset += size;
    }
    if (!dir.writeTo(output))
        return nullptr;
    return std::make_unique<Writer>(output, bodySize, std::move(heights), shape);
}

std::unique_ptr<BodyReader> open(const ContainerInput &input, IconType type) {
    uint8_t head[6];
    if (input.size < 6 + 16 + kSmallestPng || input.size > 0xffffffffull ||
        framing::readExact(input, 0, head, 6) != 1 || framing::loadLe16(head) != 0 ||
        framing::loadLe16(head + 2) != uint32_t(type))
        return nullptr;
    const uint32_t count = framing::loadLe16(head + 4);
    if (count == 0 || 6 + 16 * uint64_t(count) > input.size)
        return nullptr;
    std::vector<uint8_t> dir(16 * size_t(count));
    if (framing::readExact(input, 6, dir.data(), dir.size()) != 1)
        return nullptr;
    // The images follow the directory in its order, each where the one before it ends, and the
    // last ends the file.
    std::vector<Entry> entries(count);
    uint64_t offset = 6 + 16 * uint64_t(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t *e = dir.data() + 16 * i;
        Entry &entry = entries[i];
        entry.width = e[0] ? e[0] : 256;
        entry.height = e[1] ? e[1] : 256;
        const uint32_t a = framing::loadLe16(e + 4), b = framing::loadLe16(e + 6);
        entry.size = framing::loadLe32(e + 8);
        entry.offset = framing::loadLe32(e + 12);
        const bool fields = type == IconType::icon ? (a <= 1 && (b == 0 || b == 32))
                                                   : (a < entry.width && b < entry.height);
        if (e[2] || e[3] || !fields || entry.offset != offset || entry.size < kSmallestPng ||
            entry.size > input.size - offset)
            return nullptr;
        offset += entry.size;
    }
    if (offset != input.size)
        return nullptr;
    auto reader = std::make_unique<Reader>(input, std::move(entries));
    if (!reader->openNext())
        return nullptr;
    return reader;
}

} // namespace

Container iconContainer(int kind, IconType type) {
    Container c;
    c.kind = kind;
    // Offsets and sizes are 32 bits: 16000 images of 256x256 (a little under 4 GiB of pixels)
    // keep the whole file under 4 GiB whatever chunk and block sizes the PNGs use.
    c.maxBody = kMaxImages * kLargestArea;
    static_assert(kMaxImages <= kMostEntries);
    if (type == IconType::icon) {
        c.create = [](const ContainerOutput &o, uint64_t n) {
            return create(o, n, IconType::icon);
        };
        c.open = [](const ContainerInput &i) { return open(i, IconType::icon); };
    } else {
        c.create = [](const ContainerOutput &o, uint64_t n) {
            return create(o, n, IconType::cursor);
        };
        c.open = [](const ContainerInput &i) { return open(i, IconType::cursor); };
    }
    return c;
}

} // namespace strong::containers
