#!/usr/bin/env bash
# Builds a fuzzer with clang (libFuzzer + AddressSanitizer) and runs it for a bounded time.
# Usage: fuzz/run.sh [SECONDS] [decode|extract|strong] (defaults 60, decode). Findings land
# in fuzz-out/ (decode), fuzz-out/extract/ or fuzz-out/strong/.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" clang libclang-rt-14-dev

SECONDS_TO_RUN=${1:-60}
TARGET=${2:-decode}
BUILD_DIR=${BUILD_DIR:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTOLVEX_FUZZ=ON -DTOLVEX_TESTS=OFF >/dev/null

if [ "$TARGET" = strong ]; then
    cmake --build "$BUILD_DIR" -j2 --target strong_fuzzer
    OUT=fuzz-out/strong
    mkdir -p "$OUT/corpus" "$OUT/crashes"
    # The known-answer files: strong files with the lightest key derivation.
    [ -n "$(ls -A "$OUT/corpus")" ] || cp tests/data/strong/* "$OUT/corpus/"
    "$BUILD_DIR/fuzz/strong_fuzzer" -max_total_time="$SECONDS_TO_RUN" -max_len=80000 \
        -artifact_prefix="$OUT/crashes/" -print_final_stats=1 "$OUT/corpus"
    exit
fi

if [ "$TARGET" = extract ]; then
    cmake --build "$BUILD_DIR" -j2 --target extract_fuzzer
    OUT=fuzz-out/extract
    mkdir -p "$OUT/corpus" "$OUT/crashes"
    # Hostile archives at every header level (fuzz/make_extract_seeds.py writes them).
    [ -n "$(ls -A "$OUT/corpus")" ] || cp fuzz/extract_seeds/* "$OUT/corpus/"
    "$BUILD_DIR/fuzz/extract_fuzzer" -max_total_time="$SECONDS_TO_RUN" -max_len=8192 \
        -artifact_prefix="$OUT/crashes/" -print_final_stats=1 "$OUT/corpus"
    exit
fi

cmake --build "$BUILD_DIR" -j2 --target decode_fuzzer
mkdir -p fuzz-out/corpus fuzz-out/crashes
# Seed the corpus with real encoded files: one per disguise kind.
if [ -z "$(ls -A fuzz-out/corpus)" ]; then
    for f in tests/data/golden/*; do
        [ -f "$f" ] && { printf '\001'; cat "$f"; } > "fuzz-out/corpus/seed-$(basename "$f")"
    done
fi
"$BUILD_DIR/fuzz/decode_fuzzer" -max_total_time="$SECONDS_TO_RUN" -max_len=20000 \
    -artifact_prefix=fuzz-out/crashes/ -print_final_stats=1 fuzz-out/corpus
