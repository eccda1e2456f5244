#!/usr/bin/env bash
# Draw the icons of voxscope and of its file type from the bundled example,
# with vxlrender itself: the thumbnail of examples/terrain.vxl at each of the
# hicolor theme's usual sizes, and a scalable SVG that holds the largest.
# The icons are committed under data/icons/; the end-to-end test of
# vxlrender checks that they are still what it draws.
#
#   tools/make_icons.sh [build/vxlrender]
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
vxlrender="${1:-$root/build/vxlrender}"
out="$root/data/icons"
sizes=(16 22 24 32 48 64 128 256)

mkdir -p "$out"
for size in "${sizes[@]}"; do
    "$vxlrender" --thumbnail "$size" "$root/examples/terrain.vxl" "$out/voxscope-$size.png"
done
# The SVG shows the 256-pixel picture at whatever size it is asked for.
{
    printf '<?xml version="1.0" encoding="UTF-8"?>\n'
    printf '<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" width="256" height="256" viewBox="0 0 256 256">\n'
    printf '  <image width="256" height="256" xlink:href="data:image/png;base64,'
    base64 -w 0 "$out/voxscope-256.png"
    printf '"/>\n</svg>\n'
} >"$out/voxscope.svg"
echo "make_icons.sh: wrote ${#sizes[@]} PNG sizes and voxscope.svg to $out"
