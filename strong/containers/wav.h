// A WAVE file's header as a function of its sound's shape and the data chunk's size, so that
// the switch to RF64 past RIFF's 32-bit sizes can be tried without writing 4 GiB.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace strong::containers::wave {

struct Shape {
    uint32_t channels = 2;
    uint32_t rate = 44100;
    uint32_t bits = 16; // 16 (a plain PCM fmt chunk) or 24 (WAVE_FORMAT_EXTENSIBLE)
    // A LIST/INFO chunk as ffmpeg writes one: the recording's date (ICRD) when not empty, then
    // the writing software (ISFT).
    bool infoList = false;
    std::string date;
    uint32_t blockAlign() const { return channels * bits / 8; }
};

// Everything before the data chunk's content, for `dataSize` bytes of samples (a whole number
// of frames, even): RIFF while the file's size fits 32 bits, else RF64 with its ds64 chunk.
std::vector<uint8_t> header(const Shape &shape, uint64_t dataSize);

} // namespace strong::containers::wave
