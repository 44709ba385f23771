#include "archive_reader.h"
#include "commands.h"
#include "crc16.h"
#include "folders.h"
#include "macbinary.h"
#include "member_decoder.h"
#include "platform.h"
#include "transfers.h"
#include "unlha32.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fnmatch.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace unlha {
namespace {

namespace files = tolvex::files;
using files::Parts;

Parts splitPath(const std::string &path) {
    return files::splitParts(path);
}

bool matches(const std::vector<std::string> &patterns, const std::string &path) {
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    for (const auto &p : patterns)
        if (::fnmatch(p.c_str(), path.c_str(), 0) == 0 ||
            ::fnmatch(p.c_str(), name.c_str(), 0) == 0)
            return true;
    return false;
}

struct Failure {
    int code = 0;
    std::string text;
};

// Opens the folders `parts[0, count)` below `root`, never through a link, creating missing ones
// (private while they are filled).
Fd openFolders(int root, const Parts &parts, size_t count, Failure &failure) {
    files::TreeError error = files::TreeError::None;
    std::vector<Parts> created;
    Fd folder = files::openParts(root, parts, count, error, &created);
    if (!folder.valid())
        failure = error == files::TreeError::Unsafe
                      ? Failure{UNLHA_ERROR_UNSAFE, "a link or file stands in the way: " +
                                                        files::joinParts(parts, count)}
                      : Failure{UNLHA_ERROR_WRITE,
                                "cannot open the folder " + files::joinParts(parts, count)};
    return folder;
}

// Whether a member can take its place in the destination: every folder on its way is a
// folder (or missing), and a file does not meet a folder of its name.
bool fitsDestination(int root, const Parts &parts, bool folder, Failure &failure) {
    switch (files::meetsAt(root, parts, folder)) {
    case files::Meets::Nothing:
    case files::Meets::Same:
        return true;
    case files::Meets::File:
        // A file of the folder's name would be lost whole; so would a folder below.
        failure = {UNLHA_ERROR_WRITE, "a file has the name of a folder member: " + parts.back()};
        return false;
    case files::Meets::Folder:
        failure = {UNLHA_ERROR_WRITE, "a folder has the name of a member: " + parts.back()};
        return false;
    case files::Meets::Unsafe:
        failure = {UNLHA_ERROR_UNSAFE, "a link or file stands in the way: " + parts.back()};
        return false;
    case files::Meets::Failed:
        break;
    }
    failure = {UNLHA_ERROR_WRITE, "cannot look at " + files::joinParts(parts, parts.size())};
    return false;
}

// Writes `n` bytes at `at`; a block of zeros is left as a hole (the file's length is set at the
// end), so a large member of zeros takes neither time nor room to write.
bool writeSparse(int fd, uint64_t at, const uint8_t *data, size_t n) {
    if (n > 0 && data[0] == 0 && std::memcmp(data, data + 1, n - 1) == 0)
        return true;
    return writeAt(fd, at, data, n);
}

// Decodes the member into a new file in the staging folder and checks it: as many bytes as the
// header gives and their CRC, then the file's length on disk. A decoder that produces more than
// the member declares is stopped there. A MacBinary member is written as its data fork.
bool extractFile(int archive, const ScannedMember &m, int folder, const std::string &name,
                 mode_t mask, Failure &failure) {
    auto decoder = MemberDecoder::open(archive, m);
    if (!decoder) {
        failure = {UNLHA_ERROR_INTERNAL, "cannot decode " + m.path};
        return false;
    }
    removeFileAt(folder, name); // an earlier member of the same name
    Fd out = createFileAt(folder, name, 0600);
    if (!out.valid()) {
        failure = {UNLHA_ERROR_WRITE, "cannot create " + m.path};
        return false;
    }
    std::vector<uint8_t> buffer(size_t(1) << 16);
    uint64_t decoded = 0;
    uint16_t crc = 0;
    // The decoded bytes [skip, skip + keep) are the file.
    uint64_t skip = 0;
    uint64_t keep = m.length;
    for (;;) {
        const size_t n = decoder->read(buffer.data(), buffer.size());
        if (n == 0)
            break;
        if (decoded + n > m.length) {
            failure = {UNLHA_ERROR_DAMAGED, "damaged data (longer than stored) in " + m.path};
            return false;
        }
        crc = crc16Update(crc, buffer.data(), n);
        if (decoded == 0 && m.macintosh && n >= kMacBinaryHeader)
            if (const auto fork = macBinaryDataFork(buffer.data(), m.length)) {
                skip = kMacBinaryHeader;
                keep = *fork;
            }
        const uint64_t from = std::max(decoded, skip);
        const uint64_t to = std::min(decoded + n, skip + keep);
        if (to > from &&
            !writeSparse(out.get(), from - skip, buffer.data() + (from - decoded), to - from)) {
            failure = {UNLHA_ERROR_WRITE, "cannot write " + m.path};
            return false;
        }
        decoded += n;
    }
    if (decoder->readFailed()) {
        failure = {UNLHA_ERROR_READ, "cannot read the archive at " + m.path};
        return false;
    }
    if (decoded != m.length || crc != m.crc) {
        failure = {UNLHA_ERROR_DAMAGED, decoded < m.length
                                            ? "damaged data (shorter than stored) in " + m.path
                                            : "damaged data (CRC error) in " + m.path};
        return false;
    }
    // Whatever happened on the way, the file holds exactly what the header gives, or fails.
    const auto st = setLength(out.get(), keep) ? status(out.get()) : std::nullopt;
    if (!st || uint64_t(st->st_size) != keep) {
        failure = {UNLHA_ERROR_WRITE, "cannot write all of " + m.path};
        return false;
    }
    // Never set-user-ID, set-group-ID or sticky; never wider than the umask allows.
    const mode_t mode = (m.unixMode ? mode_t(*m.unixMode) : mode_t(0666)) & 0777 & ~mask;
    if (!setMode(out.get(), mode) || !setModifiedTime(out.get(), time_t(m.mtime)) || !out.close()) {
        failure = {UNLHA_ERROR_WRITE, "cannot write " + m.path};
        return false;
    }
    return true;
}

} // namespace

int extractArchive(const Command &command, std::string &message) {
    int archiveFd = -1;
    if (const int code = openArchive(command.archive, archiveFd, message); code != UNLHA_OK)
        return code;
    const Fd archive(archiveFd);
    std::vector<ScannedMember> members;
    if (const int code = scanArchive(archive.get(), members, message); code != UNLHA_OK)
        return code;
    std::vector<bool> selected(members.size());
    size_t selectedCount = 0;
    uint64_t declared = 0;
    for (size_t i = 0; i < members.size(); ++i) {
        const ScannedMember &m = members[i];
        if (m.link) {
            message = "refused: the archive holds a link, " + m.path;
            return UNLHA_ERROR_UNSAFE;
        }
        if (!m.safePath) {
            message = "refused: a member's name leads outside the destination";
            return UNLHA_ERROR_UNSAFE;
        }
        selected[i] = matches(command.names, *m.safePath);
        if (!selected[i])
            continue;
        if (!m.decodable) {
            message = m.method == kLharkMethod
                          ? "LHARK's -lh7- variant is not supported in " + m.path
                          : "unsupported method " + m.method + " in " + m.path;
            return UNLHA_ERROR_UNSUPPORTED;
        }
        const Parts parts = splitPath(*m.safePath);
        for (const auto &part : parts) {
            if (files::looksLikeTemporary(part)) {
                // Named like a temporary of ours, it could be taken for one left by a killed run.
                message = "refused: a member has a name kept for temporaries, " + m.path;
                return UNLHA_ERROR_UNSAFE;
            }
            if (part.size() > NAME_MAX) {
                message = "a member's name is too long for this system: " + m.path;
                return UNLHA_ERROR_NAME;
            }
        }
        ++selectedCount;
        declared += m.length;
    }
    if (selectedCount == 0) {
        message = "no member matches the patterns given";
        return UNLHA_ERROR_NO_MATCH;
    }

    // The destination is opened once; everything after works relative to that descriptor, so
    // a folder renamed or swapped for a link meanwhile cannot lead the members elsewhere.
    const std::string destination = command.folder.empty() ? "." : command.folder;
    Fd root = files::openFolder(destination);
    if (!root.valid() && errno == ENOENT && makeFolders(destination))
        root = files::openFolder(destination);
    if (!root.valid()) {
        message = "cannot open the destination " + destination;
        return UNLHA_ERROR_WRITE;
    }
    // Folders, headers and rounding take some room too: ask for a little more than the data.
    const auto available = freeSpace(root.get());
    if (available && declared + declared / 64 + selectedCount * 4096 > *available) {
        message = "the members need " + std::to_string(declared) + " bytes, the destination has " +
                  std::to_string(*available) + " free";
        return UNLHA_ERROR_NO_SPACE;
    }
    Failure failure;
    for (size_t i = 0; i < members.size(); ++i)
        if (selected[i] && !fitsDestination(root.get(), splitPath(*members[i].safePath),
                                            members[i].folder, failure)) {
            message = failure.text;
            return failure.code;
        }

    files::StagingFolder staging(root.get(), files::kArchiverPrefix);
    if (!staging.valid()) {
        message = "cannot create a staging folder in " + destination;
        return UNLHA_ERROR_WRITE;
    }
    const auto mask = mode_t(processUmask());
    for (size_t i = 0; i < members.size() && failure.code == 0; ++i) {
        if (!selected[i])
            continue;
        const ScannedMember &m = members[i];
        const Parts parts = splitPath(*m.safePath);
        Fd folder =
            openFolders(staging.fd(), parts, m.folder ? parts.size() : parts.size() - 1, failure);
        if (folder.valid() && !m.folder)
            extractFile(archive.get(), m, folder.get(), parts.back(), mask, failure);
    }
    if (failure.code != 0) {
        message = failure.text;
        return failure.code;
    }

    // Folders that are there already keep their permissions and times: an archive may add to
    // a folder, never open it wider.
    std::set<Parts> existing;
    for (size_t i = 0; i < members.size(); ++i)
        if (selected[i] && members[i].folder) {
            const Parts parts = splitPath(*members[i].safePath);
            if (files::meetsAt(root.get(), parts, true) == files::Meets::Same)
                existing.insert(parts);
        }

    // Every member passed: into place, in archive order.
    files::TreeMover mover(root.get(), staging.fd(), mode_t(0777 & ~mask));
    std::set<std::string> moved;
    for (size_t i = 0; i < members.size() && failure.code == 0; ++i) {
        if (!selected[i] || !moved.insert(*members[i].safePath).second)
            continue;
        const Parts parts = splitPath(*members[i].safePath);
        files::TreeError error = files::TreeError::None;
        const bool ok =
            members[i].folder ? mover.ensureFolder(parts, error) : mover.move(parts, error);
        if (!ok)
            failure = {error == files::TreeError::Unsafe ? UNLHA_ERROR_UNSAFE : UNLHA_ERROR_WRITE,
                       "cannot move into place: " + *members[i].safePath};
    }
    if (failure.code != 0) {
        message = failure.text;
        return failure.code;
    }
    mover.commit();

    // Folder modes and times last, deepest first, since filling a folder changes its time.
    // Folders stay open to their owner.
    std::set<Parts> done;
    for (size_t i = members.size(); i-- > 0;) {
        const ScannedMember &m = members[i];
        if (!selected[i] || !m.folder)
            continue;
        const Parts parts = splitPath(*m.safePath);
        if (existing.count(parts))
            continue;
        Failure ignored;
        Fd folder = openFolders(root.get(), parts, parts.size(), ignored);
        if (!folder.valid() || !done.insert(parts).second)
            continue;
        if (m.unixMode)
            setMode(folder.get(), (mode_t(*m.unixMode) & 0777 & ~mask) | S_IRWXU);
        setModifiedTime(folder.get(), time_t(m.mtime));
    }
    staging.remove();
    message = "extracted " + std::to_string(selectedCount) + " member(s)";
    return UNLHA_OK;
}

} // namespace unlha
