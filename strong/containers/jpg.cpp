// A JFIF picture, drawn and compressed afresh for every file, with the body in COM segments
// between the JFIF header and the picture's tables and frame.
#include "containers.h"
#include "framing.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <iterator>
#include <string_view>
#include <system_error>
#include <vector>

#include <jpeglib.h>

namespace strong::containers {
namespace {

constexpr uint64_t kSegmentPayload = 65533; // a segment's length field counts itself too
constexpr uint8_t kCom = 0xfe;

double unit() {
    return framing::between(0, 1000000) / 1000000.0;
}

// Soft blobs of colour over a gradient: a smooth picture such as a blurred photograph.
std::vector<uint8_t> draw(uint32_t width, uint32_t height) {
    struct Blob {
        double x, y, radius2, r, g, b;
    };
    const double angle = unit() * 6.2832;
    const double dx = std::cos(angle), dy = std::sin(angle);
    double from[3], to[3];
    for (int c = 0; c < 3; ++c) {
        from[c] = 20 + 215 * unit();
        to[c] = 20 + 215 * unit();
    }
    std::vector<Blob> blobs(framing::between(3, 9));
    for (Blob &b : blobs) {
        const double radius = 0.08 + 0.35 * unit();
        b = {unit(),           unit(), radius * radius, 160 * unit() - 80, 160 * unit() - 80,
             160 * unit() - 80};
    }
    // The colour field is smooth: work it out every kStep pixels and fill in between, which
    // looks the same and costs a sixteenth.
    constexpr uint32_t kStep = 4;
    const double ratio = double(height) / width;
    const auto colourAt = [&](double u, double v, double rgb[3]) {
        const double t = std::clamp(0.5 + (u - 0.5) * dx + (v - 0.5 * ratio) * dy, 0.0, 1.0);
        for (int c = 0; c < 3; ++c)
            rgb[c] = from[c] + (to[c] - from[c]) * t;
        for (const Blob &b : blobs) {
            const double d2 = (u - b.x) * (u - b.x) + (v - b.y * ratio) * (v - b.y * ratio);
            const double w = 1.0 / (1.0 + d2 / b.radius2);
            const double w2 = w * w;
            rgb[0] += b.r * w2;
            rgb[1] += b.g * w2;
            rgb[2] += b.b * w2;
        }
    };
    const uint32_t gridWidth = width / kStep + 2, gridHeight = height / kStep + 2;
    std::vector<double> grid(size_t(gridWidth) * gridHeight * 3);
    for (uint32_t gy = 0; gy < gridHeight; ++gy)
        for (uint32_t gx = 0; gx < gridWidth; ++gx)
            colourAt(double(gx * kStep) / width, double(gy * kStep) / height * ratio,
                     &grid[(size_t(gy) * gridWidth + gx) * 3]);
    std::vector<uint8_t> pixels(size_t(width) * height * 3);
    for (uint32_t y = 0; y < height; ++y) {
        const uint32_t gy = y / kStep;
        const double fy = double(y % kStep) / kStep;
        uint8_t *row = pixels.data() + size_t(y) * width * 3;
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t gx = x / kStep;
            const double fx = double(x % kStep) / kStep;
            const double *a = &grid[(size_t(gy) * gridWidth + gx) * 3];
            const double *b = a + 3, *c = a + size_t(gridWidth) * 3, *d = c + 3;
            for (int k = 0; k < 3; ++k) {
                const double top = a[k] + (b[k] - a[k]) * fx, bottom = c[k] + (d[k] - c[k]) * fx;
                row[3 * x + k] = uint8_t(std::clamp(top + (bottom - top) * fy, 0.0, 255.0));
            }
        }
    }
    return pixels;
}

struct ErrorExit {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void onError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorExit *>(info->err)->jump, 1);
}
void onMessage(j_common_ptr) {}

struct Settings {
    int quality = 85;
    bool optimize = true;
    bool fullChroma = false;
    uint8_t densityUnit = 1;
    uint16_t density = 72;
    uint8_t minorVersion = 1;
};

// The compressed picture, or empty when libjpeg failed.
std::vector<uint8_t> compress(const std::vector<uint8_t> &pixels, uint32_t width, uint32_t height,
                              const Settings &s) {
    jpeg_compress_struct info{};
    ErrorExit error{};
    unsigned char *memory = nullptr;
    unsigned long length = 0;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = onError;
    error.manager.output_message = onMessage;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&info);
        std::free(memory);
        return {};
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &memory, &length);
    info.image_width = width;
    info.image_height = height;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, s.quality, TRUE);
    info.optimize_coding = s.optimize ? TRUE : FALSE;
    if (s.fullChroma)
        info.comp_info[0].h_samp_factor = info.comp_info[0].v_samp_factor = 1;
    info.write_JFIF_header = TRUE;
    info.JFIF_minor_version = s.minorVersion;
    info.density_unit = s.densityUnit;
    info.X_density = info.Y_density = s.density;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + size_t(info.next_scanline) * width * 3);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    std::vector<uint8_t> out(memory, memory + length);
    jpeg_destroy_compress(&info);
    std::free(memory);
    return out;
}

// What a picture will be: its encoder's settings and its shape, chosen before it is drawn.
struct Plan {
    Settings s;
    double ratio = 1;
    double longSide = 1024;
    bool portrait = false;
};

Plan choosePlan() {
    static constexpr double kRatios[] = {4.0 / 3, 3.0 / 2, 16.0 / 9, 1.0, 5.0 / 4};
    static constexpr int kQualities[] = {75, 80, 85, 85, 90, 92, 95};
    static constexpr uint16_t kDensities[] = {72, 72, 96, 150, 300};
    Plan p;
    Settings &s = p.s;
    s.quality = kQualities[framing::between(0, std::size(kQualities) - 1)];
    s.optimize = framing::between(0, 3) != 0;
    s.fullChroma = s.quality >= 90 && framing::between(0, 1);
    switch (framing::between(0, 3)) {
    case 0:
        s.densityUnit = 0;
        s.density = 1;
        break;
    default:
        s.densityUnit = 1;
        s.density = kDensities[framing::between(0, std::size(kDensities) - 1)];
    }
    s.minorVersion = framing::between(0, 3) ? 1 : 2;
    p.ratio = kRatios[framing::between(0, std::size(kRatios) - 1)];
    p.longSide = framing::between(480, 1600);
    p.portrait = framing::between(0, 9) < 3;
    return p;
}

// SOI and the JFIF APP0 segment exactly as libjpeg writes them for these settings: they go
// out first, while the picture is still being drawn.
std::vector<uint8_t> jfifHead(const Settings &s) {
    framing::Fields f;
    f.be16(0xffd8).be16(0xffe0).be16(16).text(std::string_view("JFIF\0", 5));
    f.u8(1).u8(s.minorVersion).u8(s.densityUnit).be16(s.density).be16(s.density).u8(0).u8(0);
    return f.bytes();
}

// The picture within `budget` bytes, smaller and coarser until it fits; empty when libjpeg
// failed or nothing fits.
std::vector<uint8_t> picture(Plan p, uint64_t budget) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const uint32_t a = uint32_t(p.longSide), b = uint32_t(std::lround(p.longSide / p.ratio));
        const uint32_t width = p.portrait ? b : a, height = p.portrait ? a : b;
        auto jpeg = compress(draw(width, height), width, height, p.s);
        if (jpeg.empty())
            return {};
        if (jpeg.size() <= budget)
            return jpeg;
        p.longSide *= 0.7;
        p.s.quality = std::max(60, p.s.quality - 5);
    }
    return {};
}

// The picture drawn and compressed on a thread of its own while the body passes; joined when
// the writer goes (the future waits). Nothing it throws leaves the thread.
std::future<std::vector<uint8_t>> drawLater(const Plan &plan, uint64_t budget) {
    const auto task = [plan, budget]() noexcept -> std::vector<uint8_t> {
        try {
            return picture(plan, budget);
        } catch (...) {
            return {};
        }
    };
    try {
        return std::async(std::launch::async, task);
    } catch (const std::system_error &) { // no thread to be had: drawn now
        std::promise<std::vector<uint8_t>> now;
        now.set_value(task());
        return now.get_future();
    }
}

class Writer : public BodyWriter {
  public:
    Writer(const ContainerOutput &output, uint64_t bodySize, std::vector<uint8_t> head,
           std::future<std::vector<uint8_t>> picture)
        : m_output(output), m_left(bodySize), m_head(std::move(head)),
          m_picture(std::move(picture)) {}
    bool put(const uint8_t *data, size_t size) override {
        if (size > m_left)
            return false;
        while (size) {
            if (m_segmentLeft == 0) {
                const uint64_t length = std::min(kSegmentPayload, m_left);
                const uint8_t head[4] = {0xff, kCom, uint8_t((length + 2) >> 8),
                                         uint8_t(length + 2)};
                if (!m_output.write(head, 4))
                    return false;
                m_segmentLeft = length;
            }
            const size_t n = size_t(std::min<uint64_t>(size, m_segmentLeft));
            if (!m_output.write(data, n))
                return false;
            data += n;
            size -= n;
            m_left -= n;
            m_segmentLeft -= n;
        }
        return true;
    }
    bool finish() override {
        if (m_left != 0 || m_segmentLeft != 0)
            return false;
        // The picture, after the head already written, which it must begin with.
        const std::vector<uint8_t> jpeg = m_picture.get();
        return jpeg.size() > m_head.size() &&
               std::equal(m_head.begin(), m_head.end(), jpeg.begin()) &&
               m_output.write(jpeg.data() + m_head.size(), jpeg.size() - m_head.size());
    }

  private:
    ContainerOutput m_output;
    uint64_t m_left;
    uint64_t m_segmentLeft = 0;
    std::vector<uint8_t> m_head;
    std::future<std::vector<uint8_t>> m_picture;
};

// Gives the payloads of the COM segments after the JFIF header, and once they end checks that
// the picture's segments lead to a frame and a scan, and that the file ends with EOI.
class Reader : public framing::ExtentReader {
  public:
    Reader(const ContainerInput &input, uint64_t at) : ExtentReader(input), m_at(at) {}

  protected:
    int next(uint64_t &offset, uint64_t &length) override {
        if (m_done)
            return 0;
        uint64_t size = 0;
        uint8_t marker = 0;
        const int got = segment(m_at, marker, size);
        if (got != 1)
            return got;
        if (marker == kCom) {
            offset = m_at + 4;
            length = size - 2;
            m_at += 2 + size;
            ++m_segments;
            return 1;
        }
        m_done = true;
        return m_segments ? picture() : int(kBodyMalformed);
    }

  private:
    // The segment at `at`: its marker and length, which must fit in the file.
    int segment(uint64_t at, uint8_t &marker, uint64_t &size) {
        uint8_t head[4];
        if (at > input().size || input().size - at < 4)
            return int(kBodyMalformed);
        const int got = framing::readExact(input(), at, head, 4);
        if (got <= 0)
            return got < 0 ? got : int(kBodyMalformed);
        marker = head[1];
        size = framing::loadBe16(head + 2);
        if (head[0] != 0xff || marker < 0xc0 || marker == 0xd8 || marker == 0xd9 ||
            (marker >= 0xd0 && marker <= 0xd7) || marker == 0xff || size < 2 ||
            size > input().size - at - 2)
            return int(kBodyMalformed);
        return 1;
    }

    int picture() {
        bool frame = false;
        for (int count = 0; count < 4096; ++count) {
            uint64_t size = 0;
            uint8_t marker = 0;
            const int got = segment(m_at, marker, size);
            if (got != 1)
                return got;
            m_at += 2 + size;
            if (marker == 0xda) {
                uint8_t end[2];
                if (!frame || input().size - m_at < 2)
                    return int(kBodyMalformed);
                const int tail = framing::readExact(input(), input().size - 2, end, 2);
                if (tail <= 0)
                    return tail < 0 ? tail : int(kBodyMalformed);
                return end[0] == 0xff && end[1] == 0xd9 ? 0 : int(kBodyMalformed);
            }
            // Start of frame: 0xc0 to 0xcf but DHT (c4), JPG (c8) and DAC (cc).
            if (marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 &&
                marker != 0xcc)
                frame = true;
        }
        return int(kBodyMalformed);
    }

    uint64_t m_at;
    uint64_t m_segments = 0;
    bool m_done = false;
};

} // namespace

Container jpg() {
    Container c;
    c.kind = 3;
    // COM segments are unbounded in number; the limit is the size the validators were tried at
    // (jpeginfo holds the whole file in memory twice over, so much larger files outgrow it).
    c.maxBody = (uint64_t(9) << 29); // 4.5 GiB
    c.create = [](const ContainerOutput &output, uint64_t bodySize) -> std::unique_ptr<BodyWriter> {
        const uint64_t segments = (bodySize + kSegmentPayload - 1) / kSegmentPayload;
        // The picture fits in what the overhead allows beside the segments' headers.
        const uint64_t budget = 60000 + bodySize / 50 - std::min(4 * segments, bodySize / 50);
        const Plan plan = choosePlan();
        std::vector<uint8_t> head = jfifHead(plan.s);
        if (!output.write(head.data(), head.size()))
            return nullptr;
        // The body's segments follow the head at once; the picture comes after them.
        return std::make_unique<Writer>(output, bodySize, std::move(head), drawLater(plan, budget));
    };
    c.open = [](const ContainerInput &input) -> std::unique_ptr<BodyReader> {
        uint8_t head[11];
        if (input.size < 64 || framing::readExact(input, 0, head, sizeof head) != 1 ||
            head[0] != 0xff || head[1] != 0xd8 || head[2] != 0xff || head[3] != 0xe0 ||
            std::string_view(reinterpret_cast<const char *>(head + 6), 5) !=
                std::string_view("JFIF\0", 5))
            return nullptr;
        const uint64_t app0 = framing::loadBe16(head + 4);
        if (app0 < 16 || 4 + app0 > input.size)
            return nullptr;
        return std::make_unique<Reader>(input, 4 + app0);
    };
    return c;
}

} // namespace strong::containers
