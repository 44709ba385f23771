// The encoded file layout: the sixteen disguise kinds, their places in the header template
// file, and recognition of a disguise from the first bytes of a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tolvex {

inline constexpr uint8_t kHeaderMask = 0xD3;       // every template byte is stored XORed with it
inline constexpr size_t kControlRecordSize = 15;   // check word 4, extension 6, CRC 4, length 1
inline constexpr size_t kExtensionFieldSize = 6;
inline constexpr uint32_t kKeyWhitening = 0x5C3E19B;
inline constexpr uint32_t kAviRiffSize = 9960;     // bytes 4-7 of the AVI segment; anything else is WAVE
inline constexpr int kKindCount = 16;
inline constexpr size_t kTemplateFileSize = 40353; // the last segment ends at byte 40352

struct DisguiseKind {
    int kind;
    const char *extension; // with the dot
    uint32_t first;        // first template byte (unused for kind 0)
    uint32_t length;       // header length H
    uint32_t magic;        // bytes 0-3 as little-endian word (0 for kind 0)
};

// Kind 0 and every number outside 1 to 15 map to the undisguised entry.
const DisguiseKind &disguiseFor(int kind);

// The header length the decoder skips for a file beginning with these bytes (at least 8 must be
// given when the first four say "RIFF"). Returns nullopt when fewer bytes than needed are given.
std::optional<uint32_t> headerLengthFor(std::span<const uint8_t> leading);

inline uint32_t loadLe32(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void storeLe32(uint8_t *p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

} // namespace tolvex
