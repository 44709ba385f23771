// AVI: uncompressed 24-bit video, noise as long as the body makes it, whose frames hold the body.
#include "containers.h"
#include "framing.h"
#include "riff.h"

#include <algorithm>
#include <vector>

namespace strong::containers {
namespace {

constexpr char kSoftware[] = "Lavf59.27.100"; // what ffmpeg 5.1 notes in the files it writes
// AVI 1.0 readers take a RIFF of up to 1 GiB without trouble; past it OpenDML's extension would
// be needed.
constexpr uint64_t kMostBody = uint64_t(1) << 30;
constexpr uint32_t kAvifHasIndex = 0x10, kAvifIsInterleaved = 0x100, kAvifTrustCkType = 0x800;
constexpr uint32_t kAviifKeyframe = 0x10;

struct Shape {
    uint32_t width = 0, height = 0;
    uint32_t scale = 1, rate = 25;
    bool topDown = false;
    uint32_t frameBytes() const { return width * height * 3; }
};

// The headers before the first frame, the size of the whole file and of its frames known.
std::vector<uint8_t> headers(const Shape &shape, uint64_t frames, uint32_t &moviAt) {
    const uint32_t frame = shape.frameBytes();
    framing::Fields strl;
    strl.text("LIST").le32(0).text("strl");
    strl.text("strh").le32(56).text("vids").le32(0).le32(0).le16(0).le16(0).le32(0);
    strl.le32(shape.scale).le32(shape.rate).le32(0).le32(uint32_t(frames)).le32(frame + 8);
    strl.le32(0xFFFFFFFFu).le32(0).le16(0).le16(0).le16(shape.width).le16(shape.height);
    strl.text("strf").le32(40).le32(40).le32(shape.width);
    strl.le32(shape.topDown ? uint32_t(-int32_t(shape.height)) : shape.height);
    strl.le16(1).le16(24).le32(0).le32(frame).le32(0).le32(0).le32(0).le32(0);
    strl.patchLe32(4, uint32_t(strl.size() - 8));

    framing::Fields f;
    f.text("RIFF").le32(0).text("AVI ");
    f.text("LIST").le32(uint32_t(4 + 64 + strl.size())).text("hdrl");
    const uint64_t usPerFrame = (uint64_t(1000000) * shape.scale + shape.rate / 2) / shape.rate;
    const uint64_t bytesPerSecond = uint64_t(frame) * shape.rate / shape.scale;
    f.text("avih").le32(56).le32(uint32_t(usPerFrame));
    f.le32(uint32_t(std::min<uint64_t>(bytesPerSecond, 0xFFFFFFFFu))).le32(0);
    f.le32(kAvifHasIndex | kAvifIsInterleaved | kAvifTrustCkType).le32(uint32_t(frames));
    f.le32(0).le32(1).le32(frame + 8).le32(shape.width).le32(shape.height).fill(16);
    f.append(strl.bytes().data(), strl.size());
    const uint32_t text = sizeof kSoftware; // with its zero, an even size
    f.text("LIST").le32(4 + 8 + text).text("INFO").text("ISFT").le32(text);
    f.append(reinterpret_cast<const uint8_t *>(kSoftware), text);
    moviAt = uint32_t(f.size() + 8); // where the 'movi' form type stands
    const uint64_t movi = 4 + frames * (8 + uint64_t(frame));
    f.text("LIST").le32(uint32_t(movi)).text("movi");
    const uint64_t riff = f.size() - 8 + movi - 4 + 8 + 16 * frames;
    f.patchLe32(4, uint32_t(riff));
    return f.bytes();
}

// A frame size of a common aspect whose last frame's padding and index keep the overhead small.
Shape chooseShape(uint64_t body) {
    static constexpr uint32_t kAspects[][2] = {{4, 3}, {16, 9}, {3, 2}, {5, 4}, {11, 9}};
    static constexpr uint32_t kRates[][2] = {{1, 10}, {1, 12}, {1, 15},       {1, 20},
                                             {1, 24}, {1, 25}, {1001, 30000}, {1, 30}};
    const uint64_t budget = body / 50 + 65536 - 2048;
    std::vector<Shape> fits;
    for (const auto &aspect : kAspects)
        for (uint32_t width = 160; width <= 640; width += 16) {
            if ((width * aspect[1]) % (aspect[0] * 2))
                continue;
            Shape s;
            s.width = width;
            s.height = width * aspect[1] / aspect[0];
            const uint64_t frame = s.frameBytes();
            const uint64_t frames = (body + frame - 1) / frame;
            if (frames * frame - body + frames * 24 <= budget)
                fits.push_back(s);
        }
    Shape s = fits.empty() ? Shape{160, 120} : fits[framing::between(0, uint32_t(fits.size() - 1))];
    const auto &rate = kRates[framing::between(0, std::size(kRates) - 1)];
    s.scale = rate[0];
    s.rate = rate[1];
    s.topDown = framing::between(0, 1);
    return s;
}

class Writer : public BodyWriter {
  public:
    Writer(const ContainerOutput &output, uint64_t body, uint32_t frame, uint64_t frames)
        : m_output(output), m_body(body), m_frame(frame), m_frames(frames) {}

    bool put(const uint8_t *data, size_t size) override {
        if (size > m_body - m_put)
            return false;
        while (size) {
            if (m_leftInFrame == 0 && !startFrame())
                return false;
            const size_t n = size_t(std::min<uint64_t>(size, m_leftInFrame));
            if (!m_output.write(data, n))
                return false;
            data += n;
            size -= n;
            m_put += n;
            m_leftInFrame -= n;
        }
        return true;
    }

    bool finish() override {
        if (m_put != m_body || !framing::writeRandom(m_output, m_leftInFrame))
            return false;
        framing::Fields f;
        f.text("idx1").le32(uint32_t(16 * m_frames));
        for (uint64_t i = 0; i < m_frames; ++i) {
            // Offsets count from the 'movi' form type.
            f.text("00db").le32(kAviifKeyframe).le32(uint32_t(4 + i * (8 + uint64_t(m_frame))));
            f.le32(m_frame);
            if (f.size() >= 65536 || i + 1 == m_frames) {
                if (!f.writeTo(m_output))
                    return false;
                f.clear();
            }
        }
        return true;
    }

  private:
    bool startFrame() {
        framing::Fields f;
        f.text("00db").le32(m_frame);
        m_leftInFrame = m_frame;
        ++m_started;
        return f.writeTo(m_output);
    }

    ContainerOutput m_output;
    uint64_t m_body, m_put = 0;
    uint32_t m_frame;
    uint64_t m_frames, m_started = 0, m_leftInFrame = 0;
};

std::unique_ptr<BodyWriter> create(const ContainerOutput &output, uint64_t bodySize) {
    if (bodySize == 0 || bodySize > kMostBody)
        return nullptr;
    const Shape shape = chooseShape(bodySize);
    const uint64_t frames = (bodySize + shape.frameBytes() - 1) / shape.frameBytes();
    uint32_t moviAt = 0;
    const auto head = headers(shape, frames, moviAt);
    if (!output.write(head.data(), head.size()))
        return nullptr;
    return std::make_unique<Writer>(output, bodySize, shape.frameBytes(), frames);
}

// The first stream's frames of every movi list, in the RIFF and any AVIX RIFFs after it.
class Reader : public framing::ExtentReader {
  public:
    Reader(const ContainerInput &input, uint64_t moviAt, uint64_t moviEnd, uint64_t riffEnd)
        : ExtentReader(input), m_offset(moviAt), m_moviEnd(moviEnd), m_riffEnd(riffEnd) {}

  protected:
    int next(uint64_t &offset, uint64_t &length) override {
        for (;;) {
            if (m_offset >= m_moviEnd) {
                // An OpenDML extension: the next RIFF 'AVIX' with its own movi list.
                riff::Chunk chunk;
                int got = riff::chunkAt(input(), m_riffEnd, input().size, chunk);
                if (got <= 0)
                    return got;
                uint8_t form[4];
                if (chunk.id != riff::fourcc("RIFF") || chunk.size < 4 ||
                    framing::readExact(input(), chunk.at, form, 4) != 1 ||
                    framing::loadLe32(form) != riff::fourcc("AVIX"))
                    return int(kBodyMalformed);
                if (chunk.after > input().size + (chunk.size & 1))
                    return int(kBodyMalformed);
                m_riffEnd = chunk.after;
                got = findMovi(input(), chunk.at + 4, chunk.at + chunk.size, m_offset, m_moviEnd);
                if (got <= 0)
                    return got < 0 ? got : int(kBodyMalformed);
                continue;
            }
            riff::Chunk chunk;
            const int got = riff::chunkAt(input(), m_offset, m_moviEnd, chunk);
            if (got <= 0)
                return got < 0 ? got : int(kBodyMalformed);
            if (chunk.id == riff::fourcc("LIST")) { // a 'rec ' list: its chunks follow
                m_offset = chunk.at + 4;
                continue;
            }
            if (chunk.after > m_moviEnd + (chunk.size & 1))
                return int(kBodyMalformed);
            m_offset = chunk.after;
            if (chunk.id == riff::fourcc("00db") || chunk.id == riff::fourcc("00dc")) {
                offset = chunk.at;
                length = chunk.size;
                return 1;
            }
        }
    }

  public:
    // The movi list among the chunks in [from, end): its content's start and end.
    static int findMovi(const ContainerInput &input, uint64_t from, uint64_t end, uint64_t &at,
                        uint64_t &moviEnd) {
        riff::Chunk chunk;
        for (int count = 0; count < 256; ++count) {
            const int got = riff::chunkAt(input, from, end, chunk);
            if (got <= 0)
                return got;
            if (chunk.size > end - chunk.at)
                return 0;
            uint8_t form[4];
            if (chunk.id == riff::fourcc("LIST") && chunk.size >= 4) {
                if (framing::readExact(input, chunk.at, form, 4) != 1)
                    return 0;
                if (framing::loadLe32(form) == riff::fourcc("movi")) {
                    at = chunk.at + 4;
                    moviEnd = chunk.at + chunk.size;
                    return 1;
                }
            }
            from = chunk.after;
        }
        return 0;
    }

  private:
    uint64_t m_offset, m_moviEnd, m_riffEnd;
};

std::unique_ptr<BodyReader> open(const ContainerInput &input) {
    uint8_t head[24];
    if (framing::readExact(input, 0, head, sizeof head) != 1 ||
        framing::loadLe32(head) != riff::fourcc("RIFF") ||
        framing::loadLe32(head + 8) != riff::fourcc("AVI ") ||
        framing::loadLe32(head + 12) != riff::fourcc("LIST") ||
        framing::loadLe32(head + 20) != riff::fourcc("hdrl"))
        return nullptr;
    const uint64_t riffEnd = 8 + uint64_t(framing::loadLe32(head + 4));
    if (riffEnd > input.size)
        return nullptr;
    uint64_t at = 0, moviEnd = 0;
    if (Reader::findMovi(input, 12, riffEnd, at, moviEnd) != 1)
        return nullptr;
    return std::make_unique<Reader>(input, at, moviEnd, riffEnd + (riffEnd & 1));
}

} // namespace

Container avi() {
    Container c;
    c.kind = 14;
    c.maxBody = kMostBody;
    c.create = create;
    c.open = open;
    return c;
}

} // namespace strong::containers
