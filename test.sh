#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test through ctest. Where Wine and the mingw-w64
# cross compiler are installed (scripts/setup-windows-tests.sh), it then builds the Windows DLL
# and runs its tests under Wine too.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

BUILD_DIR=${BUILD_DIR:-build-test}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Debug -DTOLVEX_SANITIZE=ON -DTOLVEX_TESTS=ON >/dev/null
cmake --build "$BUILD_DIR" -j2
(cd "$BUILD_DIR" && ctest --output-on-failure -j2 "$@")

WINDOWS_BUILD_DIR=${WINDOWS_BUILD_DIR:-build-win32}
if command -v wine >/dev/null && command -v i686-w64-mingw32-g++-posix >/dev/null; then
    echo "Building Halvet_Tolvex.dll and running its tests under Wine ($WINDOWS_BUILD_DIR)"
    cmake -S . -B "$WINDOWS_BUILD_DIR" --toolchain cmake/mingw-w64-i686.cmake >/dev/null
    cmake --build "$WINDOWS_BUILD_DIR" -j2
    (cd "$WINDOWS_BUILD_DIR" && ctest --output-on-failure -j2 "$@")
else
    echo "Windows tests skipped: Wine or the mingw-w64 cross compiler is not installed" \
        "(scripts/setup-windows-tests.sh installs them)."
fi
