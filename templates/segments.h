// Builders of the disguise segments of the header template file, one per kind. Each returns the
// unmasked bytes of its segment, exactly the kind's header length long.
#pragma once

#include <cstdint>
#include <vector>

namespace templates {

using Bytes = std::vector<uint8_t>;

Bytes bitmapSegment();
Bytes cabinetSegment();
Bytes jpegSegment();
Bytes lhaSegment();
Bytes midiSegment();
Bytes pngSegment();
Bytes waveSegment();
Bytes gcaSegment();
Bytes iconSegment();
Bytes gzipTarSegment();
Bytes bzip2TarSegment();
Bytes mp3Segment();
Bytes cursorSegment();
Bytes aviSegment();
Bytes zipSegment();

using Builder = Bytes (*)();

// The builders by kind number, the one list the generator and the segment tests both walk.
// Kind 0 has no header and so no builder.
inline constexpr Builder kBuilders[] = {
    nullptr,         // 0
    bitmapSegment,   // 1
    cabinetSegment,  // 2
    jpegSegment,     // 3
    lhaSegment,      // 4
    midiSegment,     // 5
    pngSegment,      // 6
    waveSegment,     // 7
    gcaSegment,      // 8
    iconSegment,     // 9
    gzipTarSegment,  // 10
    bzip2TarSegment, // 11
    mp3Segment,      // 12
    cursorSegment,   // 13
    aviSegment,      // 14
    zipSegment,      // 15
};

} // namespace templates
