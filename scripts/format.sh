#!/usr/bin/env bash
# Formats every C++ file the repository tracks with .clang-format, or with --check lists the
# files that differ and fails, changing nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
CLANG_FORMAT=${CLANG_FORMAT:-clang-format}
mapfile -d '' files < <(git ls-files -z -- '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
    differ=0
    for f in "${files[@]}"; do
        if ! "$CLANG_FORMAT" "$f" | cmp -s - "$f"; then
            echo "not formatted: $f"
            differ=1
        fi
    done
    [ "$differ" = 0 ] && echo "1 passed, 0 failed" && exit 0
    echo "0 passed, 1 failed (run scripts/format.sh or cmake --build BUILD --target format)"
    exit 1
fi
"$CLANG_FORMAT" -i "${files[@]}"
