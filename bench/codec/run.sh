#!/usr/bin/env bash
# Encodes and decodes a 1 GiB file from the page cache and times both beside cp and
# openssl's AES-128-CTR of the same file, in the same run. dd with 1 MiB blocks shows the floor
# of any program that reads and writes through its own buffer (cp copies inside the kernel).
# Usage: bench/codec/run.sh [MiB]
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/packages.sh
scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" openssl python3 time

MIB=${1:-1024}
BUILD_DIR=${BUILD_DIR:-build-bench}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DTOLVEX_TESTS=OFF -DTOLVEX_BENCH=ON >/dev/null
cmake --build "$BUILD_DIR" -j2 --target bench_makecode tolvex_templates >/dev/null

WORK=bench-out/codec
mkdir -p "$WORK"
SRC="$WORK/source.bin"
if [ ! -f "$SRC" ] || [ "$(stat -c %s "$SRC")" -ne $((MIB * 1048576)) ]; then
    head -c $((MIB * 1048576)) /dev/urandom > "$SRC"
fi
TOOL="$BUILD_DIR/bench/codec/bench_makecode"
TEMPLATE="$BUILD_DIR/bin/Tolvex.dat"
# Decoding needs an encoded file that stays in place.
rm -f "$WORK/input.tvx"
"$TOOL" encode "$SRC" "$WORK/input" "$TEMPLATE" 0

exec python3 bench/compare.py \
    "cp=cp $SRC $WORK/copy.bin=>$WORK/copy.bin" \
    "dd=dd if=$SRC of=$WORK/dd.bin bs=1M status=none=>$WORK/dd.bin" \
    "encode=$TOOL encode $SRC $WORK/enc $TEMPLATE 0=>$WORK/enc.tvx" \
    "decode=$TOOL decode $WORK/input.tvx $WORK/dec $TEMPLATE=>$WORK/dec.bin" \
    "openssl=openssl enc -aes-128-ctr -pbkdf2 -pass pass:bench -in $SRC -out $WORK/aes.bin=>$WORK/aes.bin"
