// The checksums the disguise formats carry, computed here from each format's definition.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace templates {

// CRC-32 as in PNG, gzip and ZIP (reflected polynomial 0xEDB88320, inverted before and after).
uint32_t crc32(std::span<const uint8_t> data, uint32_t previous = 0);

// zlib's Adler-32.
uint32_t adler32(std::span<const uint8_t> data);

// LHA's CRC-16 (reflected polynomial 0xA001, starting from 0), for member data and headers.
uint16_t crc16(std::span<const uint8_t> data);

// The cabinet data block checksum: the data folded into 32-bit little-endian words by XOR,
// then the block's two size fields folded in on top.
uint32_t cabinetChecksum(std::span<const uint8_t> data, uint16_t compressedSize,
                         uint16_t uncompressedSize);

} // namespace templates
