// MP3: a short tune encoded by LAME behind an ID3v2 tag whose general encapsulated object
// (GEOB) frame holds the body.
#include "containers.h"
#include "framing.h"

#include <lame/lame.h>
#include <utility>

#include <algorithm>
#include <cmath>
#include <future>
#include <string>
#include <system_error>
#include <vector>

namespace strong::containers {
namespace {

// The tag's size is a 28-bit syncsafe number; the other frames take well under the margin.
constexpr uint64_t kMostTag = 0x0FFFFFFF;
constexpr uint64_t kFramesMargin = 512;
constexpr char kSoftware[] = "Lavf59.27.100"; // what ffmpeg 5.1 notes in the tags it writes
constexpr uint64_t kPadding = 10;
constexpr char kMime[] = "application/octet-stream";

void syncsafe(framing::Fields &f, uint32_t v) {
    f.u8((v >> 21) & 0x7F).u8((v >> 14) & 0x7F).u8((v >> 7) & 0x7F).u8(v & 0x7F);
}

// A frame header: the size syncsafe in version 4, plain in version 3.
void frameHeader(framing::Fields &f, const char *id, uint32_t size, int version) {
    f.text(id);
    if (version == 4)
        syncsafe(f, size);
    else
        f.be32(size);
    f.be16(0);
}

// A tune of plucked sine notes over a pentatonic scale, made as LAME asks for samples.
class Tune {
  public:
    Tune(uint32_t rate, uint32_t channels) : m_rate(rate), m_channels(channels) {
        m_root = 110.0 * std::pow(2.0, framing::between(0, 23) / 12.0);
        m_pan = 0.2 + framing::between(0, 60) / 100.0;
    }
    void fill(int16_t *out, size_t frames) {
        static constexpr int kSteps[] = {0, 2, 4, 7, 9, 12, 14, 16};
        for (size_t i = 0; i < frames; ++i) {
            if (m_left == 0) {
                m_frequency = m_root * std::pow(2.0, kSteps[framing::between(0, 7)] / 12.0);
                m_left = m_rate * framing::between(15, 60) / 100;
                m_age = 0;
                m_phase = 0;
            }
            const double t = double(m_age++) / m_rate;
            const double v =
                0.3 * std::exp(-3.0 * t) * (std::sin(m_phase) + 0.3 * std::sin(2 * m_phase));
            m_phase += 2 * M_PI * m_frequency / m_rate;
            --m_left;
            const auto sample = [](double x) { return int16_t(std::lround(x * 32767)); };
            if (m_channels == 1) {
                out[i] = sample(v);
            } else {
                out[2 * i] = sample(v * (1 - m_pan));
                out[2 * i + 1] = sample(v * m_pan);
            }
        }
    }

  private:
    uint32_t m_rate, m_channels;
    double m_root, m_pan, m_frequency = 0, m_phase = 0;
    uint64_t m_left = 0, m_age = 0;
};

// The sound: a tune of its own, encoded by LAME with its tag in the first frame; empty when
// LAME failed.
std::vector<uint8_t> encodeAudio(uint64_t body) {
    static constexpr uint32_t kRates[] = {44100, 44100, 48000, 32000};
    static constexpr int kBitrates[] = {96, 112, 128, 128, 160, 192};
    const uint32_t rate = kRates[framing::between(0, std::size(kRates) - 1)];
    const uint32_t channels = framing::between(0, 3) ? 2 : 1;
    const int kbps = kBitrates[framing::between(0, std::size(kBitrates) - 1)];
    // A few seconds, longer for a larger file while the sound stays a small part of it.
    const uint64_t budget = 48 * 1024 + body / 80;
    const uint64_t most = std::clamp<uint64_t>(budget * 8 / uint64_t(kbps * 1000), 2, 12);
    const uint64_t tenths = framing::between(uint32_t(most * 5), uint32_t(most * 10));
    uint64_t frames = rate * tenths / 10;

    lame_global_flags *lame = lame_init();
    if (!lame)
        return {};
    struct Release {
        lame_global_flags *l;
        ~Release() { lame_close(l); }
    } release{lame};
    lame_set_num_channels(lame, int(channels));
    lame_set_in_samplerate(lame, int(rate));
    lame_set_out_samplerate(lame, int(rate));
    lame_set_brate(lame, kbps);
    lame_set_VBR(lame, vbr_off);
    lame_set_mode(lame, channels == 1 ? MONO : JOINT_STEREO);
    lame_set_quality(lame, int(framing::between(5, 7)));
    lame_set_bWriteVbrTag(lame, 1);
    lame_set_write_id3tag_automatic(lame, 0);
    if (lame_init_params(lame) < 0)
        return {};

    Tune tune(rate, channels);
    constexpr size_t kBlock = 1152 * 8;
    std::vector<int16_t> pcm(kBlock * channels);
    std::vector<uint8_t> mp3(kBlock * 5 / 4 + 7200), out;
    while (frames) {
        const size_t n = size_t(std::min<uint64_t>(frames, kBlock));
        tune.fill(pcm.data(), n);
        const int got = channels == 1 ? lame_encode_buffer(lame, pcm.data(), pcm.data(), int(n),
                                                           mp3.data(), int(mp3.size()))
                                      : lame_encode_buffer_interleaved(lame, pcm.data(), int(n),
                                                                       mp3.data(), int(mp3.size()));
        if (got < 0)
            return {};
        out.insert(out.end(), mp3.data(), mp3.data() + got);
        frames -= n;
    }
    const int got = lame_encode_flush(lame, mp3.data(), int(mp3.size()));
    if (got < 0)
        return {};
    out.insert(out.end(), mp3.data(), mp3.data() + got);
    // The first frame LAME gave was a place for its tag, known only now.
    const size_t tag = lame_get_lametag_frame(lame, mp3.data(), mp3.size());
    if (tag == 0 || tag > mp3.size() || tag > out.size())
        return {};
    std::copy(mp3.data(), mp3.data() + tag, out.begin());
    return out;
}

// The sound encoded on a thread of its own while the body passes; joined when the writer goes
// (the future waits). Nothing it throws leaves the thread.
std::future<std::vector<uint8_t>> encodeLater(uint64_t body) {
    const auto task = [body]() noexcept -> std::vector<uint8_t> {
        try {
            return encodeAudio(body);
        } catch (...) {
            return {};
        }
    };
    try {
        return std::async(std::launch::async, task);
    } catch (const std::system_error &) { // no thread to be had: encoded now
        std::promise<std::vector<uint8_t>> now;
        now.set_value(task());
        return now.get_future();
    }
}

class Writer : public BodyWriter {
  public:
    Writer(const ContainerOutput &output, uint64_t body, framing::Fields after)
        : m_output(output), m_body(body), m_after(std::move(after)), m_audio(encodeLater(body)) {}

    bool put(const uint8_t *data, size_t size) override {
        if (size > m_body - m_put)
            return false;
        m_put += size;
        return m_output.write(data, size);
    }

    bool finish() override {
        m_after.fill(kPadding);
        if (m_put != m_body || !m_after.writeTo(m_output))
            return false;
        const std::vector<uint8_t> audio = m_audio.get();
        return !audio.empty() && m_output.write(audio.data(), audio.size());
    }

  private:
    ContainerOutput m_output;
    uint64_t m_body, m_put = 0;
    framing::Fields m_after; // the frames after the object, then the padding
    std::future<std::vector<uint8_t>> m_audio;
};

std::unique_ptr<BodyWriter> create(const ContainerOutput &output, uint64_t bodySize) {
    const int version = framing::between(0, 2) ? 4 : 3; // ffmpeg's 2.4, or 2.3 when asked
    framing::Fields software;
    // As ffmpeg writes it: UTF-8 in version 4, Latin-1 in version 3.
    software.u8(version == 4 ? 3 : 0).text(kSoftware).u8(0);
    framing::Fields object;
    // The MIME type is optional: half the files leave it out, so that no text is in all.
    object.u8(0).text(framing::between(0, 1) ? kMime : "").u8(0);
    object.text(framing::plausibleName()).u8(0).u8(0);
    // The frames, then ten bytes of padding as ffmpeg leaves (exiftool also looks for a frame
    // header's worth of bytes after the last frame of a version 4 tag).
    const uint64_t frames = 10 + software.size() + 10 + object.size() + kPadding;
    if (bodySize > kMostTag - frames || frames > kFramesMargin)
        return nullptr;
    const uint32_t tagSize = uint32_t(frames + bodySize);
    framing::Fields f;
    f.text("ID3").u8(uint32_t(version)).u8(0).u8(0);
    syncsafe(f, tagSize);
    // The object first and ffmpeg's note after it: no fixed text stands beside the object's
    // header, whose size differs from file to file.
    frameHeader(f, "GEOB", uint32_t(object.size() + bodySize), version);
    f.append(object.bytes().data(), object.size());
    if (!f.writeTo(output))
        return nullptr;
    framing::Fields after;
    frameHeader(after, "TSSE", uint32_t(software.size()), version);
    after.append(software.bytes().data(), software.size());
    return std::make_unique<Writer>(output, bodySize, std::move(after));
}

// The tag's frames, one GEOB object after another.
class Reader : public framing::ExtentReader {
  public:
    Reader(const ContainerInput &input, int version, uint64_t offset, uint64_t end)
        : ExtentReader(input), m_version(version), m_offset(offset), m_end(end) {}

  protected:
    int next(uint64_t &offset, uint64_t &length) override {
        while (m_end - m_offset >= 10) {
            uint8_t head[10];
            const int got = framing::readExact(input(), m_offset, head, sizeof head);
            if (got <= 0)
                return got < 0 ? got : int(kBodyMalformed);
            if (head[0] == 0)
                return 0; // padding
            for (int i = 0; i < 4; ++i)
                if (!((head[i] >= 'A' && head[i] <= 'Z') || (head[i] >= '0' && head[i] <= '9')))
                    return int(kBodyMalformed);
            uint64_t size = framing::loadBe32(head + 4);
            if (m_version == 4) {
                if ((head[4] | head[5] | head[6] | head[7]) & 0x80)
                    return int(kBodyMalformed);
                size = uint64_t(head[4]) << 21 | uint64_t(head[5]) << 14 | head[6] << 7 | head[7];
            }
            const uint64_t at = m_offset + 10;
            if (size > m_end - at)
                return int(kBodyMalformed);
            m_offset = at + size;
            if (!std::equal(head, head + 4, "GEOB"))
                continue;
            // Compressed, encrypted, grouped or unsynchronised objects are not this layout.
            const uint16_t flags = framing::loadBe16(head + 8);
            if (flags & (m_version == 4 ? 0x004F : 0x00E0))
                return int(kBodyMalformed);
            uint64_t skip = 0;
            const int found = objectStart(at, size, skip);
            if (found <= 0)
                return found < 0 ? found : int(kBodyMalformed);
            offset = at + skip;
            length = size - skip;
            return 1;
        }
        return 0;
    }

  private:
    // Where the object starts after the text encoding, MIME type, file name and description.
    int objectStart(uint64_t at, uint64_t size, uint64_t &skip) {
        std::vector<uint8_t> head(size_t(std::min<uint64_t>(size, 4096)));
        const int got = framing::readExact(input(), at, head.data(), head.size());
        if (got <= 0)
            return got < 0 ? got : int(kBodyMalformed);
        if (head.empty() || head[0] > 3)
            return 0;
        const bool wide = head[0] == 1 || head[0] == 2; // UTF-16: two zero bytes end a text
        size_t p = 1;
        const auto past = [&](bool wideText) {
            for (; wideText ? p + 1 < head.size() : p < head.size(); p += wideText ? 2 : 1)
                if (head[p] == 0 && (!wideText || head[p + 1] == 0)) {
                    p += wideText ? 2 : 1;
                    return true;
                }
            return false;
        };
        if (!past(false) || !past(wide) || !past(wide))
            return 0;
        skip = p;
        return 1;
    }

    int m_version;
    uint64_t m_offset, m_end;
};

std::unique_ptr<BodyReader> open(const ContainerInput &input) {
    uint8_t head[10];
    if (framing::readExact(input, 0, head, sizeof head) != 1 || !std::equal(head, head + 3, "ID3"))
        return nullptr;
    const int version = head[3];
    const uint8_t flags = head[5];
    if ((version != 3 && version != 4) || (flags & 0x80) ||
        ((head[6] | head[7] | head[8] | head[9]) & 0x80))
        return nullptr;
    const uint64_t size =
        uint64_t(head[6]) << 21 | uint64_t(head[7]) << 14 | head[8] << 7 | head[9];
    uint64_t offset = 10;
    const uint64_t end = 10 + size;
    // MPEG audio follows the tag (and version 4's footer): a frame's sync and a valid layer.
    const uint64_t audio = end + ((version == 4 && (flags & 0x10)) ? 10 : 0);
    uint8_t sync[2];
    if (audio > input.size || framing::readExact(input, audio, sync, sizeof sync) != 1 ||
        sync[0] != 0xFF || (sync[1] & 0xE0) != 0xE0 || (sync[1] & 0x06) == 0)
        return nullptr;
    if (flags & 0x40) { // an extended header
        uint8_t ext[4];
        if (framing::readExact(input, offset, ext, sizeof ext) != 1)
            return nullptr;
        const uint64_t extSize =
            version == 4 ? (uint64_t(ext[0] & 0x7F) << 21 | uint64_t(ext[1] & 0x7F) << 14 |
                            uint64_t(ext[2] & 0x7F) << 7 | (ext[3] & 0x7F))
                         : 4 + uint64_t(framing::loadBe32(ext));
        if (extSize > size)
            return nullptr;
        offset += extSize;
    }
    return std::make_unique<Reader>(input, version, offset, end);
}

} // namespace

Container mp3() {
    Container c;
    c.kind = 12;
    c.maxBody = kMostTag - kFramesMargin;
    c.create = create;
    c.open = open;
    return c;
}

} // namespace strong::containers
