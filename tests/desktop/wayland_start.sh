#!/usr/bin/env bash
# Starts the real program, from a copy of its folder, under a headless Wayland compositor
# (weston). With XWayland beside it and no platform chosen, the window opens on X11, where it
# can be placed, kept on top and dragged; a platform the user names is kept. With Wayland alone
# the program starts there and runs until SIGTERM ends it, with 0.
# Usage: wayland_start.sh BIN_DIR QT_PLATFORM_PLUGIN_DIR
set -euo pipefail
BIN=$1
PLUGINS=$2
SKIP=77
command -v weston > /dev/null || { echo "SKIP: weston is not installed"; exit $SKIP; }
[ -e "$PLUGINS/libqwayland-generic.so" ] ||
    { echo "SKIP: Qt's Wayland plugin (qt6-wayland) is not installed"; exit $SKIP; }

# Sanitized builds: leaks inside the system's Wayland, D-Bus and font libraries are not the
# program's.
SUPPRESSIONS=$(cd "$(dirname "$0")/../app" && pwd)/lsan.supp
export LSAN_OPTIONS="suppressions=$SUPPRESSIONS${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

WORK=$(mktemp -d)
compositor=
program=
cleanup() {
    [ -n "$program" ] && kill "$program" 2> /dev/null
    [ -n "$compositor" ] && kill "$compositor" 2> /dev/null && wait "$compositor" 2> /dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
cp -a "$BIN" "$WORK/program"
rm -f "$WORK/program/Save.ini"
mkdir "$WORK/tmp"
export TMPDIR="$WORK/tmp" # a lock of its own, whatever else runs on this machine
export XDG_RUNTIME_DIR="$WORK/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
export LANG=C.UTF-8 XDG_SESSION_TYPE=wayland # as a GNOME on Wayland session has it
unset QT_QPA_PLATFORM DISPLAY WAYLAND_DISPLAY XAUTHORITY LANGUAGE LC_ALL LC_MESSAGES
export WAYLAND_DISPLAY=tolvex-test
source "$(dirname "$0")/../support/checks.sh"
# True once the program handles SIGTERM (bit 15 of its caught-signals mask): its window is up.
catches_term() {
    local mask
    mask=$(awk '/^SigCgt:/ { print $2 }' "/proc/$program/status" 2> /dev/null) || return 1
    [ -n "$mask" ] && (( (16#$mask >> 14) & 1 ))
}
# Whether the running program has loaded this Qt platform plugin.
uses_plugin() { grep -q "/platforms/$1" "/proc/$program/maps"; }
wayland_window_shown() { grep -q 'set_title("Tolvex v3.10")' "$WORK/tolvex.log"; }
x_window_shown() { xwininfo -root -tree 2> /dev/null | grep -q '"Tolvex v3.10"'; }

# Starts the compositor with the given options; waits for its socket (and XWayland's display).
start_compositor() {
    weston --backend=headless-backend.so --no-config --idle-time=0 --socket="$WAYLAND_DISPLAY" \
        --log="$WORK/weston.log" "$@" > /dev/null 2>&1 &
    compositor=$!
    until_true test -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" || { cat "$WORK/weston.log"; exit 1; }
}
stop_compositor() {
    kill "$compositor"
    wait "$compositor" 2> /dev/null || true
    compositor=
}
# Starts the program; WAYLAND_DEBUG makes libwayland log each request the program sends.
start_program() {
    (cd "$WORK/program" && exec env WAYLAND_DEBUG=client "$@" ./tolvex 2> "$WORK/tolvex.log") &
    program=$!
    until_true catches_term || { echo "the program did not start"; cat "$WORK/tolvex.log"; exit 1; }
}
# Ends the program as the system does; true when it ended by itself with 0.
ends_on_term() {
    kill -TERM "$program"
    local status=0
    wait "$program" || status=$?
    program=
    [ $status -eq 0 ]
}

# Wayland alone.
start_compositor
start_program
check "with Wayland alone the program runs on Qt's Wayland plugin" uses_plugin libqwayland
check "and shows its window there" until_true wayland_window_shown
sleep 1
check "and keeps running" kill -0 "$program"
check "SIGTERM ends it with 0" ends_on_term
stop_compositor

if ! command -v Xwayland > /dev/null; then
    echo "SKIP: XWayland (package xwayland) is not installed"
    exit $SKIP
fi
start_compositor --xwayland
listening='xserver listening on display :[0-9]*'
until_true grep -q "$listening" "$WORK/weston.log" || { cat "$WORK/weston.log"; exit 1; }
DISPLAY=:$(grep -o "$listening" "$WORK/weston.log" | grep -o '[0-9]*$')
export DISPLAY
start_program
check "with XWayland and no platform chosen the program runs on X11" uses_plugin libqxcb
check "its window is on XWayland's display" until_true x_window_shown
check "and it ends on SIGTERM with 0" ends_on_term
start_program QT_QPA_PLATFORM=wayland
check "QT_QPA_PLATFORM=wayland is kept" uses_plugin libqwayland
check "the window is shown on Wayland" until_true wayland_window_shown
check "and not on XWayland's display" bash -c '! xwininfo -root -tree | grep -q Tolvex'
check "and it ends on SIGTERM with 0" ends_on_term
stop_compositor
exit $fail
