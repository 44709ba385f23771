// The segments of a -lh5- stream: coding one, joining coded ones, and coding many at once on
// worker threads. The streaming encoder and packing's read-ahead both go through one
// SegmentScheduler; a segment's bits depend only on its bytes and the window before it, so a
// stream is the same whatever the threads' timing.
#pragma once

#include "bit_writer.h"
#include "lh5_format.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace unlha {

// Codes data[start, start + length), a segment, with the min(start, window) bytes before it as
// history, on the calling thread. Safe to call from several threads.
Lh5Bits lh5CodeSegment(const uint8_t *data, size_t start, size_t length);
// The finished stream of a run of segments: their bits in order, the last byte padded with 0s.
std::vector<uint8_t> lh5JoinSegments(const std::vector<Lh5Bits> &parts);

class SegmentBatch;

// Worker threads that code the segments of batches, first queued first coded. It must outlive
// every batch given to it; its threads are joined when it ends. code() runs only for a queued
// batch, so a derived scheduler is never called while it is being destroyed.
class SegmentScheduler {
  public:
    // Two worker threads, or one on a single core.
    SegmentScheduler();
    virtual ~SegmentScheduler() = default;
    SegmentScheduler(const SegmentScheduler &) = delete;
    SegmentScheduler &operator=(const SegmentScheduler &) = delete;

  protected:
    explicit SegmentScheduler(unsigned workers);
    // Codes one segment on a worker; what it throws fails that segment's batch.
    virtual Lh5Bits code(const uint8_t *data, size_t start, size_t length);

  private:
    friend class SegmentBatch;
    struct Job {
        SegmentBatch *batch;
        size_t index;
    };

    void work(const std::stop_token &stop);
    // Codes one job; nothing thrown while coding leaves it.
    void run(const Job &job);

    std::mutex m_mutex;
    std::condition_variable_any m_wake; // jobs queued, or the end
    std::condition_variable m_done;     // a batch's last segment finished
    std::deque<Job> m_jobs;
    // Last, so that the threads are stopped and joined before anything they use goes.
    std::vector<std::jthread> m_workers;
};

// The segments of one buffer, queued on a scheduler as a whole.
class SegmentBatch {
  public:
    // Queues the segments of data[from, to): they start at from, from + kLh5Segment, ..., and
    // each has the min(start, window) bytes before it as history. The bytes must stay as they
    // are until wait() has answered or the batch ends.
    SegmentBatch(SegmentScheduler &scheduler, const uint8_t *data, size_t from, size_t to);
    // Drops the segments still queued and waits for those being coded.
    ~SegmentBatch();
    SegmentBatch(const SegmentBatch &) = delete;
    SegmentBatch &operator=(const SegmentBatch &) = delete;

    // Waits until every segment is coded; false when one of them could not be.
    bool wait();
    // The segments' bits in order, once wait() has answered true.
    const std::vector<Lh5Bits> &parts() const { return m_parts; }

  private:
    friend class SegmentScheduler;
    void cancel();

    SegmentScheduler &m_scheduler;
    const uint8_t *m_data;
    size_t m_from;
    size_t m_to;
    std::vector<Lh5Bits> m_parts;
    // Both under the scheduler's mutex: segments queued or being coded, and whether one failed.
    size_t m_pending = 0;
    bool m_failed = false;
};

} // namespace unlha
