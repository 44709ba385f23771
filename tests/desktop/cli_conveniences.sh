#!/usr/bin/env bash
# tolvex-cli's conveniences and its run path: --version, an --output-dir that does not exist yet (made as
# mkdir -p does, under the umask, and only once there is work for it), and the manual page and
# the bash completion knowing every option and disguise that --help lists.
# Usage: cli_conveniences.sh TOLVEX_CLI VERSION PACKAGING_DIR
set -euo pipefail
CLI=$1
VERSION=$2
PACKAGING=$3
source "$(dirname "$0")/checks.sh"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

[ "$("$CLI" --version)" = "tolvex-cli $VERSION" ] || fail "--version says $("$CLI" --version)"

# Libraries are looked for beside the program and in the system's folders, never in the folder
# the user runs it in: a planted library there must not be loaded.
mkdir planted
for lib in libdeflate.so.0 liblhasa.so.0 libstdc++.so.6 libc.so.6 libasan.so.8 libubsan.so.1; do
    echo "not a library" > "planted/$lib"
done
(cd planted && "$CLI" --version > /dev/null) || fail "tolvex-cli loaded a library from its working directory"
for f in "$(dirname "$CLI")"/{tolvex,tolvex-cli,libHalvet_Tolvex.so,libunlha32.so}; do
    runpath=$(readelf -d "$f" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
    [ "$runpath" = '$ORIGIN' ] || fail "$f has the run path '$runpath'"
done
rm -r planted

# A nested missing folder is made with the umask's modes.
head -c 5000 /dev/urandom > secret.bin
(umask 027 && TOLVEX_KEY=7 "$CLI" encrypt --quiet --output-dir out/deep/er secret.bin) ||
    fail "encrypt into a missing --output-dir"
[ -f out/deep/er/secret.tvx ] || fail "no output in the new folder"
for d in out out/deep out/deep/er; do
    [ "$(stat -c %a "$d")" = 750 ] || fail "$d has mode $(stat -c %a "$d") under umask 027"
done
TOLVEX_KEY=7 "$CLI" decrypt --quiet --output-dir back/again out/deep/er/secret.tvx
cmp secret.bin back/again/secret.bin || fail "round trip through created folders"

# No key: nothing to do, so no folder is made.
set +e
"$CLI" decrypt --output-dir never/made out/deep/er/secret.tvx < /dev/null 2> err.txt
status=$?
set -e
[ $status -eq 2 ] || fail "no key: exit status $status"
[ ! -e never ] || fail "a folder was made although nothing ran"

# A parent that is a file: a clear message, exit status 8, nothing written.
echo x > plain
set +e
TOLVEX_KEY=7 "$CLI" encrypt --output-dir plain/sub secret.bin 2> err.txt
status=$?
set -e
[ $status -eq 8 ] || fail "output folder under a file: exit status $status"
grep -q "cannot create the output folder: plain/sub" err.txt || fail "message: $(cat err.txt)"
[ "$(cat plain)" = x ] || fail "the file in the way changed"

# Every option of --help is in the manual page and in the completion; so is every disguise.
"$CLI" --help > help.txt
options=$(grep -oE -- '--[a-z][a-z-]+' help.txt | sort -u)
listed=$(sed -n '/--disguise KIND/,/--compress/p' help.txt | grep -oE '[a-z0-9]+ \([0-9]+\)')
disguises=$(cut -d' ' -f1 <<< "$listed")
# The list is whole when it numbers the kinds from 0 without a gap and the program refuses the
# number after its last: the count comes from the program's own table.
count=$(wc -l <<< "$listed")
numbers=$(grep -oE '\([0-9]+\)' <<< "$listed" | tr -d '()' | xargs)
[ "$count" -gt 1 ] && [ "$numbers" = "$(seq 0 $((count - 1)) | xargs)" ] ||
    fail "--help numbers the disguises $numbers"
"$CLI" encrypt --disguise $((count - 1)) no-such-file < /dev/null 2> err.txt || true
! grep -q "unknown disguise" err.txt || fail "the last disguise --help lists is refused"
"$CLI" encrypt --disguise "$count" no-such-file < /dev/null 2> err.txt || true
grep -q "unknown disguise '$count'" err.txt || fail "--help lists $count disguises, the program more"
page=$(zcat -f "$PACKAGING/man/tolvex-cli.1" | sed 's/\\-/-/g')
for o in $options; do
    grep -qe "$o" <<< "$page" || fail "the manual page lacks $o"
    [ "$o" = --version ] || grep -qe "$o" "$PACKAGING/tolvex-cli.bash-completion" ||
        fail "the completion lacks $o"
done

if [ -f /usr/share/bash-completion/bash_completion ]; then
    complete_words() {
        bash -c '
            source /usr/share/bash-completion/bash_completion
            source "$1"; shift
            COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
            _tolvex_cli tolvex-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
            printf "%s\n" "${COMPREPLY[@]}" | sort' _ "$PACKAGING/tolvex-cli.bash-completion" "$@"
    }
    [ "$(complete_words tolvex-cli enc)" = encrypt ] || fail "completing a command"
    [ "$(complete_words tolvex-cli encrypt --disguise '')" = "$(sort <<< "$disguises")" ] ||
        fail "completing disguises: $(complete_words tolvex-cli encrypt --disguise '' | xargs)"
    complete_words tolvex-cli decrypt --ke | grep -qx -- --keep-damaged || fail "decrypt options"
    complete_words tolvex-cli encrypt --ke | grep -qx -- --keep-damaged && fail "encrypt options"
    [ "$(complete_words tolvex-cli decrypt sec)" = secret.bin ] || fail "completing file names"
else
    echo "bash-completion is not installed: the completion itself was not run"
fi
echo "1 passed, 0 failed"
