#include "engine.h"

#include "crc32.h"
#include "disguise_header.h"
#include "halvet_tolvex.h"
#include "layout.h"
#include "naming.h"
#include "platform.h"
#include "results.h"

#include <algorithm>
#include <array>
#include <bit>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

// The front ends read result codes by name; the names must keep the library's numbers.
static_assert(int32_t(tolvex::Result::Done) == TOLVEX_OK);
static_assert(int32_t(tolvex::Result::OutputExists) == TOLVEX_OUTPUT_EXISTS);
static_assert(int32_t(tolvex::Result::Damaged) == TOLVEX_CRC_MISMATCH);
static_assert(int32_t(tolvex::Result::SourceMissing) == TOLVEX_SOURCE_MISSING);
static_assert(int32_t(tolvex::Result::CannotOpen) == TOLVEX_CANNOT_OPEN);
static_assert(int32_t(tolvex::Result::BadMode) == TOLVEX_BAD_MODE);
static_assert(int32_t(tolvex::Result::WrongKey) == TOLVEX_KEY_MISMATCH);
static_assert(int32_t(tolvex::Result::TemplateMissing) == TOLVEX_TEMPLATE_MISSING);
static_assert(int32_t(tolvex::Result::SameFile) == TOLVEX_SAME_FILE);
static_assert(int32_t(tolvex::Result::NoMemory) == TOLVEX_NO_MEMORY);

namespace tolvex {
namespace {

// Reads and writes go in pieces this large: large enough that per-call overhead vanishes, small
// enough that the CRC and the transform find the piece still in the processor's cache. A
// multiple of 16 so that only the last piece holds the tail bytes.
constexpr size_t kChunkSize = size_t(1) << 18;
static_assert(kChunkSize % 16 == 0);

// The generator of the filler after a short extension: values 0 to 32767, seeded with the time.
// Its sequence is that of the Microsoft C runtime's rand(): a given seed gives the filler any
// other writer of these files gives.
class FillerGenerator {
  public:
    explicit FillerGenerator(uint32_t seed) : m_state(seed) {}
    uint32_t next() {
        m_state = m_state * 214013u + 2531011u;
        return (m_state >> 16) & 0x7FFF;
    }

  private:
    uint32_t m_state;
};

uint8_t fillerByte(uint32_t r) {
    return uint8_t(double(r) / 32767.0 * 255.0);
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        if (fold(a[i]) != fold(b[i]))
            return false;
    }
    return true;
}

// The output would be the source itself: by name with ASCII letters folded (callers on
// case-insensitive file systems have always had -6 for "A.TXT" against "a.txt"), or because
// both names reach one file (links, "./", hard links).
bool isSource(const std::string &output, const char *source) {
    return equalsIgnoringAsciiCase(output, source) || platform::sameFile(output.c_str(), source);
}

// The quotients of the whitened key XORed into the four words of a block, in emitted order.
struct BlockKeys {
    uint32_t q[4];
    uint8_t tail;
};

BlockKeys blockKeysFor(uint32_t k, bool encoding) {
    if (encoding)
        return {{k / 4, k / 3, k / 2, k}, uint8_t(k % 255)};
    return {{k, k / 2, k / 3, k / 4}, uint8_t(k % 255)};
}

// A little-endian word of the payload as the host holds it, and back.
inline uint32_t loadWord(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big)
        v = __builtin_bswap32(v);
    return v;
}
inline void storeWord(uint8_t *p, uint32_t v) {
    if constexpr (std::endian::native == std::endian::big)
        v = __builtin_bswap32(v);
    std::memcpy(p, &v, 4);
}

// Transforms `length` bytes in place: whole 16-byte blocks have their four little-endian words
// reversed and XORed with the block keys; bytes after the last whole block are XORed with the
// tail byte. Only the final piece of a payload may hold a partial block.
void transform(uint8_t *data, size_t length, const BlockKeys &keys) {
    const size_t whole = length & ~size_t(15);
    for (size_t i = 0; i < whole; i += 16) {
        uint8_t *block = data + i;
        const uint32_t w0 = loadWord(block), w1 = loadWord(block + 4), w2 = loadWord(block + 8),
                       w3 = loadWord(block + 12);
        storeWord(block, w3 ^ keys.q[0]);
        storeWord(block + 4, w2 ^ keys.q[1]);
        storeWord(block + 8, w1 ^ keys.q[2]);
        storeWord(block + 12, w0 ^ keys.q[3]);
    }
    for (size_t i = whole; i < length; ++i)
        data[i] ^= keys.tail;
}

// The working buffers. The caller's buffer size sets no property of the output, only how much
// memory the call may hold; a negative size is refused with -7, as callers have always seen.
constexpr size_t kBuffers = 4;

std::unique_ptr<uint8_t[]> allocateStaging(int32_t bufferSize) {
    if (bufferSize < 0)
        return nullptr;
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[kBuffers * kChunkSize]);
}

struct PayloadResult {
    bool ok;
    uint32_t crc; // of the plain content
};

// One pass over the payload: read a piece, take the CRC of its plain bytes (the input when
// encoding, the output when decoding), transform it, hand it on to be written. Every write is
// checked, so the CRC of the decoded bytes equals the CRC of the file read back.
class PayloadPass {
  public:
    PayloadPass(platform::InputFile &in, uint64_t offset, const BlockKeys &keys, bool encoding,
                const ConvertRequest &r)
        : m_in(in), m_start(offset), m_offset(offset), m_keys(keys), m_encoding(encoding),
          m_request(r) {
        if (r.progress) {
            const auto size = in.size();
            m_total = size && *size > offset ? *size - offset : 0;
        }
    }

    // Reads and prepares the next piece into `buffer`: its length, 0 at the end, -1 on a read
    // error.
    int64_t next(uint8_t *buffer) {
        if (m_done)
            return 0;
        const int64_t got = m_in.readAt(m_offset, buffer, kChunkSize);
        if (got <= 0)
            return got;
        const size_t n = size_t(got);
        if (m_encoding)
            m_crc = crc32Update(m_crc, buffer, n);
        transform(buffer, n, m_keys);
        if (!m_encoding)
            m_crc = crc32Update(m_crc, buffer, n);
        m_offset += n;
        m_done = n < kChunkSize; // only the last piece comes short
        if (m_request.cancel && m_request.cancel->load())
            return -1;
        if (m_request.progress)
            m_request.progress(m_request.progressContext, m_offset - m_start, m_total);
        return got;
    }
    uint32_t crc() const { return m_crc; }

  private:
    platform::InputFile &m_in;
    uint64_t m_start, m_offset, m_total = 0;
    const BlockKeys &m_keys;
    bool m_encoding;
    const ConvertRequest &m_request;
    uint32_t m_crc = 0;
    bool m_done = false;
};

PayloadResult streamSequentially(PayloadPass &pass, platform::OutputFile &out, uint8_t *buffer) {
    for (;;) {
        const int64_t n = pass.next(buffer);
        if (n < 0)
            return {false, 0};
        if (n == 0)
            return {true, pass.crc()};
        if (!out.write(buffer, size_t(n)))
            return {false, 0};
    }
}

// Large payloads: a second thread writes while this one reads, checks and transforms the next
// pieces. The two copies between the kernel and us then overlap instead of taking turns; the
// bytes and their order are the same as written one after the other.
// Nothing when no second thread can be had; nothing was read then.
std::optional<PayloadResult> streamInParallel(PayloadPass &pass, platform::OutputFile &out,
                                              uint8_t *memory) {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::pair<uint8_t *, size_t>> filled;
    std::vector<uint8_t *> empty;
    for (size_t i = 0; i < kBuffers; ++i)
        empty.push_back(memory + i * kChunkSize);
    bool finished = false, writeFailed = false, readFailed = false;

    std::jthread writer;
    try {
        writer = std::jthread([&] {
            std::unique_lock lock(mutex);
            for (;;) {
                changed.wait(lock, [&] { return !filled.empty() || finished; });
                if (filled.empty())
                    return;
                const auto [buffer, length] = filled.front();
                filled.pop_front();
                lock.unlock();
                const bool ok = out.write(buffer, length);
                lock.lock();
                if (!ok) {
                    writeFailed = true;
                    changed.notify_all();
                    return;
                }
                empty.push_back(buffer);
                changed.notify_all();
            }
        });
    } catch (const std::system_error &) {
        return std::nullopt;
    }
    // However this thread leaves (the progress callback may throw), the writer is told to
    // stop and joined before the buffers and the output it uses go away.
    struct StopWriter {
        std::mutex &mutex;
        std::condition_variable &changed;
        bool &finished;
        std::jthread &writer;
        ~StopWriter() {
            {
                std::lock_guard lock(mutex);
                finished = true;
                changed.notify_all();
            }
            writer.join();
        }
    };
    {
        const StopWriter stop{mutex, changed, finished, writer};
        for (;;) {
            uint8_t *buffer;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return !empty.empty() || writeFailed; });
                if (writeFailed)
                    break;
                buffer = empty.back();
                empty.pop_back();
            }
            const int64_t n = pass.next(buffer);
            if (n <= 0) {
                readFailed = n < 0;
                break;
            }
            std::lock_guard lock(mutex);
            filled.emplace_back(buffer, size_t(n));
            changed.notify_all();
        }
    } // the writer is joined here; its flags are settled
    if (readFailed || writeFailed)
        return PayloadResult{false, 0};
    return PayloadResult{true, pass.crc()};
}

PayloadResult streamPayload(platform::InputFile &in, uint64_t offset, platform::OutputFile &out,
                            uint8_t *memory, const BlockKeys &keys, bool encoding,
                            const ConvertRequest &r) {
    PayloadPass pass(in, offset, keys, encoding, r);
    const auto size = in.size();
    const bool large = size && *size > offset && *size - offset > 2 * kChunkSize;
    if (large)
        if (const auto result = streamInParallel(pass, out, memory))
            return *result;
    return streamSequentially(pass, out, memory);
}

int32_t committed(platform::OutputFile &output, int32_t success) {
    switch (output.commit()) {
    case platform::OutputFile::Commit::Done:
        return success;
    case platform::OutputFile::Commit::Exists:
        return TOLVEX_OUTPUT_EXISTS;
    case platform::OutputFile::Commit::Failed:
        break;
    }
    return TOLVEX_CANNOT_OPEN;
}

int32_t encode(const ConvertRequest &r, platform::InputFile &templ, uint32_t k) {
    auto source = platform::InputFile::open(r.source);
    if (!source)
        return TOLVEX_CANNOT_OPEN;

    const std::string_view extension = extensionOf(r.source);
    // Decoding refuses an extension against the naming rule: never write a file it cannot open.
    if (extension.size() > kExtensionFieldSize || !isUsableExtension(extension))
        return TOLVEX_CANNOT_OPEN;

    std::array<uint8_t, kControlRecordSize> record{};
    FillerGenerator filler(r.fillerSeed ? r.fillerSeed : uint32_t(std::time(nullptr)));
    std::copy(extension.begin(), extension.end(), record.begin() + record::kExtension);
    for (size_t i = extension.size(); i < kExtensionFieldSize; ++i)
        record[record::kExtension + i] = fillerByte(filler.next());
    storeLe32(record.data() + record::kCheckWord, k ^ uint32_t(extensionChecksum(extension)));
    record[record::kExtensionLength] = uint8_t(extension.size());

    const std::string outputPath = encodedName(r.outputBase, r.kind);
    if (isSource(outputPath, r.source))
        return TOLVEX_SAME_FILE;
    const bool replace = r.mode == TOLVEX_MODE_ENCODE_OVERWRITE;
    if (!replace && platform::pathExists(outputPath.c_str()))
        return TOLVEX_OUTPUT_EXISTS;

    // A template that cannot give the kind's header would make an output nobody could turn
    // back. Refuse it before creating anything.
    const auto header =
        readDisguiseHeader(r.kind, [&](uint64_t offset, void *buffer, size_t length) {
            return templ.readAt(offset, buffer, length);
        });
    if (!header)
        return TOLVEX_TEMPLATE_MISSING;

    auto output = platform::OutputFile::create(
        outputPath, replace, r.permissions ? r.permissions : source->permissions());
    if (!output)
        return TOLVEX_CANNOT_OPEN;
    auto staging = allocateStaging(r.bufferSize);
    if (!staging)
        return TOLVEX_NO_MEMORY; // the output is removed: nothing incomplete stays

    if (!output->write(header->data(), header->size()) ||
        !output->write(record.data(), record.size()))
        return TOLVEX_CANNOT_OPEN;
    const PayloadResult payload =
        streamPayload(*source, 0, *output, staging.get(), blockKeysFor(k, true), true, r);
    if (!payload.ok)
        return TOLVEX_CANNOT_OPEN;
    uint8_t crc[4];
    storeLe32(crc, payload.crc);
    if (!output->writeAt(header->size() + record::kContentCrc, crc, sizeof crc))
        return TOLVEX_CANNOT_OPEN;
    return committed(*output, TOLVEX_OK);
}

int32_t decode(const ConvertRequest &r, uint32_t k) {
    auto source = platform::InputFile::open(r.source);
    if (!source)
        return TOLVEX_CANNOT_OPEN;
    const auto size = source->size();
    if (!size)
        return TOLVEX_CANNOT_OPEN;

    // Recognise the disguise, then read the control record behind it. A file too short for
    // either is not an encoded file: it fails like a wrong key.
    uint8_t leading[8];
    const int64_t got = source->readAt(0, leading, sizeof leading);
    if (got < 0)
        return TOLVEX_CANNOT_OPEN;
    const auto headerLength = headerLengthFor({leading, size_t(got)});
    if (!headerLength || *size < uint64_t(*headerLength) + kControlRecordSize)
        return TOLVEX_KEY_MISMATCH;
    std::array<uint8_t, kControlRecordSize> record;
    if (source->readAt(*headerLength, record.data(), record.size()) != int64_t(record.size()))
        return TOLVEX_CANNOT_OPEN;

    const auto fields = readControlRecord(record);
    if (!fields || fields->checkWord != (k ^ uint32_t(extensionChecksum(fields->extension))))
        return TOLVEX_KEY_MISMATCH;
    // A recorded extension must name a file in the chosen folder, never another place.
    if (!isUsableExtension(fields->extension) || !platform::isPlainName(fields->extension))
        return TOLVEX_KEY_MISMATCH;
    const uint32_t storedCrc = fields->contentCrc;

    const std::string outputPath = decodedName(r.outputBase, fields->extension);
    if (isSource(outputPath, r.source))
        return TOLVEX_SAME_FILE;
    const bool replace = r.mode == TOLVEX_MODE_DECODE_OVERWRITE;
    if (!replace && platform::pathExists(outputPath.c_str()))
        return TOLVEX_OUTPUT_EXISTS;

    auto output = platform::OutputFile::create(
        outputPath, replace, r.permissions ? r.permissions : source->permissions());
    if (!output)
        return TOLVEX_CANNOT_OPEN;
    auto staging = allocateStaging(r.bufferSize);
    if (!staging)
        return TOLVEX_NO_MEMORY;
    const PayloadResult payload =
        streamPayload(*source, uint64_t(*headerLength) + kControlRecordSize, *output, staging.get(),
                      blockKeysFor(k, false), false, r);
    if (!payload.ok)
        return TOLVEX_CANNOT_OPEN;
    // A mismatch keeps the output, when asked: the user may still want what could be recovered.
    if (payload.crc != storedCrc && !r.keepDamaged)
        return TOLVEX_CRC_MISMATCH;
    return committed(*output, payload.crc == storedCrc ? TOLVEX_OK : TOLVEX_CRC_MISMATCH);
}

} // namespace

std::string_view extensionOf(std::string_view path) {
    size_t lastSeparator = std::string_view::npos;
    for (size_t i = 0; i < path.size(); ++i)
        if (platform::isSeparator(path[i]))
            lastSeparator = i;
    const size_t dot = path.rfind('.');
    if (dot == std::string_view::npos ||
        (lastSeparator != std::string_view::npos && dot < lastSeparator))
        return {};
    return path.substr(dot + 1);
}

int32_t extensionChecksum(std::string_view extension) {
    int32_t sum = 0;
    int32_t weight = 10;
    for (size_t i = 0; i < extension.size() && i < kExtensionFieldSize; ++i, weight *= 10)
        sum += int32_t(int8_t(extension[i])) * weight;
    return sum;
}

int32_t convert(const ConvertRequest &r) try {
    const uint32_t k = r.keyCode ^ kKeyWhitening;
    if (!r.source || !platform::pathExists(r.source))
        return TOLVEX_SOURCE_MISSING;
    if (r.mode < TOLVEX_MODE_ENCODE || r.mode > TOLVEX_MODE_DECODE_OVERWRITE)
        return TOLVEX_BAD_MODE;
    if (!r.templatePath)
        return TOLVEX_TEMPLATE_MISSING;
    auto templ = platform::InputFile::open(r.templatePath);
    if (!templ)
        return TOLVEX_TEMPLATE_MISSING;
    if (!r.outputBase)
        return TOLVEX_CANNOT_OPEN;
    try {
        const bool encoding =
            r.mode == TOLVEX_MODE_ENCODE || r.mode == TOLVEX_MODE_ENCODE_OVERWRITE;
        return encoding ? encode(r, *templ, k) : decode(r, k);
    } catch (const std::bad_alloc &) {
        return TOLVEX_NO_MEMORY;
    }
} catch (...) {
    // Whatever a callback threw stays here: the output is gone, the call fails.
    return TOLVEX_CANNOT_OPEN;
}

} // namespace tolvex
