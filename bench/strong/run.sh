#!/usr/bin/env bash
# Strong encryption and decryption of one large file with tolvex-cli beside age (an X25519
# recipient, so no terminal is needed), in the same run on the same file; medians of ROUNDS.
# The key derivation is timed on its own (an empty file with the same preset) and taken out
# of tolvex-cli's figures; peak memory (maximum resident set) is reported for both tools.
# Usage: bench/strong/run.sh [MiB] [PRESET]   (defaults 512, moderate); ROUNDS=5 by default.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/packages.sh
scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" age time python3

MIB=${1:-512}
PRESET=${2:-moderate}
ROUNDS=${ROUNDS:-5}
BUILD_DIR=${BUILD_DIR:-build-bench-strong}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DTOLVEX_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" -j2 --target tolvex-cli tolvex_templates >/dev/null
CLI="$PWD/$BUILD_DIR/bin/tolvex-cli"

WORK="$PWD/bench-out/strong"
mkdir -p "$WORK"
BIG="$WORK/big.bin"
if [ ! -f "$BIG" ] || [ "$(stat -c %s "$BIG")" -ne $((MIB * 1048576)) ]; then
    head -c $((MIB * 1048576)) /dev/urandom > "$BIG"
fi
: > "$WORK/empty.bin"
[ -f "$WORK/age.key" ] || age-keygen -o "$WORK/age.key" 2>/dev/null
RECIPIENT=$(age-keygen -y "$WORK/age.key")
# The passphrase is not a secret here.
export TOLVEX_PASSPHRASE="bench passphrase"

# Runs a command under GNU time: prints "seconds peak-KiB".
measure() {
    /usr/bin/time -f '%e %M' -o "$WORK/time.txt" "$@" >/dev/null 2>&1
    cat "$WORK/time.txt"
}

rm -f "$WORK/results.txt"
for ((r = 1; r <= ROUNDS; r++)); do
    rm -f "$WORK"/out.* "$WORK"/big.tvx "$WORK"/empty.tvx
    echo "kdf_enc $(measure "$CLI" encrypt --strong --kdf "$PRESET" -q "$WORK/empty.bin")" >> "$WORK/results.txt"
    echo "kdf_dec $(measure "$CLI" decrypt -q -o "$WORK/out.empty" "$WORK/empty.tvx")" >> "$WORK/results.txt"
    echo "tvx_enc $(measure "$CLI" encrypt --strong --kdf "$PRESET" -q "$WORK/big.bin")" >> "$WORK/results.txt"
    echo "tvx_dec $(measure "$CLI" decrypt -q -o "$WORK/out.tvx" "$WORK/big.tvx")" >> "$WORK/results.txt"
    cmp "$BIG" "$WORK/out.tvx.bin"
    echo "age_enc $(measure age -r "$RECIPIENT" -o "$WORK/out.age" "$BIG")" >> "$WORK/results.txt"
    echo "age_dec $(measure age -d -i "$WORK/age.key" -o "$WORK/out.plain" "$WORK/out.age")" >> "$WORK/results.txt"
    cmp "$BIG" "$WORK/out.plain"
    rm -f "$WORK"/out.*
done

python3 - "$WORK/results.txt" "$MIB" "$PRESET" <<'PY'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    name, seconds, kib = line.split()
    rows.setdefault(name, []).append((float(seconds), int(kib)))
mib, preset = float(sys.argv[2]), sys.argv[3]
med = lambda name: statistics.median(s for s, _ in rows[name])
best = lambda name: min(s for s, _ in rows[name])
peak = lambda name: max(k for _, k in rows[name]) / 1024
print(f"{int(mib)} MiB, {len(rows['tvx_enc'])} rounds (medians), tolvex-cli --kdf {preset}")
print(f"  key derivation (empty file):  encrypt {med('kdf_enc'):.2f} s, decrypt {med('kdf_dec'):.2f} s, peak {peak('kdf_enc'):.0f} MiB")
for what, tvx, kdf, age in (("encrypt", "tvx_enc", "kdf_enc", "age_enc"), ("decrypt", "tvx_dec", "kdf_dec", "age_dec")):
    t = med(tvx) - med(kdf)
    a = med(age)
    print(f"  {what}: tolvex-cli {med(tvx):.2f} s total, {t:.2f} s without the key derivation "
          f"({mib / t:.0f} MiB/s), peak {peak(tvx):.0f} MiB; age {a:.2f} s ({mib / a:.0f} MiB/s), "
          f"peak {peak(age):.0f} MiB")
    print(f"    best rounds: tolvex-cli {best(tvx) - best(kdf):.2f} s without the key derivation, age {best(age):.2f} s")
PY
