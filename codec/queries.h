// The small system queries: archiver library version and memory figures.
#pragma once

#include <cstdint>

namespace tolvex {

// Loads the named library, asks its UnlhaGetVersion and unloads it again. The low 16 bits of
// the version, or 0 when the library or the function is missing.
uint32_t archiverVersion(const char *libraryName);

// GetMemDat's figure for an index; 0 outside 0 to 4 or when the platform says nothing.
uint32_t memoryFigure(uint32_t index);

} // namespace tolvex
