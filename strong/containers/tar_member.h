// A tar archive of one regular file, as GNU tar writes it, whose content is the body: shared by
// the kinds that compress such a tar (tgz, tbz). The writer makes the headers; the reader walks
// the decompressed tar and gives back the member's content.
#pragma once

#include "container.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace strong::tar {

inline constexpr size_t kBlock = 512;
inline constexpr uint64_t kRecord = 10240; // GNU tar's default record: 20 blocks
// The most zero bytes a reader takes after the member's padding (end blocks and records).
inline constexpr uint64_t kMaxTail = uint64_t(1) << 20;

// What comes before and after the member's content in a fresh tar holding `bodySize` bytes.
struct Layout {
    std::vector<uint8_t> head; // an optional folder's entry, then the member's header
    uint64_t tailZeros = 0;    // the content's padding, two end blocks, the record's padding
    int64_t mtime = 0;         // the newest time in the headers
};
Layout layout(uint64_t bodySize);

// The 12-byte size field: octal below 8 GiB, else GNU's base-256 (high bit set, big-endian).
void sizeField(uint64_t size, uint8_t field[12]);
// Reads a numeric field (octal, or base-256); false when it holds neither or exceeds 2^62.
bool numericField(const uint8_t *field, size_t length, uint64_t &value);

// Where the decompressed tar comes from.
class Source {
  public:
    virtual ~Source() = default;
    // At most `size` next bytes of the tar: a count; 0 once the compressed data ended as its
    // format says (checksums checked, nothing after it); or kBodyMalformed / kBodyReadFailed.
    virtual int64_t read(uint8_t *buffer, size_t size) = 0;
};

// A reader of the member's content when the tar's leading headers are as the writer makes
// them (a regular file, perhaps after its folder's entry); null otherwise. Once the content has
// passed, it checks that only zeros follow, then that the compressed data ends.
std::unique_ptr<BodyReader> openMember(std::unique_ptr<Source> source);

} // namespace strong::tar
