#!/usr/bin/env bash
# The Windows tests' gating. With a Wine that cannot start (a stand-in failing as Wine's 32-bit
# loader does on a kernel without 32-bit support), scripts/windows-tests.sh still builds the DLL,
# checks its export table, starts no Windows program (not even to list tests), says why in one
# line and passes. Where the real Wine runs, the same build registers every Wine test.
#   gating_test.sh SOURCE_DIR WORK_DIR
set -euo pipefail
src=$1
work=$2
if ! command -v i686-w64-mingw32-g++-posix >/dev/null; then
    echo "SKIPPED: the mingw-w64 cross compiler is not installed (scripts/setup-windows-tests.sh)"
    exit 77
fi
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

mkdir -p "$work"
standin=$work/exec-format-wine
calls=$work/standin-calls
cat >"$standin" <<'STANDIN'
#!/bin/sh
echo "$*" >>"$(dirname "$0")/standin-calls"
echo "/usr/bin/wine: 40: exec: /usr/lib/wine/wine: Exec format error" >&2
exit 126
STANDIN
chmod +x "$standin"
: >"$calls"

build=$work/build
if ! output=$(TOLVEX_WINE=$standin "$src/scripts/windows-tests.sh" "$build" 2>&1); then
    echo "$output"
    echo "FAIL: scripts/windows-tests.sh failed with a Wine that cannot start"
    exit 1
fi
echo "$output" | head -n 2
echo "$output" | grep -v "^\[" | tail -n 12

echo "$output" | grep -qx \
    "Windows tests under Wine skipped: this machine cannot run 32-bit programs (Exec format error)" ||
    fail "no line says why the Wine tests were skipped"
echo "$output" | grep -Eq 'windows_exports \.+ +Passed' || fail "the export checks did not pass"
[ -f "$build/bin/Halvet_Tolvex.dll" ] || fail "no Halvet_Tolvex.dll was built"
registered=$(cd "$build" && ctest -N | sed -n 's/^ *Test *#[0-9]*: //p' | sort | tr '\n' ' ')
[ "$registered" = "windows_exports windows_under_wine " ] ||
    fail "with Wine unable to run, the tests registered are: $registered"
unexpected=$(grep -vx -- '--version' "$calls" || true)
[ -z "$unexpected" ] || fail "the stand-in Wine was asked to run: $unexpected"

if real_said=$(env -u TOLVEX_WINE "$src/scripts/probe-wine.sh"); then
    # The same build, configured with the real Wine, registers the Wine tests again.
    cmake -S "$src" -B "$build" >/dev/null
    listed=$(cd "$build" && ctest -N)
    echo "$listed" | grep -q 'windows_cross_platform' || fail "the cross-platform test is missing"
    echo "$listed" | grep -q 'windows_under_wine' && fail "the skip stays registered under a Wine that runs"
    total=$(echo "$listed" | sed -n 's/^Total Tests: //p')
    [ "${total:-0}" -gt 2 ] || fail "only ${total:-0} tests are registered under a Wine that runs"
    echo "with the real Wine ($real_said): $total tests registered"
else
    echo "the real Wine cannot run here ($real_said): its tests are registered where it runs"
fi

[ "$failures" = 0 ] || exit 1
echo "gating as expected"
