// The fields of the LHA, cabinet and GCA containers that are worked out rather than chosen:
// their checksums and the headers whose shape depends on the member's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace strong::containers {

// LHA's CRC-16 (polynomial 0x8005 reflected, as 0xA001), continued from `crc` (0 to start).
uint16_t lhaCrc16(uint16_t crc, const uint8_t *data, size_t size);

// A level-2 LHA header of one stored member (-lh0-), the data CRC and header CRC left zero.
std::vector<uint8_t> lhaHeader(uint32_t memberSize, const std::string &name, uint32_t mtime,
                               uint8_t osId);

// A body area of 4 GiB or more is split into members of 4095 MiB, the last one shorter, as
// split volumes are (7-Zip and Debian's lhasa read only 32-bit member sizes); a smaller one is
// one member.
inline constexpr uint64_t kLhaPart = uint64_t(4095) << 20;
uint64_t lhaPartCount(uint64_t total);
uint32_t lhaPartSize(uint64_t total, uint64_t index);

// The checksum of a cabinet's CFDATA block: its data folded with its two size fields.
uint32_t cabinetChecksum(const uint8_t *data, size_t size);

} // namespace strong::containers
