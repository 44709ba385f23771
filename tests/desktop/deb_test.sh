#!/usr/bin/env bash
# Packs the already-built tree into a .deb with CPack (nothing is rebuilt), runs lintian on it
# (errors fail the test; warnings are printed), unpacks it with dpkg-deb -x into a temporary
# root and runs the package from there: CLI round trip, start-up through the launcher,
# validators on the packaged desktop files.
# Usage: deb_test.sh BUILD_DIR X_WINDOW_TOOL
set -euo pipefail
BUILD=$1
XWIN=$2
source "$(dirname "$0")/checks.sh"
WORK=$(mktemp -d)
trap 'chmod -R u+w "$WORK" 2>/dev/null; rm -rf "$WORK"' EXIT

(cd "$BUILD" && cpack -G DEB -B "$WORK/pkg" > "$WORK/cpack.log" 2>&1) ||
    { cat "$WORK/cpack.log"; fail "cpack"; }
DEB=$(ls "$WORK"/pkg/tolvex_*.deb)
echo "package: $(basename "$DEB"), $(stat -c %s "$DEB") bytes"
DEPENDS=$(dpkg-deb -f "$DEB" Depends)
echo "Depends: $DEPENDS"
# Dependencies come from the binaries, not from a list kept by hand.
for lib in libqt6widgets6 liblhasa0 libdeflate0 libc6; do
    grep -q "$lib" <<< "$DEPENDS" || fail "Depends lacks $lib"
done

# Every tag is listed, none folded away.
lintian --tag-display-limit 0 "$DEB" > "$WORK/lintian.log" 2>&1 || true
cat "$WORK/lintian.log"
if grep -q '^E: ' "$WORK/lintian.log"; then
    fail "lintian reports errors"
fi

dpkg-deb -x "$DEB" "$WORK/root"
PREFIX=$WORK/root/usr
check_layout "$PREFIX"
validate_desktop_files "$PREFIX"
cli_round_trip "$PREFIX" "$WORK"
# Started as the menu starts it.
launcher_start_up "$PREFIX" "$WORK" "$XWIN" "$(menu_command "$PREFIX")"
echo "1 passed, 0 failed"
