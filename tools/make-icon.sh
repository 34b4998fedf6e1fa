#!/usr/bin/env bash
# Renders data/icons/vrindel.svg into the program icon at every size the
# desktop asks for: data/icons/vrindel-<size>.png. The PNGs are committed (the
# build needs no SVG renderer); run this again after changing the SVG.
#
# Needs Debian's librsvg2-bin (rsvg-convert, the renderer the desktop itself
# uses for SVG icons) and imagemagick (convert).
#
# 32 x 32 is the classic program icon in 16 colours. Its 15 opaque colours
# are fixed: the SVG's own colours plus a few blends of neighbouring ones for
# the anti-aliased edges. Mapping onto them without dithering keeps the
# picture clean; transparency is all or nothing and takes the sixteenth
# palette entry. The other sizes are plain full-colour renderings.
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in rsvg-convert convert; do
  command -v "$tool" >/dev/null ||
    { echo "make-icon.sh: $tool is missing (apt-get install librsvg2-bin imagemagick)" >&2; exit 1; }
done

svg=data/icons/vrindel.svg
sizes=(16 22 24 32 48 64 128 256)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

palette=(
  '#2b1806' '#5a3412' '#c98a3c' '#e0a050' '#b07a3a' '#7a5121' '#866032'  # box
  '#d8dce4' '#2b2f3a' '#868a94' '#6aa8e8' '#4a6c91' '#a1c2e6'            # disc
  '#ffffff' '#c0282d'                                                    # label
)
swatches=()
for c in "${palette[@]}"; do swatches+=("xc:$c"); done
convert -size 1x1 "${swatches[@]}" +append "$work/palette.png"

for size in "${sizes[@]}"; do
  png=data/icons/vrindel-$size.png
  rsvg-convert --width "$size" --height "$size" "$svg" --output "$work/render.png"
  if [ "$size" = 32 ]; then
    convert "$work/render.png" -channel A -threshold 50% +channel -alpha extract "$work/mask.png"
    convert "$work/render.png" -alpha off +dither -remap "$work/palette.png" "$work/opaque.png"
    # With 16 colours ImageMagick writes a 4-bit palette PNG by itself.
    convert "$work/opaque.png" "$work/mask.png" -compose CopyOpacity -composite \
      -background '#2b1806' -alpha background -strip "$png"
  else
    # -strip drops time stamps so that the same SVG always gives the same file.
    convert "$work/render.png" -strip "PNG32:$png"
  fi
  echo "wrote $png"
done
