// Disguised files as outside tools see them. Each test encodes a small file under one
// disguise, shows the result to `file` and to the tools that open that type (ImageMagick,
// ffprobe/ffmpeg, tar with gzip or bzip2, cabextract, lhasa, unzip, bsdtar), and then decodes
// it and gets the original back. The encoded data follows the disguise as trailing bytes.
#include "disguise_support.h"
#include "halvet_tolvex.h"
#include "layout.h"
#include "sample_content.h"

#include <gtest/gtest.h>

#include <array>
#include <sstream>

using namespace disguise_support;
using testing_support::readFile;
using testing_support::runEngine;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

constexpr uint32_t kKey = 0x1234ABCD;

bool contains(const std::string &haystack, const std::string &needle) {
    return haystack.find(needle) != std::string::npos;
}

// A small file encoded under one disguise, in a folder of its own.
class Disguised {
  public:
    explicit Disguised(int kind)
        : m_content(testing_support::randomBytes(3000, uint32_t(kind))),
          m_path(m_dir / (std::string("disguised") + tolvex::disguiseFor(kind).extension)) {
        writeFile(m_dir / "letter.txt", m_content);
        m_status =
            runEngine(m_dir / "letter.txt", m_dir / "disguised", kKey, TOLVEX_MODE_ENCODE, kind);
    }
    bool encoded() const { return m_status == TOLVEX_OK; }
    const std::string &path() const { return m_path; }
    std::string quotedPath() const { return quoted(m_path); }

    // The disguise alone, as a file of its own: the first H bytes of the encoded file.
    std::string segmentOnly(int kind) const {
        const auto all = readFile(m_path);
        const std::string path =
            m_dir / (std::string("segment") + tolvex::disguiseFor(kind).extension);
        writeFile(path, Bytes(all->begin(), all->begin() + tolvex::disguiseFor(kind).length));
        return path;
    }

    void expectDecodesBack() const {
        ASSERT_EQ(runEngine(m_path, m_dir / "restored", kKey, TOLVEX_MODE_DECODE), TOLVEX_OK);
        EXPECT_EQ(readFile(m_dir / "restored.txt"), m_content);
    }

  private:
    TempDir m_dir;
    Bytes m_content;
    std::string m_path;
    int32_t m_status;
};

std::string mimeType(const std::string &path) {
    const CommandResult r = run("file --brief --mime-type " + quoted(path));
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out.substr(0, r.out.find('\n'));
}

std::string fileDescription(const std::string &path) {
    return run("file --brief " + quoted(path)).out;
}

// The colour ImageMagick decodes at one pixel, as red, green, blue, alpha (0 to 255).
std::array<int, 4> pixelAt(const std::string &path, int x, int y) {
    const CommandResult r =
        run("convert " + quoted(path + "[0]") + " -crop 1x1+" + std::to_string(x) + "+" +
            std::to_string(y) +
            " -depth 8 -format '%[fx:int(255*r+.5)] %[fx:int(255*g+.5)] %[fx:int(255*b+.5)] "
            "%[fx:int(255*a+.5)]' info:");
    std::array<int, 4> rgba{-1, -1, -1, -1};
    std::istringstream in(r.out);
    for (int &v : rgba)
        in >> v;
    return rgba;
}

std::array<int, 4> opaque(templates::Rgb c) {
    return {c.r, c.g, c.b, 255};
}

// ImageMagick reads the picture, names its format and size, and has nothing to complain about.
void expectPicture(const std::string &path, const std::string &formatAndSize) {
    const CommandResult r = run("identify " + quoted(path));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(contains(r.out, " " + formatAndSize + " ")) << r.out;
}

// ffprobe's view of the first stream, one "key=value" a line.
std::string probe(const std::string &path, const std::string &entries) {
    const CommandResult r = run("ffprobe -v error -show_entries stream=" + entries +
                                " -of default=nw=1 " + quoted(path));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    return r.out;
}

// ffmpeg decodes every frame or sample without an error.
void expectDecodesCleanly(const std::string &path) {
    const CommandResult r = run("ffmpeg -nostdin -v error -i " + quoted(path) + " -f null -");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
}

TEST(DisguiseTools, BitmapIsA16By15PictureWhoseSizeFieldIsShorterThanTheFile) {
    Disguised d(1);
    ASSERT_TRUE(d.encoded());
    EXPECT_EQ(mimeType(d.path()), "image/bmp");
    EXPECT_TRUE(contains(fileDescription(d.path()), "PC bitmap, Windows 3.x format, 16 x 15 x 24"));
    // The size field has to say 774 (its low half is the disguise's magic) while the file goes
    // on: ImageMagick reads the picture, says so, and exits with 1 for it.
    const CommandResult r = run("identify " + d.quotedPath());
    EXPECT_TRUE(contains(r.out, " BMP3 16x15 ")) << r.out;
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "length and filesize do not match")) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    // The bare segment is a bitmap without a flaw.
    expectPicture(d.segmentOnly(1), "BMP3 16x15");
    EXPECT_EQ(pixelAt(d.path(), 3, 5), opaque(templates::samplePixel(3, 5, 16, 15)));
    EXPECT_EQ(pixelAt(d.path(), 15, 0), opaque(templates::samplePixel(15, 0, 16, 15)));
    d.expectDecodesBack();
}

TEST(DisguiseTools, JpegIsA32By32ColourPicture) {
    Disguised d(3);
    ASSERT_TRUE(d.encoded());
    EXPECT_EQ(mimeType(d.path()), "image/jpeg");
    expectPicture(d.path(), "JPEG 32x32");
    // Flat tiles of the sample picture's colours: blue at the top left, orange at the bottom
    // right, the light disc in the middle.
    const auto topLeft = pixelAt(d.path(), 2, 2), bottomRight = pixelAt(d.path(), 29, 29),
               middle = pixelAt(d.path(), 15, 15);
    EXPECT_GT(topLeft[2], topLeft[0] + 60) << "blue";
    EXPECT_GT(bottomRight[0], bottomRight[2] + 60) << "orange";
    EXPECT_GT(middle[0] + middle[1] + middle[2], topLeft[0] + topLeft[1] + topLeft[2] + 150);
    d.expectDecodesBack();
}

TEST(DisguiseTools, PngIsA16By16PictureWithExactlyTheSamplePixels) {
    Disguised d(6);
    ASSERT_TRUE(d.encoded());
    EXPECT_EQ(mimeType(d.path()), "image/png");
    expectPicture(d.path(), "PNG 16x16");
    for (auto [x, y] : {std::pair{0, 0}, {7, 8}, {15, 15}, {3, 12}})
        EXPECT_EQ(pixelAt(d.path(), x, y), opaque(templates::samplePixel(x, y, 16, 16)));
    d.expectDecodesBack();
}

TEST(DisguiseTools, IconIsA32By32DiscOnATransparentGround) {
    Disguised d(9);
    ASSERT_TRUE(d.encoded());
    EXPECT_EQ(mimeType(d.path()), "image/vnd.microsoft.icon");
    expectPicture(d.path(), "ICO 32x32");
    EXPECT_EQ(pixelAt(d.path(), 0, 0)[3], 0) << "corner shows through";
    const auto centre = pixelAt(d.path(), 16, 16);
    EXPECT_EQ(centre[3], 255);
    // The palette's nearest colour to the sample picture's.
    const auto want = templates::samplePixel(16, 16, 32, 32);
    EXPECT_NEAR(centre[0], want.r, 26);
    EXPECT_NEAR(centre[1], want.g, 26);
    EXPECT_NEAR(centre[2], want.b, 26);
    d.expectDecodesBack();
}

TEST(DisguiseTools, CursorIsA32By32ArrowWithItsHotSpotAtTheTip) {
    Disguised d(13);
    ASSERT_TRUE(d.encoded());
    EXPECT_EQ(mimeType(d.path()), "image/x-win-bitmap");
    EXPECT_TRUE(contains(fileDescription(d.path()), "32x32, 16 colors, hotspot @0x0"));
    expectPicture(d.path(), "CUR 32x32");
    EXPECT_EQ(pixelAt(d.path(), 0, 0), (std::array<int, 4>{0, 0, 0, 255})) << "black tip";
    EXPECT_EQ(pixelAt(d.path(), 2, 6), (std::array<int, 4>{255, 255, 255, 255})) << "white body";
    EXPECT_EQ(pixelAt(d.path(), 20, 20)[3], 0) << "transparent around";
    d.expectDecodesBack();
}

TEST(DisguiseTools, WaveIsA37MillisecondTone) {
    Disguised d(7);
    ASSERT_TRUE(d.encoded());
    EXPECT_EQ(mimeType(d.path()), "audio/x-wav");
    EXPECT_EQ(probe(d.path(), "codec_name,sample_rate,channels,duration"),
              "codec_name=pcm_u8\nsample_rate=8000\nchannels=1\nduration=0.037500\n");
    expectDecodesCleanly(d.path());
    d.expectDecodesBack();
}

TEST(DisguiseTools, Mp3IsASilentClipOfWholeFrames) {
    Disguised d(12);
    ASSERT_TRUE(d.encoded());
    EXPECT_EQ(mimeType(d.path()), "audio/mpeg");
    EXPECT_TRUE(contains(fileDescription(d.path()), "MPEG ADTS, layer III, v2"));
    // The summary frame's count gives the duration: 50 frames of 576 samples at 22050 Hz.
    EXPECT_EQ(probe(d.path(), "codec_name,sample_rate,channels,duration"),
              "codec_name=mp3\nsample_rate=22050\nchannels=1\nduration=1.306122\n");
    // The encoded data after the frames is no audio, so the clean decode is of the disguise.
    expectDecodesCleanly(d.segmentOnly(12));
    d.expectDecodesBack();
}

TEST(DisguiseTools, AviIsATwelveFrameClipThatDecodes) {
    Disguised d(14);
    ASSERT_TRUE(d.encoded());
    EXPECT_EQ(mimeType(d.path()), "video/x-msvideo");
    EXPECT_EQ(probe(d.path(), "codec_name,width,height,nb_frames"),
              "codec_name=rawvideo\nwidth=16\nheight=16\nnb_frames=12\n");
    expectDecodesCleanly(d.path());
    d.expectDecodesBack();
}

TEST(DisguiseTools, MidiIsNamedByFile) {
    // ffprobe has no reader for Standard MIDI Files, so `file` is the outside witness here;
    // the structure test walks the track event by event.
    Disguised d(5);
    ASSERT_TRUE(d.encoded());
    EXPECT_EQ(mimeType(d.path()), "audio/midi");
    EXPECT_TRUE(contains(fileDescription(d.path()), "Standard MIDI data (format 0) using 1 track"));
    d.expectDecodesBack();
}

const char *kTarListing = "tolvex/tolvex";

TEST(DisguiseTools, GzipTarDecompressesToATarThatLists) {
    Disguised d(10);
    ASSERT_TRUE(d.encoded());
    EXPECT_EQ(mimeType(d.path()), "application/gzip");
    // gzip decompresses the whole stream and warns about what follows it, with exit status 2
    // ("warning"); the tar it gives lists cleanly.
    const CommandResult gz = run("gzip -dc " + d.quotedPath() + " >/dev/null");
    EXPECT_EQ(gz.status, 2);
    EXPECT_TRUE(contains(gz.err, "decompression OK, trailing garbage ignored")) << gz.err;
    const CommandResult list = run("gzip -dc " + d.quotedPath() + " 2>/dev/null | tar -tvf -");
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_TRUE(contains(list.out, kTarListing) && contains(list.out, " notes.txt\n")) << list.out;
    // Alone, the segment is a flawless .tar.gz.
    const std::string segment = d.segmentOnly(10);
    EXPECT_EQ(run("gzip -t " + quoted(segment)).status, 0);
    const CommandResult alone = run("tar -tzf " + quoted(segment));
    EXPECT_EQ(alone.status, 0) << alone.err;
    EXPECT_EQ(alone.out, "notes.txt\n");
    EXPECT_TRUE(contains(run("bsdtar -tf " + d.quotedPath()).out, "notes.txt"));
    d.expectDecodesBack();
}

TEST(DisguiseTools, Bzip2TarDecompressesToATarThatLists) {
    Disguised d(11);
    ASSERT_TRUE(d.encoded());
    EXPECT_EQ(mimeType(d.path()), "application/x-bzip2");
    // bzip2 warns about what follows the stream but exits with 0, so tar does too.
    const CommandResult list = run("tar -tjvf " + d.quotedPath());
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_TRUE(contains(list.out, kTarListing) && contains(list.out, " notes.txt\n")) << list.out;
    EXPECT_TRUE(contains(list.err, "trailing garbage after EOF ignored")) << list.err;
    const std::string segment = d.segmentOnly(11);
    const CommandResult test = run("bzip2 -t " + quoted(segment));
    EXPECT_EQ(test.status, 0) << test.err;
    EXPECT_EQ(test.err, "");
    EXPECT_TRUE(contains(run("bsdtar -tf " + d.quotedPath()).out, "notes.txt"));
    d.expectDecodesBack();
}

TEST(DisguiseTools, CabinetListsOneFileAndPassesItsChecksums) {
    Disguised d(2);
    ASSERT_TRUE(d.encoded());
    EXPECT_EQ(mimeType(d.path()), "application/vnd.ms-cab-compressed");
    const CommandResult list = run("cabextract -l " + d.quotedPath());
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_TRUE(contains(list.out, "3740 | 01.04.2024 12:00:00 | readme.txt")) << list.out;
    const CommandResult test = run("cabextract -t " + d.quotedPath());
    EXPECT_EQ(test.status, 0) << test.err;
    EXPECT_TRUE(contains(test.out, "readme.txt  OK") && contains(test.out, "no errors"))
        << test.out;
    EXPECT_TRUE(contains(run("bsdtar -tf " + d.quotedPath()).out, "readme.txt"));
    d.expectDecodesBack();
}

TEST(DisguiseTools, LhaListsOneMemberAndPassesItsCrcs) {
    Disguised d(4);
    ASSERT_TRUE(d.encoded());
    EXPECT_EQ(mimeType(d.path()), "application/x-lzh-compressed");
    // lhasa stops at a member whose header CRC is wrong, so a listed member proves it right.
    const CommandResult list = run("lhasa l " + d.quotedPath());
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_TRUE(contains(list.out, "3734 100.0%") && contains(list.out, "sample-memo.txt"))
        << list.out;
    EXPECT_TRUE(contains(list.out, " 1 file ")) << list.out;
    const CommandResult test = run("lhasa t " + d.quotedPath());
    EXPECT_EQ(test.status, 0) << test.err;
    EXPECT_TRUE(contains(test.out, "sample-memo.txt\t- Tested")) << test.out;
    EXPECT_TRUE(contains(run("bsdtar -tf " + d.quotedPath()).out, "sample-memo.txt"));
    d.expectDecodesBack();
}

TEST(DisguiseTools, ZipListsOneFileAndPassesItsCrc) {
    Disguised d(15);
    ASSERT_TRUE(d.encoded());
    EXPECT_EQ(mimeType(d.path()), "application/zip");
    const CommandResult list = run("unzip -l " + d.quotedPath());
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_TRUE(contains(list.out, "readme.txt") && contains(list.out, "1 file")) << list.out;
    const CommandResult test = run("unzip -t " + d.quotedPath());
    EXPECT_EQ(test.status, 0) << test.err;
    EXPECT_TRUE(contains(test.out, "testing: readme.txt               OK")) << test.out;
    EXPECT_TRUE(contains(run("bsdtar -tf " + d.quotedPath()).out, "readme.txt"));
    d.expectDecodesBack();
}

TEST(DisguiseTools, GcaIsUnknownToFileAndStillDecodes) {
    // `file` has no entry for GCA's "GCA0" signature, and no tool on Debian reads GCA.
    Disguised d(8);
    ASSERT_TRUE(d.encoded());
    EXPECT_EQ(mimeType(d.path()), "application/octet-stream");
    const auto bytes = readFile(d.path());
    EXPECT_EQ(textAt(*bytes, 0, 4), "GCA0");
    d.expectDecodesBack();
}

} // namespace
