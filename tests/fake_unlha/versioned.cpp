// An archiver library whose version needs more than 16 bits: callers must keep the low half.
#include <cstdint>
extern "C" __attribute__((visibility("default"))) uint32_t UnlhaGetVersion() {
    return 0x12345;
}
