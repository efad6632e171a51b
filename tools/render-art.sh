#!/bin/sh
# Renders every committed PNG of the programs' art from its SVG source with
# rsvg-convert (Debian package librsvg2-bin). Run it after changing an SVG
# and commit the PNGs; the build itself only reads the PNGs.
#
#   packaging/icons/<prog>.svg        desktop icons 32..256 px, the client's window icon
#   packaging/icons/<prog>-small.svg  the same drawn on the pixel grid for 16 px
#   docs/art/banner.svg               banner of the version window (201 x 97)
#   docs/art/tool-*.svg               the four tool tabs of the main window (16 and 32 px)
set -eu
cd "$(dirname "$0")/.."
command -v rsvg-convert >/dev/null || {
    echo "rsvg-convert not found: apt-get install librsvg2-bin" >&2
    exit 1
}
render() { # svg width height png
    rsvg-convert -w "$2" -h "$3" "$1" -o "$4"
    echo "$4"
}
for prog in sketora sketoraServer; do
    render "packaging/icons/$prog-small.svg" 16 16 "packaging/icons/$prog-16.png"
    for size in 32 48 64 128 256; do
        render "packaging/icons/$prog.svg" "$size" "$size" "packaging/icons/$prog-$size.png"
    done
done
render packaging/icons/sketora.svg 32 32 client/extras/sketora.png
render docs/art/banner.svg 201 97 client/extras/banner.png
mkdir -p client/window/icons
for tool in pencil eraser dropper hand; do
    for size in 16 32; do
        render "docs/art/tool-$tool.svg" "$size" "$size" "client/window/icons/tool-$tool-$size.png"
    done
done
