#!/usr/bin/env bash
# Renders data/icons/vrindel.svg into the 32 x 32, 16-colour program icon
# data/icons/vrindel.png. The PNG is committed; run this again after changing
# the SVG.
#
# Needs Debian's librsvg2-bin (rsvg-convert, the renderer the desktop itself
# uses for SVG icons) and imagemagick (convert).
#
# The 15 opaque colours are fixed: the SVG's own colours plus a few blends of
# neighbouring ones for the anti-aliased edges. Mapping onto them without
# dithering keeps the picture clean; transparency is all or nothing and takes
# the sixteenth palette entry.
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in rsvg-convert convert; do
  command -v "$tool" >/dev/null ||
    { echo "make-icon.sh: $tool is missing (apt-get install librsvg2-bin imagemagick)" >&2; exit 1; }
done

svg=data/icons/vrindel.svg
png=data/icons/vrindel.png
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

rsvg-convert --width 32 --height 32 "$svg" --output "$work/render.png"
convert "$work/render.png" -channel A -threshold 50% +channel -alpha extract "$work/mask.png"
convert "$work/render.png" -alpha off +dither -remap "$work/palette.png" "$work/opaque.png"
# -strip drops time stamps so that the same SVG always gives the same file;
# with 16 colours ImageMagick writes a 4-bit palette PNG by itself.
convert "$work/opaque.png" "$work/mask.png" -compose CopyOpacity -composite \
  -background '#2b1806' -alpha background -strip "$png"

echo "wrote $png"
