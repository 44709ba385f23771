// The archive disguises: cabinet, LHA, GCA, gzip tar, bzip2 tar and ZIP, each a complete
// archive of one small sample file.
#include "byte_writer.h"
#include "checksums.h"
#include "sample_content.h"
#include "segments.h"

#include <stdexcept>
#include <string>

namespace templates {
namespace {

Bytes checked(Bytes b, size_t length, const char *what) {
    if (b.size() != length)
        throw std::logic_error(std::string(what) + " segment has the wrong length");
    return b;
}

Bytes exactly(size_t target, size_t start, const std::function<Bytes(size_t)> &make,
              const char *what) {
    std::optional<Bytes> b = findExactLength(target, start, make);
    if (!b)
        throw std::logic_error(std::string(what) + ": no content gives the exact length");
    return *b;
}

} // namespace

Bytes cabinetSegment() {
    // Header (36), one folder (8), one file entry (16 + name), one data block (8 + data),
    // stored without compression so the file's length sets the cabinet's.
    constexpr uint32_t kLength = 3819;
    constexpr std::string_view kName = "readme.txt";
    constexpr uint32_t kFilesAt = 36 + 8, kDataAt = kFilesAt + 16 + kName.size() + 1;
    constexpr uint32_t kFileSize = kLength - kDataAt - 8;
    static_assert(kFileSize <= 32768, "one data block holds at most 32K");
    const Bytes content = sampleText(kFileSize, 11);

    ByteWriter w;
    w.text("MSCF").le32(0).le32(kLength).le32(0).le32(kFilesAt).le32(0);
    w.u8(3).u8(1);                   // format version 1.3
    w.le16(1).le16(1).le16(0);       // one folder, one file, no flags
    w.le16(0x7F4E).le16(0);          // set id, number in set
    w.le32(kDataAt).le16(1).le16(0); // folder: first block, one block, no compression
    w.le32(kFileSize).le32(0).le16(0).le16(kDosDate).le16(kDosTime).le16(0x20); // archive bit
    w.text(kName).u8(0);
    w.le32(cabinetChecksum(content, kFileSize, kFileSize)).le16(kFileSize).le16(kFileSize);
    w.append(content);
    return checked(w.take(), kLength, "cabinet");
}

Bytes lhaSegment() {
    // A level-2 member header of 79 bytes, the member stored (-lh0-), then the end mark.
    constexpr size_t kLength = 3814, kHeaderSize = 79;
    constexpr std::string_view kName = "sample-memo.txt", kOwner = "tolvex";
    constexpr uint32_t kDataSize = kLength - kHeaderSize - 1;
    const Bytes content = sampleText(kDataSize, 4);

    ByteWriter w;
    w.le16(kHeaderSize).text("-lh0-").le32(kDataSize).le32(kDataSize).le32(kUnixTime);
    w.u8(0x20).u8(2).le16(crc16(content)).u8('U'); // reserved, level 2, data CRC, Unix
    // Extended headers, each announced by the size field before it: type, data, next size.
    w.le16(5);
    const size_t headerCrcAt = w.size() + 1;
    w.u8(0x00).le16(0); // header CRC, filled in below
    w.le16(3 + uint32_t(kName.size()));
    w.u8(0x01).text(kName);                                    // file name
    w.le16(5).u8(0x50).le16(0644);                             // permissions
    w.le16(7).u8(0x51).le16(1000).le16(1000);                  // group id, user id
    w.le16(3 + uint32_t(kOwner.size())).u8(0x52).text(kOwner); // group name
    w.le16(3 + uint32_t(kOwner.size())).u8(0x53).text(kOwner); // user name
    w.le16(0);                                                 // no further extended header
    if (w.size() != kHeaderSize)
        throw std::logic_error("LHA member header is not 79 bytes");
    w.patchLe16(headerCrcAt, crc16(w.bytes()));
    w.append(content).u8(0); // end of archive
    return checked(w.take(), kLength, "LHA");
}

Bytes gcaSegment() {
    // GCA archives have no public description of their layout; this is a plausible one in the
    // style of its kin: the signature, an archive header, one stored member and an end mark.
    constexpr size_t kLength = 3725;
    constexpr std::string_view kName = "notes.txt";
    constexpr size_t kHeaderBytes = 4 + 12 + 30 + kName.size() + 4;
    const Bytes content = sampleText(kLength - kHeaderBytes, 8);

    ByteWriter w;
    w.text("GCA0").le16(0x0100).le16(1).le32(4 + 12).le32(uint32_t(kLength)); // version, members
    w.text("GCAF").le16(0).le16(0); // member: stored, no flags
    w.le32(uint32_t(content.size())).le32(uint32_t(content.size())).le32(crc32(content));
    w.le16(kDosTime).le16(kDosDate).le32(0x20).le16(uint32_t(kName.size())).text(kName);
    w.append(content).text("GCAE");
    return checked(w.take(), kLength, "GCA");
}

Bytes gzipTarSegment() {
    // gzip with no optional fields (the flag byte is part of the magic), so the exact length
    // comes from the archived file's length.
    constexpr size_t kLength = 3829;
    auto make = [](size_t textLength) {
        const Bytes content = sampleText(textLength, 10);
        const Bytes tar = tarArchive("notes.txt", content);
        ByteWriter w;
        w.u8(0x1F).u8(0x8B).u8(8).u8(0).le32(kUnixTime).u8(2).u8(3); // best compression, Unix
        w.append(deflateRaw(tar)).le32(crc32(tar)).le32(uint32_t(tar.size()));
        return w.take();
    };
    return exactly(kLength, kLength * 3, make, "gzip tar");
}

Bytes bzip2TarSegment() {
    constexpr size_t kLength = 4118;
    auto make = [](size_t textLength) {
        return bzip2Compress(tarArchive("notes.txt", sampleText(textLength, 11)));
    };
    return exactly(kLength, kLength * 3, make, "bzip2 tar");
}

Bytes zipSegment() {
    // Local header, deflated data, central directory and end record: a whole archive.
    constexpr size_t kLength = 3946;
    constexpr std::string_view kName = "readme.txt", kComment = "Tolvex sample archive";
    constexpr uint16_t kMaximumCompression = 0x0002;
    auto make = [&](size_t textLength) {
        const Bytes content = sampleText(textLength, 15);
        const Bytes data = deflateRaw(content);
        const uint32_t crc = crc32(content);
        ByteWriter w;
        auto common = [&] {
            w.le16(20).le16(kMaximumCompression).le16(8).le16(kDosTime).le16(kDosDate);
            w.le32(crc).le32(uint32_t(data.size())).le32(uint32_t(content.size()));
            w.le16(uint32_t(kName.size())).le16(0);
        };
        w.le32(0x04034B50);
        common();
        w.text(kName).append(data);
        const size_t directoryAt = w.size();
        w.le32(0x02014B50).le16(0x031E); // made on Unix by version 3.0
        common();
        w.le16(0).le16(0).le16(1).le32(0100644u << 16).le32(0).text(kName); // text, rw-r--r--
        const size_t directorySize = w.size() - directoryAt;
        w.le32(0x06054B50).le16(0).le16(0).le16(1).le16(1);
        w.le32(uint32_t(directorySize)).le32(uint32_t(directoryAt));
        w.le16(uint32_t(kComment.size())).text(kComment);
        return w.take();
    };
    return exactly(kLength, kLength * 2, make, "ZIP");
}

} // namespace templates
