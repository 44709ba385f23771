#include "memory_file.h"

#include "containers.h"

#include <algorithm>

namespace strong::testing {

std::vector<uint8_t> containerWith(int kind, const std::vector<uint8_t> &body, size_t piece) {
    std::vector<uint8_t> file;
    const Container &container = containerFor(kind);
    if (!container.create)
        return {};
    auto writer = container.create(outputTo(file), body.size());
    if (!writer)
        return {};
    for (size_t at = 0; at < body.size(); at += piece) {
        if (!writer->put(body.data() + at, std::min(piece, body.size() - at)))
            return {};
    }
    if (!writer->finish())
        return {};
    return file;
}

} // namespace strong::testing
