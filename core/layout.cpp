#include "layout.h"

namespace tolvex {
namespace {

constexpr uint32_t kRiff = 0x46464952;

constexpr DisguiseKind kKinds[kKindCount] = {
    {0, ".tvx", 0, 0, 0},
    {1, ".bmp", 0, 774, 0x03064D42},
    {2, ".cab", 774, 3819, 0x4643534D},
    {3, ".jpg", 4593, 918, 0xE0FFD8FF},
    {4, ".lzh", 5511, 3814, 0x6C2D004F},
    {5, ".mid", 9325, 87, 0x6468544D},
    {6, ".png", 9412, 283, 0x474E5089},
    {7, ".wav", 9695, 344, kRiff},
    {8, ".gca", 10039, 3725, 0x30414347},
    {9, ".ico", 13764, 2238, 0x00010000},
    {10, ".tgz", 16002, 3829, 0x00088B1F},
    {11, ".tbz", 19831, 4118, 0x39685A42},
    {12, ".mp3", 23949, 1452, 0xC452F3FF},
    {13, ".cur", 25401, 766, 0x00020000},
    {14, ".avi", 26167, 10240, kRiff},
    {15, ".zip", 36407, 3946, 0x04034B50},
};

// The segments lie back to back; a mistyped position would shift every disguise after it.
constexpr bool segmentsAreContiguous() {
    for (int k = 2; k < kKindCount; ++k)
        if (kKinds[k].first != kKinds[k - 1].first + kKinds[k - 1].length)
            return false;
    return kKinds[15].first + kKinds[15].length == kTemplateFileSize;
}
static_assert(segmentsAreContiguous());

} // namespace

const DisguiseKind &disguiseFor(int kind) {
    return (kind >= 1 && kind < kKindCount) ? kKinds[kind] : kKinds[0];
}

std::optional<uint32_t> headerLengthFor(std::span<const uint8_t> leading) {
    if (leading.size() < 4)
        return std::nullopt;
    const uint32_t magic = loadLe32(leading.data());
    if (magic == kRiff) {
        if (leading.size() < 8)
            return std::nullopt;
        return loadLe32(leading.data() + 4) == kAviRiffSize ? kKinds[14].length : kKinds[7].length;
    }
    for (int k = 1; k < kKindCount; ++k)
        if (kKinds[k].magic == magic)
            return kKinds[k].length;
    return 0u;
}

std::optional<ControlRecord> readControlRecord(std::span<const uint8_t, kControlRecordSize> bytes) {
    const int n = int8_t(bytes[record::kExtensionLength]);
    if (n < 0 || n > int(kExtensionFieldSize))
        return std::nullopt;
    ControlRecord r;
    r.checkWord = loadLe32(bytes.data() + record::kCheckWord);
    r.extension.assign(reinterpret_cast<const char *>(bytes.data() + record::kExtension),
                       size_t(n));
    r.contentCrc = loadLe32(bytes.data() + record::kContentCrc);
    return r;
}

const char *kindCaption(int kind) {
    return (kind >= 1 && kind < kKindCount) ? kKinds[kind].extension : nullptr;
}

} // namespace tolvex
