#!/usr/bin/env bash
# Builds Halvet_Tolvex.dll with the mingw-w64 cross compiler and runs its tests: the checks that
# read the DLL back always, the tests under Wine only where scripts/probe-wine.sh says Wine runs.
#   scripts/windows-tests.sh BUILD_DIR [ctest arguments]
# TOLVEX_WINE names the Wine program to use instead of the one on the PATH.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=$1
shift

if wine_said=$(scripts/probe-wine.sh); then
    echo "Building Halvet_Tolvex.dll and running its tests under Wine ($build_dir; $wine_said)"
else
    echo "Building Halvet_Tolvex.dll and checking its export table ($build_dir)"
    echo "Windows tests under Wine skipped: $wine_said"
fi
cmake -S . -B "$build_dir" --toolchain cmake/mingw-w64-i686.cmake >/dev/null
cmake --build "$build_dir" -j2
(cd "$build_dir" && ctest --output-on-failure -j2 "$@")
