#!/usr/bin/env bash
# Runs the real program on a virtual display from a copy of its folder, checks its window as a
# person sees it, lets a second copy refuse to start, closes the first by its close box and
# reads the settings file it wrote.
# Usage: e2e_window.sh BIN_DIR X_WINDOW_TOOL
set -euo pipefail
BIN=$1
XWIN=$2
HERE=$(cd "$(dirname "$0")" && pwd)
# Sanitized builds: leaks inside the system's D-Bus library are not the program's.
export LSAN_OPTIONS="suppressions=$HERE/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cp -a "$BIN" "$WORK/program"
mkdir "$WORK/tmp"
export TMPDIR="$WORK/tmp" # a lock of its own, whatever else runs on this machine
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY

xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" bash -c '
    cd "$1/program"
    ./tolvex &
    pid=$!
    "$2" "Tolvex v3.10" > "$1/geometry"
    # A second copy says so in a box of its own and ends; the first runs on.
    ./tolvex &
    second=$!
    "$2" "エラー" > /dev/null || { echo "the second copy showed no message"; kill $second; exit 1; }
    "$2" --close "エラー"
    set +e; wait $second; status=$?; set -e
    [ $status -eq 1 ] || { echo "the second copy ended with $status"; exit 1; }
    kill -0 $pid || { echo "the first copy ended too"; exit 1; }
    "$2" --close "Tolvex v3.10"
    for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
    if kill -0 $pid 2>/dev/null; then echo "the program did not end when closed"; kill $pid; exit 1; fi
    wait $pid
' _ "$WORK" "$XWIN"

read -r _ width height < "$WORK/geometry"
echo "window: ${width}x${height}"
fail=0
# 6930 twips wide collapsed and 3390 twips high at 96 dpi (15 twips a pixel).
[ "$width" -eq 462 ] || { echo "width $width, expected 462"; fail=1; }
[ "$height" -eq 226 ] || { echo "height $height, expected 226"; fail=1; }

INI="$WORK/program/Save.ini"
[ -f "$INI" ] || { echo "no Save.ini written"; exit 1; }
cat "$INI"
for line in '\[Save\]' '^Save=1' '^Lzh=1' '^TOPMOST=1' '\[Pos\]' '^Top=-?[0-9]+' '^Left=-?[0-9]+'; do
    grep -Eq "$line" <(tr -d '\r' < "$INI") || { echo "Save.ini lacks $line"; fail=1; }
done
[ $fail -eq 0 ] && echo "1 passed, 0 failed" || { echo "0 passed, 1 failed"; exit 1; }
