#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test through ctest. Where the mingw-w64 cross
# compiler is installed (scripts/setup-windows-tests.sh), it then builds the Windows DLL and checks
# it, running its tests under Wine where this machine can run Wine (scripts/probe-wine.sh).
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

BUILD_DIR=${BUILD_DIR:-build-test}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Debug -DTOLVEX_SANITIZE=ON -DTOLVEX_TESTS=ON >/dev/null
cmake --build "$BUILD_DIR" -j2
(cd "$BUILD_DIR" && ctest --output-on-failure -j2 "$@")

WINDOWS_BUILD_DIR=${WINDOWS_BUILD_DIR:-build-win32}
if command -v i686-w64-mingw32-g++-posix >/dev/null; then
    scripts/windows-tests.sh "$WINDOWS_BUILD_DIR" "$@"
else
    echo "Windows build skipped: the mingw-w64 cross compiler is not installed" \
        "(scripts/setup-windows-tests.sh installs it)."
fi
