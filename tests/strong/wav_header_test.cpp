// A WAVE file whose size no longer fits RIFF's 32 bits says so in RF64's ds64 chunk.
#include "framing.h"
#include "wav.h"

#include <gtest/gtest.h>

#include <string>

namespace strong {
namespace {

using containers::wave::header;
using containers::wave::Shape;

std::string idAt(const std::vector<uint8_t> &h, size_t at) {
    return std::string(h.begin() + std::ptrdiff_t(at), h.begin() + std::ptrdiff_t(at + 4));
}

TEST(WavHeader, switchesToRf64WhereTheRiffSizeNoLongerFits) {
    Shape shape;
    shape.channels = 2;
    shape.bits = 16;
    shape.infoList = true;
    shape.date = "2025-01-31";
    const size_t before = header(shape, 4).size(); // RIFF's header up to the samples
    // The largest data chunk a RIFF size holds: the size counts everything after its field.
    const uint64_t largest = (0xFFFFFFFFull - (before - 8)) / 4 * 4;
    const auto riff = header(shape, largest);
    EXPECT_EQ(idAt(riff, 0), "RIFF");
    EXPECT_EQ(framing::loadLe32(riff.data() + 4), uint32_t(before - 8 + largest));
    EXPECT_EQ(framing::loadLe32(riff.data() + riff.size() - 4), uint32_t(largest));

    const uint64_t data = largest + 4;
    const auto rf64 = header(shape, data);
    ASSERT_EQ(rf64.size(), before + 36);
    EXPECT_EQ(idAt(rf64, 0), "RF64");
    EXPECT_EQ(framing::loadLe32(rf64.data() + 4), 0xFFFFFFFFu);
    EXPECT_EQ(idAt(rf64, 12), "ds64");
    EXPECT_EQ(framing::loadLe64(rf64.data() + 20), rf64.size() - 8 + data); // RIFF size
    EXPECT_EQ(framing::loadLe64(rf64.data() + 28), data);                   // data size
    EXPECT_EQ(framing::loadLe64(rf64.data() + 36), data / 4);               // sample frames
    EXPECT_EQ(idAt(rf64, rf64.size() - 8), "data");
    EXPECT_EQ(framing::loadLe32(rf64.data() + rf64.size() - 4), 0xFFFFFFFFu);
}

} // namespace
} // namespace strong
