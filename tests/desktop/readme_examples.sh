#!/usr/bin/env bash
# Runs every ```console example of the README exactly as written, in one shell per block, in a
# fresh folder holding the files the examples talk about, with HOME pointing there; each
# command must succeed and print exactly the lines that follow it in the README.
# Usage: readme_examples.sh README.md PROGRAM_FOLDER
set -euo pipefail
README=$1
BIN=$2
source "$(dirname "$0")/checks.sh"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# The user's files the examples name.
make_scene() {
    local scene=$1
    mkdir -p "$scene/photos/2024"
    head -c 48213 /dev/urandom > "$scene/holiday.jpg"
    head -c 20000 /dev/urandom > "$scene/photos/2024/beach.jpg"
    head -c 30000 /dev/urandom > "$scene/photos/2024/harbour.jpg"
    echo "Ferry at nine." > "$scene/notes.txt"
}

# Splits the README's console blocks into block-N/cmd-M (the command) and block-N/out-M (the
# lines after it, trailing blank lines dropped).
awk -v dir="$WORK/blocks" '
    function flush() { if (cmd > 0) { while (n > 0 && lines[n] == "") n--;
                           for (i = 1; i <= n; i++) print lines[i] > (dir "/" block "/out-" cmd);
                           printf "" > (dir "/" block "/out-" cmd); n = 0 } }
    /^```console$/ { inside = 1; block++; cmd = 0; n = 0; system("mkdir -p " dir "/" block); next }
    inside && /^```$/ { flush(); inside = 0; next }
    inside && /^\$ / { flush(); cmd++; print substr($0, 3) > (dir "/" block "/cmd-" cmd); next }
    inside { lines[++n] = $0 }
' "$README"
[ -d "$WORK/blocks" ] || fail "the README has no console examples"

failed=0
count=0
for block in $(ls "$WORK/blocks" | sort -n); do
    scene="$WORK/scene-$block"
    make_scene "$scene"
    # One shell per block, as a person types the commands one after another.
    script="$WORK/run-$block.sh"
    {
        echo "cd \"$scene\""
        for c in $(ls "$WORK/blocks/$block" | grep '^cmd-' | sed 's/cmd-//' | sort -n); do
            echo "{ $(cat "$WORK/blocks/$block/cmd-$c")
} > \"$WORK/got-$block-$c\" 2>&1 < /dev/null; echo \$? > \"$WORK/status-$block-$c\""
        done
    } > "$script"
    env -u TOLVEX_KEY HOME="$scene" PATH="$BIN:$PATH" bash "$script"
    for c in $(ls "$WORK/blocks/$block" | grep '^cmd-' | sed 's/cmd-//' | sort -n); do
        count=$((count + 1))
        command=$(cat "$WORK/blocks/$block/cmd-$c")
        status=$(cat "$WORK/status-$block-$c")
        if [ "$status" -ne 0 ]; then
            echo "FAILED (exit status $status): \$ $command"
            cat "$WORK/got-$block-$c"
            failed=$((failed + 1))
        elif ! diff -u "$WORK/blocks/$block/out-$c" "$WORK/got-$block-$c" > "$WORK/diff"; then
            echo "FAILED (output differs from the README): \$ $command"
            cat "$WORK/diff"
            failed=$((failed + 1))
        else
            echo "ok: \$ $command"
        fi
    done
done
echo "$((count - failed)) passed, $failed failed"
[ $failed -eq 0 ]
