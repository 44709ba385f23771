// WAVE: the body is the sound's samples, noise as long as the body makes it, in the data chunk.
#include "wav.h"

#include "containers.h"
#include "framing.h"
#include "riff.h"

#include <ctime>
#include <string_view>

namespace strong::containers {
namespace wave {

namespace {

constexpr uint8_t kPcmGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                      0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;
// What ffmpeg 5.1 names itself in the files it writes.
constexpr char kSoftware[] = "Lavf59.27.100";

std::vector<uint8_t> chunksBeforeData(const Shape &shape) {
    framing::Fields f;
    const uint32_t align = shape.blockAlign();
    const bool extensible = shape.bits > 16;
    f.text("fmt ").le32(extensible ? 40 : 16);
    f.le16(extensible ? kFormatExtensible : kFormatPcm).le16(shape.channels).le32(shape.rate);
    f.le32(shape.rate * align).le16(align).le16(shape.bits);
    if (extensible) {
        // cbSize, valid bits, the speakers (front centre, or front left and right), PCM's GUID.
        f.le16(22).le16(shape.bits).le32(shape.channels == 1 ? 4 : 3);
        f.le16(kFormatPcm).append(kPcmGuidTail, sizeof kPcmGuidTail);
    }
    if (shape.infoList) {
        framing::Fields info;
        info.text("INFO");
        // A tag's size counts its terminating zero; a pad byte keeps the next one even.
        const auto tag = [&info](const char *id, std::string_view value) {
            info.text(id).le32(uint32_t(value.size() + 1)).text(value).u8(0);
            if ((value.size() + 1) % 2)
                info.u8(0);
        };
        if (!shape.date.empty())
            tag("ICRD", shape.date);
        tag("ISFT", kSoftware);
        f.text("LIST").le32(uint32_t(info.size())).append(info.bytes().data(), info.size());
    }
    return f.bytes();
}

} // namespace

std::vector<uint8_t> header(const Shape &shape, uint64_t dataSize) {
    const std::vector<uint8_t> middle = chunksBeforeData(shape);
    const uint64_t riffSize = 4 + middle.size() + 8 + dataSize;
    framing::Fields f;
    if (riffSize <= 0xFFFFFFFFu) {
        f.text("RIFF").le32(uint32_t(riffSize)).text("WAVE");
        f.append(middle.data(), middle.size());
        f.text("data").le32(uint32_t(dataSize));
        return f.bytes();
    }
    // RF64: the 32-bit sizes say "see ds64", which holds them in 64 bits.
    f.text("RF64").le32(0xFFFFFFFFu).text("WAVE");
    f.text("ds64").le32(28).le64(riffSize + 36).le64(dataSize).le64(dataSize / shape.blockAlign());
    f.le32(0);
    f.append(middle.data(), middle.size());
    f.text("data").le32(0xFFFFFFFFu);
    return f.bytes();
}

} // namespace wave

namespace {

class Writer : public BodyWriter {
  public:
    Writer(const ContainerOutput &output, uint64_t body, uint64_t data)
        : m_output(output), m_body(body), m_data(data) {}
    bool put(const uint8_t *data, size_t size) override {
        if (size > m_body - m_put)
            return false;
        m_put += size;
        return m_output.write(data, size);
    }
    bool finish() override {
        return m_put == m_body && framing::writeRandom(m_output, m_data - m_body);
    }

  private:
    ContainerOutput m_output;
    uint64_t m_body, m_data, m_put = 0;
};

std::unique_ptr<BodyWriter> create(const ContainerOutput &output, uint64_t bodySize) {
    static constexpr uint32_t kRates[] = {22050, 32000, 44100, 48000};
    wave::Shape shape;
    shape.channels = framing::between(1, 2);
    shape.rate = kRates[framing::between(0, 3)];
    shape.bits = framing::between(0, 3) == 0 ? 24 : 16;
    // ffmpeg's note of the software, and in half the files the recording's date as a
    // recorder gives it.
    shape.infoList = true;
    if (framing::between(0, 1)) {
        char date[16];
        const std::time_t when = std::time_t(framing::plausibleTime());
        std::tm parts{};
        gmtime_r(&when, &parts);
        std::strftime(date, sizeof date, "%Y-%m-%d", &parts);
        shape.date = date;
    }
    // Whole sample frames, and an even chunk so that no pad byte follows it; then up to a
    // twentieth of a second more, so that equal bodies do not give sounds of equal length.
    const uint64_t unit = shape.blockAlign() % 2 ? 2 * shape.blockAlign() : shape.blockAlign();
    const uint64_t data =
        ((bodySize + unit - 1) / unit + framing::between(0, shape.rate / 20)) * unit;
    const std::vector<uint8_t> head = wave::header(shape, data);
    if (!output.write(head.data(), head.size()))
        return nullptr;
    return std::make_unique<Writer>(output, bodySize, data);
}

class Reader : public framing::ExtentReader {
  public:
    Reader(const ContainerInput &input, uint64_t at, uint64_t size)
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

std::unique_ptr<BodyReader> open(const ContainerInput &input) {
    uint8_t head[12];
    if (framing::readExact(input, 0, head, sizeof head) != 1)
        return nullptr;
    const uint32_t form = framing::loadLe32(head);
    const bool rf64 = form == riff::fourcc("RF64");
    if ((form != riff::fourcc("RIFF") && !rf64) ||
        framing::loadLe32(head + 8) != riff::fourcc("WAVE"))
        return nullptr;
    uint64_t end = input.size;
    uint64_t dataSize64 = 0;
    uint64_t offset = 12;
    bool haveFormat = false;
    riff::Chunk chunk;
    // Chunks before the sound are few in real files; a bound keeps a crafted file's walk short.
    for (int count = 0; count < 1024; ++count) {
        if (riff::chunkAt(input, offset, end, chunk) != 1)
            return nullptr;
        if (rf64 && count == 0) {
            uint8_t ds64[28];
            if (chunk.id != riff::fourcc("ds64") || chunk.size < sizeof ds64 ||
                framing::readExact(input, chunk.at, ds64, sizeof ds64) != 1)
                return nullptr;
            dataSize64 = framing::loadLe64(ds64 + 8);
        } else if (chunk.id == riff::fourcc("fmt ")) {
            uint8_t fmt[16];
            if (chunk.size < sizeof fmt ||
                framing::readExact(input, chunk.at, fmt, sizeof fmt) != 1)
                return nullptr;
            const uint16_t tag = framing::loadLe16(fmt);
            if ((tag != wave::kFormatPcm && tag != wave::kFormatExtensible) ||
                framing::loadLe16(fmt + 2) == 0 || framing::loadLe16(fmt + 12) == 0)
                return nullptr;
            haveFormat = true;
        } else if (chunk.id == riff::fourcc("data")) {
            if (!haveFormat)
                return nullptr;
            const uint64_t size = rf64 && chunk.size == 0xFFFFFFFFu ? dataSize64 : chunk.size;
            return std::make_unique<Reader>(input, chunk.at, size);
        }
        if (chunk.after > end)
            return nullptr;
        offset = chunk.after;
    }
    return nullptr;
}

} // namespace

Container wav() {
    Container c;
    c.kind = 7;
    // RF64's ds64 sizes are 64-bit; the bound keeps every sum below them clear of overflow.
    c.maxBody = uint64_t(1) << 62;
    c.create = create;
    c.open = open;
    return c;
}

} // namespace strong::containers
