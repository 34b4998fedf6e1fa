#!/usr/bin/env bash
# Starts the program from its desktop entry the way a GLib-based menu and
# file manager do (gio launch, with and without a file) in a scratch home
# folder, on Qt's offscreen platform, and checks the folder it works in: the
# XDG data folder's "vrindel", created private when missing, unless the home
# folder already holds a Zoznam.dat; the opened file's folder when there is one.
# vrindel-cli --menu, in the same environment, works on the catalogue the
# window started in.
#
# usage: menu_launch.sh DESKTOP_FILE GIO PROGRAM VRINDEL-CLI
set -uo pipefail

entry=$(realpath "$1") gio=$2 program=$(realpath "$3") cli=$(realpath "$4")
tmp=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null; done
  rm -rf "$tmp"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The entry runs "vrindel" from PATH: this one tells its process id, then
# becomes the program.
mkdir -p "$tmp/bin" "$tmp/elsewhere"
cat >"$tmp/bin/vrindel" <<STUB
#!/bin/sh
echo \$\$ >"$tmp/pid.part" && mv "$tmp/pid.part" "$tmp/pid"
exec "$program" "\$@"
STUB
chmod +x "$tmp/bin/vrindel"

# launch HOME XDG_DATA_HOME EXPECTED [FILE]: from a folder that is not home,
# with a clean environment.
launch() {
  local home=$1 data=$2 expected=$3
  shift 3
  rm -f "$tmp/pid"
  if ! (cd "$tmp/elsewhere" &&
        env -i PATH="$tmp/bin:/usr/bin:/bin" HOME="$home" ${data:+XDG_DATA_HOME="$data"} \
          QT_QPA_PLATFORM=offscreen "$gio" launch "$entry" "$@" >/dev/null 2>&1); then
    fail "gio launch $entry $*"; return
  fi
  local pid="" _ fd
  for _ in $(seq 100); do
    [ -f "$tmp/pid" ] && pid=$(cat "$tmp/pid") && break
    sleep 0.1
  done
  [ -n "$pid" ] || { fail "the desktop entry did not start vrindel"; return; }
  pids+=("$pid")
  # Up once it holds the catalogue's folder open (its lock).
  for _ in $(seq 100); do
    for fd in "/proc/$pid/fd/"*; do
      [ "$(readlink "$fd")" = "$expected" ] && break 2
    done
    sleep 0.1
  done
  local cwd
  cwd=$(readlink "/proc/$pid/cwd")
  [ "$cwd" = "$expected" ] || fail "HOME=$home XDG_DATA_HOME=$data $*: works in \"$cwd\", expected $expected"
  kill -KILL "$pid" 2>/dev/null
  [ $# -eq 0 ] || return
  # Each start adds a record of its own to the catalogue the window made.
  local record="Menu $((++launches))" out
  out=$(cd "$tmp/elsewhere" && env -i PATH=/usr/bin:/bin HOME="$home" ${data:+XDG_DATA_HOME="$data"} \
          "$cli" --menu add "$record" "CD 1" 2>&1) || fail "vrindel-cli --menu add: $out"
  grep -q "$record" "$expected/Zoznam.dat" 2>/dev/null ||
    fail "HOME=$home XDG_DATA_HOME=$data: vrindel-cli --menu did not add to $expected/Zoznam.dat"
}
launches=0

mkdir -p "$tmp/new"
launch "$tmp/new" "" "$tmp/new/.local/share/vrindel"
mode=$(stat -c %a "$tmp/new/.local/share/vrindel" 2>/dev/null)
[ "$mode" = 700 ] || fail "the created folder has mode $mode, not 700"

mkdir -p "$tmp/xdg-home"
launch "$tmp/xdg-home" "$tmp/xdg-data" "$tmp/xdg-data/vrindel"
# A relative XDG_DATA_HOME is to be ignored.
launch "$tmp/xdg-home" "data" "$tmp/xdg-home/.local/share/vrindel"

# A catalogue in the home folder stays where it is.
mkdir -p "$tmp/old/.local/share/vrindel"
: >"$tmp/old/Zoznam.dat"
launch "$tmp/old" "$tmp/old/data" "$tmp/old"
[ ! -e "$tmp/old/data" ] || fail "a menu start with ~/Zoznam.dat created the XDG folder"

# A file manager opens a catalogue where it lies.
mkdir -p "$tmp/box"
: >"$tmp/box/Zoznam.dat"
launch "$tmp/new" "" "$tmp/box" "$tmp/box/Zoznam.dat"

# With no HOME both take the user database's home folder (Qt alone would take
# "/"): as a user whose home does not exist, both name the same folder they
# cannot make. Only where root can become such a user.
nobody_home=$(getent passwd 65534 | cut -d: -f6)
if [ "$(id -u)" -eq 0 ] && [ -n "$nobody_home" ] && [ ! -e "$nobody_home" ]; then
  as_nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups env -i PATH=/usr/bin:/bin XDG_RUNTIME_DIR=)
  chmod 755 "$tmp"
  # The window tells it on standard error, then waits on its message box.
  (cd / && exec "${as_nobody[@]}" QT_QPA_PLATFORM=offscreen "$program" --menu >/dev/null 2>"$tmp/window.err") &
  pid=$!
  pids+=("$pid")
  for _ in $(seq 100); do grep -q '^vrindel: ' "$tmp/window.err" && break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null
  expected="$nobody_home/.local/share/vrindel: "
  said=$(grep '^vrindel: ' "$tmp/window.err")
  [ "$said" = "vrindel: ${expected}No such file or directory" ] || fail "the window with no HOME said: $said"
  said=$(cd / && "${as_nobody[@]}" "$cli" --menu add Chata "CD 1" 2>&1)
  [[ $said == "vrindel-cli: $expected"* ]] || fail "vrindel-cli with no HOME said: $said"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"; exit 1
fi
echo "the menu starts vrindel in its folder"
