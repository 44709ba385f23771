// The -lh5- encoder, decoded by liblhasa's own decoder: every kind of data comes back the same,
// and the Huffman code lengths are complete and within 16 bits.
#include "huffman.h"
#include "lh5_encoder.h"
#include "segment_scheduler.h"
#include "support.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <lhasa.h>
#include <random>
#include <thread>

using namespace archiver_test;

namespace {

struct VectorSink : unlha::ByteSink {
    Bytes bytes;
    bool put(const uint8_t *data, size_t length) override {
        bytes.insert(bytes.end(), data, data + length);
        return true;
    }
};

Bytes encode(const Bytes &data, size_t piece) {
    VectorSink sink;
    unlha::SegmentScheduler scheduler;
    unlha::Lh5Encoder encoder(sink, scheduler);
    for (size_t at = 0; at < data.size(); at += piece)
        EXPECT_TRUE(encoder.write(data.data() + at, std::min(piece, data.size() - at)));
    EXPECT_TRUE(encoder.finish());
    return sink.bytes;
}

struct Source {
    const Bytes *bytes;
    size_t at = 0;
};

size_t feed(void *buffer, size_t length, void *data) {
    auto *s = static_cast<Source *>(data);
    const size_t n = std::min(length, s->bytes->size() - s->at);
    std::memcpy(buffer, s->bytes->data() + s->at, n);
    s->at += n;
    return n;
}

// Decodes `length` bytes with liblhasa, and tells how much of the stream it used.
Bytes decode(const Bytes &stream, size_t length, size_t *used = nullptr) {
    Source source{&stream};
    LHADecoder *decoder =
        lha_decoder_new(lha_decoder_for_name(const_cast<char *>("-lh5-")), feed, &source, length);
    Bytes out(length + 64);
    size_t got = 0;
    while (got < out.size()) {
        const size_t n = lha_decoder_read(decoder, out.data() + got, out.size() - got);
        if (n == 0)
            break;
        got += n;
    }
    lha_decoder_free(decoder);
    out.resize(got);
    if (used)
        *used = source.at;
    return out;
}

void expectRoundTrip(const Bytes &data, size_t piece = 1 << 16) {
    const Bytes stream = encode(data, piece);
    size_t used = 0;
    const Bytes back = decode(stream, data.size(), &used);
    ASSERT_EQ(back.size(), data.size());
    ASSERT_TRUE(back == data) << "first difference at "
                              << (std::mismatch(back.begin(), back.end(), data.begin()).first -
                                  back.begin());
    EXPECT_LE(used, stream.size());
}

TEST(Lh5, EmptyInputGivesAnEmptyStream) {
    EXPECT_TRUE(encode({}, 1).empty());
}

TEST(Lh5, RandomDataOfManyLengths) {
    for (size_t n :
         {1, 2, 3, 4, 7, 8, 9, 255, 256, 257, 4096, 8191, 8192, 8193, 65535, 65536, 100000})
        expectRoundTrip(randomBytes(n, static_cast<uint32_t>(n)));
}

TEST(Lh5, ZerosAndOneRepeatedByte) {
    for (size_t n : {3, 10, 256, 257, 258, 1000, 70000, 300000})
        expectRoundTrip(Bytes(n, 0));
    expectRoundTrip(Bytes(50000, 'a'));
}

TEST(Lh5, TextOfManyLengthsAndPieceSizes) {
    for (size_t n : {100, 5000, 32767, 32768, 32769, 200000, 700000})
        for (size_t piece :
             {static_cast<size_t>(1), static_cast<size_t>(1000), static_cast<size_t>(1) << 20}) {
            if (piece == 1 && n > 40000)
                continue;
            expectRoundTrip(textBytes(n, static_cast<uint32_t>(n)), piece);
        }
}

TEST(Lh5, MixedDataAcrossSegmentsCodedInParallel) {
    // Past two segments, so that segments are coded on two threads and joined at bit level.
    Bytes data = textBytes(1500000, 3);
    const Bytes noise = randomBytes(900000, 4);
    data.insert(data.end(), noise.begin(), noise.end());
    const Bytes zeros(600000, 0);
    data.insert(data.end(), zeros.begin(), zeros.end());
    const Bytes more = textBytes(1300000, 5);
    data.insert(data.end(), more.begin(), more.end());
    expectRoundTrip(data, 300000);
}

TEST(Lh5, DistantRepeatsJustInsideTheWindow) {
    // A block repeated at distances around the window's size: matches reach as far as allowed.
    const Bytes unit = randomBytes(8190, 9);
    Bytes data;
    for (int i = 0; i < 6; ++i)
        data.insert(data.end(), unit.begin(), unit.end());
    expectRoundTrip(data);
    const Bytes stream = encode(data, data.size());
    EXPECT_LT(stream.size(), data.size() / 3) << "repeats were found";
}

TEST(Lh5, CompressesTextWell) {
    const Bytes text = textBytes(200000, 11);
    EXPECT_LT(encode(text, text.size()).size(), text.size() / 3);
}

// The match finder's trees, on inputs that stress them.
TEST(Lh5MatchFinder, RunsOfEveryLengthAroundTheLongestMatch) {
    Bytes data;
    uint8_t value = 0;
    for (size_t run : {1, 2, 3, 4, 254, 255, 256, 257, 258, 511, 512, 513, 1000, 8191, 8192, 8193})
        data.insert(data.end(), run, value++);
    for (size_t run = 250; run < 262; ++run) // the same byte again: runs meet earlier runs
        data.insert(data.end(), run, static_cast<uint8_t>(run % 3));
    expectRoundTrip(data);
}

TEST(Lh5MatchFinder, PeriodsAroundTheWindowSize) {
    for (size_t period : {8189, 8190, 8191, 8192, 8193, 8194, 16383, 16384}) {
        const Bytes unit = randomBytes(period, static_cast<uint32_t>(period));
        Bytes data;
        for (int i = 0; i < 4; ++i)
            data.insert(data.end(), unit.begin(), unit.end());
        expectRoundTrip(data);
    }
    // Within reach, the repeats are found.
    const Bytes unit = randomBytes(8191, 1);
    Bytes data;
    for (int i = 0; i < 4; ++i)
        data.insert(data.end(), unit.begin(), unit.end());
    EXPECT_LT(encode(data, data.size()).size(), data.size() / 3);
}

TEST(Lh5MatchFinder, EveryByteValueAndSharedPrefixes) {
    Bytes data;
    for (int round = 0; round < 64; ++round)
        for (int b = 0; b < 256; ++b)
            data.push_back(static_cast<uint8_t>(round % 2 ? 255 - b : b));
    // Many positions share their first bytes and differ later, in both directions.
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {
        const uint8_t tail[] = {'a', 'b', 'c', static_cast<uint8_t>(random() % 4),
                                static_cast<uint8_t>(random() % 256)};
        data.insert(data.end(), std::begin(tail), std::end(tail));
    }
    for (int i = 0; i < 70000; ++i)
        data.push_back(static_cast<uint8_t>(i % 7 == 0 ? i / 7 : i % 5));
    expectRoundTrip(data);
    expectRoundTrip(data, 4093);
}

TEST(Lh5MatchFinder, LengthsAroundBlockAndSegmentEnds) {
    // 65535 positions go into one block; segments are unlha::kLh5Segment bytes.
    for (size_t n : {65534, 65535, 65536, 65537, 131069, 131070, 131071})
        expectRoundTrip(textBytes(n, static_cast<uint32_t>(n)));
    // Long matches that run across a block's end, and zeros across a segment's end.
    Bytes data = randomBytes(200000, 21);
    std::fill(data.begin() + 65300, data.begin() + 66000, 0);
    std::copy(data.begin() + 1000, data.begin() + 1300, data.begin() + 131000);
    expectRoundTrip(data);
    for (size_t n : {unlha::kLh5Segment - 1, unlha::kLh5Segment, unlha::kLh5Segment + 1,
                     2 * unlha::kLh5Segment + 3}) {
        Bytes big = textBytes(n, 5);
        const size_t edge = unlha::kLh5Segment;
        if (n > edge + 500)
            std::fill(big.begin() + static_cast<long>(edge - 500),
                      big.begin() + static_cast<long>(edge + 500), 'z');
        expectRoundTrip(big, 300000);
    }
}

// Segments coded separately, on any thread and in any order, join into the streaming
// encoder's very bytes.
TEST(Lh5Segments, JoinedSegmentsEqualTheStreamingEncoder) {
    Bytes data = textBytes(unlha::kLh5Segment + 70000, 12);
    const Bytes noise = randomBytes(unlha::kLh5Segment / 2, 13);
    data.insert(data.end(), noise.begin(), noise.end());
    const Bytes more = textBytes(unlha::kLh5Segment + 1234, 14);
    data.insert(data.end(), more.begin(), more.end());
    const size_t count = (data.size() + unlha::kLh5Segment - 1) / unlha::kLh5Segment;
    ASSERT_GE(count, 3u);
    std::vector<unlha::Lh5Bits> parts(count);
    std::vector<std::thread> threads;
    for (size_t i = count; i-- > 0;)
        threads.emplace_back([&, i] {
            const size_t start = i * unlha::kLh5Segment;
            parts[i] = unlha::lh5CodeSegment(data.data(), start,
                                             std::min(unlha::kLh5Segment, data.size() - start));
        });
    for (auto &t : threads)
        t.join();
    const Bytes joined = unlha::lh5JoinSegments(parts);
    EXPECT_TRUE(joined == encode(data, 100000));
    EXPECT_TRUE(decode(joined, data.size()) == data);
    // Again on this thread, after other inputs: a coder keeps nothing from one to the next.
    const Bytes small = textBytes(5000, 15);
    EXPECT_TRUE(unlha::lh5JoinSegments({unlha::lh5CodeSegment(small.data(), 0, small.size())}) ==
                encode(small, small.size()));
}

// A batch ended before its segments are coded drops them and waits for the one being coded;
// the scheduler goes on with the next batch.
TEST(Lh5Segments, BatchEndedEarlyLeavesTheSchedulerUsable) {
    const Bytes data = textBytes(4 * unlha::kLh5Segment, 16);
    struct OneWorker : unlha::SegmentScheduler {
        OneWorker() : SegmentScheduler(1) {}
    } scheduler;
    { unlha::SegmentBatch dropped(scheduler, data.data(), 0, data.size()); }
    const Bytes small = textBytes(5000, 17);
    unlha::SegmentBatch batch(scheduler, small.data(), 0, small.size());
    ASSERT_TRUE(batch.wait());
    EXPECT_TRUE(unlha::lh5JoinSegments(batch.parts()) == encode(small, small.size()));
}

// Canonical codes must fill the code space exactly and stay within 16 bits.
TEST(Huffman, LengthsAreCompleteAndLimited) {
    std::mt19937 random(5);
    for (int round = 0; round < 300; ++round) {
        const int n = 2 + static_cast<int>(random() % 509);
        std::vector<uint32_t> freq(static_cast<size_t>(n), 0);
        const int kind = round % 3;
        for (int i = 0; i < n; ++i) {
            if (random() % 3 == 0)
                continue;
            // Fibonacci-like weights force very deep trees unless limited.
            freq[static_cast<size_t>(i)] =
                kind == 0   ? static_cast<uint32_t>(random() % 1000)
                : kind == 1 ? (i < 30 ? static_cast<uint32_t>(1u << std::min(i, 30)) : 1)
                            : 1;
        }
        freq[0] = std::max(freq[0], 1u);
        freq[1] = std::max(freq[1], 1u);
        std::vector<uint8_t> len(static_cast<size_t>(n));
        unlha::huffmanLengths(freq.data(), n, 16, len.data());
        double kraft = 0;
        for (int i = 0; i < n; ++i) {
            ASSERT_LE(len[static_cast<size_t>(i)], 16);
            ASSERT_EQ(freq[static_cast<size_t>(i)] == 0, len[static_cast<size_t>(i)] == 0) << i;
            if (len[static_cast<size_t>(i)])
                kraft += 1.0 / static_cast<double>(1u << len[static_cast<size_t>(i)]);
        }
        ASSERT_DOUBLE_EQ(kraft, 1.0);
    }
}

TEST(Huffman, OneSymbolGetsNoBits) {
    uint32_t freq[5] = {0, 0, 9, 0, 0};
    uint8_t len[5];
    unlha::huffmanLengths(freq, 5, 16, len);
    for (uint8_t l : len)
        EXPECT_EQ(l, 0);
}

TEST(Huffman, CanonicalCodesAreOrderedByLengthThenSymbol) {
    const uint8_t len[6] = {2, 3, 3, 2, 2, 0};
    uint16_t code[6];
    unlha::canonicalCodes(len, 6, code);
    EXPECT_EQ(code[0], 0b00);
    EXPECT_EQ(code[3], 0b01);
    EXPECT_EQ(code[4], 0b10);
    EXPECT_EQ(code[1], 0b110);
    EXPECT_EQ(code[2], 0b111);
}

} // namespace
