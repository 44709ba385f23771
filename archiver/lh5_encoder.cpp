// The -lh5- stream: the input kept with one window of history, its whole segments handed to
// the scheduler, their bits joined in order and passed on to the sink.
#include "lh5_encoder.h"

#include "bit_writer.h"
#include "segment_scheduler.h"

#include <algorithm>
#include <vector>

namespace unlha {

using lh5::kSegment;
using lh5::kWindow;

struct Lh5Encoder::State {
    State(ByteSink &s, SegmentScheduler &c) : sink(s), scheduler(c) {
        input.reserve(kWindow + 2 * kSegment);
    }

    ByteSink &sink;
    SegmentScheduler &scheduler;
    bool ok = true;
    bool failed = false; // the coder itself failed, not the sink
    // One window of history, then the bytes not coded yet.
    std::vector<uint8_t> input;
    size_t history = 0;
    BitWriter bits;

    // Codes the pending input: all of it at the end, else whole segments once two are there.
    void codePending(bool final);
    void drain() {
        if (!ok || bits.bytes().empty())
            return;
        ok = sink.put(bits.bytes().data(), bits.bytes().size());
        bits.bytes().clear();
    }
};

void Lh5Encoder::State::codePending(bool final) {
    const size_t pending = input.size() - history;
    if (!ok || pending == 0 || (!final && pending < 2 * kSegment))
        return;
    // Segments start at multiples of kSegment in the stream: here at `history`, then on.
    const size_t end = final ? input.size() : history + pending / kSegment * kSegment;
    {
        SegmentBatch batch(scheduler, input.data(), history, end);
        if (!batch.wait()) {
            ok = false;
            failed = true;
            return;
        }
        for (const Lh5Bits &part : batch.parts())
            bits.append(part);
    }
    const size_t keep = std::min<size_t>(kWindow, end);
    input.erase(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(end - keep));
    history = keep;
    drain();
}

Lh5Encoder::Lh5Encoder(ByteSink &sink, SegmentScheduler &scheduler)
    : m(std::make_unique<State>(sink, scheduler)) {}
Lh5Encoder::~Lh5Encoder() = default;

bool Lh5Encoder::write(const void *data, size_t length) {
    if (!m->ok)
        return false;
    const auto *p = static_cast<const uint8_t *>(data);
    m->input.insert(m->input.end(), p, p + length);
    m->codePending(false);
    return m->ok;
}

bool Lh5Encoder::failed() const {
    return m->failed;
}

bool Lh5Encoder::finish() {
    if (!m->ok)
        return false;
    m->codePending(true);
    m->bits.flushBits();
    m->drain();
    return m->ok;
}

} // namespace unlha
