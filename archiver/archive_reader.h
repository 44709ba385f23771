// Reading LHA archives through liblhasa, with the checks it leaves to its callers: that the
// headers run to the very end of the file (a damaged header reads like the end of the archive)
// and that member names stay inside the folder they are extracted to.
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
    // Reads the archive open on `fd` (a regular file) from its start; the descriptor is
    // duplicated (sharing its offset: one reader at a time), the caller keeps its own. Nothing when
    // that fails.
    static std::optional<ArchiveReader> open(int fd);
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
    bool decodable = false;   // a method liblhasa can decode
    uint64_t headerStart = 0; // the member's bytes in the file: header and data
    uint64_t dataEnd = 0;
    uint16_t crc = 0;
    uint64_t length = 0;
    uint32_t mtime = 0;
    std::optional<uint32_t> unixMode;
};

// Opens an archive for reading: a regular file, never a FIFO or device (which would block).
// UNLHA_OK, or UNLHA_ERROR_NOT_FOUND / UNLHA_ERROR_READ with a message.
int openArchive(const std::string &path, int &fd, std::string &message);

// Reads every header of the archive open on `fd`. UNLHA_OK, or with a message
// UNLHA_ERROR_READ when it cannot be read and UNLHA_ERROR_DAMAGED when it is not a complete,
// well-formed archive: headers must run to the end of the file and data must lie inside it.
int scanArchive(int fd, std::vector<ScannedMember> &members, std::string &message);

// The path of a header, '/'-separated, no trailing '/': as liblhasa reads it, except that at
// levels 0 and 1 a Shift_JIS character whose second byte is '\' stays whole.
std::string memberPath(const _LHAFileHeader *header);
// The same, only when no name field of the raw header holds an absolute path or a ".."
// component (liblhasa quietly drops those, so its own reading cannot tell).
std::optional<std::string> safeMemberPath(const _LHAFileHeader *header);

} // namespace unlha
