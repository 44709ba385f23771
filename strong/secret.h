// Passphrases and keys: held in libsodium's guarded memory (locked, so never written to swap,
// with guard pages on both sides) and wiped when the last holder lets go. Copies share the one
// buffer, which is never changed after it is made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace strong {

class Secret {
  public:
    Secret() = default;
    // A secret copy of `bytes`; nothing when guarded memory cannot be had.
    static std::optional<Secret> from(std::string_view bytes);
    // An uninitialised secret of `size` bytes to fill through mutableData() before sharing it.
    static std::optional<Secret> ofSize(size_t size);

    const uint8_t *data() const { return m_data.get(); }
    uint8_t *mutableData() { return m_data.get(); }
    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    std::string_view view() const { return {reinterpret_cast<const char *>(m_data.get()), m_size}; }
    bool operator==(const Secret &other) const { return view() == other.view(); }

  private:
    std::shared_ptr<uint8_t> m_data;
    size_t m_size = 0;
};

// Overwrites a string's bytes (its whole capacity) and empties it: for plain copies that a
// library or the terminal made before the text could go into a Secret.
void wipe(std::string &text);

// Keeps this process from being dumped or traced (core files and /proc/PID/mem would show key
// material) while strong work runs.
void protectKeyMaterial();

} // namespace strong
