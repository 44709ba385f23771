// An archiver library that lacks UnlhaGetVersion.
extern "C" __attribute__((visibility("default"))) int UnlhaGetRunning() {
    return 0;
}
