// What every container's writer and reader use: fields in either byte order, checksums,
// fresh random choices, and bounded reads of the file being opened.
#pragma once

#include "container.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace strong::framing {

// Appends fixed-width fields to a growing run of bytes; fields known later are patched.
class Fields {
  public:
    const std::vector<uint8_t> &bytes() const { return m_bytes; }
    size_t size() const { return m_bytes.size(); }
    Fields &u8(uint32_t v);
    Fields &le16(uint32_t v);
    Fields &le32(uint32_t v);
    Fields &le64(uint64_t v);
    Fields &be16(uint32_t v);
    Fields &be32(uint32_t v);
    Fields &text(std::string_view s);
    Fields &append(const uint8_t *data, size_t size);
    Fields &fill(size_t count, uint8_t value = 0);
    Fields &random(size_t count); // fresh random bytes
    void patchLe16(size_t at, uint32_t v);
    void patchLe32(size_t at, uint32_t v);
    void patchBe32(size_t at, uint32_t v);
    bool writeTo(const ContainerOutput &output) const;
    void clear() { m_bytes.clear(); }

  private:
    std::vector<uint8_t> m_bytes;
};

uint16_t loadLe16(const uint8_t *p);
uint32_t loadLe32(const uint8_t *p);
uint64_t loadLe64(const uint8_t *p);
uint16_t loadBe16(const uint8_t *p);
uint32_t loadBe32(const uint8_t *p);

// CRC-32 (zlib's, as PNG, gzip and ZIP use it) and Adler-32, continued from `value`.
uint32_t crc32(uint32_t value, const uint8_t *data, size_t size);
uint32_t adler32(uint32_t value, const uint8_t *data, size_t size);

// Uniformly in [low, high].
uint32_t between(uint32_t low, uint32_t high);
void randomFill(uint8_t *data, size_t size);
// Writes `count` fresh random bytes: the padding a structure needs after the body.
bool writeRandom(const ContainerOutput &output, uint64_t count);

// A name such as people give files they keep (a word or camera prefix, a number or a date,
// an extension under which random-looking bytes are unremarkable), different for every file.
std::string plausibleName();
// A modification time (seconds since 1970) within the three years before now.
int64_t plausibleTime();

// Reads exactly `size` bytes at `offset`: 1 when they were there, 0 when the file ends
// first, kBodyReadFailed on a read failure.
int readExact(const ContainerInput &input, uint64_t offset, uint8_t *data, size_t size);

// A body held in ranges of the file, found one after another.
class ExtentReader : public BodyReader {
  public:
    int64_t read(uint8_t *buffer, size_t size) final;

  protected:
    // The next range: 1 with it filled, 0 when there are no more, or kBodyMalformed /
    // kBodyReadFailed. Ranges past the end of the file are malformed; this class checks that.
    virtual int next(uint64_t &offset, uint64_t &length) = 0;
    explicit ExtentReader(const ContainerInput &input) : m_input(input) {}
    const ContainerInput &input() const { return m_input; }

  private:
    ContainerInput m_input;
    uint64_t m_offset = 0;
    uint64_t m_left = 0;
    bool m_done = false;
};

} // namespace strong::framing
