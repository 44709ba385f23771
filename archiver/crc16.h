// CRC-16/ARC, the checksum LHA uses for member data and level-2 headers: reflected polynomial
// 0xA001, initial value 0, no final XOR. "123456789" gives 0xBB3D.
#pragma once

#include <cstddef>
#include <cstdint>

namespace unlha {

// Continues a running CRC: pass 0 to start, then the previous result with each further piece.
uint16_t crc16Update(uint16_t crc, const void *data, size_t length);

} // namespace unlha
