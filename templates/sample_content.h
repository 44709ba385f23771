// What the disguise files hold: a fixed timestamp, deterministic sample text and pictures, a
// tar archive, the compressors, and the search that makes a compressed file exactly so long.
#pragma once

#include "segments.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace templates {

// Every timestamp in the disguises: 2024-04-01 12:00:00 UTC, so the same build writes the same
// template file.
inline constexpr uint32_t kUnixTime = 1711972800;
inline constexpr uint16_t kDosDate = (2024 - 1980) << 9 | 4 << 5 | 1;
inline constexpr uint16_t kDosTime = 12 << 11;

// A small fixed-seed generator (xorshift32); the same seed gives the same sequence everywhere.
class Prng {
  public:
    explicit Prng(uint32_t seed) : m_state(seed ? seed : 0x9E3779B9u) {}
    uint32_t next() {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }
    uint32_t below(uint32_t bound) { return next() % bound; }

  private:
    uint32_t m_state;
};

// Plain English-looking lines of words, exactly `length` bytes, ending in a line break when
// long enough.
Bytes sampleText(size_t length, uint32_t seed);

// A ustar archive holding one regular file, padded to the usual 10240-byte record.
Bytes tarArchive(std::string_view name, const Bytes &content);

// A raw deflate stream (no zlib or gzip wrapper) at the best compression.
Bytes deflateRaw(const Bytes &data);

// A complete bzip2 stream with 900k blocks ("BZh9").
Bytes bzip2Compress(const Bytes &data);

// Calls make(n) for n around the start until it returns exactly `target` bytes; the makers
// used here grow by about one byte per step of n, so a short walk either way finds a hit.
std::optional<Bytes> findExactLength(size_t target, size_t start,
                                     const std::function<Bytes(size_t)> &make);

// The colour of pixel (x, y) of the sample picture of the given size: a diagonal blend from
// blue to orange with a light disc in the middle. Returns red, green, blue.
struct Rgb {
    uint8_t r, g, b;
};
Rgb samplePixel(int x, int y, int width, int height);

} // namespace templates
