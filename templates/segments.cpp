#include "segments.h"

#include <cstring>
#include <string_view>

namespace templates {
namespace {

// A segment of the given length that begins with the given bytes and is zero elsewhere.
Bytes beginningWith(std::initializer_list<uint8_t> leading, size_t length) {
    Bytes b(length, 0);
    std::copy(leading.begin(), leading.end(), b.begin());
    return b;
}

void putLe32(Bytes &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

void putText(Bytes &b, size_t at, std::string_view text) {
    std::memcpy(b.data() + at, text.data(), text.size());
}

// A RIFF file's leading chunk header: "RIFF", size, form type.
Bytes riff(size_t length, uint32_t sizeField, std::string_view form) {
    Bytes b(length, 0);
    putText(b, 0, "RIFF");
    putLe32(b, 4, sizeField);
    putText(b, 8, form);
    return b;
}

} // namespace

Bytes bitmapSegment() {
    Bytes b = beginningWith({'B', 'M'}, 774);
    putLe32(b, 2, 774); // file size: its low half is what decoders recognise
    putLe32(b, 10, 54 + 8); // pixels after the info header and a two-entry palette
    putLe32(b, 14, 40);
    return b;
}

Bytes cabinetSegment() {
    Bytes b = beginningWith({'M', 'S', 'C', 'F'}, 3819);
    putLe32(b, 8, 3819);
    return b;
}

Bytes jpegSegment() {
    Bytes b = beginningWith({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0}, 918);
    return b;
}

Bytes lhaSegment() { return beginningWith({0x4F, 0x00, '-', 'l', 'h', '5', '-'}, 3814); }

Bytes midiSegment() {
    Bytes b = beginningWith({'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96}, 87);
    return b;
}

Bytes pngSegment() {
    return beginningWith({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, 283);
}

// WAVE and AVI are told apart by the RIFF size field: AVI carries 9960, WAVE anything else.
Bytes waveSegment() { return riff(344, 344 - 8, "WAVE"); }

Bytes gcaSegment() { return beginningWith({'G', 'C', 'A', '0'}, 3725); }

Bytes iconSegment() { return beginningWith({0, 0, 1, 0, 1, 0}, 2238); }

Bytes gzipTarSegment() { return beginningWith({0x1F, 0x8B, 0x08, 0x00}, 3829); }

Bytes bzip2TarSegment() { return beginningWith({'B', 'Z', 'h', '9'}, 4118); }

Bytes mp3Segment() { return beginningWith({0xFF, 0xF3, 0x52, 0xC4}, 1452); }

Bytes cursorSegment() { return beginningWith({0, 0, 2, 0, 1, 0}, 766); }

Bytes aviSegment() { return riff(10240, 9960, "AVI "); }

Bytes zipSegment() { return beginningWith({'P', 'K', 3, 4}, 3946); }

} // namespace templates
