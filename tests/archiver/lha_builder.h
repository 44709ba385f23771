// Raw LHA members written byte by byte at header levels 0 to 3, as a hostile or foreign
// archiver could write them: names and folders go in unchecked.
#pragma once

#include "support.h"

#include <optional>
#include <string>

namespace archiver_test {

struct RawMember {
    int level = 2;
    std::string method = "-lh0-";
    // Levels 0 and 1: the header's name field, separators as given. Levels 2 and 3: the file
    // name extended header.
    std::string name;
    // Levels 1 to 3: the folder extended header (parts ended by 0xFF), when given.
    std::optional<std::string> folder;
    std::string data;                       // the member's stored (compressed) bytes
    std::optional<uint32_t> originalSize;   // the data's size when not given
    std::optional<uint16_t> crc;            // the data's CRC when not given
    std::optional<uint16_t> mode = 0100644; // Unix mode header (levels 1 to 3)
    // More extended headers (levels 1 to 3), type and content, after the others.
    std::vector<std::pair<uint8_t, std::string>> extended;
    uint8_t osId = 'U'; // levels 1 to 3
};

// The 64-bit size extended header: packed and original size.
std::pair<uint8_t, std::string> sizesHeader(uint64_t packed, uint64_t original);

Bytes rawMember(const RawMember &m);
// The members one after another, then the end mark.
Bytes rawArchive(const std::vector<Bytes> &members);

} // namespace archiver_test
