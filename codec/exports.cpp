// The library's exports: thin wrappers over the engine and the queries that fix what callers
// cannot choose (the template file's bare name, the archiver library's name).
#include "halvet_tolvex.h"

#include "engine.h"
#include "platform.h"
#include "queries.h"

extern "C" TOLVEX_EXPORT int32_t TOLVEX_CALL MakeCode(const char *source, const char *outputBase,
                                                      uint32_t keyCode, int32_t mode, int32_t kind,
                                                      int32_t bufferSize) {
    tolvex::ConvertRequest request;
    request.source = source;
    request.outputBase = outputBase;
    request.keyCode = keyCode;
    request.mode = mode;
    request.kind = kind;
    request.bufferSize = bufferSize;
    request.templatePath = "Tolvex.dat";
    return tolvex::convert(request);
}

extern "C" TOLVEX_EXPORT uint32_t TOLVEX_CALL FindLzh(void) {
    return tolvex::archiverVersion(tolvex::platform::kArchiverLibrary);
}

extern "C" TOLVEX_EXPORT uint32_t TOLVEX_CALL GetMemDat(uint32_t index) {
    return tolvex::memoryFigure(index);
}

CHalvet_Tolvex &CHalvet_Tolvex::operator=(const CHalvet_Tolvex &other) {
    m_byte = other.m_byte;
    return *this;
}
static_assert(sizeof(CHalvet_Tolvex) == 1, "an instance is one byte");
