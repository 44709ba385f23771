// The strong reader on arbitrary bytes: every container's structure, which a reader walks
// before any key derivation, and version 1's preamble and chunks. Version 1 inputs asking for
// more than the lightest derivation are only probed, and version 2 bodies are read without
// one, so the time goes into the parsing rather than into Argon2id.
#include "containers.h"
#include "strong_format.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

strong::ContainerInput inputOf(const uint8_t *data, size_t size) {
    return {[data, size](uint64_t offset, uint8_t *out, size_t n) -> int64_t {
                if (offset >= size)
                    return 0;
                const size_t take = std::min<size_t>(n, size - size_t(offset));
                std::memcpy(out, data + offset, take);
                return int64_t(take);
            },
            size};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const strong::ContainerInput input = inputOf(data, size);
    // The containers: whatever kind the bytes look like, its reader gives at most what the
    // file holds (no container's body outgrows its file) and then stops.
    strong::OpenedContainer opened = strong::openContainer(input);
    if (opened.body) {
        // Compressed kinds (tgz, tbz) may inflate far past their file; the others hold their
        // body as it is, so a body larger than the file is a reader fault.
        const bool compressed = opened.kind == 10 || opened.kind == 11;
        std::vector<uint8_t> buffer(65536);
        uint64_t total = 0;
        for (int64_t n; total < (uint64_t(64) << 20) &&
                        (n = opened.body->read(buffer.data(), buffer.size())) > 0;) {
            total += uint64_t(n);
            if (!compressed && total > size)
                __builtin_trap();
        }
    }
    strong::Preamble preamble;
    const strong::Status probed = strong::probe({data, size}, preamble);
    if (probed != strong::Status::Ok || preamble.kdf.opsLimit != strong::kMinOpsLimit ||
        preamble.kdf.memLimit != strong::kMinMemLimit)
        return 0;
    uint64_t written = 0;
    strong::Decrypted found;
    // The passphrase of the seed files (tests/data/strong), so mutations reach the chunks.
    strong::decrypt(
        "vector passphrase", input,
        [&](const uint8_t *, size_t n) {
            written += n;
            return true;
        },
        found);
    if (written > size)
        __builtin_trap(); // more content than input: a reader fault
    return 0;
}
