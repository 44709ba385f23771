#!/usr/bin/env bash
# Runs the real program on a virtual display under a window manager (openbox), from a copy of
# its folder, and uses it as a person would, through the accessibility bus as a screen reader
# does: checks what the window manager is told (size hints, the window kept above others), that
# the program keeps one native window throughout, the width after message boxes and with the
# panel open, the message boxes' buttons, the names screen readers announce, the first-start
# placement and the saved position, a second copy's refusal, and closing by the close box.
# Usage: e2e_window.sh BIN_DIR X_WINDOW_TOOL A11Y_PROBE
set -euo pipefail

if [ "${1:-}" = --desktop ]; then
    # Inside the virtual display and a session bus of its own.
    WORK=$2 XWIN=$3 PROBE=$4
    source "$(dirname "$0")/../support/checks.sh"
    info() { "$XWIN" --info "$1" > "$WORK/info" && source "$WORK/info"; }
    is_above() { info "$main"; [ "$above" = "$1" ]; }
    has_width() {
        info "$main"
        [ "$width" = "$1" ] && [ "$min_width" = "$1" ] && [ "$max_width" = "$1" ] &&
            [ "$height" = 226 ] && [ "$min_height" = 226 ] && [ "$max_height" = 226 ]
    }
    same_window() { info "$main"; [ "$((id))" = "$((main))" ]; }
    texts() { "$PROBE" "$1" dump | awk -F'\t' '$2 == "text" { print $3 }'; }
    buttons() { "$PROBE" "$1" dump | awk -F'\t' '$2 == "push button" { print $3 }' | paste -sd' '; }
    press() { "$PROBE" "$1" do "push button" "$2" press; }
    # Answers a message box and waits until it has gone.
    answer() { press "$1" "$2" && "$XWIN" --gone "$1"; }
    # Closes the program by its close box; false (and the program killed) if it does not end.
    close_program() {
        "$XWIN" --close "$main_name"
        for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
        if kill -0 $pid 2>/dev/null; then kill $pid; wait $pid || true; return 1; fi
        wait $pid || true
    }
    toggle() { "$PROBE" "Tolvex v3.10" do "$1" "$2" toggle; }
    settext() { "$PROBE" "$main_name" settext "$1" "$2"; }
    nth_text_is() { [ "$(texts "Tolvex v3.10" | sed -n "$1p")" = "$2" ]; }
    wait_box() { "$PROBE" "$1" dump > /dev/null; }

    openbox --sm-disable > "$WORK/openbox.log" 2>&1 &
    wm=$!
    "$XWIN" --wm || { echo "the window manager did not start"; exit 1; }
    cd "$WORK/program"
    ./tolvex 2> "$WORK/tolvex.log" &
    pid=$!
    main_name="Tolvex v3.10"
    info "$main_name"
    main=$(printf '0x%x' "$id") # the title changes while a job runs; the id must not
    check "the window is 462 x 226 and the size hints forbid any other size" has_width 462
    check "kept above other windows at start-up" [ "$above" = 1 ]
    check "the window manager offers neither resizing nor maximizing" \
        [ "$resizable" = 0 -a "$maximizable" = 0 ]
    check "on a first start the window manager places the window (not at 0,0)" \
        [ "$frame_x" -gt 0 -a "$frame_y" -gt 0 ]
    check "the position is saved once the window stands there" \
        until_true grep -q '^Top=[0-9]' "$WORK/program/Save.ini"

    # Screen readers: the names follow the captions, and a toggle action runs the mode handler.
    check "Text1 is announced by its label" nth_text_is 1 "↓に変換するファイル or フォルダを入れてください"
    toggle "radio button" "復号化"
    check "after a toggle to 復号化 Text1 is announced with the file-only wording" \
        until_true nth_text_is 1 "↓に変換するファイルを入れてください"
    check "and Text4 with the decryption wording" nth_text_is 2 "↓として復号化したファイルを保存します"
    check "and AUTO shows" until_true bash -c "'$PROBE' '$main_name' dump | grep -q \$'\tlabel\tAUTO\tshowing'"
    toggle "radio button" "暗号化"
    check "back in 暗号化 the wording follows" until_true nth_text_is 2 "↓として暗号化したファイルを保存します"

    # Keeping on top changes the state of the same window.
    toggle "check box" "前面表示"
    check "前面表示 off: no longer above" until_true is_above 0
    check "前面表示 off: the same window" same_window
    toggle "check box" "前面表示"
    check "前面表示 on: above again" until_true is_above 1
    check "前面表示 on: the same window" same_window

    # START with message boxes of every kind of button set.
    printf 'some content\n' > "$WORK/in.txt"
    settext 0 "$WORK/in.txt"
    settext 1 "$WORK/out"
    settext 2 1A2B
    press "$main_name" START
    wait_box "報告"
    check "while a box is open the window is not above" until_true is_above 0
    check "the report box has one button, OK" [ "$(buttons 報告)" = "OK" ]
    answer "報告" OK
    check "after the box the window is above again" until_true is_above 1
    check "START and its report keep the same window" same_window
    check "the width after a message box is still 462" has_width 462

    press "$main_name" START
    wait_box "エラー"
    check "the overwrite question reads OK / キャンセル" [ "$(buttons エラー)" = "OK キャンセル" ]
    answer "エラー" "キャンセル"
    until_true bash -c "'$XWIN' --info '$main_name' > /dev/null"

    toggle "radio button" "復号化"
    until_true nth_text_is 1 "↓に変換するファイルを入れてください"
    settext 0 "$WORK/out.tvx"
    settext 1 "$WORK/back"
    settext 2 1A2B
    press "$main_name" START
    wait_box "確認"
    check "the extraction question reads はい / いいえ" [ "$(buttons 確認 | sed 's/([A-Z])//g')" = "はい いいえ" ]
    answer "確認" "$(buttons 確認 | cut -d' ' -f2)"
    until_true bash -c "'$XWIN' --info '$main_name' > /dev/null"
    check "the decrypted archive is there" [ -f "$WORK/back.lzh" ]
    check "after three boxes the same window" same_window
    check "after three boxes the width is 462" has_width 462

    # The panel: only the program changes the width.
    press "$main_name" "参照"
    check "the open panel makes it 663 wide, and only that" until_true has_width 663
    check "open, it cannot be resized either" [ "$resizable" = 0 -a "$maximizable" = 0 ]
    press "$main_name" START # the decrypted file exists already: a question
    wait_box "エラー"
    answer "エラー" "キャンセル"
    check "open, after a message box it is still 663 wide" until_true has_width 663
    press "$main_name" "Cancel"
    check "closing the panel makes it 462 again" until_true has_width 462
    check "the panel keeps the same window" same_window

    # A second copy says so in a box of its own and ends; the first runs on.
    ./tolvex 2> /dev/null &
    second=$!
    "$XWIN" "エラー" > /dev/null || { echo "the second copy showed no message"; kill $second; exit 1; }
    "$XWIN" --close "エラー"
    set +e; wait $second; status=$?; set -e
    check "the second copy ended with 1" [ $status -eq 1 ]
    check "the first copy runs on" kill -0 $pid

    info "$main"
    placed_x=$frame_x placed_y=$frame_y
    check "the program ends when closed by its close box" close_program
    ini=$(tr -d '\r' < "$WORK/program/Save.ini")
    check "the saved left is where the window stood" grep -qx "Left=$((placed_x * 15))" <<< "$ini"
    check "the saved top is where the window stood" grep -qx "Top=$((placed_y * 15))" <<< "$ini"

    # The next start puts it back there.
    ./tolvex 2>> "$WORK/tolvex.log" &
    pid=$!
    info "$main_name"
    check "the next start opens where the window was" [ "$frame_x,$frame_y" = "$placed_x,$placed_y" ]
    check "and ends when closed" close_program

    # The strong option: a file and a folder, back through the window and through tolvex-cli;
    # a wrong passphrase writes nothing.
    ./tolvex 2>> "$WORK/tolvex.log" &
    pid=$!
    info "$main_name"
    printf 'strong content 強力\n' > "$WORK/secret.txt"
    mkdir -p "$WORK/tree/inner"
    printf 'alpha\n' > "$WORK/tree/a.txt"
    printf 'beta\n' > "$WORK/tree/inner/b.txt"
    strong_start() { # input, output base, passphrase, the passphrase again
        settext 0 "$1"
        settext 1 "$2"
        settext 2 "$3"
        press "$main_name" START
        wait_box "確認"
        "$PROBE" "確認" settext 0 "$4"
        answer "確認" OK
    }
    toggle "check box" "強力"
    toggle "check box" "圧縮有効"
    check "強力 on: the key box asks for a passphrase" \
        until_true bash -c "'$PROBE' '$main_name' dump | grep -q \$'\tlabel\t←にパスフレーズを入れてください。'"
    strong_start "$WORK/secret.txt" "$WORK/strong" "correct horse" "correct horse typo"
    wait_box "エラー"
    check "a second passphrase that differs is refused" \
        bash -c "'$PROBE' エラー dump | grep -q \$'\tlabel\tパスフレーズが一致しません。'"
    answer "エラー" OK
    check "and nothing is written" [ ! -e "$WORK/strong.tvx" ]
    strong_start "$WORK/secret.txt" "$WORK/strong" "correct horse" "correct horse"
    wait_box "報告"
    answer "報告" OK
    check "a strong file is written" [ -f "$WORK/strong.tvx" ]
    TOLVEX_PASSPHRASE="correct horse" ./tolvex-cli decrypt --quiet --output "$WORK/by-cli" \
        "$WORK/strong.tvx" > /dev/null 2>&1 || true
    check "tolvex-cli decrypts the window's strong file byte for byte" cmp -s "$WORK/secret.txt" "$WORK/by-cli.txt"
    toggle "check box" "圧縮有効"
    strong_start "$WORK/tree" "$WORK/strong-tree" "pw for the tree" "pw for the tree"
    wait_box "報告"
    answer "報告" OK
    check "a strong folder is written" [ -f "$WORK/strong-tree.tvx" ]

    toggle "radio button" "復号化"
    until_true nth_text_is 1 "↓に変換するファイルを入れてください"
    settext 0 "$WORK/strong.tvx"
    toggle "check box" "強力"
    check "decrypting, 強力 makes the key box take a passphrase" \
        until_true bash -c "'$PROBE' '$main_name' dump | grep -q \$'\tlabel\t←にパスフレーズを入れてください。'"
    before=$(ls -A "$WORK" | sort)
    settext 1 "$WORK/wrong"
    settext 2 "incorrect horse"
    press "$main_name" START
    wait_box "エラー"
    check "a wrong passphrase gets its message, which says the file may be no Tolvex file" \
        bash -c "'$PROBE' エラー dump | grep -q \$'\tlabel\tTolvexファイルでは無いか、またはパスフレーズが間違っています。'"
    answer "エラー" OK
    check "and writes nothing" [ "$(ls -A "$WORK" | sort)" = "$before" ]
    settext 1 "$WORK/back-strong"
    settext 2 "correct horse"
    press "$main_name" START
    wait_box "報告"
    answer "報告" OK
    check "the window decrypts its strong file byte for byte" cmp -s "$WORK/secret.txt" "$WORK/back-strong.txt"

    mkdir "$WORK/restore"
    settext 0 "$WORK/strong-tree.tvx"
    settext 1 "$WORK/restore/tree"
    settext 2 "pw for the tree"
    press "$main_name" START
    wait_box "確認"
    press "確認" "$(buttons 確認 | cut -d' ' -f1)" # extract; the next box has the same title
    until_true bash -c "'$PROBE' 確認 dump | grep -q 'lzhファイルを削除しますか'"
    answer "確認" "$(buttons 確認 | cut -d' ' -f1)" # and delete the archive
    until_true bash -c "'$XWIN' --info '$main_name' > /dev/null"
    check "the strong folder comes back through the window" \
        diff -r "$WORK/tree" "$WORK/restore/tree"
    printf 'made by tolvex-cli\n' > "$WORK/cli-made.txt"
    TOLVEX_PASSPHRASE="cli pw" ./tolvex-cli encrypt --quiet --strong --kdf interactive \
        --output "$WORK/cli-made" "$WORK/cli-made.txt" > /dev/null 2>&1 || true
    settext 0 "$WORK/cli-made.tvx"
    settext 1 "$WORK/from-cli"
    settext 2 "cli pw"
    press "$main_name" START
    wait_box "報告"
    answer "報告" OK
    check "the window decrypts tolvex-cli's strong file byte for byte" \
        cmp -s "$WORK/cli-made.txt" "$WORK/from-cli.txt"
    toggle "radio button" "暗号化"
    toggle "check box" "強力" # off again, as the English start below expects
    check "and ends when closed" close_program

    # Under an English locale the window and its boxes speak English.
    LANG=en_US.UTF-8 ./tolvex 2>> "$WORK/tolvex.log" &
    pid=$!
    info "$main_name"
    check "in English: the mode buttons" \
        until_true bash -c "'$PROBE' '$main_name' dump | grep -q \$'\tradio button\tEncrypt\t'"
    check "in English: Text1's name" nth_text_is 1 "↓ Put the file or folder to convert below"
    settext 2 ""
    press "$main_name" START
    wait_box "Error"
    check "in English: the message" \
        bash -c "'$PROBE' Error dump | grep -q \$'\tlabel\tNo key code has been entered.\t'"
    check "in English: its button" [ "$(buttons Error)" = "OK" ]
    answer "Error" OK
    check "in English: ends when closed" close_program
    kill $wm 2>/dev/null || true
    wait $wm 2>/dev/null || true
    exit $fail
fi

BIN=$1
XWIN=$2
PROBE=$3
HERE=$(cd "$(dirname "$0")" && pwd)
# Sanitized builds: leaks inside the system's D-Bus and accessibility libraries are not the
# program's.
export LSAN_OPTIONS="suppressions=$HERE/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cp -a "$BIN" "$WORK/program"
rm -f "$WORK/program/Save.ini"
mkdir "$WORK/tmp"
export TMPDIR="$WORK/tmp" # a lock of its own, whatever else runs on this machine
export QT_QPA_PLATFORM=xcb
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
export LANG=C.UTF-8 # the window is Japanese whatever the locale
unset WAYLAND_DISPLAY LANGUAGE LC_ALL LC_MESSAGES
export XDG_RUNTIME_DIR="$WORK/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"

set +e
xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
    dbus-run-session -- "$0" --desktop "$WORK" "$XWIN" "$PROBE" 2> "$WORK/stderr"
status=$?
set -e
if [ $status -ne 0 ]; then
    echo "--- standard error:"; cat "$WORK/stderr"
    echo "--- the program's:"; cat "$WORK/tolvex.log" 2>/dev/null || true
    echo "0 passed, 1 failed"
    exit 1
fi
echo "1 passed, 0 failed"
