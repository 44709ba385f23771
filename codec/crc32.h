// CRC-32 of ISO-HDLC (zlib's and PNG's): reflected polynomial 0xEDB88320, initial value and
// final XOR 0xFFFFFFFF. "123456789" gives 0xCBF43926; nothing at all gives 0.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tolvex {

// Continues a running CRC: pass 0 to start, then the previous result with each further piece.
uint32_t crc32Update(uint32_t crc, const void *data, size_t length);

} // namespace tolvex
