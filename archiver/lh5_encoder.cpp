// The -lh5- stream: segments coded on their own and joined, two at a time on two threads.
#include "lh5_encoder.h"

#include "lh5_internal.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <thread>
#include <vector>

namespace unlha {

using lh5::BitWriter;
using lh5::kSegment;
using lh5::kWindow;
using lh5::SegmentCoder;

Lh5Bits lh5CodeSegment(const uint8_t *data, size_t start, size_t length) {
    // Each thread keeps its coder: its tables are large enough to be worth reusing.
    thread_local std::unique_ptr<SegmentCoder> coder;
    if (!coder)
        coder = std::make_unique<SegmentCoder>();
    BitWriter bits;
    const size_t history = std::min<size_t>(start, kWindow);
    coder->code(data + start, history, length, bits);
    return bits.take();
}

std::vector<uint8_t> lh5JoinSegments(const std::vector<Lh5Bits> &parts) {
    BitWriter bits;
    for (const Lh5Bits &part : parts)
        bits.append(part);
    bits.flushBits();
    return std::move(bits.bytes());
}

namespace {
std::atomic<bool> g_failHelper{false};
}

void lh5FailHelperThreadForTests(bool fail) {
    g_failHelper = fail;
}

struct Lh5Encoder::State {
    explicit State(ByteSink &s) : sink(s) { input.reserve(kWindow + 2 * kSegment); }

    ByteSink &sink;
    bool ok = true;
    bool failed = false; // the coder itself failed, not the sink
    // One window of history, then the bytes not coded yet.
    std::vector<uint8_t> input;
    size_t history = 0;
    SegmentCoder coders[2];
    BitWriter bits;
    BitWriter helperBits;

    // Codes the pending input: all of it at the end, else whole segments only.
    void codePending(bool final);
    void drain() {
        if (!ok || bits.bytes().empty())
            return;
        ok = sink.put(bits.bytes().data(), bits.bytes().size());
        bits.bytes().clear();
    }
};

void Lh5Encoder::State::codePending(bool final) {
    size_t pending = input.size() - history;
    while (ok && (pending >= 2 * kSegment || (final && pending > 0))) {
        const uint8_t *start = input.data() + history;
        if (pending > kSegment) {
            // Two segments at once: the second on a helper thread, with the first's last
            // window as its history.
            const size_t second = std::min(kSegment, pending - kSegment);
            helperBits.clear();
            bool helperFailed = false;
            {
                // Joined when the scope ends, also when the first segment throws; nothing
                // thrown on the helper leaves it.
                std::jthread helper([&] {
                    try {
                        if (g_failHelper)
                            throw std::bad_alloc();
                        coders[1].code(start + kSegment, kWindow, second, helperBits);
                    } catch (...) {
                        helperFailed = true;
                    }
                });
                coders[0].code(start, history, kSegment, bits);
            }
            if (helperFailed) {
                ok = false;
                failed = true;
                return;
            }
            bits.append(helperBits.take());
            const size_t codedEnd = history + kSegment + second;
            input.erase(input.begin(), input.begin() + long(codedEnd - kWindow));
            history = kWindow;
        } else {
            coders[0].code(start, history, pending, bits);
            const size_t keep = std::min(kWindow, uint32_t(input.size()));
            input.erase(input.begin(), input.end() - long(keep));
            history = keep;
        }
        pending = input.size() - history;
        drain();
    }
}

Lh5Encoder::Lh5Encoder(ByteSink &sink) : m(std::make_unique<State>(sink)) {}
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
