// The encoded file layout: the disguise kinds (one row each: number, extension, caption, names,
// header length and how a file of that kind is recognised), the place of each kind's segment in
// the header template file, and the control record. The engine, tolvex-cli, the window and the
// template generator all read this one table; a new kind is a new row at its end.
#pragma once

#include <array>
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
inline constexpr uint32_t kRiff = 0x46464952; // "RIFF", the first word of WAVE and AVI alike
inline constexpr uint32_t kAviRiffSize =
    9960; // bytes 4-7 of the AVI segment; anything else is WAVE

// Kinds whose files share their first word are told apart by bytes 4-7.
enum class SecondWord : uint8_t {
    Any,   // the first word alone decides
    Is,    // bytes 4-7 must be the row's `second`
    IsNot, // bytes 4-7 must be anything but the row's `second`
};

struct DisguiseKind {
    int kind;
    const char *extension;               // with the dot
    const char *caption;                 // the window's button; kind 0 has a text of its own
    const char *name;                    // as users type it and --help lists it
    std::array<const char *, 2> aliases; // other spellings people use; unused ones are null
    uint32_t length;                     // header length H; 0 only for kind 0
    uint32_t magic;                      // bytes 0-3 as little-endian word (0 for kind 0)
    SecondWord test = SecondWord::Any;   // with `second`, the rule for bytes 4-7
    uint32_t second = 0;
    uint32_t first = 0; // first template byte, worked out below: segments lie back to back
};

namespace detail {

// clang-format off
inline constexpr DisguiseKind kKindRows[] = {
    // kind ext    caption  name    aliases           H      magic       bytes 4-7
    {0,  ".tvx", nullptr, "none", {"tvx"},          0,     0},
    {1,  ".bmp", ".bmp",  "bmp",  {},               774,   0x03064D42},
    {2,  ".cab", ".cab",  "cab",  {},               3819,  0x4643534D},
    {3,  ".jpg", ".jpg",  "jpg",  {"jpeg"},         918,   0xE0FFD8FF},
    {4,  ".lzh", ".lzh",  "lzh",  {"lha"},          3814,  0x6C2D004F},
    {5,  ".mid", ".mid",  "mid",  {"midi"},         87,    0x6468544D},
    {6,  ".png", ".png",  "png",  {},               283,   0x474E5089},
    {7,  ".wav", ".wav",  "wav",  {"wave"},         344,   kRiff, SecondWord::IsNot, kAviRiffSize},
    {8,  ".gca", ".gca",  "gca",  {},               3725,  0x30414347},
    {9,  ".ico", ".ico",  "ico",  {},               2238,  0x00010000},
    {10, ".tgz", ".tgz",  "tgz",  {"tar.gz"},       3829,  0x00088B1F},
    {11, ".tbz", ".tbz",  "tbz",  {"tar.bz2", "tbz2"}, 4118, 0x39685A42},
    {12, ".mp3", ".mp3",  "mp3",  {},               1452,  0xC452F3FF},
    {13, ".cur", ".cur",  "cur",  {},               766,   0x00020000},
    {14, ".avi", ".avi",  "avi",  {},               10240, kRiff, SecondWord::Is, kAviRiffSize},
    {15, ".zip", ".zip",  "zip",  {},               3946,  0x04034B50},
};
// clang-format on

// The rows with each segment placed right after the one before, in kind order.
constexpr std::array<DisguiseKind, std::size(kKindRows)> placedKinds() {
    std::array<DisguiseKind, std::size(kKindRows)> kinds{};
    uint32_t at = 0;
    for (size_t k = 0; k < kinds.size(); ++k) {
        kinds[k] = kKindRows[k];
        kinds[k].first = at;
        at += kinds[k].length;
    }
    return kinds;
}

} // namespace detail

inline constexpr auto kDisguiseKinds = detail::placedKinds();
inline constexpr int kKindCount = static_cast<int>(kDisguiseKinds.size());
inline constexpr size_t kTemplateFileSize =
    kDisguiseKinds.back().first + kDisguiseKinds.back().length;

// Kind 0 and every number outside the table map to the undisguised entry.
const DisguiseKind &disguiseFor(int kind);

// The header length the decoder skips for a file beginning with these bytes (at least 8 must be
// given when the first four are shared by several kinds, as "RIFF" is). Returns nullopt when
// fewer bytes than needed are given.
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
