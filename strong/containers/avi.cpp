// AVI: uncompressed 24-bit video, noise as long as the body makes it, whose frames hold the body.
#include "containers.h"
#include "framing.h"
#include "riff.h"

#include <algorithm>
#include <vector>

namespace strong::containers {
namespace {

constexpr char kSoftware[] = "Lavf59.27.100"; // what ffmpeg 5.1 notes in the files it writes
// Each RIFF stays within 1 GiB, as AVI 1.0 readers expect of the first and ffmpeg writes the
// OpenDML ones ('AVIX') after it.
constexpr uint64_t kRiffBytes = uint64_t(1) << 30;
constexpr uint64_t kRiffMargin = uint64_t(4) << 20; // the headers and the indexes' growth
// Frame counts are 32-bit; the super index grows by 16 bytes per RIFF (1 MiB at this limit).
constexpr uint64_t kMostBody = uint64_t(1) << 46;
constexpr uint32_t kAvifHasIndex = 0x10, kAvifIsInterleaved = 0x100, kAvifTrustCkType = 0x800;
constexpr uint32_t kAviifKeyframe = 0x10;
// What ffmpeg reserves: super index entries, and zeros after the INFO list for later tags.
constexpr uint64_t kReservedRiffs = 256;
constexpr uint32_t kTagRoom = 1016;
constexpr uint32_t kSuggestedBuffer = 1 << 20; // ffmpeg's, whatever the frame size

struct Shape {
    uint32_t width = 0, height = 0;
    uint32_t scale = 1, rate = 25;
    bool topDown = false;
    uint64_t frameBytes() const { return uint64_t(width) * height * 3; }
};

// Where every frame, index and RIFF falls, all known from the body's size.
struct Plan {
    Shape shape;
    uint64_t frames = 0;
    uint64_t perRiff = 0; // frames in a RIFF, the last one's fewer
    uint64_t segments() const { return (frames + perRiff - 1) / perRiff; }
    // Past one RIFF the file is OpenDML: a super index, an odml list, a standard index per RIFF.
    bool openDml() const { return segments() > 1; }
    uint64_t framesIn(uint64_t s) const { return std::min(perRiff, frames - s * perRiff); }
    static uint64_t indexSize(uint64_t n) { return 8 + 24 + 8 * n; } // an ix00 chunk
    // A movi list's content from its form type on: frames and, in OpenDML, their standard index.
    uint64_t moviContent(uint64_t s) const {
        return 4 + framesIn(s) * (8 + shape.frameBytes()) +
               (openDml() ? indexSize(framesIn(s)) : 0);
    }
    // Super index entries: ffmpeg reserves room for 256 RIFFs, more only where more are needed.
    uint64_t superEntries() const { return std::max<uint64_t>(kReservedRiffs, segments()); }
};

void le64At(framing::Fields &f, size_t at, uint64_t v) {
    f.patchLe32(at, uint32_t(v));
    f.patchLe32(at + 4, uint32_t(v >> 32));
}

uint32_t gcd(uint32_t a, uint32_t b) {
    while (b) {
        const uint32_t r = a % b;
        a = b;
        b = r;
    }
    return a;
}

// The first RIFF's headers up to its movi list's form type, laid out as ffmpeg lays out its own:
// a file within one RIFF carries JUNK where the super index and the odml list would stand.
std::vector<uint8_t> headers(const Plan &plan) {
    const Shape &shape = plan.shape;
    const uint32_t frame = uint32_t(shape.frameBytes());
    const uint64_t segments = plan.segments();
    const bool openDml = plan.openDml();
    framing::Fields strl;
    strl.text("LIST").le32(0).text("strl");
    strl.text("strh").le32(56).text("vids").le32(0).le32(0).le16(0).le16(0).le32(0);
    strl.le32(shape.scale).le32(shape.rate).le32(0).le32(uint32_t(plan.frames)).le32(frame);
    strl.le32(0xFFFFFFFFu).le32(0).le16(0).le16(0).le16(shape.width).le16(shape.height);
    strl.text("strf").le32(40).le32(40).le32(shape.width);
    strl.le32(shape.topDown ? uint32_t(-int32_t(shape.height)) : shape.height);
    strl.le16(1).le16(24).le32(0).le32(frame).le32(0).le32(0).le32(0).le32(0);
    // OpenDML's super index, where each RIFF's standard index is (patched in below).
    const uint64_t reserved = openDml ? plan.superEntries() : kReservedRiffs;
    strl.text(openDml ? "indx" : "JUNK").le32(uint32_t(24 + 16 * reserved)).le16(4).u8(0).u8(0);
    strl.le32(openDml ? uint32_t(segments) : 0).text("00dc").fill(12);
    const size_t entries = strl.size();
    strl.fill(size_t(16 * reserved));
    // Video properties: refresh rate, total and valid sizes, the picture's proportions.
    const uint32_t common = gcd(shape.width, shape.height);
    strl.text("vprp").le32(68).le32(0).le32(0);
    strl.le32(uint32_t((2 * uint64_t(shape.rate) + shape.scale - 1) / (2 * uint64_t(shape.scale))));
    strl.le32(shape.width).le32(shape.height);
    strl.le16(uint16_t(shape.height / common)).le16(uint16_t(shape.width / common));
    strl.le32(shape.width).le32(shape.height).le32(1);
    strl.le32(shape.height).le32(shape.width).le32(shape.height).le32(shape.width).fill(16);
    strl.patchLe32(4, uint32_t(strl.size() - 8));

    framing::Fields f;
    f.text("RIFF").le32(0).text("AVI ");
    const size_t hdrl = f.size();
    f.text("LIST").le32(0).text("hdrl");
    const uint64_t usPerFrame = (uint64_t(1000000) * shape.scale + shape.rate / 2) / shape.rate;
    const uint64_t bytesPerSecond = uint64_t(frame) * shape.rate / shape.scale;
    f.text("avih").le32(56).le32(uint32_t(usPerFrame));
    f.le32(uint32_t(std::min<uint64_t>(bytesPerSecond, 0xFFFFFFFFu))).le32(0);
    f.le32(kAvifHasIndex | kAvifIsInterleaved | kAvifTrustCkType).le32(uint32_t(plan.framesIn(0)));
    f.le32(0).le32(1).le32(kSuggestedBuffer).le32(shape.width).le32(shape.height).fill(16);
    const size_t strlAt = f.size();
    f.append(strl.bytes().data(), strl.size());
    f.text(openDml ? "LIST" : "JUNK").le32(4 + 8 + 248).text("odml").text("dmlh").le32(248);
    f.le32(openDml ? uint32_t(plan.frames) : 0).fill(244);
    f.patchLe32(hdrl + 4, uint32_t(f.size() - hdrl - 8));
    const uint32_t text = sizeof kSoftware; // with its zero, an even size
    f.text("LIST").le32(4 + 8 + text).text("INFO").text("ISFT").le32(text);
    f.append(reinterpret_cast<const uint8_t *>(kSoftware), text);
    f.text("JUNK").le32(kTagRoom).fill(kTagRoom);
    f.text("LIST").le32(uint32_t(plan.moviContent(0))).text("movi");

    // The RIFFs one after another: in OpenDML each standard index ends its movi list.
    uint64_t movi = f.size() - 4;
    const uint64_t frameChunk = 8 + shape.frameBytes();
    for (uint64_t s = 0; s < segments; ++s) {
        const uint64_t n = plan.framesIn(s);
        if (openDml) {
            const size_t entry = strlAt + entries + size_t(16 * s);
            le64At(f, entry, movi + 4 + n * frameChunk);
            f.patchLe32(entry + 8, uint32_t(Plan::indexSize(n)));
            f.patchLe32(entry + 12, uint32_t(n));
        }
        const uint64_t end = movi + plan.moviContent(s) + (s == 0 ? 8 + 16 * n : 0);
        if (s == 0)
            f.patchLe32(4, uint32_t(end - 8));
        movi = end + 20; // the next RIFF 'AVIX' and its LIST 'movi'
    }
    return f.bytes();
}

// A frame size of a common shape whose last frame's padding and index keep the overhead small.
Plan choosePlan(uint64_t body) {
    static constexpr uint32_t kRatios[][2] = {{4, 3}, {16, 9}, {3, 2}, {5, 4}, {11, 9}};
    static constexpr uint32_t kRates[][2] = {{1, 10}, {1, 12}, {1, 15},       {1, 20},
                                             {1, 24}, {1, 25}, {1001, 30000}, {1, 30}};
    // Within 2% and 64 KiB; below 1 MiB, where that leaves one or two frame sizes, a little
    // more, so that small files too differ from one another.
    const uint64_t budget =
        std::max<uint64_t>(body / 50 + 65536 - 8192, body < (1 << 20) ? 200000 : 0);
    std::vector<Shape> fits;
    for (const auto &ratio : kRatios)
        for (uint32_t width = 160; width <= 640; width += 16) {
            if ((width * ratio[1]) % (ratio[0] * 2))
                continue;
            Shape s;
            s.width = width;
            s.height = width * ratio[1] / ratio[0];
            const uint64_t frame = s.frameBytes();
            const uint64_t frames = (body + frame - 1) / frame;
            // Padding, chunk headers and the index entries of all three indexes.
            if (frames * frame - body + frames * 40 + body / kRiffBytes * 64 <= budget)
                fits.push_back(s);
        }
    Plan plan;
    if (fits.empty()) {
        plan.shape.width = 160;
        plan.shape.height = 120;
    } else {
        plan.shape = fits[framing::between(0, uint32_t(fits.size() - 1))];
    }
    const auto &rate = kRates[framing::between(0, std::size(kRates) - 1)];
    plan.shape.scale = rate[0];
    plan.shape.rate = rate[1];
    plan.shape.topDown = framing::between(0, 1);
    const uint64_t frame = plan.shape.frameBytes();
    plan.frames = (body + frame - 1) / frame;
    plan.perRiff = (kRiffBytes - kRiffMargin) / (frame + 8 + 8 + 16);
    return plan;
}

class Writer : public BodyWriter {
  public:
    // `at` is where the first frame goes, just after the first movi list's form type.
    Writer(const ContainerOutput &output, uint64_t body, const Plan &plan, uint64_t at)
        : m_output(output), m_body(body), m_plan(plan), m_frame(uint32_t(plan.shape.frameBytes())),
          m_at(at), m_moviAt(at - 4) {}

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
        return m_put == m_body && framing::writeRandom(m_output, m_leftInFrame) &&
               endRiff(m_plan.segments() - 1);
    }

  private:
    // In OpenDML the RIFF's standard index; in the first RIFF the AVI 1.0 index of its frames.
    bool endRiff(uint64_t s) {
        const uint64_t n = m_plan.framesIn(s);
        const uint64_t chunk = 8 + uint64_t(m_frame);
        framing::Fields f;
        if (m_plan.openDml()) {
            f.text("ix00").le32(uint32_t(Plan::indexSize(n) - 8)).le16(2).u8(0).u8(1);
            f.le32(uint32_t(n)).text("00dc").le64(m_moviAt).le32(0);
        }
        for (int pass = s == 0 ? 2 : 1, index = m_plan.openDml() ? 0 : 1; index < pass; ++index) {
            if (index == 1)
                f.text("idx1").le32(uint32_t(16 * n));
            for (uint64_t i = 0; i < n; ++i) {
                // Offsets from the movi list's form type: to the data, or to the chunk.
                if (index == 0)
                    f.le32(uint32_t(4 + i * chunk + 8)).le32(m_frame);
                else
                    f.text("00dc").le32(kAviifKeyframe).le32(uint32_t(4 + i * chunk)).le32(m_frame);
                if (f.size() >= 65536) {
                    if (!f.writeTo(m_output))
                        return false;
                    m_at += f.size();
                    f.clear();
                }
            }
        }
        m_at += f.size();
        return f.writeTo(m_output);
    }

    bool startFrame() {
        framing::Fields f;
        if (m_started > 0 && m_started % m_plan.perRiff == 0) {
            const uint64_t s = m_started / m_plan.perRiff;
            if (!endRiff(s - 1))
                return false;
            f.text("RIFF").le32(uint32_t(4 + 8 + m_plan.moviContent(s))).text("AVIX");
            f.text("LIST").le32(uint32_t(m_plan.moviContent(s))).text("movi");
            m_moviAt = m_at + 20;
        }
        f.text("00dc").le32(m_frame);
        m_leftInFrame = m_frame;
        ++m_started;
        m_at += f.size() + m_frame;
        return f.writeTo(m_output);
    }

    ContainerOutput m_output;
    uint64_t m_body, m_put = 0;
    Plan m_plan;
    uint32_t m_frame;
    uint64_t m_started = 0, m_leftInFrame = 0;
    uint64_t m_at;     // where the next chunk starts
    uint64_t m_moviAt; // the current movi list's form type
};

std::unique_ptr<BodyWriter> create(const ContainerOutput &output, uint64_t bodySize) {
    if (bodySize == 0 || bodySize > kMostBody)
        return nullptr;
    const Plan plan = choosePlan(bodySize);
    const auto head = headers(plan);
    if (!output.write(head.data(), head.size()))
        return nullptr;
    return std::make_unique<Writer>(output, bodySize, plan, head.size());
}

// The first stream's frames of every movi list, in the RIFF and any AVIX RIFFs after it; the
// chunks around them (JUNK, indx, odml, ix00, idx1) are skipped, whichever layout holds them.
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
