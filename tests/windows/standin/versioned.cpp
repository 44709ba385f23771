// A stand-in UNLHA32.DLL whose version needs more than 16 bits: callers must keep the low half.
#include <cstdint>

extern "C" __declspec(dllexport) uint32_t __stdcall UnlhaGetVersion() {
    return 0x12345;
}
