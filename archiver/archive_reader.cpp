#include "archive_reader.h"

#include "lha_header.h"
#include "platform.h"

#include "transfers.h"
#include "unlha32.h"
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <lhasa.h>
#include <sys/stat.h>
#include <unistd.h>

namespace unlha {

std::optional<ArchiveReader> ArchiveReader::open(int fd, uint64_t start) {
    const auto st = status(fd);
    if (!st || !S_ISREG(st->st_mode))
        return std::nullopt;
    // Readers of one descriptor take turns: each starts from the archive's beginning.
    Fd reading = duplicate(fd);
    FILE *file = reading.valid() ? openStream(reading.get(), start) : nullptr;
    if (!file)
        return std::nullopt;
    reading.release(); // the stream owns it now
    ArchiveReader reader(file, uint64_t(st->st_size));
    if (!reader.m_reader)
        return std::nullopt;
    return reader;
}

ArchiveReader::ArchiveReader(FILE *file, uint64_t size) : m_file(file), m_size(size) {
    m_stream = lha_input_stream_from_FILE(file);
    if (m_stream)
        m_reader = lha_reader_new(m_stream);
    if (m_reader)
        // Directories come once, in archive order; their times are set by the caller.
        lha_reader_set_dir_policy(m_reader, LHA_READER_DIR_PLAIN);
}

ArchiveReader::ArchiveReader(ArchiveReader &&other) noexcept
    : m_file(other.m_file), m_size(other.m_size), m_stream(other.m_stream),
      m_reader(other.m_reader) {
    other.m_file = nullptr;
    other.m_stream = nullptr;
    other.m_reader = nullptr;
}

ArchiveReader::~ArchiveReader() {
    if (m_reader)
        lha_reader_free(m_reader);
    if (m_stream)
        lha_input_stream_free(m_stream);
    if (m_file)
        std::fclose(m_file);
}

LHAFileHeader *ArchiveReader::next() {
    return lha_reader_next_file(m_reader);
}

size_t ArchiveReader::read(void *buffer, size_t length) {
    return lha_reader_read(m_reader, buffer, length);
}

int ArchiveReader::descriptor() const {
    return ::fileno(m_file);
}

uint64_t ArchiveReader::position() const {
    const off_t at = ::ftello(m_file);
    return at < 0 ? UINT64_MAX : uint64_t(at);
}

namespace {

bool isSeparator(uint8_t c) {
    return c == '/' || c == '\\' || c == 0xFF;
}

// A raw name field is unsafe when it holds a ".." component. One from the root is read below
// the destination (see safeMemberPath).
bool rawNameIsSafe(const uint8_t *p, size_t n) {
    // A NUL ends the name for liblhasa: what follows would be read differently by others.
    for (size_t i = 0; i < n; ++i)
        if (p[i] == 0)
            return false;
    size_t start = 0;
    for (size_t i = 0; i <= n; ++i) {
        if (i == n || isSeparator(p[i])) {
            if (i - start == 2 && p[start] == '.' && p[start + 1] == '.')
                return false;
            start = i + 1;
        }
    }
    return true;
}

// Calls `visit(type, data, length)` for each extended header from `at`, where the size of the
// first one is stored, as far as liblhasa kept them.
template <typename Visit>
void forEachExtended(const uint8_t *raw, size_t rawLength, size_t at, size_t width, Visit visit) {
    for (int guard = 0; guard < 4096 && at + width <= rawLength; ++guard) {
        const uint32_t size = loadLe(raw + at, width);
        const size_t ext = at + width;
        if (size < 1 + width || ext + size > rawLength)
            return;
        if (!visit(raw[ext], raw + ext + 1, size - 1 - width))
            return;
        at = ext + size - width;
    }
}

bool extendedNamesAreSafe(const uint8_t *raw, size_t rawLength, size_t at, size_t width) {
    bool safe = true;
    forEachExtended(raw, rawLength, at, width, [&](uint8_t type, const uint8_t *data, size_t n) {
        if (type == lha::kExtFileName || type == lha::kExtFolderName)
            safe = rawNameIsSafe(data, n);
        return safe;
    });
    return safe;
}

bool rawHeaderIsSafe(const LHAFileHeader *h) {
    const uint8_t *raw = h->raw_data;
    const size_t n = h->raw_data_len;
    if (!raw)
        return false;
    switch (h->header_level) {
    case 0:
    case 1: {
        if (n < lha::kName || lha::kName + size_t(raw[lha::kNameLength]) > n)
            return false;
        const size_t nameLength = raw[lha::kNameLength];
        if (!rawNameIsSafe(raw + lha::kName, nameLength))
            return false;
        if (h->header_level == 0)
            return true;
        return extendedNamesAreSafe(raw, n, lha::kName + nameLength + lha::kLevel1AfterName, 2);
    }
    case 2:
        return extendedNamesAreSafe(raw, n, lha::kLevel2FirstExtension, 2);
    case 3:
        return extendedNamesAreSafe(raw, n, lha::kLevel3FirstExtension, 4);
    default:
        return false;
    }
}

// ---- Level-0 and level-1 names ---------------------------------------------------------------
//
// liblhasa splits these names at every '\' byte, also the second byte of a Shift_JIS character
// (ソ is 83 5C, 表 is 95 5C), which Japanese archivers write in plenty. We read them again from
// the raw header and let a Shift_JIS character keep its second byte; the rest follows liblhasa:
// '/' separates too, a NUL ends a field, the folder extended header (parts ended by 0xFF)
// replaces the folders of the name field and the file name extended header its last part, empty
// and "." folders drop out, and an all-capitals name from MS-DOS is lowered.

bool isShiftJisLead(uint8_t c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

using NameParts = std::vector<std::string>;

// The field up to its first NUL, split where `separates` says; a Shift_JIS character's second
// byte never separates.
template <typename Separates>
NameParts splitField(const uint8_t *p, size_t n, bool shiftJis, Separates separates) {
    NameParts parts(1);
    for (size_t i = 0; i < n && p[i] != 0; ++i) {
        if (shiftJis && isShiftJisLead(p[i]) && i + 1 < n && p[i + 1] != 0) {
            parts.back() += static_cast<char>(p[i]);
            parts.back() += static_cast<char>(p[++i]);
        } else if (separates(p[i])) {
            parts.emplace_back();
        } else {
            parts.back() += static_cast<char>(p[i]);
        }
    }
    return parts;
}

// Lowers A-Z when no part holds a-z, as liblhasa does for MS-DOS names; Shift_JIS second bytes
// are no letters.
void lowerAllCapitals(NameParts &parts) {
    const auto eachLetter = [&](auto act) {
        for (std::string &part : parts)
            for (size_t i = 0; i < part.size(); ++i) {
                const auto c = static_cast<uint8_t>(part[i]);
                if (isShiftJisLead(c) && i + 1 < part.size())
                    ++i;
                else if (!act(part[i]))
                    return false;
            }
        return true;
    };
    const bool capitals = eachLetter([](char c) { return c < 'a' || c > 'z'; });
    if (capitals)
        eachLetter([](char &c) {
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
            return true;
        });
}

// The member's path from the raw level-0 or level-1 header, '/'-separated; nothing when the
// header is not one of those or is shorter than its name field says.
std::optional<std::string> level01Path(const LHAFileHeader *h) {
    const uint8_t *raw = h->raw_data;
    const size_t n = h->raw_data_len;
    if (!raw || h->header_level > 1 || n < lha::kName)
        return std::nullopt;
    const size_t nameLength = raw[lha::kNameLength];
    if (lha::kName + nameLength > n)
        return std::nullopt;
    NameParts parts = splitField(raw + lha::kName, nameLength, true,
                                 [](uint8_t c) { return c == '\\' || c == '/'; });
    if (h->header_level == 1) {
        const size_t first = lha::kName + nameLength + lha::kLevel1AfterName;
        forEachExtended(raw, n, first, 2, [&](uint8_t type, const uint8_t *data, size_t length) {
            if (length == 0) // liblhasa skips an empty field
                return true;
            if (type == lha::kExtFileName) {
                NameParts name = splitField(data, length, false, [](uint8_t) { return false; });
                std::replace(name[0].begin(), name[0].end(), '/', '_');
                parts.back() = std::move(name[0]);
            } else if (type == lha::kExtFolderName) {
                NameParts folders = splitField(data, length, false,
                                               [](uint8_t c) { return c == 0xFF || c == '/'; });
                folders.push_back(std::move(parts.back()));
                parts = std::move(folders);
            }
            return true;
        });
    }
    if (h->os_type == LHA_OS_TYPE_UNKNOWN || h->os_type == LHA_OS_TYPE_MSDOS ||
        h->os_type == LHA_OS_TYPE_ATARI || h->os_type == LHA_OS_TYPE_OS2)
        lowerAllCapitals(parts);
    std::string path;
    for (size_t i = 0; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        if (parts[i].empty() || (!last && parts[i] == "."))
            continue;
        if (!path.empty())
            path += '/';
        path += parts[i];
    }
    return path;
}

// The sizes of the 64-bit size field (levels 1 to 3), which liblhasa 0.3 does not read: it
// keeps the low 32 bits of a member of 4 GiB or more.
struct WideSizes {
    uint64_t packed = 0;
    uint64_t original = 0;
};

std::optional<WideSizes> wideSizes(const LHAFileHeader *h) {
    const uint8_t *raw = h->raw_data;
    const size_t n = h->raw_data_len;
    size_t first = 0, width = 2;
    switch (h->header_level) {
    case 1:
        if (!raw || n < lha::kName)
            return std::nullopt;
        first = lha::kName + raw[lha::kNameLength] + lha::kLevel1AfterName;
        break;
    case 2:
        first = lha::kLevel2FirstExtension;
        break;
    case 3:
        first = lha::kLevel3FirstExtension;
        width = 4;
        break;
    default:
        return std::nullopt;
    }
    if (!raw)
        return std::nullopt;
    std::optional<WideSizes> sizes;
    forEachExtended(raw, n, first, width, [&](uint8_t type, const uint8_t *data, size_t length) {
        if (type == lha::kExtSizes && length >= 16)
            sizes = WideSizes{loadLe64(data), loadLe64(data + 8)};
        return true;
    });
    return sizes;
}

// LHARK (MS-DOS) records its own variant of -lh7- as -lh7-, in a level-1 header with a blank
// for the OS; liblhasa 0.4 on calls it -lk7-.
std::string methodOf(const LHAFileHeader *h) {
    const std::string method = h->compress_method;
    if (method == "-lh7-" && h->header_level == 1 && h->os_type == lha::kLharkOsId)
        return kLharkMethod;
    return method;
}

bool methodAt(const uint8_t *p) {
    return p[0] == '-' && p[4] == '-';
}

// What may follow the last member: nothing, or an end mark (a zero byte, or CP/M's ^Z padding)
// and then anything (OS-9 LHA leaves stale bytes there). A header standing there is one
// liblhasa could not read: the archive is damaged, not at its end.
bool archiveEndsAt(int fd, uint64_t end, uint64_t size) {
    if (end >= size)
        return true;
    uint8_t next[lha::kMethod + lha::kMethodLength] = {};
    const int64_t got = readAt(fd, end, next, sizeof next);
    if (got < 1 || (next[0] != 0 && next[0] != 0x1A))
        return false;
    return got < int64_t(sizeof next) || !methodAt(next + lha::kMethod);
}

// The members of the archive starting at `start`.
int scanFrom(int fd, uint64_t start, std::vector<ScannedMember> &members, std::string &message) {
    members.clear();
    auto reader = ArchiveReader::open(fd, start);
    if (!reader) {
        message = "cannot read the archive";
        return UNLHA_ERROR_READ;
    }
    uint64_t end = start;
    while (LHAFileHeader *h = reader->next()) {
        ScannedMember m;
        m.path = memberPath(h);
        m.safePath = safeMemberPath(h);
        m.method = methodOf(h);
        m.folder = m.method == LHA_COMPRESS_TYPE_DIR;
        m.link = h->symlink_target != nullptr || (LHA_FILE_HAVE_EXTRA(h, LHA_FILE_UNIX_PERMS) &&
                                                  (h->unix_perms & S_IFMT) == S_IFLNK);
        m.decodable = m.folder || lha_decoder_for_name(m.method.data()) != nullptr;
        m.macintosh = h->os_type == LHA_OS_TYPE_MACOS;
        m.headerStart = end;
        m.dataStart = reader->position();
        m.dataEnd = m.dataStart + h->compressed_length;
        m.crc = h->crc;
        m.length = h->length;
        if (const auto wide = wideSizes(h)) {
            // liblhasa steps over 32 bits of packed data: beyond that it would lose its place.
            if (wide->packed > UINT32_MAX) {
                message = "the packed size of " + m.path + " (" + std::to_string(wide->packed) +
                          " bytes) is too large for this reader";
                return UNLHA_ERROR_TOO_LARGE;
            }
            m.length = wide->original;
        }
        m.mtime = h->timestamp;
        if (LHA_FILE_HAVE_EXTRA(h, LHA_FILE_UNIX_PERMS))
            m.unixMode = h->unix_perms;
        if (m.dataStart == UINT64_MAX || m.dataEnd > reader->fileSize()) {
            message = "the archive is truncated";
            return UNLHA_ERROR_DAMAGED;
        }
        end = m.dataEnd;
        members.push_back(std::move(m));
    }
    if (members.empty()) {
        message = "not an LHA archive";
        return UNLHA_ERROR_DAMAGED;
    }
    // liblhasa stops quietly at a header it cannot read, as if the archive ended there.
    if (!archiveEndsAt(fd, end, reader->fileSize())) {
        message = "the archive is damaged or truncated";
        return UNLHA_ERROR_DAMAGED;
    }
    return UNLHA_OK;
}

// Self-extracting archives: the program comes first, the archive somewhere after it.
constexpr size_t kProgramSearch = size_t(1) << 20;

std::vector<uint64_t> archiveCandidates(int fd) {
    std::vector<uint8_t> head(kProgramSearch + lha::kLevel + 1);
    const int64_t got = readAt(fd, 0, head.data(), head.size());
    if (got < 2 || head[0] != 'M' || head[1] != 'Z')
        return {0};
    std::vector<uint64_t> at;
    for (size_t i = 2; i + lha::kLevel < size_t(got) && i < kProgramSearch; ++i)
        if (methodAt(head.data() + i + lha::kMethod) && head[i + lha::kLevel] <= 3)
            at.push_back(i);
    return at;
}

} // namespace

std::string memberPath(const LHAFileHeader *header) {
    // A link's name is cut at its target by liblhasa; links are refused, their name only shown.
    if (!header->symlink_target)
        if (auto path = level01Path(header))
            return *path;
    std::string path = header->path ? header->path : "";
    if (header->filename) {
        if (!path.empty() && path.back() != '/')
            path += '/';
        path += header->filename;
    }
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    return path;
}

std::optional<std::string> safeMemberPath(const LHAFileHeader *header) {
    std::string path = memberPath(header);
    // From the root of a drive or of the system, read as below the destination.
    if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
        (path.size() == 2 || path[2] == '/'))
        path.erase(0, 2);
    path.erase(0, std::min(path.find_first_not_of('/'), path.size()));
    if (path.empty() || !rawHeaderIsSafe(header))
        return std::nullopt;
    // The path as read once more: no empty, "." or ".." parts.
    size_t start = 0;
    for (;;) {
        const size_t slash = path.find('/', start);
        const std::string part = path.substr(start, slash - start);
        if (part.empty() || part == "." || part == "..")
            return std::nullopt;
        if (slash == std::string::npos)
            return path;
        start = slash + 1;
    }
}

int openArchive(const std::string &path, int &fd, std::string &message) {
    OpenResult result;
    Fd archive = openRegular(AT_FDCWD, path, true, result);
    switch (result) {
    case OpenResult::Ok:
        fd = archive.release();
        return UNLHA_OK;
    case OpenResult::Missing:
        message = "archive not found: " + path;
        return UNLHA_ERROR_NOT_FOUND;
    case OpenResult::NotRegular:
        message = "the archive is not a regular file: " + path;
        return UNLHA_ERROR_READ;
    case OpenResult::Failed:
        break;
    }
    message = "cannot read the archive " + path;
    return UNLHA_ERROR_READ;
}

int scanArchive(int fd, std::vector<ScannedMember> &members, std::string &message,
                uint64_t *start) {
    // liblhasa cannot tell a read error from the end of the archive: try one read here.
    uint8_t probe[1];
    if (readAt(fd, 0, probe, sizeof probe) < 0) {
        message = "cannot read the archive";
        return UNLHA_ERROR_READ;
    }
    const std::vector<uint64_t> candidates = archiveCandidates(fd);
    if (candidates.empty()) {
        message = "not an LHA archive: a program with no LHA archive in its first 1 MiB";
        return UNLHA_ERROR_DAMAGED;
    }
    // In a program, the first place that holds a whole archive; a method name in the program's
    // own code is no archive. The first failure that read a member tells what went wrong.
    int firstCode = UNLHA_OK;
    std::string firstMessage;
    for (const uint64_t at : candidates) {
        std::string failure;
        const int code = scanFrom(fd, at, members, failure);
        if (code == UNLHA_OK) {
            if (start)
                *start = at;
            return UNLHA_OK;
        }
        if (code == UNLHA_ERROR_READ) {
            message = failure;
            return code;
        }
        if (firstCode == UNLHA_OK && (!members.empty() || candidates.size() == 1)) {
            firstCode = code;
            firstMessage = failure;
        }
    }
    members.clear();
    if (firstCode == UNLHA_OK) {
        message = "not an LHA archive: a program with no LHA archive in its first 1 MiB";
        return UNLHA_ERROR_DAMAGED;
    }
    message = firstMessage;
    return firstCode;
}

} // namespace unlha
