// A stand-in UNLHA32.DLL that lacks UnlhaGetVersion.
extern "C" __declspec(dllexport) int __stdcall UnlhaGetRunning() {
    return 0;
}
