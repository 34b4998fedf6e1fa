#!/usr/bin/env bash
# The window program's command line. With no display at all: --help and
# --version answer on standard output with status 0; an option it does not
# take, Qt's own among them, gets the one-line usage on standard error and
# status 2; a folder that cannot be used is named on standard error with
# status 1, and so is the missing graphical session, in one line and without
# Qt's abort. On Qt's offscreen platform: the folder the window works in.
#
# usage: command_line.sh PROGRAM
set -uo pipefail

program=$(realpath "$1")
tmp=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  rm -rf "$tmp"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
usage='usage: vrindel [--menu] [FOLDER] | --help | --version'
mkdir -p "$tmp/run" "$tmp/box" "$tmp/other"
printf 'plain text\n' >"$tmp/notes.txt"

# Runs the program in a scratch folder (a window would create its files
# there) with no display; sets status, out and err.
run() {
  (cd "$tmp/run" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
     timeout 10 "$program" "$@" >"$tmp/out" 2>"$tmp/err")
  status=$?
  out=$(cat "$tmp/out")
  err=$(cat "$tmp/err")
}

for help in --help -h; do
  run $help
  [ "$status" -eq 0 ] || fail "$help: status $status"
  [[ $out == "$usage"$'\n'* ]] || fail "$help: standard output does not open with the usage: $out"
  [[ $out == *Zoznam.dat*Options.dat* ]] || fail "$help does not name the two files"
  [ -z "$err" ] || fail "$help wrote to standard error: $err"
done

run --version
[ "$status" -eq 0 ] || fail "--version: status $status"
[ "$out" = "vrindel 2.1" ] || fail "--version printed \"$out\""
[ -z "$err" ] || fail "--version wrote to standard error: $err"

# One command line per row: the status, then the arguments ("" is an empty
# argument), then after "#" what standard error must say (the usage for 2).
while IFS= read -r row; do
  expected=${row%% *} line=${row#* } message=""
  [[ $line == *" # "* ]] && message=${line#* # } line=${line%% # *}
  eval "args=($line)"
  run "${args[@]}"
  [ "$status" -eq "$expected" ] || fail "vrindel $line: status $status, expected $expected ($err)"
  [ -z "$out" ] || fail "vrindel $line wrote to standard output: $out"
  if [ "$expected" -eq 2 ]; then
    [ "$err" = "$usage" ] || fail "vrindel $line: standard error was \"$err\""
  else
    eval "message=\"$message\""
    [ "$err" = "$message" ] || fail "vrindel $line: standard error was \"$err\", expected \"$message\""
  fi
done <<'CASES'
2 -x
2 --helpx
2 --HELP
2 ""
2 -reverse
2 -style fusion
2 -stylesheet /dev/null
2 -platform offscreen
2 -menu
2 --help --version
2 --version --help
2 --help extra
2 --menu --help
2 "$tmp/box" "$tmp/other"
1 "$tmp/missing" # vrindel: $tmp/missing: No such file or directory
1 "$tmp/notes.txt" # vrindel: $tmp/notes.txt: neither a folder nor a Zoznam.dat
1 "$tmp/missing/Zoznam.dat" # vrindel: $tmp/missing: No such file or directory
1 -- --menu # vrindel: --menu: No such file or directory
1 "$(printf '%s/dir/\033]0;PWNED\007x' "$tmp")" # vrindel: $tmp/dir/\x1b]0;PWNED\x07x: No such file or directory
CASES

# A usable folder, or none, without a display: the one line, no abort.
for args in "" "$tmp/box" "$tmp/box/Zoznam.dat" "--menu"; do
  run $args
  [ "$status" -eq 1 ] || fail "vrindel $args without a display: status $status, expected 1"
  [[ $err == "vrindel: the window needs a graphical session, and none is set"*vrindel-cli* ]] ||
    fail "vrindel $args without a display said: $err"
  [ "$(wc -l <"$tmp/err")" -eq 1 ] || fail "vrindel $args without a display wrote more than one line"
done
(cd "$tmp/run" && env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=/nonexistent/x11 \
   timeout 10 "$program" >"$tmp/out" 2>"$tmp/err")
status=$?
[ "$status" -eq 1 ] && grep -qx "vrindel: .*none could be reached (DISPLAY=/nonexistent/x11).*" "$tmp/err" ||
  fail "an unreachable display: status $status, said: $(cat "$tmp/err")"

[ -z "$(find "$tmp/run" "$tmp/box" -mindepth 1)" ] || fail "a command line that opened no window created files"

# The window's folder, on the offscreen platform: the folder given, the one
# holding the Zoznam.dat given, or the current one.
ln -s "$tmp/box" "$tmp/link"
while read -r start line expected; do
  args=()
  [ "$line" = "(none)" ] || eval "args=($line)"
  (cd "$tmp/$start" && exec env QT_QPA_PLATFORM=offscreen "$program" "${args[@]}" >/dev/null 2>&1) &
  pid=$!
  pids+=("$pid")
  # Up once it holds the catalogue's folder open (its lock).
  for _ in $(seq 100); do
    for fd in "/proc/$pid/fd/"*; do
      [ "$(readlink "$fd")" = "$tmp/$expected" ] && break 2
    done
    sleep 0.1
  done
  cwd=$(readlink "/proc/$pid/cwd")
  [ "$cwd" = "$tmp/$expected" ] || fail "vrindel $line from $start works in $cwd, expected $tmp/$expected"
  kill -KILL "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
done <<'CASES'
run (none) run
run -- run
run "$tmp/box" box
run ../box/ box
run Zoznam.dat run
run "$tmp/box/Zoznam.dat" box
run ../link/Zoznam.dat box
CASES

# A window whose save at the session's end fails says so on standard error
# and ends with status 1: here the catalogue went while it was open, and
# its folder no longer takes new files (as a user who is not root).
mkdir -p "$tmp/gone"
printf '\005Jeden\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000' >"$tmp/gone/Zoznam.dat"
printf '\004CD 1\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000' >>"$tmp/gone/Zoznam.dat"
printf '\001\000\001' >"$tmp/gone/Options.dat"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  chown -R 65534:65534 "$tmp/gone"
  chmod 755 "$tmp"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
(cd "$tmp/gone" && exec "${as_user[@]}" env QT_QPA_PLATFORM=offscreen HOME="$tmp/gone" XDG_RUNTIME_DIR= \
   "$program" >/dev/null 2>"$tmp/gone.err") &
pid=$!
pids+=("$pid")
for _ in $(seq 100); do
  for fd in "/proc/$pid/fd/"*; do
    [ "$(readlink "$fd" 2>/dev/null)" = "$tmp/gone/Zoznam.dat" ] && break 2
  done
  sleep 0.1
done
rm "$tmp/gone/Zoznam.dat"
chmod 555 "$tmp/gone"
kill -TERM "$pid"
wait "$pid"
status=$?
chmod 755 "$tmp/gone"
[ "$status" -eq 1 ] || fail "a window whose save failed at SIGTERM ended with status $status, expected 1"
grep -q "^vrindel: not saved: Zoznam.dat (File access denied)$" "$tmp/gone.err" ||
  fail "a window whose save failed at SIGTERM said: $(cat "$tmp/gone.err")"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"; exit 1
fi
echo "command line OK"
