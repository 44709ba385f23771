#!/usr/bin/env bash
# Builds the Debian package build-deb/tolvex_VERSION-1_ARCH.deb: a release build with Debian's
# hardening flags into build-deb/, packed by CPack (dependencies computed from the binaries by
# dpkg-shlibdeps), then checked with lintian. Install it with
#   sudo apt install ./build-deb/tolvex_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
# CPack finds the binaries for dpkg-shlibdeps with file(1).
scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" dpkg-dev file lintian

BUILD_DIR=${BUILD_DIR:-build-deb}
# dpkg-buildflags gives what Debian builds its own packages with (fortify, stack protector,
# relro, bindnow); CMake reads no CPPFLAGS, so those go with the compiler flags.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CPPFLAGS=$(dpkg-buildflags --get CPPFLAGS)
export CFLAGS="$(dpkg-buildflags --get CFLAGS) $CPPFLAGS"
export CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $CPPFLAGS"
export LDFLAGS=$(dpkg-buildflags --get LDFLAGS)

cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DTOLVEX_TESTS=OFF > /dev/null
cmake --build "$BUILD_DIR" -j2
rm -f "$BUILD_DIR"/tolvex_*.deb
(cd "$BUILD_DIR" && cpack -G DEB -B "$PWD" > cpack.log) || { cat "$BUILD_DIR/cpack.log"; exit 1; }
DEB=$(ls "$BUILD_DIR"/tolvex_*.deb)
echo "Built $DEB ($(du -h "$DEB" | cut -f1))"
dpkg-deb -f "$DEB" Package Version Architecture Installed-Size Depends Recommends
lintian "$DEB" || true
echo "Install it with: sudo apt install ./$DEB"
