// Binds MakeCode as the library's callers on Windows do: the DLL by name, the function by name.
#include "codec_call.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>

MakeCodeFunction bindMakeCode() {
    HMODULE library = ::LoadLibraryA("Halvet_Tolvex.dll");
    if (!library) {
        std::fprintf(stderr, "codec_call: cannot load Halvet_Tolvex.dll (error %lu)\n",
                     ::GetLastError());
        return nullptr;
    }
    auto function = reinterpret_cast<MakeCodeFunction>(
        reinterpret_cast<void *>(::GetProcAddress(library, "MakeCode")));
    if (!function)
        std::fprintf(stderr, "codec_call: Halvet_Tolvex.dll has no MakeCode\n");
    return function;
}
