/*
 * Halvet_Tolvex: encrypts a file under a key code and disguises it as a file of another type,
 * and turns such a file back into the original.
 *
 * The library never prints, never exits and lets no exception out. Every file it opens is
 * closed before a function returns.
 *
 * Threads: every function may be called from several threads at once. A MakeCode call keeps
 * all its state in the call (the threads it starts are joined before it returns); two calls
 * writing the same output path race like any two writers, and the one finishing last wins.
 * "Tolvex.dat" and relative paths are looked up in the process's current directory, which
 * is shared by all threads: change it in no thread while a call runs.
 */
#ifndef HALVET_TOLVEX_H
#define HALVET_TOLVEX_H

#include <stdint.h>

#if defined(_WIN32)
/* Halvet_Tolvex.dll: what it exports, under which names and ordinals, is fixed by its module
   definition file; callers bind the functions by name (GetProcAddress). */
#define TOLVEX_CALL __stdcall
#define TOLVEX_EXPORT
#else
#define TOLVEX_CALL
#define TOLVEX_EXPORT __attribute__((visibility("default")))
#endif

/* Conversion modes. */
enum {
    TOLVEX_MODE_ENCODE = 0,
    TOLVEX_MODE_DECODE = 1,
    TOLVEX_MODE_ENCODE_OVERWRITE = 2,
    TOLVEX_MODE_DECODE_OVERWRITE = 3
};

/* Result codes of MakeCode. */
enum {
    TOLVEX_OK = 0,              /* done; when decoding, the content CRC matched */
    TOLVEX_OUTPUT_EXISTS = 1,   /* output exists and the mode does not overwrite; nothing written */
    TOLVEX_CRC_MISMATCH = 2,    /* decoded, but the content CRC differs; the output stays */
    TOLVEX_SOURCE_MISSING = -1, /* the source path does not exist */
    TOLVEX_CANNOT_OPEN = -2,    /* source unreadable, extension over 6 bytes, output not creatable,
                                   or a read or write failed (no incomplete output is left) */
    TOLVEX_BAD_MODE = -3,       /* mode outside 0 to 3 */
    TOLVEX_KEY_MISMATCH = -4,   /* wrong key, or not a well-formed encoded file */
    TOLVEX_TEMPLATE_MISSING =
        -5,                /* "Tolvex.dat" cannot be opened (or is too short to encode with) */
    TOLVEX_SAME_FILE = -6, /* the output would be the source */
    TOLVEX_NO_MEMORY = -7  /* the staging buffer cannot be had (any negative buffer size) */
};

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Encodes (modes 0, 2) or decodes (modes 1, 3) one file.
 *   source      path of the file to convert
 *   outputBase  output path without extension; the extension is appended here
 *   keyCode     the user's key
 *   mode        conversion mode, see above
 *   kind        disguise kind 1 to 15 when encoding; anything else means no disguise (".tvx")
 *   bufferSize  staging buffer size the caller grants, in bytes; negative sizes fail with -7
 * The header template file "Tolvex.dat" is read from the current directory.
 */
TOLVEX_EXPORT int32_t TOLVEX_CALL MakeCode(const char *source, const char *outputBase,
                                           uint32_t keyCode, int32_t mode, int32_t kind,
                                           int32_t bufferSize);

/* Version of the archiver library (libunlha32.so / unlha32.dll) in 16 bits, or 0 when it
   cannot be loaded or has no UnlhaGetVersion. The library is unloaded again before returning. */
TOLVEX_EXPORT uint32_t TOLVEX_CALL FindLzh(void);

/* One memory figure: 0 load in percent, 1 total physical, 2 available physical, 3 commit limit,
   4 commit still available, in bytes (clamped to 32 bits); 0 for any other index. */
TOLVEX_EXPORT uint32_t TOLVEX_CALL GetMemDat(uint32_t index);

#ifdef __cplusplus
}

/* Carries no behaviour; exported for binary compatibility with existing callers. */
class TOLVEX_EXPORT CHalvet_Tolvex {
  public:
    CHalvet_Tolvex &operator=(const CHalvet_Tolvex &other);

  private:
    unsigned char m_byte = 0;
};
#endif

#endif
