// The -lh5- compressor: LZSS over an 8 KiB sliding window, coded in blocks with static Huffman
// tables, as every LHA reader decodes it. Fed in pieces of any size; the output goes to a sink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace unlha {

// Where compressed bytes go. put() answers false to stop the encoder (write error, or the
// output has grown past what the caller will accept).
class ByteSink {
  public:
    virtual ~ByteSink() = default;
    virtual bool put(const uint8_t *data, size_t length) = 0;
};

// Input is coded in segments of this size, each on its own with the window before it as
// history, so that segments can be coded on several cores at once. A stream is its segments'
// bits joined in order, whichever thread coded them.
constexpr size_t kLh5Segment = size_t(1) << 19;

// The bits of one coded segment: whole bytes, then a tail of fewer than 8 bits (the low
// `tailBits` of `tail`).
struct Lh5Bits {
    std::vector<uint8_t> bytes;
    uint32_t tail = 0;
    unsigned tailBits = 0;
};

// Codes data[start, start + length), a segment starting at a multiple of kLh5Segment (the last
// may be shorter), with the window before it as history. Safe to call from several threads.
Lh5Bits lh5CodeSegment(const uint8_t *data, size_t start, size_t length);
// The finished stream of a run of segments: their bits in order, the last byte padded with 0s.
std::vector<uint8_t> lh5JoinSegments(const std::vector<Lh5Bits> &parts);

// Tests: the helper thread of the streaming form fails as if out of memory.
void lh5FailHelperThreadForTests(bool fail);

// The streaming form: gives the same bytes as coding the whole input in segments and joining.
class Lh5Encoder {
  public:
    explicit Lh5Encoder(ByteSink &sink);
    ~Lh5Encoder();
    Lh5Encoder(const Lh5Encoder &) = delete;
    Lh5Encoder &operator=(const Lh5Encoder &) = delete;

    // Both answer false once the sink has refused a piece; nothing more is written after that.
    bool write(const void *data, size_t length);
    // Codes what is left and pads the last byte with zero bits. Call once, at the end.
    bool finish();
    // True when coding itself failed (out of memory on the helper thread), not the sink.
    bool failed() const;

  private:
    struct State;
    std::unique_ptr<State> m;
};

} // namespace unlha
