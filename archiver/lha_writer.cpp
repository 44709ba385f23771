#include "lha_writer.h"

#include "crc16.h"
#include "lh5_encoder.h"
#include "lha_header.h"
#include "transfers.h"

#include <sys/stat.h>

namespace unlha {
namespace {

constexpr size_t kChunk = static_cast<size_t>(1) << 18;
constexpr uint64_t kMaxMemberSize = 0xFFFFFFFFu;
// bsdtar refuses a -lh5- stream shorter than this; such members are stored instead.
constexpr uint64_t kMinPackedSize = 8;

using namespace lha;
constexpr size_t kFixedPart = kLevel2FixedPart; // up to the first extended header's size

void put16(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    storeLe(b.data() + at, 2, v);
}
void put32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    storeLe(b.data() + at, 4, v);
}

struct Extension {
    uint8_t type;
    std::string data;
};

// Passes compressed bytes on while they stay below the original size; past that the member is
// stored, so the encoder is stopped early.
class LimitedSink : public ByteSink {
  public:
    LimitedSink(BufferedOutput &out, uint64_t limit) : m_out(out), m_limit(limit) {}
    bool put(const uint8_t *data, size_t length) override {
        m_count += length;
        if (m_count >= m_limit) {
            m_overLimit = true;
            return false;
        }
        if (!m_out.write(data, length)) {
            m_writeFailed = true;
            return false;
        }
        return true;
    }
    uint64_t count() const { return m_count; }
    bool writeFailed() const { return m_writeFailed; }
    bool overLimit() const { return m_overLimit; }

  private:
    BufferedOutput &m_out;
    uint64_t m_limit;
    uint64_t m_count = 0;
    bool m_writeFailed = false;
    bool m_overLimit = false;
};

} // namespace

std::optional<std::vector<uint8_t>> buildLevel2Header(const HeaderFields &f) {
    const std::string &path = f.info.path;
    if (path.empty() || path.find('\xFF') != std::string::npos || f.method.size() != kMethodLength)
        return std::nullopt;
    std::string folder, name;
    if (f.folder) {
        folder = path;
    } else {
        const size_t slash = path.rfind('/');
        if (slash != std::string::npos)
            folder = path.substr(0, slash);
        name = path.substr(slash == std::string::npos ? 0 : slash + 1);
        if (name.empty())
            return std::nullopt;
    }
    // Folder parts are each ended by 0xFF.
    std::string folderField;
    if (!folder.empty()) {
        size_t start = 0;
        for (;;) {
            const size_t slash = folder.find('/', start);
            const std::string part = folder.substr(start, slash - start);
            if (part.empty())
                return std::nullopt;
            folderField += part;
            folderField += '\xFF';
            if (slash == std::string::npos)
                break;
            start = slash + 1;
        }
    }

    std::vector<Extension> ext;
    ext.push_back({kExtHeaderCrc, std::string(2, '\0')});
    ext.push_back({kExtFileName, name});
    if (!folderField.empty())
        ext.push_back({kExtFolderName, folderField});
    ext.push_back({kExtUnixMode,
                   {static_cast<char>(f.info.mode & 0xFF), static_cast<char>(f.info.mode >> 8)}});

    auto totalSize = [&] {
        size_t total = kFixedPart;
        for (const auto &e : ext)
            total += 1 + e.data.size() + 2;
        return total;
    };
    // A size that is a multiple of 256 starts with a zero byte, the archive's end mark.
    if (totalSize() % 256 == 0) {
        const uint32_t t = f.info.mtime;
        ext.push_back({kExtUnixTime,
                       {static_cast<char>(t), static_cast<char>(t >> 8), static_cast<char>(t >> 16),
                        static_cast<char>(t >> 24)}});
    }
    const size_t total = totalSize();
    if (total > 0xFFFF)
        return std::nullopt;

    std::vector<uint8_t> h(kFixedPart);
    put16(h, 0, static_cast<uint32_t>(total));
    for (size_t i = 0; i < kMethodLength; ++i)
        h[kMethod + i] = static_cast<uint8_t>(f.method[i]);
    put32(h, kCompressedSize, f.compressedSize);
    put32(h, kOriginalSize, f.originalSize);
    put32(h, kTime, f.info.mtime);
    h[kAttribute] = kPlainAttribute;
    h[kLevel] = 2;
    put16(h, kLevel2DataCrc, f.dataCrc);
    h[kLevel2OsId] = kUnixOsId;
    put16(h, kLevel2FirstExtension, static_cast<uint32_t>(1 + ext[0].data.size() + 2));
    for (size_t i = 0; i < ext.size(); ++i) {
        h.push_back(ext[i].type);
        h.insert(h.end(), ext[i].data.begin(), ext[i].data.end());
        const size_t next = i + 1 < ext.size() ? 1 + ext[i + 1].data.size() + 2 : 0;
        appendLe(h, 2, static_cast<uint32_t>(next));
    }
    // The header CRC covers the whole header with its own field zero; it sits right after the
    // fixed part, in the first extended header.
    put16(h, kFixedPart + 1, crc16Update(0, h.data(), h.size()));
    return h;
}

ArchiveWriter::ArchiveWriter(int archiveFd, SegmentScheduler &scheduler)
    : m_out(archiveFd), m_scheduler(scheduler) {}

WriteStatus ArchiveWriter::addFolder(const MemberInfo &info) {
    HeaderFields f;
    f.method = "-lhd-";
    f.info = info;
    f.folder = true;
    const auto header = buildLevel2Header(f);
    if (!header)
        return WriteStatus::BadName;
    return m_out.write(header->data(), header->size()) ? WriteStatus::Ok : WriteStatus::WriteError;
}

WriteStatus ArchiveWriter::storeData(int sourceFd, uint64_t &size, uint16_t &crc) {
    std::vector<uint8_t> buffer(kChunk);
    size = 0;
    crc = 0;
    for (;;) {
        const int64_t n = readAt(sourceFd, size, buffer.data(), buffer.size());
        if (n < 0)
            return WriteStatus::ReadError;
        if (n == 0)
            return WriteStatus::Ok;
        size += static_cast<uint64_t>(n);
        if (size > kMaxMemberSize)
            return WriteStatus::TooLarge;
        crc = crc16Update(crc, buffer.data(), static_cast<size_t>(n));
        if (!m_out.write(buffer.data(), static_cast<size_t>(n)))
            return WriteStatus::WriteError;
    }
}

WriteStatus ArchiveWriter::addFile(const MemberInfo &info, int sourceFd) {
    const auto st = status(sourceFd);
    if (!st)
        return WriteStatus::ReadError;
    const auto expected = static_cast<uint64_t>(st->st_size);
    if (expected > kMaxMemberSize)
        return WriteStatus::TooLarge;

    HeaderFields f;
    f.method = "-lh5-";
    f.info = info;
    auto header = buildLevel2Header(f);
    if (!header)
        return WriteStatus::BadName;
    const uint64_t headerAt = m_out.position();
    if (!m_out.write(header->data(), header->size()))
        return WriteStatus::WriteError;
    const uint64_t dataAt = m_out.position();

    uint64_t size = 0;
    uint16_t crc = 0;
    bool packed = false;
    if (expected > kMinPackedSize) {
        LimitedSink sink(m_out, expected);
        Lh5Encoder encoder(sink, m_scheduler);
        std::vector<uint8_t> buffer(kChunk);
        bool going = true;
        while (going) {
            const int64_t n = readAt(sourceFd, size, buffer.data(), buffer.size());
            if (n < 0)
                return WriteStatus::ReadError;
            if (n == 0)
                break;
            size += static_cast<uint64_t>(n);
            if (size > kMaxMemberSize)
                return WriteStatus::TooLarge;
            crc = crc16Update(crc, buffer.data(), static_cast<size_t>(n));
            going = encoder.write(buffer.data(), static_cast<size_t>(n));
        }
        if (going)
            going = encoder.finish();
        if (sink.writeFailed())
            return WriteStatus::WriteError;
        if (encoder.failed())
            return WriteStatus::Internal;
        packed = going && sink.count() < size && sink.count() >= kMinPackedSize;
        if (packed) {
            f.compressedSize = static_cast<uint32_t>(sink.count());
        }
    }
    if (!packed) {
        // Not worth it (or too small for every reader): store the bytes as they are.
        if (!m_out.truncate(dataAt))
            return WriteStatus::WriteError;
        const WriteStatus stored = storeData(sourceFd, size, crc);
        if (stored != WriteStatus::Ok)
            return stored;
        f.method = "-lh0-";
        f.compressedSize = static_cast<uint32_t>(size);
    }
    f.originalSize = static_cast<uint32_t>(size);
    f.dataCrc = crc;
    header = buildLevel2Header(f);
    if (!header)
        return WriteStatus::BadName;
    return m_out.patch(headerAt, header->data(), header->size()) ? WriteStatus::Ok
                                                                 : WriteStatus::WriteError;
}

WriteStatus ArchiveWriter::addRead(const MemberInfo &info, const uint8_t *data, size_t size,
                                   uint16_t crc, const std::vector<uint8_t> &packed) {
    if (size > kMaxMemberSize)
        return WriteStatus::TooLarge;
    // The rule of addFile: packed only when the stream is shorter and long enough for every
    // reader.
    const bool usePacked =
        size > kMinPackedSize && packed.size() < size && packed.size() >= kMinPackedSize;
    HeaderFields f;
    f.method = usePacked ? "-lh5-" : "-lh0-";
    f.info = info;
    f.compressedSize = static_cast<uint32_t>(usePacked ? packed.size() : size);
    f.originalSize = static_cast<uint32_t>(size);
    f.dataCrc = crc;
    const auto header = buildLevel2Header(f);
    if (!header)
        return WriteStatus::BadName;
    const bool written =
        m_out.write(header->data(), header->size()) &&
        (usePacked ? m_out.write(packed.data(), packed.size()) : m_out.write(data, size));
    return written ? WriteStatus::Ok : WriteStatus::WriteError;
}

WriteStatus ArchiveWriter::copyRaw(int sourceFd, uint64_t offset, uint64_t length) {
    std::vector<uint8_t> buffer(kChunk);
    while (length > 0) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(length, buffer.size()));
        const int64_t n = readAt(sourceFd, offset, buffer.data(), want);
        if (n != static_cast<int64_t>(want))
            return WriteStatus::ReadError;
        if (!m_out.write(buffer.data(), want))
            return WriteStatus::WriteError;
        offset += want;
        length -= want;
    }
    return WriteStatus::Ok;
}

WriteStatus ArchiveWriter::finish() {
    const uint8_t end = 0;
    return m_out.write(&end, 1) && m_out.flush() ? WriteStatus::Ok : WriteStatus::WriteError;
}

} // namespace unlha
