# Package lists shared by run.sh and test.sh.
# What building the program needs.
BUILD_PACKAGES=(build-essential cmake pkg-config libdeflate-dev zlib1g-dev libbz2-dev liblhasa-dev libsodium-dev
    libmp3lame-dev libjpeg-dev
    qt6-base-dev fonts-noto-cjk libxcb1-dev qt6-translations-l10n
    qt6-l10n-tools)
# What the test suite needs on top of that.
# The disguise tests show disguised files to the tools that open their types; the last line holds
# the validators each kind is judged by (tests/validators).
TEST_PACKAGES=(libgtest-dev file imagemagick ffmpeg cabextract lhasa bzip2 gzip tar unzip
    libarchive-tools 7zip jlha-utils xvfb xauth libx11-dev openbox at-spi2-core dbus
    libatspi2.0-dev lintian desktop-file-utils appstream dpkg-dev man-db bash-completion x11-utils
    clang-format python3-nacl weston qt6-wayland xwayland
    pngcheck jpeginfo sox mp3val libimage-exiftool-perl python3-mido gcab zip lame)
# The 32-bit Windows build of the codec library (with the native tools it runs: the template
# generator and the Linux side of its tests) and its tests under Wine; installed only by
# scripts/setup-windows-tests.sh, since wine32 needs the i386 architecture.
WINDOWS_TEST_PACKAGES=(build-essential cmake pkg-config libdeflate-dev zlib1g-dev libbz2-dev
    libgtest-dev g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine wine32:i386 locales)
