// The library's entry point: loading and unloading, by a process or a thread, needs nothing
// done, and always succeeds.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
