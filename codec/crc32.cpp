#include "crc32.h"

#include <libdeflate.h>

namespace tolvex {

// libdeflate picks a carry-less-multiply kernel where the processor has one; its running-CRC
// convention (start at 0, pre- and post-inversion inside) is the one declared above.
uint32_t crc32Update(uint32_t crc, const void *data, size_t length) {
    return libdeflate_crc32(crc, data, length);
}

} // namespace tolvex
