// The encoded file layout: the sixteen disguise kinds (extension, caption, place in the header
// template file, header length), recognition of a disguise from the first bytes of a file, and
// the control record. The engine, tolvex-cli, the window and the template generator all read
// this one table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "little_endian.h"

namespace tolvex {

inline constexpr uint8_t kHeaderMask = 0xD3;     // every template byte is stored XORed with it
inline constexpr size_t kControlRecordSize = 15; // check word 4, extension 6, CRC 4, length 1
inline constexpr size_t kExtensionFieldSize = 6;
inline constexpr uint32_t kKeyWhitening = 0x5C3E19B;
inline constexpr uint32_t kAviRiffSize =
    9960; // bytes 4-7 of the AVI segment; anything else is WAVE
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

// The control record behind the header, field by field.
namespace record {
inline constexpr size_t kCheckWord = 0;        // 4 bytes, little-endian
inline constexpr size_t kExtension = 4;        // kExtensionFieldSize bytes, filler after the name
inline constexpr size_t kContentCrc = 10;      // 4 bytes, little-endian
inline constexpr size_t kExtensionLength = 14; // 1 byte, read as signed
static_assert(kExtension + kExtensionFieldSize == kContentCrc);
static_assert(kExtensionLength + 1 == kControlRecordSize);
} // namespace record

struct ControlRecord {
    uint32_t checkWord = 0;
    std::string extension; // the source's extension, without the dot
    uint32_t contentCrc = 0;
};

// The record's fields; nothing when its length byte is negative or longer than the field.
// Whether the extension is safe to name a file with is a separate question.
std::optional<ControlRecord> readControlRecord(std::span<const uint8_t, kControlRecordSize> bytes);

// The caption the window shows for a kind's choice (its extension); kind 0 has its own text.
const char *kindCaption(int kind);

} // namespace tolvex
