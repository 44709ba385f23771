#!/usr/bin/env bash
# Installs what is missing, makes a release build and starts the program from its folder
# (the program looks for its codec library and Tolvex.dat in its working directory).
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}"

BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DTOLVEX_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" -j2

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "Built into $BUILD_DIR/bin. No display found: the window needs one." >&2
    echo "To run it on a virtual display:" >&2
    echo "  sudo apt-get install xvfb xauth && (cd $BUILD_DIR/bin && xvfb-run -a ./tolvex)" >&2
    exit 1
fi
cd "$BUILD_DIR/bin"
exec ./tolvex
