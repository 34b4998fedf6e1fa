#!/usr/bin/env bash
# Starts the program under a real X server and window manager (Xvfb and
# openbox) and checks where it first appears: centred on the screen by its
# outer frame, which the window manager adds only after the window is shown.
# The margins above and below, and left and right, differ by a pixel at most.
#
# usage: first_position.sh VRINDEL
set -uo pipefail

prog=$(realpath "$1")
for tool in Xvfb openbox xwininfo xprop xmessage; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

tmp=$(mktemp -d)
. "$(dirname "$0")/x_session.sh"

# An empty catalogue and the usual switches: no message box comes first.
mkdir -p "$tmp/work" "$tmp/run"
chmod 700 "$tmp/run"
: >"$tmp/work/Zoznam.dat"
printf '\001\000\001' >"$tmp/work/Options.dat"
(cd "$tmp/work" && exec env -u QT_QPA_PLATFORM XDG_RUNTIME_DIR="$tmp/run" "$prog") >"$tmp/program.log" 2>&1 &
pids+=($!)

title="Vrindel 2.1"
framed() { xprop -name "$title" -notype _NET_FRAME_EXTENTS | grep -q '='; }
await framed || { echo "FAIL: no framed window named \"$title\""; cat "$tmp/program.log"; exit 1; }
# The window may still be moving to its place; it has one once it stays.
geometry() { xwininfo -name "$title" | sed -n 's/^ *-geometry //p'; }
last=""
for _ in $(seq 50); do
  now=$(geometry)
  [ -n "$now" ] && [ "$now" = "$last" ] && break
  last=$now
  sleep 0.2
done

value() { sed -n "s/^ *$1: *//p"; }
info=$(xwininfo -name "$title")
x=$(value "Absolute upper-left X" <<<"$info") y=$(value "Absolute upper-left Y" <<<"$info")
w=$(value "Width" <<<"$info") h=$(value "Height" <<<"$info")
root=$(xwininfo -root)
sw=$(value "Width" <<<"$root") sh=$(value "Height" <<<"$root")
IFS=', ' read -r left right top bottom < <(xprop -name "$title" -notype _NET_FRAME_EXTENTS | sed 's/.*= *//')

above=$((y - top)) below=$((sh - (y + h + bottom)))
before=$((x - left)) after=$((sw - (x + w + right)))
echo "frame $((w + left + right))x$((h + top + bottom)) on ${sw}x${sh}: $above above, $below below, $before left, $after right"
diff() { local d=$(($1 - $2)); echo $((d < 0 ? -d : d)); }
if [ "$(diff $above $below)" -gt 1 ] || [ "$(diff $before $after)" -gt 1 ]; then
  echo "FAIL: the window is not centred by its frame"; exit 1
fi
