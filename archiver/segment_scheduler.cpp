#include "segment_scheduler.h"

#include "lh5_segment_coder.h"

#include <algorithm>
#include <memory>

namespace unlha {

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

SegmentScheduler::SegmentScheduler()
    : SegmentScheduler(std::clamp(std::thread::hardware_concurrency(), 1u, 2u)) {}

SegmentScheduler::SegmentScheduler(unsigned workers) {
    // Should a thread fail to start, those already running are stopped and joined as the
    // vector goes.
    m_workers.reserve(workers);
    for (unsigned i = 0; i < workers; ++i)
        m_workers.emplace_back([this](const std::stop_token &stop) { work(stop); });
}

void SegmentScheduler::work(const std::stop_token &stop) {
    std::unique_lock lock(m_mutex);
    while (m_wake.wait(lock, stop, [&] { return !m_jobs.empty(); })) {
        const Job job = m_jobs.front();
        m_jobs.pop_front();
        lock.unlock();
        run(job);
        lock.lock();
    }
}

Lh5Bits SegmentScheduler::code(const uint8_t *data, size_t start, size_t length) {
    return lh5CodeSegment(data, start, length);
}

void SegmentScheduler::run(const Job &job) {
    SegmentBatch &batch = *job.batch;
    bool ok = true;
    try {
        const size_t start = batch.m_from + job.index * kLh5Segment;
        // Each job owns its element of the batch's parts; the batch waits for it before going.
        batch.m_parts[job.index] =
            code(batch.m_data, start, std::min(kLh5Segment, batch.m_to - start));
    } catch (...) {
        ok = false;
    }
    std::lock_guard lock(m_mutex);
    batch.m_failed = batch.m_failed || !ok;
    if (--batch.m_pending == 0)
        m_done.notify_all();
}

SegmentBatch::SegmentBatch(SegmentScheduler &scheduler, const uint8_t *data, size_t from, size_t to)
    : m_scheduler(scheduler), m_data(data), m_from(from), m_to(to),
      m_parts(to > from ? (to - from + kLh5Segment - 1) / kLh5Segment : 0) {
    try {
        std::lock_guard lock(m_scheduler.m_mutex);
        for (size_t i = 0; i < m_parts.size(); ++i) {
            m_scheduler.m_jobs.push_back({this, i});
            ++m_pending;
        }
    } catch (...) {
        cancel(); // no job may outlive the batch it points to
        throw;
    }
    m_scheduler.m_wake.notify_all();
}

SegmentBatch::~SegmentBatch() {
    cancel();
}

void SegmentBatch::cancel() {
    std::unique_lock lock(m_scheduler.m_mutex);
    m_pending -= std::erase_if(
        m_scheduler.m_jobs, [this](const SegmentScheduler::Job &job) { return job.batch == this; });
    m_scheduler.m_done.wait(lock, [this] { return m_pending == 0; });
}

bool SegmentBatch::wait() {
    std::unique_lock lock(m_scheduler.m_mutex);
    m_scheduler.m_done.wait(lock, [this] { return m_pending == 0; });
    return !m_failed;
}

} // namespace unlha
