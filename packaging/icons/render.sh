#!/bin/sh
# Renders the PNG sizes of the icon from tolvex.svg (needs rsvg-convert, Debian librsvg2-bin).
# The PNGs are kept in the repository, so building needs no renderer.
set -eu
cd "$(dirname "$0")"
for size in 16 24 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" tolvex.svg -o "tolvex-$size.png"
done
