// The picture kinds' rules that a round trip does not reach: an icon's directory gives each
// PNG's size before it is written, and the largest icon must still fit in 32-bit offsets.
#include "png_stream.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <vector>

namespace strong::pictures {
namespace {

TEST(PngLayout, theSizeGivenBeforehandIsTheSizeWritten) {
    ASSERT_GE(sodium_init(), 0);
    for (const uint32_t idat : {8192u, 131072u}) {
        for (const uint32_t block : {8000u, 65535u}) {
            for (const uint32_t side : {1u, 16u, 256u, 700u}) {
                PngLayout layout = plausiblePng(side, side / 2 + 1, 4, true);
                layout.idatSize = idat;
                layout.blockSize = block;
                std::vector<uint8_t> file;
                ContainerOutput output{[&](const uint8_t *d, size_t n) {
                                           file.insert(file.end(), d, d + n);
                                           return true;
                                       },
                                       nullptr};
                PngWriter writer(output);
                ASSERT_TRUE(writer.begin(layout));
                ASSERT_TRUE(writer.finish());
                EXPECT_EQ(file.size(), layout.fileSize()) << idat << " " << block << " " << side;
            }
        }
    }
}

TEST(PngLayout, theLargestIconFitsItsOffsets) {
    // 16000 images of 256x256 with the most overhead the encoder choices give.
    PngLayout layout = plausiblePng(256, 256, 4, false);
    layout.idatSize = 8192;
    layout.blockSize = 8000;
    layout.ancillary.assign(16 + 13 + 21, 0); // gAMA, sRGB and pHYs
    EXPECT_LT(6 + 16000 * (16 + layout.fileSize()), uint64_t(1) << 32);
}

TEST(PlausibleShape, keepsEachSideWithin16384WhileTheAreaAllows) {
    ASSERT_GE(sodium_init(), 0);
    for (const uint64_t pixels : {uint64_t(1), uint64_t(5000), uint64_t(200000000),
                                  uint64_t(16384) * 16384, uint64_t(16384) * 16384 + 1}) {
        for (int i = 0; i < 50; ++i) {
            const Shape s = plausibleShape(pixels, 4);
            EXPECT_EQ(s.width % 4, 0u);
            EXPECT_GE(s.width * s.height, pixels);
            if (pixels <= uint64_t(16384) * 16000) {
                EXPECT_LE(s.width, 16384u) << pixels;
                EXPECT_LE(s.height, 16384u) << pixels;
            }
        }
    }
}

} // namespace
} // namespace strong::pictures
