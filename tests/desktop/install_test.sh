#!/usr/bin/env bash
# Installs the build into a temporary prefix with cmake --install, moves the tree elsewhere
# (the launchers must find the program relative to themselves), and runs it from there: the
# CLI round trip, the window's start-up through the launcher, settings with a read-only
# program folder, and the validators on the installed desktop files.
# Usage: install_test.sh BUILD_DIR X_WINDOW_TOOL
set -euo pipefail
BUILD=$1
XWIN=$2
source "$(dirname "$0")/checks.sh"
WORK=$(mktemp -d)
trap 'chmod -R u+w "$WORK" 2>/dev/null; rm -rf "$WORK"' EXIT

cmake --install "$BUILD" --prefix "$WORK/installed" > "$WORK/install.log" ||
    { cat "$WORK/install.log"; fail "cmake --install"; }
mv "$WORK/installed" "$WORK/moved"
PREFIX=$WORK/moved
check_layout "$PREFIX"
validate_desktop_files "$PREFIX"
cli_round_trip "$PREFIX" "$WORK"
# Started through a link from another bin folder, as a user's ~/bin or /usr/local/bin may hold.
mkdir "$WORK/bin"
ln -s "$PREFIX/bin/tolvex" "$WORK/bin/tolvex"
launcher_start_up "$PREFIX" "$WORK" "$XWIN" "$WORK/bin/tolvex"
read_only_settings "$PREFIX" "$WORK"
echo "1 passed, 0 failed"
