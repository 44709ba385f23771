// The golden files in tests/data/golden, one per disguise kind: written once by this encoder
// with kGoldenKey and filler seed kGoldenSeed from goldenText(kind). Shared by the Linux and the
// Windows suites, which both decode them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace golden_files {

inline constexpr uint32_t kGoldenKey = 0x1234ABCD;
inline constexpr uint32_t kGoldenSeed = 12345;

inline std::string goldenText(int kind) {
    char text[80];
    std::snprintf(text, sizeof text, "Golden file of disguise kind %d: the format is fixed.\n",
                  kind);
    return text;
}

} // namespace golden_files
