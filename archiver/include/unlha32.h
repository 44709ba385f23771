/*
 * unlha32: packs files and folders into LHA archives and extracts them, driven by command
 * lines like a console archiver's.
 *
 *   a [-d] [-r2] "archive" ["base folder/"] "name"...        pack
 *   e [-d] [-r2] [-jyo0] "archive" ["destination/"] ["pattern"...]   extract
 *
 * For e, the word after the archive is the destination when it ends with '/' or names an
 * existing folder; otherwise it is a pattern. Extraction is all or nothing.
 *
 * The library never prints, never exits and lets no exception out.
 *
 * Threads: every function may be called from several threads at once. Commands of one user
 * run one at a time, across threads and processes alike: Unlha waits for the per-user busy
 * lock before it starts. UnlhaGetRunning and UnlhaGetVersion never wait. Relative paths in a
 * command line are taken from the process's current directory, which all threads share.
 */
#ifndef UNLHA32_H
#define UNLHA32_H

#if defined(_WIN32)
#define UNLHA_CALL __stdcall
#define UNLHA_EXPORT __declspec(dllexport)
#else
#define UNLHA_CALL
#define UNLHA_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results of Unlha. Callers look at the low 16 bits only: 0 is success. */
enum {
    UNLHA_OK = 0,
    UNLHA_ERROR_COMMAND = 0x8001,    /* unknown command or switch, missing argument */
    UNLHA_ERROR_NOT_FOUND = 0x8002,  /* the archive or a name to pack does not exist */
    UNLHA_ERROR_READ = 0x8003,       /* a file cannot be read, or is neither file nor folder
                                        (a FIFO, device or socket is never opened for reading) */
    UNLHA_ERROR_WRITE = 0x8004,      /* the archive or an extracted file cannot be written */
    UNLHA_ERROR_DAMAGED = 0x8005,    /* not an archive, damaged, truncated, a CRC mismatch */
    UNLHA_ERROR_UNSAFE = 0x8006,     /* a member would land outside the destination, or is
                                        a link; nothing is extracted */
    UNLHA_ERROR_TOO_LARGE = 0x8007,  /* a member of 4 GiB or more to pack; to extract, a packed
                                        size of 4 GiB or more */
    UNLHA_ERROR_NAME = 0x8008,       /* a name the archive cannot hold (absolute, "..") */
    UNLHA_ERROR_INTERNAL = 0x8009,   /* out of memory or another unexpected failure */
    UNLHA_ERROR_NO_SPACE = 0x800A,   /* the members to extract do not fit in the destination's
                                        free space; nothing is extracted */
    UNLHA_ERROR_NO_MATCH = 0x800B,   /* no member matches the patterns to extract */
    UNLHA_ERROR_UNSUPPORTED = 0x800C /* a compression method this library does not decode, or
                                        a self-extracting program given to update */
};

/* Runs one command. `window` is not used. When outputSize is not 0, a NUL-terminated message
 * (cut to fit) is written to output. */
UNLHA_EXPORT int UNLHA_CALL Unlha(void *window, const char *commandLine, char *output,
                                  unsigned long outputSize);
/* -1 while any process of the same user is running a command, 0 otherwise. The lock lives in
 * $UNLHA32_LOCK_DIR when set, else $XDG_RUNTIME_DIR, else a private /tmp/unlha32-<uid>. */
UNLHA_EXPORT int UNLHA_CALL UnlhaGetRunning(void);
/* The library's version, never 0. */
UNLHA_EXPORT int UNLHA_CALL UnlhaGetVersion(void);

#ifdef __cplusplus
}
#endif

#endif
