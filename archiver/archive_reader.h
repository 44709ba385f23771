// Reading LHA archives through liblhasa, with the checks it leaves to its callers: that the
// headers run to the archive's end (a damaged header reads like the end of the archive), that
// member names stay inside the folder they are extracted to, and the header fields liblhasa
// 0.3 does not read (64-bit sizes, LHARK's variant of -lh7-).
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

extern "C" {
struct _LHAFileHeader;
struct _LHAReader;
struct _LHAInputStream;
}

namespace unlha {

class ArchiveReader {
  public:
    // Reads the archive open on `fd` (a regular file) from `start`, where its first header is;
    // the descriptor is duplicated (sharing its offset: one reader at a time), the caller keeps
    // its own. Nothing when that fails.
    static std::optional<ArchiveReader> open(int fd, uint64_t start = 0);
    ArchiveReader(ArchiveReader &&other) noexcept;
    ArchiveReader &operator=(ArchiveReader &&) = delete;
    ArchiveReader(const ArchiveReader &) = delete;
    ~ArchiveReader();

    // The next member's header, valid until the next call; nullptr at the end or at a header
    // liblhasa cannot read.
    _LHAFileHeader *next();
    // Decoded data of the current member; 0 at its end.
    size_t read(void *buffer, size_t length);
    uint64_t position() const;
    uint64_t fileSize() const { return m_size; }
    int descriptor() const;

  private:
    ArchiveReader(FILE *file, uint64_t size);
    FILE *m_file = nullptr;
    uint64_t m_size = 0;
    _LHAInputStream *m_stream = nullptr;
    _LHAReader *m_reader = nullptr;
};

struct ScannedMember {
    std::string path;                    // as memberPath reads it
    std::optional<std::string> safePath; // the same when the raw name is safe to extract
    bool folder = false;
    bool link = false;
    std::string method;       // as the header gives it; kLharkMethod for LHARK's -lh7-
    bool decodable = false;   // a method liblhasa can decode
    bool macintosh = false;   // written on a Mac: the data may be wrapped in MacBinary
    uint64_t headerStart = 0; // the member's bytes in the file: header and data
    uint64_t dataStart = 0;
    uint64_t dataEnd = 0;
    uint16_t crc = 0;    // over all `length` bytes the data decodes to
    uint64_t length = 0; // from the 64-bit size field when the header has one
    uint32_t mtime = 0;
    std::optional<uint32_t> unixMode;
};

// LHARK's variant of -lh7-, which it records as -lh7-; the name newer liblhasa gives it.
inline constexpr const char *kLharkMethod = "-lk7-";

// Opens an archive for reading: a regular file, never a FIFO or device (which would block).
// UNLHA_OK, or UNLHA_ERROR_NOT_FOUND / UNLHA_ERROR_READ with a message.
int openArchive(const std::string &path, int &fd, std::string &message);

// Reads every header of the archive open on `fd`. UNLHA_OK, or with a message
// UNLHA_ERROR_READ when it cannot be read, UNLHA_ERROR_TOO_LARGE for a packed size liblhasa
// cannot follow, and UNLHA_ERROR_DAMAGED when it is not a complete, well-formed archive:
// headers must run to the end of the file or to an end mark, and data must lie inside it. A
// program (starting with "MZ") is searched for the archive it carries, as self-extracting
// archives are made; `start` is where the archive begins.
int scanArchive(int fd, std::vector<ScannedMember> &members, std::string &message,
                uint64_t *start = nullptr);

// The path of a header, '/'-separated, no trailing '/': as liblhasa reads it, except that at
// levels 0 and 1 a Shift_JIS character whose second byte is '\' stays whole.
std::string memberPath(const _LHAFileHeader *header);
// The same below the destination: a leading drive ("C:") and leading separators are dropped,
// as every extractor does. Nothing when a name field of the raw header holds a ".." component
// or a NUL (liblhasa quietly drops those, so its own reading cannot tell).
std::optional<std::string> safeMemberPath(const _LHAFileHeader *header);

} // namespace unlha
