#include "sample_content.h"

#include <bzlib.h>
#include <zlib.h>

#include <cstdio>
#include <stdexcept>

namespace templates {

Bytes sampleText(size_t length, uint32_t seed) {
    static constexpr std::string_view kWords[] = {
        "archive", "river",  "stone",    "window", "paper",   "garden",  "signal",  "harbour",
        "lantern", "copper", "meadow",   "winter", "orbit",   "ladder",  "violet",  "thunder",
        "pepper",  "canvas", "marble",   "forest", "quiet",   "rapid",   "silver",  "north",
        "table",   "bridge", "candle",   "echo",   "falcon",  "glacier", "island",  "jungle",
        "kettle",  "lemon",  "mirror",   "needle", "ocean",   "pilot",   "quartz",  "rocket",
        "saddle",  "tunnel", "umbrella", "valley", "walnut",  "yellow",  "zephyr",  "anchor",
        "blossom", "cactus", "dolphin",  "ember",  "feather", "granite", "horizon", "ivory",
        "jasmine", "kernel", "lagoon",   "mosaic", "nectar",  "oyster",  "prairie", "ripple"};
    Prng prng(seed);
    Bytes text;
    size_t lineLength = 0;
    while (text.size() < length) {
        std::string_view word = kWords[prng.below(std::size(kWords))];
        if (lineLength + word.size() + 1 > 72) {
            text.push_back('\n');
            lineLength = 0;
            continue;
        }
        if (lineLength > 0) {
            text.push_back(' ');
            ++lineLength;
        }
        text.insert(text.end(), word.begin(), word.end());
        lineLength += word.size();
    }
    text.resize(length);
    if (length > 0)
        text.back() = '\n';
    return text;
}

namespace {

// An octal number right-aligned in a field of `width` bytes, the last of which is a NUL.
void putOctal(Bytes &block, size_t at, size_t width, uint64_t value) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "%0*llo", int(width - 1), (unsigned long long)value);
    for (size_t i = 0; i + 1 < width; ++i)
        block[at + i] = uint8_t(digits[i]);
    block[at + width - 1] = 0;
}

void putText(Bytes &block, size_t at, std::string_view text) {
    std::copy(text.begin(), text.end(), block.begin() + ptrdiff_t(at));
}

} // namespace

Bytes tarArchive(std::string_view name, const Bytes &content) {
    constexpr size_t kBlock = 512, kRecord = 20 * kBlock;
    if (name.size() > 99)
        throw std::logic_error("tar member name too long");
    Bytes header(kBlock, 0);
    putText(header, 0, name);
    putOctal(header, 100, 8, 0644); // mode
    putOctal(header, 108, 8, 1000); // uid
    putOctal(header, 116, 8, 1000); // gid
    putOctal(header, 124, 12, content.size());
    putOctal(header, 136, 12, kUnixTime); // mtime
    header[156] = '0';                    // regular file
    putText(header, 257,
            std::string_view("ustar\0"
                             "00",
                             8));
    putText(header, 265, "tolvex"); // owner and group names
    putText(header, 297, "tolvex");
    // The checksum is the byte sum of the header with its own field read as blanks.
    putText(header, 148, "        ");
    uint32_t sum = 0;
    for (uint8_t b : header)
        sum += b;
    char digits[8];
    std::snprintf(digits, sizeof digits, "%06o", unsigned(sum));
    putText(header, 148, std::string_view(digits, 6));
    header[154] = 0;
    header[155] = ' ';

    Bytes tar = header;
    tar.insert(tar.end(), content.begin(), content.end());
    tar.resize((tar.size() + kBlock - 1) / kBlock * kBlock, 0);
    tar.resize(tar.size() + 2 * kBlock, 0); // end of archive: two zero blocks
    tar.resize((tar.size() + kRecord - 1) / kRecord * kRecord, 0);
    return tar;
}

Bytes deflateRaw(const Bytes &data) {
    z_stream z{};
    // windowBits -15: a bare deflate stream; the callers write their format's own wrapper.
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    Bytes out(deflateBound(&z, uLong(data.size())));
    z.next_in = const_cast<Bytef *>(data.data());
    z.avail_in = uInt(data.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END)
        throw std::runtime_error("deflate did not finish");
    return out;
}

Bytes bzip2Compress(const Bytes &data) {
    Bytes out(data.size() + data.size() / 100 + 600);
    unsigned int outLength = unsigned(out.size());
    const int rc =
        BZ2_bzBuffToBuffCompress(reinterpret_cast<char *>(out.data()), &outLength,
                                 const_cast<char *>(reinterpret_cast<const char *>(data.data())),
                                 unsigned(data.size()), 9, 0, 0);
    if (rc != BZ_OK)
        throw std::runtime_error("bzip2 compression failed");
    out.resize(outLength);
    return out;
}

std::optional<Bytes> findExactLength(size_t target, size_t start,
                                     const std::function<Bytes(size_t)> &make) {
    // Walk from the start towards the target in big steps, then try every n close by.
    size_t n = start;
    for (int step = 0; step < 64; ++step) {
        const size_t got = make(n).size();
        if (got == target)
            break;
        const size_t diff = got > target ? got - target : target - got;
        if (diff < 8)
            break;
        n = got > target ? n - std::min(n, diff / 2) : n + diff / 2;
    }
    for (size_t d = 0; d < 400; ++d) {
        for (size_t candidate : {n + d, n - std::min(n, d)}) {
            Bytes b = make(candidate);
            if (b.size() == target)
                return b;
        }
    }
    return std::nullopt;
}

Rgb samplePixel(int x, int y, int width, int height) {
    const int t = (x * 255 / std::max(1, width - 1) + y * 255 / std::max(1, height - 1)) / 2;
    Rgb c{uint8_t(40 + t * 200 / 255), uint8_t(60 + t * 80 / 255), uint8_t(200 - t * 170 / 255)};
    const int dx = 2 * x + 1 - width, dy = 2 * y + 1 - height;
    const int r = std::min(width, height) / 2;
    if (dx * dx + dy * dy <= r * r) {
        c.r = uint8_t((c.r + 255) / 2);
        c.g = uint8_t((c.g + 255) / 2);
        c.b = uint8_t((c.b + 255) / 2);
    }
    return c;
}

} // namespace templates
