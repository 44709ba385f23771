#!/usr/bin/env bash
# Answers whether this machine can run the Windows tests: Wine is installed and its 32-bit loader
# actually starts. Installing wine32 succeeds even where the kernel runs no 32-bit programs, so
# only starting the loader tells.
#
# Prints one line: what Wine said of its version, or why it cannot run. Exits 0 when Wine runs,
# 1 when it does not. TOLVEX_WINE names the Wine program to try (a stand-in, in the tests);
# otherwise the one on the PATH.
set -uo pipefail

wine=${TOLVEX_WINE:-$(command -v wine || true)}
if [ -z "$wine" ]; then
    echo "Wine is not installed"
    exit 1
fi
if [ ! -x "$wine" ]; then
    echo "$wine is not a program"
    exit 1
fi

# --version only starts the loader: it needs no Wine prefix. Debian's wine script starts the
# 32-bit one whenever wine32 is installed.
said=$(WINEDEBUG=-all timeout 120 "$wine" --version 2>&1 </dev/null)
status=$?
if [ $status -eq 0 ]; then
    echo "Wine runs: $(printf '%s\n' "$said" | tail -n 1)"
    exit 0
fi
if printf '%s\n' "$said" | grep -q 'Exec format error'; then
    echo "this machine cannot run 32-bit programs (Exec format error)"
elif [ $status -eq 124 ]; then
    echo "Wine did not start within 120 seconds"
else
    last=$(printf '%s\n' "$said" | sed '/^[[:space:]]*$/d' | tail -n 1)
    echo "Wine does not start (exit $status${last:+: $last})"
fi
exit 1
