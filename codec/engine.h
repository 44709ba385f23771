// The conversion engine behind MakeCode.
#pragma once

#include "platform.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvex {

struct ConvertRequest {
    const char *source = nullptr;
    const char *outputBase = nullptr;
    uint32_t keyCode = 0;
    int32_t mode = 0;
    int32_t kind = 0;
    int32_t bufferSize = 0;
    const char *templatePath = "Tolvex.dat";
    // Seeds the filler; 0 means the current time, so two encodings a second apart differ there.
    uint32_t fillerSeed = 0;
    // Called after each piece of the payload with the bytes done and the payload's length;
    // it must not call back into the engine. What it throws ends the call with -7 for
    // std::bad_alloc and -2 otherwise, no output left.
    void (*progress)(void *context, uint64_t done, uint64_t total) = nullptr;
    void *progressContext = nullptr;
    // When set and it turns true, the call stops after the current piece with -2.
    const std::atomic<bool> *cancel = nullptr;
    // The permission bits the output is made from, when the source stands in for what the
    // user chose (the archive of a packed input); the source's own otherwise.
    std::optional<uint32_t> permissions;
    // Decoding: whether an output whose content check failed is still published (Damaged
    // either way; without it nothing is written). MakeCode keeps what could be recovered.
    bool keepDamaged = true;
};

// Runs one conversion and returns its result code (TOLVEX_OK, TOLVEX_OUTPUT_EXISTS, ...).
// All state lives in the call: no file stays open and no memory stays allocated afterwards.
int32_t convert(const ConvertRequest &request);

// The bytes after the last full stop of the path's last component; empty when there is none.
std::string_view extensionOf(std::string_view path);

// Sum of extension byte i (as a signed byte) times 10^(i+1); at most six bytes.
int32_t extensionChecksum(std::string_view extension);

} // namespace tolvex
