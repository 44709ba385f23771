// The small system queries: archiver library version and memory figures.
#pragma once

#include <cstdint>

namespace tolvex {

// The platform's file name of the archiver library, looked up through the normal search.
#if defined(_WIN32)
inline constexpr const char *kArchiverLibrary = "unlha32";
#else
inline constexpr const char *kArchiverLibrary = "libunlha32.so";
#endif

// Loads the named library, asks its UnlhaGetVersion and unloads it again. The low 16 bits of
// the version, or 0 when the library or the function is missing.
uint32_t archiverVersion(const char *libraryName);

// GetMemDat's figure for an index; 0 outside 0 to 4 or when the platform says nothing.
uint32_t memoryFigure(uint32_t index);

} // namespace tolvex
