// A container written to and read from memory, for tests that look at containers alone.
#pragma once

#include "container.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace strong::testing {

inline ContainerOutput outputTo(std::vector<uint8_t> &file) {
    return {[&file](const uint8_t *data, size_t size) {
                file.insert(file.end(), data, data + size);
                return true;
            },
            [&file](uint64_t offset, const uint8_t *data, size_t size) {
                if (offset > file.size() || size > file.size() - offset)
                    return false;
                std::memcpy(file.data() + offset, data, size);
                return true;
            }};
}

inline ContainerInput inputFrom(const std::vector<uint8_t> &file) {
    return {[&file](uint64_t offset, uint8_t *data, size_t size) -> int64_t {
                if (offset >= file.size())
                    return 0;
                const size_t n = size < file.size() - offset ? size : size_t(file.size() - offset);
                std::memcpy(data, file.data() + offset, n);
                return int64_t(n);
            },
            file.size()};
}

// Writes `body` in a container of `kind`, fed in pieces of `piece` bytes; empty on failure.
std::vector<uint8_t> containerWith(int kind, const std::vector<uint8_t> &body,
                                   size_t piece = 1 << 20);

} // namespace strong::testing
