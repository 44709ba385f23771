#!/usr/bin/env bash
# Packing benchmark: the archiver library beside `tar | gzip -6` and `jlha c`, on the same
# corpus in the same run. The corpus is g++ 12's libstdc++ `bits` headers plus the `cmake`
# executable (about 14 MB), copied into a temporary folder. Prints size and time of each.
# Not part of the test run. Uses hyperfine when installed, plain timing otherwise.
#   bench/archiver/run.sh [runs]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
runs=${1:-5}
build=${BUILD_DIR:-$root/build-bench-archiver}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTOLVEX_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target unlha32 >/dev/null
library="$build/bin/libunlha32.so"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus"
cp -r /usr/include/c++/12/bits "$work/corpus/"
cp "$(command -v cmake)" "$work/corpus/"
cc -O2 -o "$work/unlha_cli" "$here/unlha_cli.c" -ldl
corpus_bytes=$(du -sb "$work/corpus" | cut -f1)

ours="'$work/unlha_cli' '$library' 'a -d -r2 \"$work/ours.lzh\" \"$work/corpus/\" \"bits\" \"cmake\"'"
gzip6="tar -C '$work/corpus' -cf - bits cmake | gzip -6 > '$work/corpus.tar.gz'"
jlha="cd '$work/corpus' && jlha c '$work/jlha.lzh' bits cmake > /dev/null"
clean="rm -f '$work/ours.lzh' '$work/corpus.tar.gz' '$work/jlha.lzh'"

echo "corpus: $corpus_bytes bytes; $(nproc) cores; $runs runs each"
if command -v hyperfine >/dev/null; then
    hyperfine --style basic --warmup 1 --runs "$runs" --prepare "$clean" \
        -n "unlha32 a" "$ours" -n "tar | gzip -6" "$gzip6" -n "jlha c" "$jlha" \
        --export-json "$work/times.json" >&2
    python3 - "$work/times.json" > "$work/means" <<'PY'
import json, sys
for r in json.load(open(sys.argv[1]))["results"]:
    print(r["command"], r["mean"], r["stddev"], sep="\t")
PY
else
    : > "$work/means"
    for name in ours gzip6 jlha; do
        total=0
        for _ in $(seq "$runs"); do
            eval "$clean"
            start=$(date +%s%N)
            eval "${!name}"
            total=$((total + $(date +%s%N) - start))
        done
        printf '%s\t%s\t0\n' "$name" "$((total / runs / 1000))e-6" >> "$work/means"
    done
fi

# One more run of each for the sizes, then the table.
eval "$clean"
eval "$ours"
eval "$gzip6"
eval "$jlha"
lhasa t "$work/ours.lzh" > /dev/null
ours_size=$(stat -c %s "$work/ours.lzh")
gzip_size=$(stat -c %s "$work/corpus.tar.gz")
jlha_size=$(stat -c %s "$work/jlha.lzh")
python3 - "$work/means" "$ours_size" "$gzip_size" "$jlha_size" <<'PY'
import sys
times = [line.rstrip("\n").split("\t") for line in open(sys.argv[1])]
sizes = [int(s) for s in sys.argv[2:5]]
names = ["unlha32 a (-lh5-)", "tar | gzip -6", "jlha c (-lh5-)"]
print(f"{'packer':<20}{'bytes':>10}{'MB':>8}{'vs gzip':>9}{'mean s':>9}{'± s':>7}")
for name, size, (_, mean, dev) in zip(names, sizes, times):
    print(f"{name:<20}{size:>10}{size/1e6:>8.3f}{size/sizes[1]:>9.3f}{float(mean):>9.3f}{float(dev):>7.3f}")
PY
