// The -lh5- compressor: LZSS over an 8 KiB sliding window, coded in blocks with static Huffman
// tables, as every LHA reader decodes it. Fed in pieces of any size; the output goes to a sink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace unlha {

class SegmentScheduler;

// Where compressed bytes go. put() answers false to stop the encoder (write error, or the
// output has grown past what the caller will accept).
class ByteSink {
  public:
    virtual ~ByteSink() = default;
    virtual bool put(const uint8_t *data, size_t length) = 0;
};

// The streaming form: gives the same bytes as coding the whole input in segments and joining
// them (segment_scheduler.h). Whole segments are coded on the scheduler's workers, two or more
// at a time.
class Lh5Encoder {
  public:
    // The scheduler must outlive the encoder.
    Lh5Encoder(ByteSink &sink, SegmentScheduler &scheduler);
    ~Lh5Encoder();
    Lh5Encoder(const Lh5Encoder &) = delete;
    Lh5Encoder &operator=(const Lh5Encoder &) = delete;

    // Both answer false once the sink has refused a piece; nothing more is written after that.
    bool write(const void *data, size_t length);
    // Codes what is left and pads the last byte with zero bits. Call once, at the end.
    bool finish();
    // True when coding itself failed (out of memory on a worker), not the sink.
    bool failed() const;

  private:
    struct State;
    std::unique_ptr<State> m;
};

} // namespace unlha
