#!/usr/bin/env bash
# Makes tarnwick.ico (the Windows edition's icon) from the paths of tarnwick.svg, drawn by
# ImageMagick itself at each size Windows asks for. Run it after a change of the SVG:
#   bash app/desktop/make-ico.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sizes=(16 24 32 48 256)
for size in "${sizes[@]}"; do
    k=$(awk "BEGIN { print $size / 64 }")
    convert -size "${size}x$size" xc:none \
        -draw "scale $k,$k fill '#e0a526' stroke '#8a6212' stroke-width 1.5 path 'M4 14h16l4 5h18v27H4z'" \
        -draw "scale $k,$k fill '#3f7fd1' stroke '#21508e' stroke-width 1.5 path 'M22 24h16l4 5h18v27H22z'" \
        -draw "scale $k,$k fill none stroke white stroke-width 3 stroke-linecap round stroke-linejoin round
               path 'M33 38a9 9 0 0 1 15-5' path 'M49 28v6h-6' path 'M49 44a9 9 0 0 1-15 5' path 'M33 54v-6h6'" \
        -depth 8 "$work/$size.png"
done
convert $(printf "$work/%s.png " "${sizes[@]}") "$here/tarnwick.ico"
