#include "containers.h"

#include "layout.h"

#include <array>

namespace strong {

const Container &containerFor(int kind) {
    // In the order of the kinds table, so that a row's number is its kind.
    static const std::array<Container, tolvex::kKindCount> table = {
        containers::none(), containers::bmp(), containers::cab(), containers::jpg(),
        containers::lzh(),  containers::mid(), containers::png(), containers::wav(),
        containers::gca(),  containers::ico(), containers::tgz(), containers::tbz(),
        containers::mp3(),  containers::cur(), containers::avi(), containers::zip()};
    return table[size_t(kind >= 0 && kind < tolvex::kKindCount ? kind : 0)];
}

OpenedContainer openContainer(const ContainerInput &input) {
    for (int kind = 1; kind < tolvex::kKindCount; ++kind) {
        const Container &container = containerFor(kind);
        if (!container.open)
            continue;
        if (auto body = container.open(input))
            return {kind, std::move(body)};
    }
    return {0, containerFor(0).open(input)};
}

} // namespace strong
