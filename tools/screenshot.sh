#!/usr/bin/env bash
# Makes docs/screenshot.png: the window with a small sample catalogue, on a
# virtual X server, so that anyone can make the picture again.
#
# usage: tools/screenshot.sh [PROGRAM]     (default: build/bin/vrindel)
#
# Needs Debian's xvfb, imagemagick and x11-utils. The program runs in a
# scratch folder with a catalogue written here; nothing of yours is touched.
set -euo pipefail
cd "$(dirname "$0")/.."

program=$(realpath "${1:-build/bin/vrindel}")
output=docs/screenshot.png

for tool in Xvfb import xwininfo iconv; do
  command -v "$tool" >/dev/null ||
    { echo "screenshot.sh: $tool is missing (apt-get install xvfb imagemagick x11-utils)" >&2; exit 1; }
done
[ -x "$program" ] || { echo "screenshot.sh: no program at $program (build it first)" >&2; exit 1; }

work=$(mktemp -d)
xvfb_pid="" app_pid=""
cleanup() {
  local status=$?
  if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null; wait "$app_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT

# One 32-byte record: the length byte, then the Windows-1250 text padded
# with zero bytes to 31.
record() {
  local text length
  text=$(printf '%s' "$1" | iconv -f UTF-8 -t WINDOWS-1250)
  length=$(printf '%s' "$text" | wc -c)
  [ "$length" -le 31 ] || { echo "screenshot.sh: \"$1\" is too long" >&2; exit 1; }
  printf "\\$(printf '%03o' "$length")"
  printf '%s' "$text"
  head -c $((31 - length)) /dev/zero
}

# Name, then location: a catalogue record is two 32-byte records.
samples=(
  "Fotky z dovolenky 2019"   "DVD č. 3"
  "Účtovníctvo 2022"         "Externý disk modrý"
  "Ovládače tlačiarne"       "CD v zásuvke stola"
  "Diplomová práca"          "USB kľúč červený"
  "Hudba Elán"               "Polica 2, krabica A"
  "Záloha telefónu"          "Externý disk čierny"
  "Inštalácia Office"        "CD 12"
  "Mapy Slovenska"           "DVD č. 7"
  "Recepty starej mamy"      "Disketa 5"
  "Svadobné video"           "DVD č. 1"
  "Hry pre deti"             "Krabica v pivnici"
  "Daňové priznanie 2021"    "Šanón na polici"
  "Ľudové piesne"            "Polica 2, krabica B"
)
for text in "${samples[@]}"; do
  record "$text"
done >"$work/Zoznam.dat"
# Sorted list on, keep the location after adding, strip extensions.
printf '\001\000\001' >"$work/Options.dat"

# Let the server pick a free display and write its number to a file.
Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp \
  3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; echo "screenshot.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"

(cd "$work" && exec env QT_QPA_PLATFORM=xcb "$program") >"$work/app.log" 2>&1 &
app_pid=$!

# Wait for the main window: a mapped top-level window whose title names the
# program, then a moment for it to paint.
window=""
for _ in $(seq 100); do
  window=$(xwininfo -root -tree 2>/dev/null |
           awk '$2 ~ /^"[^"]*Vrindel/ {
                  for (i = 3; i <= NF; i++)
                    if ($i ~ /^[0-9]+x[0-9]+[+-]/ && $i + 0 >= 300) { print $1; exit }
                }')
  if [ -n "$window" ] && xwininfo -id "$window" | grep -q 'IsViewable'; then break; fi
  window=""
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.2
done
if [ -z "$window" ]; then
  cat "$work/app.log" >&2
  echo "screenshot.sh: the window did not appear" >&2; exit 1
fi
sleep 1.5

geometry=$(xwininfo -id "$window" | awk '
  /Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
  /Width:/ { w = $NF } /Height:/ { h = $NF }
  END { printf "%dx%d+%d+%d", w, h, x, y }')
mkdir -p "$(dirname "$output")"
import -window root -crop "$geometry" +repage -strip "$output"
echo "wrote $output ($geometry)"
