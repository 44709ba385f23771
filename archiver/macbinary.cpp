#include "macbinary.h"

namespace unlha {
namespace {

uint32_t loadBe32(const uint8_t *p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Header fields (MacBinary I, kept by II and III).
constexpr size_t kVersion = 0;         // always 0
constexpr size_t kNameLength = 1;      // 1 to 63
constexpr size_t kZeroFill = 74;       // always 0
constexpr size_t kZeroFill2 = 82;      // always 0
constexpr size_t kDataLength = 83;     // 4 bytes, big-endian
constexpr size_t kResourceLength = 87; // 4 bytes, big-endian

} // namespace

std::optional<uint64_t> macBinaryDataFork(const uint8_t *header, uint64_t length) {
    if (header[kVersion] != 0 || header[kNameLength] < 1 || header[kNameLength] > 63 ||
        header[kZeroFill] != 0 || header[kZeroFill2] != 0 ||
        loadBe32(header + kResourceLength) != 0)
        return std::nullopt;
    const uint64_t data = loadBe32(header + kDataLength);
    const uint64_t padded = (data + kMacBinaryHeader - 1) / kMacBinaryHeader * kMacBinaryHeader;
    if (length < kMacBinaryHeader + data || length > kMacBinaryHeader + padded)
        return std::nullopt;
    return data;
}

} // namespace unlha
