// Standard MIDI File: a short tune of its own, with the body in sequencer (FF 7F) meta events
// (FF 7F) of the tracks before the tune's.
#include "containers.h"
#include "framing.h"

#include <algorithm>
#include <vector>

namespace strong::containers {
namespace {

// Events hold up to this much each (mido refuses messages past 1000000 bytes); a track holds at
// most this many of them, which keeps its length within 32 bits whatever an event's size.
constexpr uint32_t kLeastEvent = 256 * 1024;
constexpr uint32_t kMostEvent = 960 * 1024;
constexpr uint64_t kEventsPerTrack = 4095;
// Format 1 counts tracks in 16 bits; the tune takes two of them.
constexpr uint64_t kMostDataTracks = 65535 - 2;

void vlq(framing::Fields &f, uint32_t v) {
    uint8_t groups[5];
    int n = 0;
    do {
        groups[n++] = uint8_t(v & 0x7F);
        v >>= 7;
    } while (v);
    while (n-- > 1)
        f.u8(groups[n] | 0x80);
    f.u8(groups[0]);
}

uint32_t vlqSize(uint32_t v) {
    uint32_t n = 1;
    while (v >>= 7)
        ++n;
    return n;
}

// The tune's key: its tonic and whether it is minor (the pentatonic scale is major's).
struct Key {
    int root = 60;
    int mode = 0; // 0 major, 1 minor, 2 pentatonic
    static Key fresh() { return {int(framing::between(55, 67)), int(framing::between(0, 2))}; }
};

// The tempo, metre and (as some sequencers write it) key at the head of the first track.
framing::Fields conductor(const Key &key) {
    static constexpr uint8_t kMetres[][2] = {{4, 2}, {4, 2}, {3, 2}, {6, 3}, {2, 2}};
    // Sharps (or flats, negative) of the major key on each pitch class.
    static constexpr int kSharps[] = {0, -5, 2, -3, 4, -1, 6, 1, -4, 3, -2, 5};
    const auto &metre = kMetres[framing::between(0, std::size(kMetres) - 1)];
    framing::Fields time, tempo, f;
    time.u8(0).u8(0xFF).u8(0x58).u8(4).u8(metre[0]).u8(metre[1]).u8(metre[1] == 3 ? 12 : 24).u8(8);
    const uint32_t micros = 60000000u / framing::between(66, 168);
    tempo.u8(0).u8(0xFF).u8(0x51).u8(3).u8(micros >> 16).u8(micros >> 8).u8(micros);
    const bool tempoFirst = framing::between(0, 1);
    const framing::Fields &first = tempoFirst ? tempo : time, &second = tempoFirst ? time : tempo;
    f.append(first.bytes().data(), first.size()).append(second.bytes().data(), second.size());
    if (framing::between(0, 1)) {
        const bool minor = key.mode == 1;
        const int sharps = kSharps[(key.root + (minor ? 3 : 0)) % 12];
        f.u8(0).u8(0xFF).u8(0x59).u8(2).u8(uint32_t(sharps) & 0xFF).u8(minor ? 1 : 0);
    }
    return f;
}

// A melody wandering over a scale, and sometimes a bass line under it: a track each.
std::vector<framing::Fields> tune(const Key &key, uint32_t division, uint32_t count) {
    static constexpr int kMajor[] = {0, 2, 4, 5, 7, 9, 11};
    static constexpr int kMinor[] = {0, 2, 3, 5, 7, 8, 10};
    static constexpr int kPentatonic[] = {0, 2, 4, 7, 9};
    static constexpr uint8_t kPrograms[] = {0,  1,  2,  4,  5,  6,  11, 12, 13, 19,  24, 25,
                                            26, 40, 41, 42, 46, 48, 52, 56, 60, 65,  68, 71,
                                            73, 74, 75, 79, 80, 81, 88, 89, 98, 105, 108};
    const int *scale = key.mode == 0 ? kMajor : key.mode == 1 ? kMinor : kPentatonic;
    const int degrees = key.mode == 2 ? 5 : 7;
    const int root = key.root;
    const bool noteOff = framing::between(0, 1); // 80 events, or note-on at velocity 0
    const uint32_t notes = framing::between(24, 120);
    const uint32_t leadChannel = framing::between(0, 8);
    std::vector<framing::Fields> tracks(count);
    for (size_t t = 0; t < tracks.size(); ++t) {
        framing::Fields &f = tracks[t];
        const bool bass = t == 1;
        const uint32_t channel =
            bass ? (leadChannel + 1 + framing::between(0, 5)) % 9 : leadChannel;
        const uint8_t program = bass ? uint8_t(framing::between(32, 39))
                                     : kPrograms[framing::between(0, std::size(kPrograms) - 1)];
        f.u8(0).u8(0xC0 | channel).u8(program);
        int degree = int(framing::between(0, uint32_t(degrees - 1)));
        uint32_t rest = 0;
        for (uint32_t i = 0; i < (bass ? notes / 4 + 1 : notes); ++i) {
            static constexpr uint32_t kBeats[] = {1, 2, 2, 2, 4, 4, 8}; // in half beats
            const uint32_t length =
                bass ? division * 2 : division * kBeats[framing::between(0, 6)] / 2;
            if (!bass && framing::between(0, 9) == 0) { // a rest
                rest += length;
                continue;
            }
            degree = std::clamp(degree + int(framing::between(0, 4)) - 2, -degrees, 2 * degrees);
            const int octave = degree < 0 ? -1 : degree / degrees;
            const int note = root - (bass ? 24 : 0) + 12 * octave +
                             scale[(degree % degrees + degrees) % degrees];
            vlq(f, rest);
            f.u8(0x90 | channel).u8(uint32_t(note)).u8(framing::between(bass ? 70 : 60, 110));
            vlq(f, length);
            if (noteOff)
                f.u8(0x80 | channel).u8(uint32_t(note)).u8(64);
            else
                f.u8(0x90 | channel).u8(uint32_t(note)).u8(0);
            rest = 0;
        }
        vlq(f, rest);
        f.u8(0xFF).u8(0x2F).u8(0);
    }
    return tracks;
}

// Where the body's events and tracks fall, all known from its size before it arrives.
struct Plan {
    uint64_t body = 0;
    uint32_t event = 0; // a full event's size
    uint64_t events() const { return (body + event - 1) / event; }
    uint64_t tracks() const { return (events() + kEventsPerTrack - 1) / kEventsPerTrack; }
    uint32_t eventSize(uint64_t i) const {
        return uint32_t(std::min<uint64_t>(event, body - i * event));
    }
    // The track's length without the first track's tempo and metre.
    uint32_t trackLength(uint64_t t) const {
        const uint64_t first = t * kEventsPerTrack;
        const uint64_t last = std::min(first + kEventsPerTrack, events()); // one past
        uint64_t length = 4;                                               // end of track
        const uint64_t full = (last - first - 1);
        length += full * (3 + vlqSize(event) + event);
        const uint32_t lastSize = eventSize(last - 1);
        length += 3 + vlqSize(lastSize) + lastSize;
        return uint32_t(length);
    }
};

class Writer : public BodyWriter {
  public:
    Writer(const ContainerOutput &output, const Plan &plan, const Key &key, uint32_t division,
           uint32_t tune)
        : m_output(output), m_plan(plan), m_key(key), m_division(division), m_tune(tune) {}

    bool put(const uint8_t *data, size_t size) override {
        if (size > m_plan.body - m_put)
            return false;
        while (size) {
            if (m_leftInEvent == 0 && !startEvent())
                return false;
            const size_t n = size_t(std::min<uint64_t>(size, m_leftInEvent));
            if (!m_output.write(data, n))
                return false;
            data += n;
            size -= n;
            m_put += n;
            m_leftInEvent -= n;
        }
        return true;
    }

    bool finish() override {
        if (m_put != m_plan.body || !endTrack())
            return false;
        for (const auto &track : tune(m_key, m_division, m_tune)) {
            framing::Fields f;
            f.text("MTrk").be32(uint32_t(track.size()));
            if (!f.writeTo(m_output) || !track.writeTo(m_output))
                return false;
        }
        return true;
    }

  private:
    bool endTrack() {
        framing::Fields f;
        f.u8(0).u8(0xFF).u8(0x2F).u8(0);
        return f.writeTo(m_output);
    }

    bool startEvent() {
        framing::Fields f;
        if (m_event > 0 && m_event % kEventsPerTrack == 0) {
            if (!endTrack())
                return false;
            f.text("MTrk").be32(m_plan.trackLength(m_event / kEventsPerTrack));
        }
        const uint32_t size = m_plan.eventSize(m_event++);
        f.u8(0).u8(0xFF).u8(0x7F);
        vlq(f, size);
        m_leftInEvent = size;
        return f.writeTo(m_output);
    }

    ContainerOutput m_output;
    Plan m_plan;
    Key m_key;
    uint32_t m_division, m_tune;
    uint64_t m_put = 0, m_event = 0, m_leftInEvent = 0;
};

std::unique_ptr<BodyWriter> create(const ContainerOutput &output, uint64_t bodySize) {
    static constexpr uint32_t kDivisions[] = {96, 120, 192, 240, 384, 480, 960};
    Plan plan;
    plan.body = bodySize;
    plan.event = framing::between(kLeastEvent, kMostEvent);
    if (bodySize == 0 || plan.tracks() > kMostDataTracks)
        return nullptr;
    const uint32_t division = kDivisions[framing::between(0, std::size(kDivisions) - 1)];
    const Key key = Key::fresh();
    const framing::Fields head = conductor(key);
    framing::Fields f;
    // Format 1: the body's tracks, then the tune's one or two.
    const uint32_t tuneTracks = framing::between(1, 2);
    f.text("MThd").be32(6).be16(1).be16(uint32_t(plan.tracks() + tuneTracks)).be16(division);
    f.text("MTrk").be32(uint32_t(head.size() + plan.trackLength(0)));
    f.append(head.bytes().data(), head.size());
    if (!f.writeTo(output))
        return nullptr;
    return std::make_unique<Writer>(output, plan, key, division, tuneTracks);
}

// Reads a track's events through a window of the file.
class Reader : public framing::ExtentReader {
  public:
    Reader(const ContainerInput &input, uint64_t offset, uint32_t tracks)
        : ExtentReader(input), m_offset(offset), m_tracksLeft(tracks) {}

  protected:
    int next(uint64_t &offset, uint64_t &length) override {
        for (;;) {
            // Past a track's end-of-track event, what is left of its chunk is not read.
            if (!m_inTrack || m_offset == m_trackEnd || m_trackDone) {
                m_offset = m_inTrack ? m_trackEnd : m_offset;
                m_inTrack = false;
                if (m_tracksLeft == 0)
                    return 0;
                --m_tracksLeft;
                uint8_t head[8];
                const int got = load(m_offset, head, sizeof head);
                if (got <= 0)
                    return got < 0 ? got : int(kBodyMalformed);
                const uint64_t size = framing::loadBe32(head + 4);
                if (size > input().size - m_offset - 8)
                    return int(kBodyMalformed);
                m_offset += 8;
                m_trackEnd = m_offset + size;
                if (std::equal(head, head + 4, "MTrk")) {
                    m_inTrack = true;
                    m_trackDone = false;
                    m_status = 0;
                } else { // a chunk of an unknown type is skipped, as readers do
                    m_offset = m_trackEnd;
                    ++m_tracksLeft;
                }
                continue;
            }
            uint32_t delta = 0;
            int got = number(delta);
            if (got <= 0)
                return got;
            int status = byte();
            if (status < 0)
                return status;
            if (status < 0x80) { // running status: this is the first data byte
                if (m_status == 0)
                    return int(kBodyMalformed);
                --m_offset;
                status = m_status;
            }
            if (status == 0xFF) {
                const int type = byte();
                uint32_t size = 0;
                if (type < 0)
                    return type;
                if ((got = number(size)) <= 0)
                    return got;
                if (size > m_trackEnd - m_offset)
                    return int(kBodyMalformed);
                const uint64_t at = m_offset;
                m_offset += size;
                if (type == 0x2F)
                    m_trackDone = true;
                if (type == 0x7F && size > 0) {
                    offset = at;
                    length = size;
                    return 1;
                }
            } else if (status == 0xF0 || status == 0xF7) {
                uint32_t size = 0;
                if ((got = number(size)) <= 0)
                    return got;
                if (size > m_trackEnd - m_offset)
                    return int(kBodyMalformed);
                m_offset += size;
                m_status = 0;
            } else if (status >= 0xF1) {
                return int(kBodyMalformed);
            } else {
                m_status = status;
                const uint64_t data = (status & 0xE0) == 0xC0 ? 1 : 2;
                if (data > m_trackEnd - m_offset)
                    return int(kBodyMalformed);
                m_offset += data;
            }
        }
    }

  private:
    // Bytes through the window: 1, or 0 when the file ends first, or kBodyReadFailed.
    int load(uint64_t at, uint8_t *out, size_t size) {
        if (at < m_windowAt || at + size > m_windowAt + m_window.size()) {
            m_window.resize(
                size_t(std::min<uint64_t>(kWindow, input().size - std::min(at, input().size))));
            m_windowAt = at;
            if (m_window.size() < size)
                return 0;
            const int got = framing::readExact(input(), at, m_window.data(), m_window.size());
            if (got <= 0) {
                m_window.clear();
                return got;
            }
        }
        std::copy_n(m_window.begin() + std::ptrdiff_t(at - m_windowAt), size, out);
        return 1;
    }

    // The next byte of the track, or kBodyMalformed past its end.
    int byte() {
        if (m_offset >= m_trackEnd)
            return int(kBodyMalformed);
        uint8_t b = 0;
        const int got = load(m_offset, &b, 1);
        if (got <= 0)
            return got < 0 ? got : int(kBodyMalformed);
        ++m_offset;
        return b;
    }

    // A variable-length quantity: at most four bytes.
    int number(uint32_t &value) {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            const int b = byte();
            if (b < 0)
                return b;
            value = value << 7 | uint32_t(b & 0x7F);
            if (!(b & 0x80))
                return 1;
        }
        return int(kBodyMalformed);
    }

    static constexpr size_t kWindow = 65536;
    std::vector<uint8_t> m_window;
    uint64_t m_windowAt = 0;
    uint64_t m_offset, m_trackEnd = 0;
    uint32_t m_tracksLeft;
    bool m_inTrack = false, m_trackDone = false;
    int m_status = 0;
};

std::unique_ptr<BodyReader> open(const ContainerInput &input) {
    uint8_t head[22];
    if (framing::readExact(input, 0, head, sizeof head) != 1 || !std::equal(head, head + 4, "MThd"))
        return nullptr;
    const uint32_t size = framing::loadBe32(head + 4);
    const uint32_t format = framing::loadBe16(head + 8);
    const uint32_t tracks = framing::loadBe16(head + 10);
    if (size < 6 || size > 256 || format > 2 || tracks == 0 || framing::loadBe16(head + 12) == 0 ||
        uint64_t(size) + 8 + 8 > input.size)
        return nullptr;
    uint8_t track[4];
    if (framing::readExact(input, 8 + size, track, sizeof track) != 1 ||
        !std::equal(track, track + 4, "MTrk"))
        return nullptr;
    return std::make_unique<Reader>(input, 8 + size, tracks);
}

} // namespace

Container mid() {
    Container c;
    c.kind = 5;
    c.maxBody = kMostDataTracks * kEventsPerTrack * kLeastEvent;
    c.create = create;
    c.open = open;
    return c;
}

} // namespace strong::containers
