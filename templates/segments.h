// Builders of the fifteen disguise segments of the header template file, one per kind.
// Each returns the unmasked bytes of its segment, exactly the kind's header length long.
#pragma once

#include <cstdint>
#include <vector>

namespace templates {

using Bytes = std::vector<uint8_t>;

Bytes bitmapSegment();   // kind 1, 774 bytes
Bytes cabinetSegment();  // kind 2, 3819 bytes
Bytes jpegSegment();     // kind 3, 918 bytes
Bytes lhaSegment();      // kind 4, 3814 bytes
Bytes midiSegment();     // kind 5, 87 bytes
Bytes pngSegment();      // kind 6, 283 bytes
Bytes waveSegment();     // kind 7, 344 bytes
Bytes gcaSegment();      // kind 8, 3725 bytes
Bytes iconSegment();     // kind 9, 2238 bytes
Bytes gzipTarSegment();  // kind 10, 3829 bytes
Bytes bzip2TarSegment(); // kind 11, 4118 bytes
Bytes mp3Segment();      // kind 12, 1452 bytes
Bytes cursorSegment();   // kind 13, 766 bytes
Bytes aviSegment();      // kind 14, 10240 bytes
Bytes zipSegment();      // kind 15, 3946 bytes

} // namespace templates
