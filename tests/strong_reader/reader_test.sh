#!/usr/bin/env bash
# docs/strong-format.md against the program: strong_reader.py, written from that page alone,
# must read the known-answer files and what tolvex-cli writes, and refuse what was changed.
# Usage: reader_test.sh TOLVEX_CLI [TOLVEX_DAT]   (Tolvex.dat: beside the program by default)
set -euo pipefail
# Nothing written into the source tree.
export PYTHONDONTWRITEBYTECODE=1

cli=${1:?usage: reader_test.sh TOLVEX_CLI [TOLVEX_DAT]}
template=${2:-$(dirname "$cli")/Tolvex.dat}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
reader=$here/strong_reader.py
vectors=$here/../data/strong

skip() {
    echo "strong_reader skipped: $1"
    exit 77
}

# The first python3 that has PyNaCl: a pyenv or virtualenv python3 on PATH may lack the
# Debian package that the system one has.
python=
seen_python=
for candidate in ${PYTHON:-} python3 /usr/bin/python3; do
    command -v "$candidate" >/dev/null 2>&1 || continue
    seen_python=yes
    if "$candidate" -c 'import nacl.bindings' >/dev/null 2>&1; then
        python=$candidate
        break
    fi
done
[[ -n $seen_python ]] || skip "python3 not found"
[[ -n $python ]] || skip "PyNaCl (python3-nacl) not installed"
[[ -x $cli ]] || { echo "FAIL: $cli is not a program"; exit 1; }
[[ -f $template ]] || { echo "FAIL: no Tolvex.dat at $template"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

read_strong() { # PASSPHRASE FILE OUTPUT [more reader options]: the recorded name on stdout
    local pass=$1 file=$2 out=$3
    shift 3
    TOLVEX_PASSPHRASE=$pass "$python" "$reader" --output "$out" "$@" "$file"
}

# What strong_vector_test.cpp encrypted.
printf 'Tolvex strong vector\n' >"$work/vector.txt"
"$python" -c 'import sys; sys.stdout.buffer.write(bytes(i * 7 % 251 for i in range(70000)))' \
    >"$work/pattern.bin"
: >"$work/empty"

# (a) The known-answer files: content and name, and headers as Tolvex.dat gives them.
while read -r file name; do
    if ! got=$(read_strong "vector passphrase" "$vectors/$file" "$work/out" \
        --check-header "$template"); then
        fail "$file does not decrypt"
        continue
    fi
    [[ ${got%%$'\n'*} == "$name" ]] || fail "$file: recorded name '$got', expected '$name'"
    cmp -s "$work/out" "$work/$name" || fail "$file: content differs"
done <<'VECTORS'
vector-none.tvx vector.txt
vector-png.png pattern.bin
vector-empty.avi empty
vector2-none.tvx vector.txt
VECTORS
echo "known-answer files read"

# The passphrase rule: a key file's one line, its line end and outer ASCII white space dropped.
printf ' \tvector passphrase \r\n' >"$work/key"
if got=$("$python" "$reader" --passphrase-file "$work/key" --output "$work/out" \
    "$vectors/vector-none.tvx") && [[ ${got%%$'\n'*} == vector.txt ]]; then
    cmp -s "$work/out" "$work/vector.txt" || fail "key file: content differs"
else
    fail "a key file with spaces and CRLF around the passphrase is not the same passphrase"
fi
printf 'vector passphrase\nsecond line\n' >"$work/key"
if "$python" "$reader" --passphrase-file "$work/key" --output "$work/out" \
    "$vectors/vector-none.tvx" >/dev/null 2>&1; then
    fail "a key file of two lines is accepted"
fi

# (b) What tolvex-cli writes: version 2, in every kind's container, around the chunk size.
# The reader tells the version, the kind it found and the preset that opened the file.
kinds=(none bmp cab jpg lzh mid png wav gca ico tgz tbz mp3 cur avi zip)
names=("plain.txt" "photo of the sea.jpeg" "ünïcode-ß.tar.gz" "no extension" ".hidden")
pass="  a strong test passphrase  "
cut_pass="a strong test passphrase"
mkdir "$work/in" "$work/enc"
n=0
for kind in "${kinds[@]}"; do
    for size in 0 65537 200000; do
        dir=$work/in/$kind-$size
        mkdir "$dir"
        name=${names[$((n++ % ${#names[@]}))]}
        source=$dir/$name
        head -c "$size" /dev/urandom >"$source"
        encrypted=$work/enc/$kind-$size
        if ! TOLVEX_PASSPHRASE=$pass "$cli" encrypt --strong --kdf interactive -d "$kind" -q \
            -o "$encrypted" "$source"; then
            fail "tolvex-cli cannot encrypt $kind-$size"
            continue
        fi
        encrypted=$(ls "$encrypted".*)
        # The passphrase is cut as the page says: the reader gets it without the spaces.
        if ! got=$(read_strong "$cut_pass" "$encrypted" "$work/out"); then
            fail "$kind-$size: the reader refuses what tolvex-cli wrote"
            continue
        fi
        [[ $got == "$name"$'\n'"2 $kind interactive" ]] ||
            fail "$kind-$size: the reader says '$got'"
        cmp -s "$work/out" "$source" || fail "$kind-$size: content differs"
    done
done
echo "files written by tolvex-cli read"

# The output is named from the recorded name's extension only.
mkdir "$work/named"
if got=$(TOLVEX_PASSPHRASE=$cut_pass "$python" "$reader" --output-base "$work/named/back" \
    "$(ls "$work/enc/none-65537".*)"); then
    [[ -f $work/named/back.jpeg ]] || fail "the output is not named back.jpeg: $(ls "$work/named")"
else
    fail "--output-base: the reader refuses"
fi

# (c) One byte changed, a file cut short, one byte more (kind 0 is its body), a wrong
# passphrase: refused, nothing written. A change before the metadata verified reads as a wrong
# passphrase and costs every key derivation: one such case is enough.
refused() { # FILE WHAT
    rm -f "$work/out"
    if read_strong "$cut_pass" "$1" "$work/out" >/dev/null 2>"$work/why"; then
        fail "$2 is accepted"
    elif [[ -e $work/out ]]; then
        fail "$2 leaves an output"
    fi
}
sample=$(ls "$work/enc/none-200000".*)
total=$(stat -c %s "$sample")
for at in 100 323 $((323 + 65553 + 7)) $((total - 1)); do
    cp "$sample" "$work/changed"
    "$python" -c 'import sys
path, at = sys.argv[1], int(sys.argv[2])
with open(path, "r+b") as f:
    f.seek(at)
    b = f.read(1)
    f.seek(at)
    f.write(bytes([b[0] ^ 0x01]))' "$work/changed" "$at"
    refused "$work/changed" "a file with byte $at changed"
done
for length in $((total - 1)) $((323 + 65553)) $((323 + 17)) 323; do
    head -c "$length" "$sample" >"$work/cut"
    refused "$work/cut" "a file cut to $length bytes"
done
cp "$sample" "$work/longer"
printf 'x' >>"$work/longer"
refused "$work/longer" "a file with a byte appended"
rm -f "$work/out"
if TOLVEX_PASSPHRASE="another passphrase" "$python" "$reader" --output "$work/out" \
    "$(ls "$work/enc/png-65537".*)" >/dev/null 2>&1; then
    fail "a wrong passphrase is accepted"
fi
echo "changed and cut files refused"

if ((failures)); then
    echo "$failures failures"
    exit 1
fi
echo "strong_reader: all checks passed"
