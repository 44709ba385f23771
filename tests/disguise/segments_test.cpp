// The segments as files of their type, read back here by independent parsers: every length,
// offset and checksum field must describe the segment exactly. Also: the generator writes what
// the builders return, masked, and writes it the same way every time.
#include "disguise_support.h"
#include "layout.h"
#include "segments.h"

#include <bzlib.h>
#include <gtest/gtest.h>
#include <zlib.h>

using namespace disguise_support;
using testing_support::readFile;
using testing_support::TempDir;

namespace {

using templates::kBuilders;

uint32_t zlibCrc(const Bytes &b, size_t at, size_t length) {
    return static_cast<uint32_t>(::crc32(0, b.data() + at, static_cast<uInt>(length)));
}

// A raw deflate stream inflated; `consumed` is set to its compressed length.
Bytes inflateRaw(const Bytes &b, size_t at, size_t &consumed) {
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    Bytes out(1 << 20);
    z.next_in = const_cast<Bytef *>(b.data() + at);
    z.avail_in = static_cast<uInt>(b.size() - at);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    consumed = z.total_in;
    inflateEnd(&z);
    return out;
}

// A tar member header: the stored checksum is the byte sum with the field read as blanks.
void expectTarHeader(const Bytes &tar, const std::string &name, size_t minimumSize) {
    ASSERT_GE(tar.size(), 1024u);
    EXPECT_EQ(tar.size() % 10240, 0u);
    EXPECT_EQ(textAt(tar, 0, name.size() + 1), name + '\0');
    EXPECT_EQ(textAt(tar, 257, 8), std::string("ustar\0"
                                               "00",
                                               8));
    uint32_t sum = 0;
    for (size_t i = 0; i < 512; ++i)
        sum += (i >= 148 && i < 156) ? static_cast<uint32_t>(' ') : tar[i];
    EXPECT_EQ(std::stoul(textAt(tar, 148, 6), nullptr, 8), sum);
    const size_t size = std::stoul(textAt(tar, 124, 11), nullptr, 8);
    EXPECT_GE(size, minimumSize);
    // After the data, rounded up to a block: two zero blocks at least.
    const size_t end = 512 + (size + 511) / 512 * 512;
    ASSERT_LE(end + 1024, tar.size());
    EXPECT_EQ(Bytes(tar.begin() + static_cast<long>(end), tar.end()), Bytes(tar.size() - end, 0));
}

TEST(DisguiseSegments, EachHasItsKindsLengthAndIsRecognisedAsThatKind) {
    for (int kind = 1; kind < tolvex::kKindCount; ++kind) {
        const auto &d = tolvex::disguiseFor(kind);
        const Bytes segment = kBuilders[kind]();
        ASSERT_EQ(segment.size(), d.length) << d.extension;
        EXPECT_EQ(le32(segment, 0), d.magic) << d.extension;
        EXPECT_EQ(tolvex::headerLengthFor(segment), d.length) << d.extension;
    }
}

TEST(DisguiseSegments, BuildersGiveTheSameBytesEveryTime) {
    for (int kind = 1; kind < tolvex::kKindCount; ++kind)
        EXPECT_EQ(kBuilders[kind](), kBuilders[kind]()) << tolvex::disguiseFor(kind).extension;
}

TEST(DisguiseSegments, TheTemplateFileHoldsTheBuildersSegmentsMasked) {
    const auto file = readFile(TOLVEX_TEMPLATE_FILE);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size(), tolvex::kTemplateFileSize);
    for (int kind = 1; kind < tolvex::kKindCount; ++kind)
        EXPECT_EQ(generatedSegment(kind), kBuilders[kind]()) << tolvex::disguiseFor(kind).extension;
}

TEST(DisguiseSegments, TheGeneratorWritesIdenticalFilesOnEveryRun) {
    TempDir dir;
    for (const char *name : {"a.dat", "b.dat"})
        ASSERT_EQ(run(quoted(MAKE_TEMPLATES) + " " + quoted(dir / name)).status, 0);
    const auto a = readFile(dir / "a.dat"), b = readFile(dir / "b.dat");
    ASSERT_TRUE(a && b);
    EXPECT_EQ(*a, *b);
    EXPECT_EQ(*a, readFile(TOLVEX_TEMPLATE_FILE));
    EXPECT_EQ(run(quoted(MAKE_TEMPLATES)).status, 2) << "no output named";
}

TEST(DisguiseSegments, BitmapSizeFieldsDescribeTheWholeSegment) {
    const Bytes b = templates::bitmapSegment();
    EXPECT_EQ(le32(b, 2), 774u);
    EXPECT_EQ(le32(b, 14), 40u);
    const uint32_t width = le32(b, 18), height = le32(b, 22), bits = le16(b, 28);
    const uint32_t rowBytes = (width * bits / 8 + 3) / 4 * 4;
    EXPECT_EQ(le32(b, 10) + rowBytes * height, 774u);
    EXPECT_EQ(le32(b, 34), rowBytes * height);
}

TEST(DisguiseSegments, JpegMarkersLeadFromStartOfImageToEndOfImageAtTheLastByte) {
    const Bytes b = templates::jpegSegment();
    ASSERT_EQ(be16(b, 0), 0xFFD8u);
    size_t at = 2;
    std::vector<uint8_t> markers;
    while (true) {
        ASSERT_EQ(b.at(at), 0xFF) << at;
        const uint8_t marker = b.at(at + 1);
        markers.push_back(marker);
        at += 2 + be16(b, at + 2);
        if (marker == 0xDA)
            break;
    }
    // Entropy-coded data: a 0xFF is followed by a stuffed zero until the closing marker.
    while (!(b.at(at) == 0xFF && b.at(at + 1) != 0))
        at += b[at] == 0xFF ? 2 : 1;
    EXPECT_EQ(be16(b, at), 0xFFD9u);
    EXPECT_EQ(at + 2, b.size());
    EXPECT_EQ(markers, (std::vector<uint8_t>{0xE0, 0xFE, 0xDB, 0xC0, 0xC4, 0xDA}));
    EXPECT_EQ(textAt(b, 6, 5), std::string("JFIF\0", 5));
}

TEST(DisguiseSegments, PngChunksCarryTheirCrcAndThePixelsInflate) {
    const Bytes b = templates::pngSegment();
    EXPECT_EQ(textAt(b, 0, 8), "\x89PNG\r\n\x1a\n");
    size_t at = 8;
    std::vector<std::string> types;
    Bytes pixels;
    while (at < b.size()) {
        const uint32_t length = be32(b, at);
        const std::string type = textAt(b, at + 4, 4);
        types.push_back(type);
        EXPECT_EQ(be32(b, at + 8 + length), zlibCrc(b, at + 4, 4 + length)) << type;
        if (type == "IDAT") {
            uLongf size = 1 << 16;
            pixels.resize(size);
            ASSERT_EQ(::uncompress(pixels.data(), &size, b.data() + at + 8, length), Z_OK);
            pixels.resize(size);
        }
        at += 12 + length;
    }
    EXPECT_EQ(at, b.size());
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "tEXt", "IDAT", "IEND"}));
    const uint32_t width = be32(b, 16), height = be32(b, 20);
    EXPECT_EQ(pixels.size(), height * (1 + 3 * width)) << "8-bit truecolour rows";
}

TEST(DisguiseSegments, IconAndCursorDirectoriesPointAtTheirWholeImage) {
    for (const Bytes &b : {templates::iconSegment(), templates::cursorSegment()}) {
        EXPECT_EQ(le16(b, 4), 1u);
        const uint32_t bytes = le32(b, 6 + 8), offset = le32(b, 6 + 12);
        EXPECT_EQ(offset + bytes, b.size());
        ASSERT_EQ(le32(b, offset), 40u);
        const uint32_t width = le32(b, offset + 4), bits = le16(b, offset + 14);
        EXPECT_EQ(le32(b, offset + 8), 2 * width) << "colours and mask";
        const uint32_t colours = 1u << bits;
        const uint32_t pixelRows = (width * bits / 8 + 3) / 4 * 4,
                       maskRows = (width / 8 + 3) / 4 * 4;
        EXPECT_EQ(40 + 4 * colours + width * (pixelRows + maskRows), bytes);
    }
    EXPECT_EQ(templates::iconSegment()[6], 32) << "32 x 32";
    EXPECT_EQ(le16(templates::iconSegment(), 6 + 6), 8u) << "8 bits a pixel";
    EXPECT_EQ(templates::cursorSegment()[6 + 2], 16) << "16 colours";
}

TEST(DisguiseSegments, MidiTrackEndsWithItsEndEventAtTheLastByte) {
    const Bytes b = templates::midiSegment();
    EXPECT_EQ(textAt(b, 0, 4), "MThd");
    EXPECT_EQ(be32(b, 4), 6u);
    EXPECT_EQ(be16(b, 8), 0u) << "format 0";
    EXPECT_EQ(be16(b, 10), 1u) << "one track";
    EXPECT_EQ(textAt(b, 14, 4), "MTrk");
    EXPECT_EQ(22 + be32(b, 18), b.size());
    // Walk the events: delta time, then a meta event or a channel message.
    size_t at = 22;
    int notesOn = 0;
    bool ended = false;
    while (at < b.size() && !ended) {
        while (b.at(at) & 0x80)
            ++at;
        ++at; // last byte of the delta time
        const uint8_t status = b.at(at);
        if (status == 0xFF) {
            ended = b.at(at + 1) == 0x2F;
            at += 3 + b.at(at + 2);
        } else {
            ASSERT_TRUE(status & 0x80) << "running status is not used";
            notesOn += (status & 0xF0) == 0x90;
            at += (status & 0xF0) == 0xC0 ? 2 : 3;
        }
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(at, b.size());
    EXPECT_EQ(notesOn, 3);
}

TEST(DisguiseSegments, WaveChunksFillTheSegmentAndItsRiffSizeIsNotTheAviMarker) {
    const Bytes b = templates::waveSegment();
    EXPECT_EQ(le32(b, 4), b.size() - 8);
    EXPECT_NE(le32(b, 4), tolvex::kAviRiffSize);
    EXPECT_EQ(textAt(b, 8, 8), "WAVEfmt ");
    EXPECT_EQ(le16(b, 20), 1u) << "PCM";
    const uint32_t blockAlign = le16(b, 32);
    EXPECT_EQ(le32(b, 28), le32(b, 24) * blockAlign) << "bytes a second";
    EXPECT_EQ(textAt(b, 36, 4), "data");
    EXPECT_EQ(44 + le32(b, 40), b.size());
}

TEST(DisguiseSegments, AviFormIs9968BytesOfHeaderListMoviListAndIndex) {
    const Bytes b = templates::aviSegment();
    EXPECT_EQ(textAt(b, 0, 4), "RIFF");
    EXPECT_EQ(le32(b, 4), 9960u);
    EXPECT_EQ(textAt(b, 8, 4), "AVI ");
    size_t at = 12, moviAt = 0;
    std::vector<std::string> chunks;
    while (at < 8 + 9960) {
        const std::string id = textAt(b, at, 4);
        chunks.push_back(id == "LIST" ? textAt(b, at + 8, 4) : id);
        if (chunks.back() == "movi")
            moviAt = at + 8;
        at += 8 + (le32(b, at + 4) + 1) / 2 * 2;
    }
    EXPECT_EQ(at, 8 + 9960u);
    EXPECT_EQ(chunks, (std::vector<std::string>{"hdrl", "JUNK", "movi", "idx1"}));
    // avih, then strl with strh for video and a bitmap strf.
    EXPECT_EQ(textAt(b, 24, 4), "avih");
    const uint32_t frames = le32(b, 32 + 16), width = le32(b, 32 + 32);
    EXPECT_EQ(textAt(b, 88 + 8, 4), "strl");
    EXPECT_EQ(textAt(b, 100, 4), "strh");
    EXPECT_EQ(textAt(b, 108, 4), "vids");
    EXPECT_EQ(textAt(b, 164, 4), "strf");
    EXPECT_EQ(le32(b, 176), width);
    // Every index entry points at a frame chunk of its size, relative to "movi".
    size_t indexAt = 8 + 9960 - frames * 16;
    EXPECT_EQ(textAt(b, indexAt - 8, 4), "idx1");
    for (uint32_t i = 0; i < frames; ++i, indexAt += 16) {
        const size_t chunk = moviAt + le32(b, indexAt + 8);
        EXPECT_EQ(textAt(b, chunk, 4), "00db");
        EXPECT_EQ(le32(b, chunk + 4), le32(b, indexAt + 12));
    }
    // What follows the form up to the segment's end is one chunk more.
    EXPECT_EQ(textAt(b, at, 4), "JUNK");
    EXPECT_EQ(at + 8 + le32(b, at + 4), b.size());
}

// Frame lengths worked out from each header's own bits, with the MPEG-2 tables.
TEST(DisguiseSegments, Mp3IsARunOfWholeMpeg2LayerIIIFrames) {
    const Bytes b = templates::mp3Segment();
    static const int kKbps[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    size_t at = 0;
    int frames = 0;
    while (at + 4 <= b.size()) {
        const uint32_t h = be32(b, at);
        ASSERT_EQ(h >> 21, 0x7FFu) << "frame sync at " << at;
        EXPECT_EQ((h >> 19) & 3, 2u) << "MPEG-2";
        EXPECT_EQ((h >> 17) & 3, 1u) << "Layer III";
        EXPECT_EQ((h >> 10) & 3, 0u) << "22050 Hz";
        EXPECT_EQ((h >> 6) & 3, 3u) << "mono";
        const int kbps = kKbps[(h >> 12) & 15];
        ASSERT_GT(kbps, 0);
        at += static_cast<size_t>(72 * kbps * 1000 / 22050) + ((h >> 9) & 1);
        ++frames;
    }
    EXPECT_EQ(at, b.size());
    EXPECT_EQ(frames, 51);
    EXPECT_EQ(textAt(b, 13, 4), "Xing");
    EXPECT_EQ(be32(b, 21), static_cast<uint32_t>(frames - 1)) << "frames after the summary frame";
}

TEST(DisguiseSegments, CabinetHeaderFolderAndFileDescribeTheSegment) {
    const Bytes b = templates::cabinetSegment();
    EXPECT_EQ(le32(b, 8), b.size());
    EXPECT_EQ(le16(b, 26), 1u) << "folders";
    EXPECT_EQ(le16(b, 28), 1u) << "files";
    const uint32_t dataAt = le32(b, 36);
    EXPECT_EQ(le16(b, 40), 1u) << "data blocks";
    EXPECT_EQ(le16(b, 42), 0u) << "stored";
    const uint32_t fileAt = le32(b, 16), fileSize = le32(b, fileAt);
    EXPECT_EQ(textAt(b, fileAt + 16, 11), std::string("readme.txt\0", 11));
    EXPECT_EQ(le16(b, dataAt + 4), fileSize);
    EXPECT_EQ(le16(b, dataAt + 6), fileSize);
    EXPECT_EQ(dataAt + 8 + fileSize, b.size());
}

uint16_t bitwiseCrc16(const Bytes &b, size_t at, size_t length) {
    uint16_t c = 0;
    for (size_t i = at; i < at + length; ++i) {
        c ^= b[i];
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? static_cast<uint16_t>((c >> 1) ^ 0xA001) : static_cast<uint16_t>(c >> 1);
    }
    return c;
}

TEST(DisguiseSegments, LhaMemberHasA79ByteLevel2HeaderWithBothCrcs) {
    Bytes b = templates::lhaSegment();
    EXPECT_EQ(le16(b, 0), 79u);
    EXPECT_EQ(textAt(b, 2, 5), "-lh0-");
    EXPECT_EQ(b[20], 2) << "level";
    const uint32_t packed = le32(b, 7);
    EXPECT_EQ(le32(b, 11), packed) << "stored";
    EXPECT_EQ(le16(b, 21), bitwiseCrc16(b, 79, packed)) << "data CRC";
    // Walk the extended headers to the header CRC and the name.
    size_t at = 24;
    std::string name;
    size_t crcAt = 0;
    for (uint32_t size = le16(b, at); size != 0; size = le16(b, at)) {
        at += 2;
        if (b[at] == 0x00)
            crcAt = at + 1;
        if (b[at] == 0x01)
            name = textAt(b, at + 1, size - 3);
        at += size - 2;
    }
    EXPECT_EQ(at + 2, 79u);
    EXPECT_EQ(name, "sample-memo.txt");
    ASSERT_NE(crcAt, 0u);
    const uint32_t stored = le16(b, crcAt);
    b[crcAt] = b[crcAt + 1] = 0;
    EXPECT_EQ(stored, bitwiseCrc16(b, 0, 79)) << "header CRC";
    EXPECT_EQ(79 + packed + 1, b.size());
    EXPECT_EQ(b.back(), 0) << "end of archive";
}

TEST(DisguiseSegments, GcaHeaderSizesAddUpToTheSegment) {
    const Bytes b = templates::gcaSegment();
    EXPECT_EQ(textAt(b, 0, 4), "GCA0");
    EXPECT_EQ(le32(b, 12), b.size());
    const size_t member = le32(b, 8);
    EXPECT_EQ(textAt(b, member, 4), "GCAF");
    const uint32_t size = le32(b, member + 8), nameLength = le16(b, member + 28);
    const size_t dataAt = member + 30 + nameLength;
    EXPECT_EQ(zlibCrc(b, dataAt, size), le32(b, member + 16));
    EXPECT_EQ(textAt(b, dataAt + size, 4), "GCAE");
    EXPECT_EQ(dataAt + size + 4, b.size());
}

TEST(DisguiseSegments, GzipStreamEndsWithItsCrcAndLengthAtTheLastByte) {
    const Bytes b = templates::gzipTarSegment();
    EXPECT_EQ(b[3], 0) << "no optional fields";
    size_t consumed = 0;
    const Bytes tar = inflateRaw(b, 10, consumed);
    EXPECT_EQ(10 + consumed + 8, b.size());
    EXPECT_EQ(le32(b, b.size() - 8), zlibCrc(tar, 0, tar.size()));
    EXPECT_EQ(le32(b, b.size() - 4), tar.size());
    expectTarHeader(tar, "notes.txt", 1000);
}

TEST(DisguiseSegments, Bzip2StreamHoldsATarAndNothingElse) {
    const Bytes b = templates::bzip2TarSegment();
    Bytes tar(1 << 20);
    unsigned int length = unsigned(tar.size());
    ASSERT_EQ(
        BZ2_bzBuffToBuffDecompress(reinterpret_cast<char *>(tar.data()), &length,
                                   const_cast<char *>(reinterpret_cast<const char *>(b.data())),
                                   unsigned(b.size()), 0, 0),
        BZ_OK);
    tar.resize(length);
    expectTarHeader(tar, "notes.txt", 1000);
    // One byte less is a truncated stream: the segment is the stream and no more.
    Bytes again(1 << 20);
    length = unsigned(again.size());
    ASSERT_EQ(
        BZ2_bzBuffToBuffDecompress(reinterpret_cast<char *>(again.data()), &length,
                                   const_cast<char *>(reinterpret_cast<const char *>(b.data())),
                                   unsigned(b.size() - 1), 0, 0),
        BZ_UNEXPECTED_EOF);
}

TEST(DisguiseSegments, ZipLocalHeaderDataDirectoryAndEndRecordFillTheSegment) {
    const Bytes b = templates::zipSegment();
    EXPECT_EQ(le16(b, 8), 8u) << "deflated";
    const uint32_t crc = le32(b, 14), packed = le32(b, 18), size = le32(b, 22);
    const uint32_t nameLength = le16(b, 26), extraLength = le16(b, 28);
    EXPECT_EQ(textAt(b, 30, nameLength), "readme.txt");
    size_t consumed = 0;
    const Bytes content = inflateRaw(b, 30 + nameLength + extraLength, consumed);
    EXPECT_EQ(consumed, packed);
    EXPECT_EQ(content.size(), size);
    EXPECT_EQ(zlibCrc(content, 0, content.size()), crc);
    // The end record is found from the back, the way readers look for it.
    size_t end = b.size() - 22;
    while (end > 0 && le32(b, end) != 0x06054B50)
        --end;
    EXPECT_EQ(end + 22 + le16(b, end + 20), b.size());
    const uint32_t directorySize = le32(b, end + 12), directoryAt = le32(b, end + 16);
    EXPECT_EQ(directoryAt, 30 + nameLength + extraLength + packed);
    EXPECT_EQ(directoryAt + directorySize, end);
    EXPECT_EQ(le32(b, directoryAt), 0x02014B50u);
    EXPECT_EQ(le32(b, directoryAt + 16), crc);
    EXPECT_EQ(le32(b, directoryAt + 42), 0u) << "local header offset";
}

} // namespace
