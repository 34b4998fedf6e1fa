# Sourced by the tests that need a real X server and window manager: starts
# Xvfb and openbox, waits until openbox frames windows, and stops both (and
# every process added to `pids`) when the test ends. Needs $tmp (a scratch
# folder, removed at the end too) and the tools checked by the caller.
# Defines await (up to twenty seconds for a command to succeed).

pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; wait "${pids[i]}" 2>/dev/null; done
  rm -rf "$tmp"
}
trap cleanup EXIT

await() {
  for _ in $(seq 200); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$tmp/display" >/dev/null 2>&1 &
pids+=($!)
await test -s "$tmp/display" || { echo "FAIL: Xvfb did not start"; exit 1; }
export DISPLAY=:$(head -n1 "$tmp/display")
openbox >"$tmp/openbox.log" 2>&1 &
pids+=($!)
# It is ready once it frames a window: a probe's. A probe mapped while
# openbox is still starting may be missed by it on a busy machine, so one
# that stays unframed is shown again.
framedProbe() { xprop -name vrindel-probe -notype _NET_FRAME_EXTENTS 2>/dev/null | grep -q =; }
ready=""
for _ in 1 2 3 4 5 6; do
  xmessage -name vrindel-probe -title vrindel-probe probe >/dev/null 2>&1 &
  probe=$!
  for _ in $(seq 50); do framedProbe && { ready=1; break; }; sleep 0.1; done
  kill $probe 2>/dev/null; wait $probe 2>/dev/null
  [ -n "$ready" ] && break
done
[ -n "$ready" ] || { echo "FAIL: openbox did not start"; cat "$tmp/openbox.log"; exit 1; }
