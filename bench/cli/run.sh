#!/usr/bin/env bash
# Encrypts 1,000 small files and one 1 GiB file with tolvex-cli --jobs 2, and the same files
# with openssl's AES-128-CTR (two at a time through xargs, so both use both cores), in the same
# run. Every output is written to the disk; medians over ROUNDS rounds.
# Usage: bench/cli/run.sh [MiB of the large file]
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/packages.sh
scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" openssl python3 time findutils

MIB=${1:-1024}
BUILD_DIR=${BUILD_DIR:-build-bench-cli}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DTOLVEX_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" -j2 --target tolvex-cli tolvex_templates unlha32 >/dev/null
CLI="$PWD/$BUILD_DIR/bin/tolvex-cli"

WORK="$PWD/bench-out/cli"
SMALL="$WORK/small"
BIG="$WORK/big.bin"
mkdir -p "$WORK"
# 1,000 files from 1 KiB to 64 KiB of random bytes (about 32 MiB), made once.
if [ "$(find "$SMALL" -type f 2>/dev/null | wc -l)" -ne 1000 ]; then
    rm -rf "$SMALL"
    python3 - "$SMALL" <<'PY'
import os, random, sys
folder = sys.argv[1]
os.makedirs(folder)
rng = random.Random(2024)
for i in range(1000):
    with open(os.path.join(folder, f"file{i:04}.dat"), "wb") as f:
        f.write(os.urandom(rng.randint(1024, 65536)))
PY
fi
if [ ! -f "$BIG" ] || [ "$(stat -c %s "$BIG")" -ne $((MIB * 1048576)) ]; then
    head -c $((MIB * 1048576)) /dev/urandom > "$BIG"
fi

# The key is not a secret here.
export TOLVEX_KEY=BE7C4
SSL="openssl enc -aes-128-ctr -pbkdf2 -pass pass:bench"
echo "small: $(find "$SMALL" -type f | wc -l) files, $(du -sh --apparent-size "$SMALL" | cut -f1);" \
     "large: $MIB MiB; $(nproc) cores; $(openssl version)"
ROUNDS="${ROUNDS:-5}" exec python3 bench/compare.py --pairs \
    "cli-small=sh -c 'cd $SMALL && exec $CLI encrypt --jobs 2 --quiet --output-dir $WORK/o-cli-small *'=>$WORK/o-cli-small/" \
    "openssl-small=sh -c 'cd $SMALL && ls | xargs -P 2 -I{} $SSL -in {} -out $WORK/o-ssl-small/{}.aes'=>$WORK/o-ssl-small/" \
    "cli-large=$CLI encrypt --jobs 2 --quiet --output-dir $WORK/o-cli-large $BIG=>$WORK/o-cli-large/" \
    "openssl-large=$SSL -in $BIG -out $WORK/o-ssl-large/big.aes=>$WORK/o-ssl-large/"
