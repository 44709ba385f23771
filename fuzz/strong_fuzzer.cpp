// The strong reader on arbitrary bytes: recognition, the preamble's bounds, and the chunk
// reader after a key derivation. Inputs asking for more than the lightest derivation are
// only probed, so the time goes into the parsing rather than into Argon2id.
#include "strong_format.h"

#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    strong::Preamble preamble;
    const strong::Status probed = strong::probe({data, size}, preamble);
    if (probed != strong::Status::Ok || preamble.kdf.opsLimit != strong::kMinOpsLimit ||
        preamble.kdf.memLimit != strong::kMinMemLimit)
        return 0;
    size_t at = 0;
    uint64_t written = 0;
    strong::Decrypted found;
    // The passphrase of the seed files (tests/data/strong), so mutations reach the chunks.
    strong::decrypt(
        "vector passphrase",
        [&](uint8_t *out, size_t n) -> int64_t {
            const size_t take = std::min(n, size - at);
            if (take)
                std::memcpy(out, data + at, take);
            at += take;
            return int64_t(take);
        },
        [&](const uint8_t *, size_t n) {
            written += n;
            return true;
        },
        found);
    if (written > size)
        __builtin_trap(); // more content than input: a reader fault
    return 0;
}
