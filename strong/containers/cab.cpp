// Microsoft cabinet: one folder stored without compression, holding one file whose data is the
// body followed by fresh random padding, in CFDATA blocks of 32768 bytes (the last shorter),
// each with its checksum. The padding makes the file's size differ from one cabinet to the next.
#include "archive_fields.h"
#include "containers.h"
#include "framing.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace strong::containers {

uint32_t cabinetChecksum(const uint8_t *data, size_t size) {
    // The XOR of the data as little-endian words, eight bytes a step, then a short tail taken
    // with its first byte highest, then the block's two size fields as one more word.
    uint64_t wide = 0;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t w;
        std::memcpy(&w, data + i, 8);
        wide ^= w;
    }
    uint32_t sum = uint32_t(wide) ^ uint32_t(wide >> 32);
    if (i + 4 <= size) {
        sum ^= framing::loadLe32(data + i);
        i += 4;
    }
    uint32_t tail = 0;
    for (; i < size; ++i)
        tail = tail << 8 | data[i];
    return sum ^ tail ^ (uint32_t(size) | uint32_t(size) << 16);
}

namespace {

constexpr size_t kBlock = 32768;
constexpr uint64_t kMaxBlocks = 65535;
// What cabextract (libmspack) and the cabinet format allow one file: 65535 full blocks.
constexpr uint64_t kMaxMember = kMaxBlocks * kBlock;
constexpr uint32_t kMaxPadding = 65535;
constexpr size_t kHeader = 36, kFolder = 8, kFileFixed = 16, kDataHeader = 8;
constexpr size_t kMaxName = 256;
constexpr size_t kStage = 32 * (kDataHeader + kBlock);

struct DosTime {
    uint16_t date, time;
};

DosTime dosTime(int64_t when) {
    const std::time_t t = std::time_t(when);
    std::tm parts{};
    localtime_r(&t, &parts);
    const int year = std::clamp(parts.tm_year + 1900, 1980, 2107);
    return {uint16_t((year - 1980) << 9 | (parts.tm_mon + 1) << 5 | parts.tm_mday),
            uint16_t(parts.tm_hour << 11 | parts.tm_min << 5 | parts.tm_sec / 2)};
}

class Writer : public BodyWriter {
  public:
    Writer(const ContainerOutput &output, uint64_t padding) : m_output(output), m_padding(padding) {
        m_stage.reserve(kStage);
    }

    bool put(const uint8_t *data, size_t size) override { return take(data, size); }

    bool finish() override {
        std::array<uint8_t, 16384> noise;
        for (uint64_t left = m_padding; left;) {
            const size_t n = size_t(std::min<uint64_t>(left, noise.size()));
            framing::randomFill(noise.data(), n);
            if (!take(noise.data(), n))
                return false;
            left -= n;
        }
        if (m_fill)
            block(m_block.data(), m_fill);
        m_fill = 0;
        return flush();
    }

  private:
    bool take(const uint8_t *data, size_t size) {
        while (size) {
            if (m_fill == 0 && size >= kBlock) {
                block(data, kBlock);
                data += kBlock;
                size -= kBlock;
            } else {
                const size_t n = std::min(size, kBlock - m_fill);
                std::memcpy(m_block.data() + m_fill, data, n);
                m_fill += n;
                data += n;
                size -= n;
                if (m_fill == kBlock) {
                    block(m_block.data(), kBlock);
                    m_fill = 0;
                }
            }
            if (m_stage.size() + kDataHeader + kBlock > kStage && !flush())
                return false;
        }
        return true;
    }

    void block(const uint8_t *data, size_t size) {
        const uint32_t sum = cabinetChecksum(data, size);
        const uint8_t header[kDataHeader] = {
            uint8_t(sum),  uint8_t(sum >> 8),  uint8_t(sum >> 16), uint8_t(sum >> 24),
            uint8_t(size), uint8_t(size >> 8), uint8_t(size),      uint8_t(size >> 8)};
        m_stage.insert(m_stage.end(), header, header + kDataHeader);
        m_stage.insert(m_stage.end(), data, data + size);
    }

    bool flush() {
        const bool ok = m_stage.empty() || m_output.write(m_stage.data(), m_stage.size());
        m_stage.clear();
        return ok;
    }

    ContainerOutput m_output;
    uint64_t m_padding;
    std::array<uint8_t, kBlock> m_block;
    size_t m_fill = 0;
    std::vector<uint8_t> m_stage;
};

// The file's data, block by block, each block checked against its checksum before it is given.
class Reader : public BodyReader {
  public:
    Reader(const ContainerInput &input, uint64_t firstBlock, uint32_t blocks, uint64_t fileSize)
        : m_input(input), m_next(firstBlock), m_blocksLeft(blocks), m_fileLeft(fileSize) {}

    int64_t read(uint8_t *buffer, size_t size) override {
        if (m_at == m_have) {
            if (m_fileLeft == 0)
                return 0;
            const int got = load();
            if (got != 1)
                return got;
        }
        const size_t n = std::min(size, m_have - m_at);
        std::memcpy(buffer, m_block.data() + m_at, n);
        m_at += n;
        return int64_t(n);
    }

  private:
    int load() {
        if (m_blocksLeft == 0)
            return int(kBodyMalformed); // the blocks end before the file does
        uint8_t header[kDataHeader];
        const int got = framing::readExact(m_input, m_next, header, sizeof header);
        if (got != 1)
            return got == 0 ? int(kBodyMalformed) : got;
        const size_t size = framing::loadLe16(header + 4);
        if (size == 0 || size > kBlock || framing::loadLe16(header + 6) != size)
            return int(kBodyMalformed);
        const int data = framing::readExact(m_input, m_next + kDataHeader, m_block.data(), size);
        if (data != 1)
            return data == 0 ? int(kBodyMalformed) : data;
        const uint32_t stated = framing::loadLe32(header);
        if (stated != 0 && stated != cabinetChecksum(m_block.data(), size))
            return int(kBodyMalformed);
        m_next += kDataHeader + size;
        --m_blocksLeft;
        m_at = 0;
        m_have = size_t(std::min<uint64_t>(size, m_fileLeft));
        m_fileLeft -= m_have;
        return 1;
    }

    ContainerInput m_input;
    uint64_t m_next;
    uint32_t m_blocksLeft;
    uint64_t m_fileLeft;
    std::array<uint8_t, kBlock> m_block;
    size_t m_at = 0, m_have = 0;
};

std::unique_ptr<BodyWriter> create(const ContainerOutput &output, uint64_t bodySize) {
    if (bodySize > kMaxMember)
        return nullptr;
    const uint64_t padding =
        std::min<uint64_t>(framing::between(0, kMaxPadding), kMaxMember - bodySize);
    const uint64_t member = bodySize + padding;
    const uint64_t blocks = (member + kBlock - 1) / kBlock;
    const std::string name = framing::plausibleName();
    const uint32_t dataAt = uint32_t(kHeader + kFolder + kFileFixed + name.size() + 1);
    const uint64_t total = dataAt + blocks * kDataHeader + member;
    const DosTime when = dosTime(framing::plausibleTime());

    framing::Fields h;
    h.text("MSCF").le32(0).le32(uint32_t(total)).le32(0).le32(kHeader + kFolder).le32(0);
    h.u8(3).u8(1).le16(1).le16(1).le16(0);         // version 1.3, one folder, one file
    h.le16(framing::between(0, 0xFFFF)).le16(0);   // set id, first cabinet of the set
    h.le32(dataAt).le16(uint32_t(blocks)).le16(0); // folder: its blocks, stored
    h.le32(uint32_t(member)).le32(0).le16(0);      // file: size, at the folder's start
    h.le16(when.date).le16(when.time).le16(0x20);  // archive bit, as files copied in have
    h.text(name).u8(0);
    if (!h.writeTo(output))
        return nullptr;
    return std::make_unique<Writer>(output, padding);
}

std::unique_ptr<BodyReader> open(const ContainerInput &input) {
    uint8_t h[kHeader + kFolder];
    if (input.size < sizeof h || framing::readExact(input, 0, h, sizeof h) != 1)
        return nullptr;
    if (std::memcmp(h, "MSCF", 4) != 0 || h[25] != 1)
        return nullptr;
    const uint64_t total = framing::loadLe32(h + 8);
    const uint64_t filesAt = framing::loadLe32(h + 16);
    const uint16_t folders = framing::loadLe16(h + 26), files = framing::loadLe16(h + 28);
    const uint16_t flags = framing::loadLe16(h + 30);
    if (total != input.size || folders != 1 || files != 1 || flags != 0)
        return nullptr;
    const uint64_t firstBlock = framing::loadLe32(h + 36);
    const uint32_t blocks = framing::loadLe16(h + 40);
    if (framing::loadLe16(h + 42) != 0) // compressed folders hold no body
        return nullptr;
    if (filesAt < sizeof h || filesAt > total - kFileFixed - 2)
        return nullptr;

    uint8_t file[kFileFixed + kMaxName];
    const size_t fileBytes = size_t(std::min<uint64_t>(sizeof file, total - filesAt));
    if (framing::readExact(input, filesAt, file, fileBytes) != 1)
        return nullptr;
    const uint8_t *nameEnd =
        static_cast<const uint8_t *>(std::memchr(file + kFileFixed, 0, fileBytes - kFileFixed));
    if (nameEnd == nullptr || nameEnd == file + kFileFixed)
        return nullptr;
    const uint64_t fileSize = framing::loadLe32(file);
    if (framing::loadLe32(file + 4) != 0 || framing::loadLe16(file + 8) != 0)
        return nullptr;
    const uint64_t filesEnd = filesAt + uint64_t(nameEnd - file) + 1;
    // The blocks follow the file entry; each holds at most 32768 bytes of the file.
    if (firstBlock < filesEnd || firstBlock > total || fileSize > uint64_t(blocks) * kBlock ||
        fileSize > total - firstBlock)
        return nullptr;
    return std::make_unique<Reader>(input, firstBlock, blocks, fileSize);
}

} // namespace

Container cab() {
    Container c;
    c.kind = 2;
    c.maxBody = kMaxMember;
    c.create = create;
    c.open = open;
    return c;
}

} // namespace strong::containers
