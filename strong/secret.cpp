#include "secret.h"

#include <sodium.h>

#include <cstring>
#include <sys/prctl.h>

namespace strong {

std::optional<Secret> Secret::ofSize(size_t size) {
    if (sodium_init() < 0)
        return std::nullopt;
    // sodium_malloc gives no zero-byte buffer guarantees worth relying on: one byte at least.
    void *memory = sodium_malloc(size == 0 ? 1 : size);
    if (!memory)
        return std::nullopt;
    Secret s;
    s.m_data = std::shared_ptr<uint8_t>(static_cast<uint8_t *>(memory), [](uint8_t *p) {
        sodium_free(p); // wipes before freeing
    });
    s.m_size = size;
    return s;
}

std::optional<Secret> Secret::from(std::string_view bytes) {
    auto s = ofSize(bytes.size());
    if (s && !bytes.empty())
        std::memcpy(s->mutableData(), bytes.data(), bytes.size());
    return s;
}

void wipe(std::string &text) {
    text.resize(text.capacity());
    sodium_memzero(text.data(), text.size());
    text.clear();
}

void protectKeyMaterial() {
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

} // namespace strong
