#!/usr/bin/env bash
# Files encoded by the Windows DLL (under Wine) decode with the Linux library, and the other
# way round, for every disguise kind and lengths around the block size. The two encodings of
# one file may differ only in the filler behind the recorded extension.
#   cross_platform.sh WINE-RUNNER WINDOWS-BIN LINUX-BIN
set -euo pipefail
export LC_ALL=C
wine_run=$1
windows_bin=$(cd "$2" && pwd)
linux_bin=$(cd "$3" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/tolvex-cross.XXXXXX")
trap 'rm -rf "$work"' EXIT
key=2468ACE0
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# One MakeCode call on each side; prints the result code. Tolvex.dat is read from the
# current folder, the program's own on both sides.
on_linux() { (cd "$linux_bin" && ./codec_call "$@"); }
dos() { echo "Z:${1//\//\\}"; }
on_windows() {
    local mode=$1 kind=$2 source=$3 base=$4
    (cd "$windows_bin" && "$wine_run" codec_call.exe "$mode" "$key" "$kind" 65536 \
        "$(dos "$source")" "$(dos "$base")" | tr -d '\r')
}
extension_of_kind() {
    case $1 in
    1) echo bmp ;; 2) echo cab ;; 3) echo jpg ;; 4) echo lzh ;; 5) echo mid ;; 6) echo png ;;
    7) echo wav ;; 8) echo gca ;; 9) echo ico ;; 10) echo tgz ;; 11) echo tbz ;; 12) echo mp3 ;;
    13) echo cur ;; 14) echo avi ;; 15) echo zip ;; *) echo tvx ;;
    esac
}
# The byte offsets where two encodings of one file may differ: the filler after the recorded
# extension, inside the 15-byte record behind the header of length H.
header_length() { # encoded file, record length 15 and content length known
    echo $(($(stat -c %s "$1") - 15 - $2))
}

lengths=(0 15 16 33 1048581)
# Source names: extensions of several lengths, up to all six bytes the record holds, and none.
# (Bytes above 0x7F mean other characters on the two systems, UTF-8 here and the ANSI code page
# there, so a name made of them names different files; the Windows tests cover them.)
names=(plain "a.x" "b.txt" "c.abcdef")
start=$(date +%s%N)
rounds=0
for kind in $(seq 0 15); do
    ext=$(extension_of_kind "$kind")
    for length in "${lengths[@]}"; do
        name=${names[$(((kind + length) % ${#names[@]}))]}
        dir="$work/k$kind-l$length"
        mkdir -p "$dir/src"
        head -c "$length" /dev/urandom >"$dir/src/$name"
        expected_name=$name
        # Linux -> Windows
        [ "$(on_linux 0 "$key" "$kind" 65536 "$dir/src/$name" "$dir/lin")" = 0 ] ||
            fail "Linux encoding, kind $kind, $length bytes"
        [ "$(on_windows 1 0 "$dir/lin.$ext" "$dir/from-lin")" = 0 ] ||
            fail "Windows decoding of a Linux file, kind $kind, $length bytes"
        case $name in *.*) out="$dir/from-lin.${name#*.}" ;; *) out="$dir/from-lin" ;; esac
        cmp -s "$dir/src/$expected_name" "$out" || fail "kind $kind, $length bytes: Linux -> Windows differs"
        # Windows -> Linux
        [ "$(on_windows 0 "$kind" "$dir/src/$name" "$dir/win")" = 0 ] ||
            fail "Windows encoding, kind $kind, $length bytes"
        [ "$(on_linux 1 "$key" 0 65536 "$dir/win.$ext" "$dir/from-win")" = 0 ] ||
            fail "Linux decoding of a Windows file, kind $kind, $length bytes"
        case $name in *.*) out="$dir/from-win.${name#*.}" ;; *) out="$dir/from-win" ;; esac
        cmp -s "$dir/src/$expected_name" "$out" || fail "kind $kind, $length bytes: Windows -> Linux differs"
        # Same bytes from both encoders, but for the filler.
        h=$(header_length "$dir/lin.$ext" "$length")
        recorded=${name#*.}
        [ "$recorded" = "$name" ] && recorded=""
        first_filler=$((h + 4 + ${#recorded} + 1)) # cmp counts from 1
        last_filler=$((h + 10))
        while read -r offset _ _; do
            if [ "$offset" -lt "$first_filler" ] || [ "$offset" -gt "$last_filler" ]; then
                fail "kind $kind, $length bytes: the encodings differ at byte $offset, outside the filler"
                break
            fi
        done < <(cmp -l "$dir/lin.$ext" "$dir/win.$ext" 2>/dev/null || true)
        [ "$(stat -c %s "$dir/lin.$ext")" = "$(stat -c %s "$dir/win.$ext")" ] ||
            fail "kind $kind, $length bytes: the encodings differ in length"
        rounds=$((rounds + 1))
    done
done
end=$(date +%s%N)
echo "$rounds files each way, 16 kinds x ${#lengths[@]} lengths, in $(((end - start) / 1000000)) ms"
[ "$failures" = 0 ] || exit 1
