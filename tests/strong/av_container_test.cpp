// Sound and video files past 4 GiB or 1 GiB, tried without writing them: a WAVE file's switch
// to RF64 and the reading of RF64 and of OpenDML's further RIFFs.
#include "containers.h"
#include "framing.h"
#include "memory_file.h"
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

std::vector<uint8_t> bodyOf(const std::vector<uint8_t> &file, int kind) {
    auto reader = containerFor(kind).open(testing::inputFrom(file));
    std::vector<uint8_t> got;
    if (!reader)
        return got;
    uint8_t buffer[256];
    for (int64_t n; (n = reader->read(buffer, sizeof buffer)) > 0;)
        got.insert(got.end(), buffer, buffer + n);
    return got;
}

TEST(WavReader, takesTheDataSizeFromDs64) {
    framing::Fields f;
    f.text("RF64").le32(0xFFFFFFFFu).text("WAVE");
    f.text("ds64").le32(28).le64(4 + 36 + 24 + 8 + 8).le64(8).le64(2).le32(0);
    f.text("fmt ").le32(16).le16(1).le16(2).le32(44100).le32(44100 * 4).le16(4).le16(16);
    f.text("data").le32(0xFFFFFFFFu).text("abcdefgh");
    EXPECT_EQ(bodyOf(f.bytes(), 7), std::vector<uint8_t>(f.bytes().end() - 8, f.bytes().end()));
}

TEST(AviReader, continuesInTheAvixRiffs) {
    framing::Fields f;
    f.text("RIFF").le32(4 + 12 + 12 + 8 + 4).text("AVI ");
    f.text("LIST").le32(4).text("hdrl");
    f.text("LIST").le32(4 + 8 + 4).text("movi").text("00db").le32(4).text("abcd");
    for (const char *piece : {"efgh", "ijkl"}) {
        f.text("RIFF").le32(4 + 12 + 8 + 4 + 8).text("AVIX");
        f.text("LIST").le32(4 + 8 + 4 + 8).text("movi").text("00db").le32(4).text(piece);
        f.text("JUNK").le32(0);
    }
    const std::string want = "abcdefghijkl";
    EXPECT_EQ(bodyOf(f.bytes(), 14), std::vector<uint8_t>(want.begin(), want.end()));
}

} // namespace
} // namespace strong
