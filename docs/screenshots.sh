#!/usr/bin/env bash
# Takes the README's pictures of the window: the real program on a virtual display under openbox,
# driven through the accessibility bus. The program's copy and the sample input lie in
# /home/user on a private file system mounted over /home for this run only, so no real folder
# shows. Needs root (for
# the private mount) and a test build (for the two helper tools).
# Usage: docs/screenshots.sh [BUILD_DIR]   (default build-test; writes docs/*.png)
set -euo pipefail

if [ "${1:-}" = --desktop ]; then
    BIN=$2 XWIN=$3 PROBE=$4 OUT=$5
    shot() { # window id, file name: the window with its frame, plus a margin
        local info
        info=$("$XWIN" --info "$1")
        eval "$info"
        import -window root -crop "$((frame_width + 24))x$((frame_height + 24))+$((frame_x - 12))+$((frame_y - 12))" \
            +repage "$OUT/$2"
    }
    openbox --sm-disable > /dev/null 2>&1 &
    wm=$!
    "$XWIN" --wm
    mkdir -p "/home/user/文書"
    printf 'quarterly figures\n' > "/home/user/文書/報告書.docx"
    program=/home/user/tolvex
    mkdir -p "$program"
    cp -a "$BIN/." "$program/"
    rm -f "$program/Save.ini"
    cd "$program"
    ./tolvex 2> /dev/null &
    pid=$!
    main_name="Tolvex v3.10"
    eval "$("$XWIN" --info "$main_name")"
    main=$(printf '0x%x' "$id")
    "$PROBE" "$main_name" do "radio button" ".png" toggle
    "$PROBE" "$main_name" settext 0 "/home/user/文書/報告書.docx"
    "$PROBE" "$main_name" settext 1 "/home/user/文書/Tolvex"
    "$PROBE" "$main_name" settext 2 "1A2B"
    sleep 1
    shot "$main" window.png

    "$PROBE" "$main_name" do "push button" "参照" press
    sleep 1
    shot "$main" window-panel.png
    "$PROBE" "$main_name" do "push button" "Cancel" press

    # A question: START once, then again over the file it made.
    "$PROBE" "$main_name" do "push button" START press
    "$PROBE" "報告" do "push button" OK press
    sleep 1
    "$PROBE" "$main_name" do "push button" START press
    "$PROBE" "エラー" dump > /dev/null
    sleep 1
    shot "$main" message.png
    "$PROBE" "エラー" do "push button" "キャンセル" press

    # The strong option: the key box takes a passphrase, shown as dots.
    "$PROBE" "$main_name" do "check box" "強力" toggle
    sleep 1
    "$PROBE" "$main_name" settext 2 "correct horse battery"
    sleep 1
    shot "$main" window-strong.png
    "$XWIN" --close "$main_name"
    wait $pid || true

    # The English window, from the same first start.
    rm -f "$program/Save.ini"
    TOLVEX_LANGUAGE=en ./tolvex 2> /dev/null &
    pid=$!
    eval "$("$XWIN" --info "$main_name")"
    main=$(printf '0x%x' "$id")
    "$PROBE" "$main_name" do "radio button" ".png" toggle
    "$PROBE" "$main_name" settext 0 "/home/user/Documents/report.docx"
    "$PROBE" "$main_name" settext 1 "/home/user/Documents/Tolvex"
    "$PROBE" "$main_name" settext 2 "1A2B"
    sleep 1
    shot "$main" window-en.png
    "$PROBE" "$main_name" do "check box" "Strong" toggle
    sleep 1
    "$PROBE" "$main_name" settext 2 "correct horse battery"
    sleep 1
    shot "$main" window-strong-en.png
    "$XWIN" --close "$main_name"
    wait $pid || true
    kill $wm || true
    exit 0
fi

HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=$(cd "${1:-$HERE/../build-test}" && pwd)
[ "$(id -u)" = 0 ] || { echo "run as root (the sample folder is mounted privately)"; exit 1; }
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 LANG=C.UTF-8 LSAN_OPTIONS=detect_leaks=0
unset LANGUAGE LC_ALL LC_MESSAGES
unshare --mount --propagation private bash -c '
    mount -t tmpfs none /home
    xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" dbus-run-session -- "$@"
' _ "$0" --desktop "$BUILD/bin" "$BUILD/tests/app/x_window" "$BUILD/tests/app/a11y_probe" "$HERE" \
    2> /dev/null
echo "written: $HERE/window.png $HERE/window-panel.png $HERE/message.png $HERE/window-strong.png $HERE/window-en.png $HERE/window-strong-en.png"
