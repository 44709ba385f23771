#include "archive_reader.h"

#include "lha_header.h"
#include "platform.h"

#include "unlha32.h"
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <lhasa.h>
#include <sys/stat.h>
#include <unistd.h>

namespace unlha {

std::optional<ArchiveReader> ArchiveReader::open(int fd) {
    const auto st = status(fd);
    if (!st || !S_ISREG(st->st_mode))
        return std::nullopt;
    // Readers of one descriptor take turns: each starts from the beginning.
    Fd reading = duplicate(fd);
    FILE *file = reading.valid() ? openStream(reading.get()) : nullptr;
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

// A raw name field is unsafe when it starts at the root or holds a ".." component.
bool rawNameIsSafe(const uint8_t *p, size_t n, bool mayStartWithSeparator) {
    if (n > 0 && isSeparator(p[0]) && !mayStartWithSeparator)
        return false;
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
        // A folder field ends each part with a separator; a leading one means the root.
        if (type == lha::kExtFileName || type == lha::kExtFolderName)
            safe = rawNameIsSafe(data, n, false);
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
        if (!rawNameIsSafe(raw + lha::kName, nameLength, false))
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

bool onlyZerosFrom(int fd, uint64_t from, uint64_t to) {
    uint8_t buffer[4096];
    while (from < to) {
        const size_t want = size_t(std::min<uint64_t>(sizeof buffer, to - from));
        if (readAt(fd, from, buffer, want) != int64_t(want))
            return false;
        for (size_t i = 0; i < want; ++i)
            if (buffer[i] != 0)
                return false;
        from += want;
    }
    return true;
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
    const std::string path = memberPath(header);
    if (path.empty() || path[0] == '/' || !rawHeaderIsSafe(header))
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

int scanArchive(int fd, std::vector<ScannedMember> &members, std::string &message) {
    auto reader = ArchiveReader::open(fd);
    if (!reader) {
        message = "cannot read the archive";
        return UNLHA_ERROR_READ;
    }
    // liblhasa cannot tell a read error from the end of the archive: try one read here.
    uint8_t probe[1];
    if (readAt(fd, 0, probe, sizeof probe) < 0) {
        message = "cannot read the archive";
        return UNLHA_ERROR_READ;
    }
    uint64_t end = 0;
    while (LHAFileHeader *h = reader->next()) {
        ScannedMember m;
        m.path = memberPath(h);
        m.safePath = safeMemberPath(h);
        m.folder = std::string(h->compress_method) == LHA_COMPRESS_TYPE_DIR;
        m.link = h->symlink_target != nullptr || (LHA_FILE_HAVE_EXTRA(h, LHA_FILE_UNIX_PERMS) &&
                                                  (h->unix_perms & S_IFMT) == S_IFLNK);
        m.decodable = m.folder || lha_decoder_for_name(h->compress_method) != nullptr;
        m.headerStart = end;
        const uint64_t dataStart = reader->position();
        m.dataEnd = dataStart + h->compressed_length;
        m.crc = h->crc;
        m.length = h->length;
        m.mtime = h->timestamp;
        if (LHA_FILE_HAVE_EXTRA(h, LHA_FILE_UNIX_PERMS))
            m.unixMode = h->unix_perms;
        if (dataStart == UINT64_MAX || m.dataEnd > reader->fileSize()) {
            message = "the archive is truncated";
            return UNLHA_ERROR_DAMAGED;
        }
        end = m.dataEnd;
        members.push_back(std::move(m));
    }
    // liblhasa stops quietly at a header it cannot read, as if the archive ended there. After
    // the last member only the end mark (zero bytes) may follow.
    if (members.empty()) {
        message = "not an LHA archive";
        return UNLHA_ERROR_DAMAGED;
    }
    if (!onlyZerosFrom(reader->descriptor(), end, reader->fileSize())) {
        message = "the archive is damaged or truncated";
        return UNLHA_ERROR_DAMAGED;
    }
    return UNLHA_OK;
}

} // namespace unlha
