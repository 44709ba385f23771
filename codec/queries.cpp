#include "queries.h"

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
    using VersionFunction = uint32_t (*)();
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
    if (!status || status->total == 0)
        return 0;
    switch (index) {
    case 0:
        return uint32_t(100 * (status->total - std::min(status->available, status->total)) /
                        status->total);
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
