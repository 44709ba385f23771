#!/usr/bin/env bash
# Times Halvet_Tolvex.dll under Wine beside the Linux library on the same file: encoding and
# decoding through codec_call on each side, and Wine's start-up alone (a call that returns at
# once) as the floor of every Wine run. Needs scripts/setup-windows-tests.sh once.
# Usage: bench/windows/run.sh [MiB]
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/packages.sh
scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" libgtest-dev python3 time

MIB=${1:-256}
BUILD_DIR=${WINDOWS_BUILD_DIR:-build-win32}
cmake -S . -B "$BUILD_DIR" --toolchain cmake/mingw-w64-i686.cmake >/dev/null
cmake --build "$BUILD_DIR" -j2 --target Halvet_Tolvex codec_call tolvex_templates >/dev/null

WORK=$(pwd)/bench-out/windows
mkdir -p "$WORK"
SRC="$WORK/source.bin"
if [ ! -f "$SRC" ] || [ "$(stat -c %s "$SRC")" -ne $((MIB * 1048576)) ]; then
    head -c $((MIB * 1048576)) /dev/urandom >"$SRC"
fi
WIN_BIN=$(cd "$BUILD_DIR/bin" && pwd)
HOST_BIN=$(cd "$BUILD_DIR/host/bin" && pwd)
WINE="$(cd "$BUILD_DIR" && pwd)/wine.sh"
KEY=89ABCDEF
# Windows takes forward slashes too, which keeps the command lines free of escapes.
win() { echo "Z:$1"; }
rm -f "$WORK/input.png"
(cd "$HOST_BIN" && ./codec_call 0 "$KEY" 6 65536 "$SRC" "$WORK/input" >/dev/null)

exec python3 bench/compare.py \
    "linux-enc=env -C $HOST_BIN ./codec_call 0 $KEY 6 65536 $SRC $WORK/lenc=>$WORK/lenc.png" \
    "wine-enc=env -C $WIN_BIN $WINE codec_call.exe 0 $KEY 6 65536 $(win "$SRC") $(win "$WORK/wenc")=>$WORK/wenc.png" \
    "linux-dec=env -C $HOST_BIN ./codec_call 1 $KEY 0 65536 $WORK/input.png $WORK/ldec=>$WORK/ldec.bin" \
    "wine-dec=env -C $WIN_BIN $WINE codec_call.exe 1 $KEY 0 65536 $(win "$WORK/input.png") $(win "$WORK/wdec")=>$WORK/wdec.bin" \
    "wine-start=env -C $WIN_BIN $WINE codec_call.exe 5 0 0 0 $(win "$WORK/none") $(win "$WORK/none")=>$WORK/none"
