/* Runs one archiver command through libunlha32.so, bound by name as the program binds it.
 *   unlha_cli LIBRARY "COMMAND LINE"      exit status 0 on success */
#include <dlfcn.h>
#include <stdio.h>

typedef int (*UnlhaFn)(void *, const char *, char *, unsigned long);

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s LIBRARY \"COMMAND LINE\"\n", argv[0]);
        return 2;
    }
    void *library = dlopen(argv[1], RTLD_NOW);
    if (!library) {
        fprintf(stderr, "%s\n", dlerror());
        return 2;
    }
    UnlhaFn unlha = (UnlhaFn)dlsym(library, "Unlha");
    char message[512];
    const int result = unlha ? unlha(0, argv[2], message, sizeof message) : -1;
    if (result != 0)
        fprintf(stderr, "failed (%#x): %s\n", result, message);
    dlclose(library);
    return result == 0 ? 0 : 1;
}
