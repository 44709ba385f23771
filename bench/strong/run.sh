#!/usr/bin/env bash
# Strong encryption and decryption of one large file with tolvex-cli, per disguise kind:
# format version 2 (this tree) beside version 1 (the last release that wrote it, built from
# BASELINE) and age (an X25519 recipient, so no terminal is needed), in the same run on the same
# file; medians of ROUNDS. The key derivation is timed on its own (an empty file with the same
# preset) and taken out of tolvex-cli's figures; peak memory (maximum resident set) is reported.
# Version 1 wrote its content after the disguise header of any kind at the same cost, so it is
# timed once, without a disguise.
# Usage: bench/strong/run.sh [MiB] [KIND...]   (defaults 512 and every kind); ROUNDS=3 by
# default, PRESET=interactive, BASELINE=e008946.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/packages.sh
scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" age time python3 git

MIB=${1:-512}
shift || true
KINDS=("$@")
[ ${#KINDS[@]} -gt 0 ] || KINDS=(none bmp cab jpg lzh mid png wav gca ico tgz tbz mp3 cur avi zip)
ROUNDS=${ROUNDS:-3}
PRESET=${PRESET:-interactive}
BASELINE=${BASELINE:-e008946}
BUILD_DIR=${BUILD_DIR:-build-bench-strong}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DTOLVEX_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" -j2 --target tolvex-cli tolvex_templates >/dev/null
CLI="$PWD/$BUILD_DIR/bin/tolvex-cli"

WORK="$PWD/bench-out/strong"
mkdir -p "$WORK"
# Version 1's writer, from the history: a worktree of BASELINE built beside this one.
OLD="$WORK/baseline"
if [ ! -x "$OLD/build/bin/tolvex-cli" ]; then
    rm -rf "$OLD"
    git worktree prune
    git worktree add --detach "$OLD" "$BASELINE" >/dev/null 2>&1
    cmake -S "$OLD" -B "$OLD/build" -DCMAKE_BUILD_TYPE=Release -DTOLVEX_TESTS=OFF >/dev/null
    cmake --build "$OLD/build" -j2 --target tolvex-cli tolvex_templates >/dev/null
fi
V1="$OLD/build/bin/tolvex-cli"

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

# One version's round on one kind: "NAME_enc", "NAME_dec" and the key derivation alone.
round() { # NAME CLI KIND
    local name=$1 cli=$2 kind=$3 out="$WORK/out-$1"
    rm -rf "$out" && mkdir -p "$out"
    echo "${name}_kdfenc $(measure "$cli" encrypt --strong --kdf "$PRESET" -d "$kind" -q -o "$out/e" "$WORK/empty.bin")"
    echo "${name}_kdfdec $(measure "$cli" decrypt -q -o "$out/e-back" "$out"/e.*)"
    local enc
    enc=$(measure "$cli" encrypt --strong --kdf "$PRESET" -d "$kind" -q -o "$out/big" "$BIG")
    if ! ls "$out"/big.* >/dev/null 2>&1; then
        echo "$kind holds less than $MIB MiB: not timed" >&2 # mp3: bench/strong/run.sh 200 mp3
        rm -rf "$out"
        return
    fi
    echo "${name}_enc $enc"
    echo "${name}_dec $(measure "$cli" decrypt -q -o "$out/back" "$out"/big.*)"
    cmp "$BIG" "$out/back.bin"
    rm -rf "$out"
}

rm -f "$WORK/results.txt"
for ((r = 1; r <= ROUNDS; r++)); do
    round v1 "$V1" none >> "$WORK/results.txt"
    for kind in "${KINDS[@]}"; do
        round "v2-$kind" "$CLI" "$kind" >> "$WORK/results.txt"
    done
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
peak = lambda name: max(k for _, k in rows[name]) / 1024
print(f"{int(mib)} MiB, {len(rows['age_enc'])} rounds (medians), --kdf {preset}; MiB/s without "
      f"the key derivation, and against version 1")
def rate(version, what):
    seconds = med(f"{version}_{what}") - med(f"{version}_kdf{what}")
    return mib / max(seconds, 1e-3)
v1 = {w: rate("v1", w) for w in ("enc", "dec")}
print(f"  {'':12} {'encrypt':>18} {'decrypt':>18}  peak MiB")
print(f"  {'version 1':12} {v1['enc']:10.0f} MiB/s {'':6} {v1['dec']:10.0f} MiB/s {'':6}  {peak('v1_enc'):.0f}")
for name in sorted({n[3:-4] for n in rows if n.startswith('v2-') and n.endswith('_enc') and 'kdf' not in n}):
    e, d = rate(f"v2-{name}", "enc"), rate(f"v2-{name}", "dec")
    print(f"  {'v2 ' + name:12} {e:10.0f} MiB/s {e / v1['enc']:4.2f}x {d:10.0f} MiB/s {d / v1['dec']:4.2f}x  "
          f"{max(peak(f'v2-{name}_enc'), peak(f'v2-{name}_dec')):.0f}")
a_e, a_d = mib / med("age_enc"), mib / med("age_dec")
print(f"  {'age':12} {a_e:10.0f} MiB/s {a_e / v1['enc']:4.2f}x {a_d:10.0f} MiB/s {a_d / v1['dec']:4.2f}x  "
      f"{max(peak('age_enc'), peak('age_dec')):.0f}")
PY
