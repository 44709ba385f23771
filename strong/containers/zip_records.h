// The records of a zip holding one stored member, as Info-ZIP's zip 3.0 writes them; Zip64
// where a size or offset does not fit 32 bits.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace strong::zip {

inline constexpr uint32_t kLocal = 0x04034b50, kCentral = 0x02014b50, kEnd = 0x06054b50;
inline constexpr uint32_t kEnd64 = 0x06064b50, kLocator = 0x07064b50;

struct Member {
    std::string name;
    uint32_t mode = 0100644;
    int64_t mtime = 0, atime = 0;
    uint32_t uid = 1000, gid = 1000;
    bool unixExtras = true; // the extended timestamp (UT) and Unix owner (ux) extra fields
    uint64_t size = 0;
};

// Which records need Zip64, and where things fall.
struct Plan {
    bool zip64Member = false; // sizes in Zip64 extra fields, local and central; version 4.5
    bool zip64End = false;    // the Zip64 end record and its locator before the end record
    uint64_t localSize = 0;   // the local header, name and extra fields: the body starts here
    uint64_t centralOffset = 0;
};
Plan plan(const Member &member);

// The local header, with the CRC-32 left at zero for patching (at kCrcOffset).
inline constexpr uint64_t kCrcOffset = 14;
std::vector<uint8_t> localHeader(const Member &member, const Plan &plan);
// The central directory, the Zip64 end record and locator where needed, the end record.
std::vector<uint8_t> trailer(const Member &member, const Plan &plan, uint32_t crc);

} // namespace strong::zip
