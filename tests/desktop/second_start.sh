#!/usr/bin/env bash
# Under a real X server and window manager (Xvfb and openbox): a second start
# on a catalogue that a window has open, reached by another path (a link to
# its folder), opens no second window and no box, ends with 0, and brings
# the open window to the front, over another window the user clicked since.
#
# usage: second_start.sh VRINDEL
set -uo pipefail

prog=$(realpath "$1")
for tool in Xvfb openbox xprop xmessage xdotool; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

tmp=$(mktemp -d)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
. "$(dirname "$0")/x_session.sh"

mkdir -p "$tmp/one" "$tmp/two" "$tmp/run"
chmod 700 "$tmp/run"
ln -s "$tmp/one" "$tmp/link"
for folder in one two; do
  : >"$tmp/$folder/Zoznam.dat"
  printf '\001\000\001' >"$tmp/$folder/Options.dat"
done

# start NAME FOLDER: a window on FOLDER, its X window's id in $NAME.
start() {
  env -u QT_QPA_PLATFORM XDG_RUNTIME_DIR="$tmp/run" "$prog" "$2" >"$tmp/$1.log" 2>&1 &
  local pid=$!
  pids+=($pid)
  framed() {
    local w
    for w in $(xdotool search --all --pid "$pid" --name '^Vrindel 2.1$' 2>/dev/null); do
      xprop -id "$w" -notype _NET_FRAME_EXTENTS | grep -q = && { echo "$w"; return 0; }
    done
    return 1
  }
  await framed || { echo "FAIL: no framed window on $2"; cat "$tmp/$1.log"; exit 1; }
  printf -v "$1" '%s' "$(framed)"
}
active() { xdotool getactivewindow 2>/dev/null; }

start first "$tmp/one"
start second "$tmp/two"
# The user works in the other window.
xdotool mousemove --window "$second" 10 10 click 1
await test "$(active)" = "$second" || fail "the window clicked is not the active one ($(active), $second, $first)"

# The same catalogue by another path.
windowsBefore=$(xdotool search --name '.' 2>/dev/null | sort)
timeout 20 env -u QT_QPA_PLATFORM XDG_RUNTIME_DIR="$tmp/run" "$prog" "$tmp/link" >"$tmp/again.log" 2>&1
status=$?
[ "$status" = 0 ] || fail "a second start on the open catalogue ended with $status"
[ -s "$tmp/again.log" ] && { fail "a second start said something:"; cat "$tmp/again.log"; }
await test "$(active)" = "$first" || fail "the open window did not come to the front (active: $(active), open: $first)"
stacking=$(xprop -root -notype _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/, /\n/g' | tail -n1)
[ "$((stacking))" = "$first" ] || fail "the open window is not on top of the others"
windowsAfter=$(xdotool search --name '.' 2>/dev/null | sort)
[ "$windowsBefore" = "$windowsAfter" ] || fail "a second start left a window behind"
# The other catalogue's window is still its own.
kill -0 "${pids[-1]}" 2>/dev/null || fail "the other window ended"

[ "$failures" = 0 ] || exit 1
echo "the open window came to the front; the second start ended with 0"
