// The sound and video disguises: MIDI, WAVE, MP3 and AVI.
#include "byte_writer.h"
#include "sample_content.h"
#include "segments.h"

#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>

namespace templates {
namespace {

Bytes checked(ByteWriter &w, size_t length, const char *what) {
    if (w.size() != length)
        throw std::logic_error(std::string(what) + " segment has the wrong length");
    return w.take();
}

} // namespace

Bytes midiSegment() {
    // Format 0, one track, 96 ticks a quarter note: a rising C major arpeggio on the piano.
    constexpr size_t kLength = 87, kTrackLength = kLength - 14 - 8;
    ByteWriter track;
    const size_t nameAt = track.size();
    track.u8(0).u8(0xFF).u8(0x03).u8(0);                            // track name, sized last
    track.u8(0).u8(0xFF).u8(0x51).u8(3).u8(0x07).u8(0xA1).u8(0x20); // 500000 us a quarter
    track.u8(0).u8(0xC0).u8(0);                                     // programme 0, piano
    for (uint32_t note : {60u, 64u, 67u}) {
        track.u8(0).u8(0x90).u8(note).u8(80); // on
        track.u8(96).u8(0x80).u8(note).u8(0); // off a quarter note later
    }
    track.u8(0).u8(0xFF).u8(0x2F).u8(0); // end of track
    std::string name = "Tolvex chime";
    if (track.size() + name.size() > kTrackLength)
        throw std::logic_error("MIDI track does not fit its segment");
    name.resize(kTrackLength - track.size(), ' ');
    Bytes events = track.take();
    events[nameAt + 3] = uint8_t(name.size());
    events.insert(events.begin() + ptrdiff_t(nameAt + 4), name.begin(), name.end());

    ByteWriter w;
    w.text("MThd").be32(6).be16(0).be16(1).be16(96);
    w.text("MTrk").be32(uint32_t(events.size())).append(events);
    return checked(w, kLength, "MIDI");
}

Bytes waveSegment() {
    // 8-bit mono PCM at 8000 Hz: 300 samples of a 440 Hz tone filling the data chunk.
    constexpr size_t kLength = 344;
    constexpr uint32_t kRate = 8000, kSamples = kLength - 12 - 24 - 8;
    ByteWriter w;
    // The RIFF size is the true one (336); only the AVI disguise carries the marker value there.
    w.text("RIFF").le32(kLength - 8).text("WAVE");
    w.text("fmt ").le32(16).le16(1).le16(1).le32(kRate).le32(kRate).le16(1).le16(8);
    w.text("data").le32(kSamples);
    for (uint32_t i = 0; i < kSamples; ++i) {
        // Fade in and out over the first and last 40 samples so the tone does not click.
        const double envelope = std::min({1.0, i / 40.0, (kSamples - 1 - i) / 40.0});
        const double s = std::sin(2 * std::numbers::pi * 440.0 * i / kRate) * envelope;
        w.u8(uint32_t(std::lround(128 + 100 * s)));
    }
    return checked(w, kLength, "WAVE");
}

namespace {

// An MPEG-2 Layer III frame header: 22050 Hz, mono, no CRC, original. Bit rate index 5 is
// 40 kbit/s (the first frame, as the magic fixes), index 1 is 8 kbit/s.
void mp3FrameHeader(ByteWriter &w, uint32_t bitrateIndex, bool padded) {
    w.u8(0xFF).u8(0xF3).u8(bitrateIndex << 4 | (padded ? 2u : 0u)).u8(0xC4);
}

// Bytes in a Layer III frame of the lower sampling rates: 72 x bit rate / sampling rate, plus
// one when padded.
constexpr uint32_t mp3FrameLength(uint32_t kbps, bool padded) {
    return 72 * kbps * 1000 / 22050 + (padded ? 1 : 0);
}

} // namespace

Bytes mp3Segment() {
    // A variable bit rate clip of silence as encoders write it: a first frame that carries the
    // "Xing" summary (the frame count) in place of audio, then 8 kbit/s silent frames.
    // Frame lengths are 131 (40 kbit/s, padded, as the magic fixes) and 26 or 27, so
    // 1452 = 131 + 50 frames of which 21 are padded.
    constexpr size_t kLength = 1452;
    constexpr uint32_t kSideInfo = 9; // mono, one granule: all zero means no coded audio
    constexpr uint32_t kSilentFrames = 50, kPaddedSilentFrames = 21;
    static_assert(mp3FrameLength(40, true) + kSilentFrames * mp3FrameLength(8, false) +
                      kPaddedSilentFrames ==
                  kLength);
    ByteWriter w;
    mp3FrameHeader(w, 5, true);
    w.fill(kSideInfo);
    // Only the frame count: a byte count would disagree with the file once data follows.
    w.text("Xing").be32(0x1).be32(kSilentFrames);
    w.fill(mp3FrameLength(40, true) - w.size());
    for (uint32_t i = 0; i < kSilentFrames; ++i) {
        // Spread the padded frames evenly, as an encoder's running remainder would.
        const bool padded = (i + 1) * kPaddedSilentFrames / kSilentFrames !=
                            i * kPaddedSilentFrames / kSilentFrames;
        const size_t start = w.size();
        mp3FrameHeader(w, 1, padded);
        w.fill(mp3FrameLength(8, padded) - (w.size() - start));
    }
    return checked(w, kLength, "MP3");
}

Bytes aviSegment() {
    // An uncompressed 16 x 16 clip of 12 frames at 12 per second. The RIFF size must be 9960,
    // the marker of this disguise, so the AVI form is laid out to be exactly 9968 bytes: header
    // list, a JUNK chunk, the movi list and the index. A JUNK chunk fills the rest.
    constexpr size_t kLength = 10240;
    constexpr uint32_t kRiffSize = 9960, kSize = 16, kFrames = 12, kRate = 12;
    constexpr uint32_t kFrameBytes = kSize * kSize * 3;
    constexpr uint32_t kHdrl = 4 + (8 + 56) + 12 + (8 + 56) + (8 + 40);
    constexpr uint32_t kMovi = 4 + kFrames * (8 + kFrameBytes);
    constexpr uint32_t kIdx1 = kFrames * 16;
    constexpr uint32_t kJunk = kRiffSize - 4 - (8 + kHdrl) - (8 + kMovi) - (8 + kIdx1) - 8;
    constexpr uint32_t kAvifHasIndex = 0x10, kAviifKeyframe = 0x10;

    ByteWriter w;
    w.text("RIFF").le32(kRiffSize).text("AVI ");
    w.text("LIST").le32(kHdrl).text("hdrl");
    w.text("avih").le32(56).le32(1000000 / kRate).le32(kFrameBytes * kRate).le32(0);
    w.le32(kAvifHasIndex).le32(kFrames).le32(0).le32(1).le32(kFrameBytes);
    w.le32(kSize).le32(kSize).fill(16);
    w.text("LIST").le32(4 + (8 + 56) + (8 + 40)).text("strl");
    w.text("strh").le32(56).text("vids").text("DIB ").le32(0).le16(0).le16(0).le32(0);
    w.le32(1).le32(kRate).le32(0).le32(kFrames).le32(kFrameBytes).le32(0xFFFFFFFF).le32(0);
    w.le16(0).le16(0).le16(kSize).le16(kSize);
    w.text("strf").le32(40).le32(40).le32(kSize).le32(kSize).le16(1).le16(24).le32(0);
    w.le32(kFrameBytes).le32(0).le32(0).le32(0).le32(0);
    w.text("JUNK").le32(kJunk).fill(kJunk);

    w.text("LIST").le32(kMovi);
    const size_t moviAt = w.size();
    w.text("movi");
    std::vector<uint32_t> offsets;
    for (uint32_t f = 0; f < kFrames; ++f) {
        offsets.push_back(uint32_t(w.size() - moviAt));
        w.text("00db").le32(kFrameBytes);
        // The sample picture sliding one pixel left a frame; rows bottom first, blue first.
        for (int y = kSize - 1; y >= 0; --y)
            for (uint32_t x = 0; x < kSize; ++x) {
                const Rgb c = samplePixel(int((x + f) % kSize), y, kSize, kSize);
                w.u8(c.b).u8(c.g).u8(c.r);
            }
    }
    w.text("idx1").le32(kIdx1);
    for (uint32_t offset : offsets)
        w.text("00db").le32(kAviifKeyframe).le32(offset).le32(kFrameBytes);
    if (w.size() != 8 + kRiffSize)
        throw std::logic_error("AVI form is not 9968 bytes");
    const uint32_t trailing = uint32_t(kLength - w.size() - 8);
    w.text("JUNK").le32(trailing).fill(trailing);
    return checked(w, kLength, "AVI");
}

} // namespace templates
