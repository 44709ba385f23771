#include "disguise_header.h"

#include "layout.h"

namespace tolvex {

std::optional<std::vector<uint8_t>> readDisguiseHeader(int kind, const ReadTemplate &read) {
    const DisguiseKind &d = disguiseFor(kind);
    std::vector<uint8_t> header(d.length);
    if (header.empty())
        return header;
    if (read(d.first, header.data(), header.size()) != static_cast<int64_t>(header.size()))
        return std::nullopt;
    for (auto &b : header)
        b ^= kHeaderMask;
    if (loadLe32(header.data()) != d.magic)
        return std::nullopt;
    return header;
}

int kindOf(std::span<const uint8_t> leading) {
    const auto length = headerLengthFor(leading);
    if (!length || *length == 0)
        return 0;
    const uint32_t magic = loadLe32(leading.data());
    for (const DisguiseKind &d : kDisguiseKinds)
        if (d.length == *length && d.magic == magic)
            return d.kind;
    return 0;
}

} // namespace tolvex
