#!/usr/bin/env bash
# Prepares this machine for the Windows build and its tests: the mingw-w64 cross compiler for
# 32-bit Windows, Wine to run what it builds, and the Japanese locale whose code page Wine uses.
# Wine's 32-bit half needs Debian's i386 architecture, which this script adds to dpkg; nothing
# else runs it, so ./test.sh never changes a machine's architectures behind its owner's back.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "Adding the i386 architecture to dpkg (for wine32)"
    $SUDO dpkg --add-architecture i386
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
fi
scripts/ensure-packages.sh "${WINDOWS_TEST_PACKAGES[@]}"
# Wine takes its ANSI code page from the locale: the tests of Japanese file names need 932,
# which it uses under ja_JP.UTF-8.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8'; then
    echo "Adding the ja_JP.UTF-8 locale (for Wine's Japanese code page)"
    $SUDO localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
# wine32 installs even where the kernel runs no 32-bit programs: say what ./test.sh will do.
if wine_said=$(scripts/probe-wine.sh); then
    echo "Windows set-up done; ./test.sh runs the DLL's tests under Wine ($wine_said)."
else
    echo "Windows set-up done; ./test.sh builds the DLL and checks its export table."
    echo "Windows tests under Wine skipped: $wine_said"
fi
