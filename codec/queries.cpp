#include "queries.h"

#include "halvet_tolvex.h"
#include "platform.h"

#include <algorithm>

namespace tolvex {
namespace {

uint32_t clamp32(uint64_t v) {
    return uint32_t(std::min<uint64_t>(v, UINT32_MAX));
}

} // namespace

uint32_t archiverVersion(const char *libraryName) {
    void *library = platform::loadLibrary(libraryName);
    if (!library)
        return 0;
    // The archiver's functions use the system's calling convention for exports.
    using VersionFunction = uint32_t(TOLVEX_CALL *)();
    auto version =
        reinterpret_cast<VersionFunction>(platform::findSymbol(library, "UnlhaGetVersion"));
    const uint32_t result = version ? (version() & 0xFFFF) : 0;
    platform::unloadLibrary(library);
    return result;
}

uint32_t memoryFigure(uint32_t index) {
    if (index > 4)
        return 0;
    const auto status = platform::readMemoryStatus();
    if (!status)
        return 0;
    switch (index) {
    case 0:
        return std::min<uint32_t>(status->load, 100);
    case 1:
        return clamp32(status->total);
    case 2:
        return clamp32(status->available);
    case 3:
        return clamp32(status->commitLimit);
    default:
        return clamp32(
            status->commitLimit > status->committed ? status->commitLimit - status->committed : 0);
    }
}

} // namespace tolvex
