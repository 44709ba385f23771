#!/usr/bin/env bash
# Installs what is missing, makes a release build and reports what was built.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}"

BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DTOLVEX_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" -j2
echo
echo "Built into $BUILD_DIR/bin:"
ls -l "$BUILD_DIR/bin"
echo
echo "The window program is not part of this build yet; the codec library and Tolvex.dat are ready."
