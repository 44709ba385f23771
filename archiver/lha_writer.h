// Writes LHA archives member by member: level-2 headers with their CRC-16, file data as -lh5-
// (or -lh0- when compression does not pay), folders as -lhd- entries.
#pragma once

#include "platform.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace unlha {

enum class WriteStatus {
    Ok,
    ReadError,  // the source could not be read
    WriteError, // the archive could not be written (a full disk included)
    TooLarge,   // a member of 4 GiB or more: the header's sizes are 32-bit
    BadName,    // a name the format cannot hold
    Internal,   // the coder failed (out of memory on a worker)
};

struct MemberInfo {
    std::string path; // inside the archive: '/'-separated, relative, no trailing '/'
    uint32_t mtime = 0;
    uint16_t mode = 0; // Unix permission bits, type bits included
};

// The header of one member. Sizes and CRC may be placeholders, to be patched once known.
struct HeaderFields {
    std::string method; // five characters: "-lh5-", "-lh0-", "-lhd-"
    uint32_t compressedSize = 0;
    uint32_t originalSize = 0;
    uint16_t dataCrc = 0;
    MemberInfo info;
    bool folder = false;
};

// The level-2 header bytes with their header CRC, or nothing when the path cannot be stored
// (empty parts, a 0xFF byte, too long). Its total size is never a multiple of 256, which
// readers would take for the end of the archive.
std::optional<std::vector<uint8_t>> buildLevel2Header(const HeaderFields &fields);

class SegmentScheduler;

class ArchiveWriter {
  public:
    // Files are coded on `scheduler`, which must outlive the writer.
    ArchiveWriter(int archiveFd, SegmentScheduler &scheduler);

    WriteStatus addFolder(const MemberInfo &info);
    // Packs the data of an open regular file (read from its start).
    WriteStatus addFile(const MemberInfo &info, int sourceFd);
    // Writes a file member whose bytes were read beforehand, `packed` being their -lh5- stream;
    // the bytes are stored instead when that stream does not pay. Same archive bytes as
    // addFile on the same content.
    WriteStatus addRead(const MemberInfo &info, const uint8_t *data, size_t size, uint16_t crc,
                        const std::vector<uint8_t> &packed);
    // Copies bytes of another archive unchanged (members kept when adding to an archive).
    WriteStatus copyRaw(int sourceFd, uint64_t offset, uint64_t length);
    // Ends the archive with its 0 byte and writes out what is buffered.
    WriteStatus finish();

  private:
    WriteStatus storeData(int sourceFd, uint64_t &size, uint16_t &crc);
    BufferedOutput m_out;
    SegmentScheduler &m_scheduler;
};

} // namespace unlha
