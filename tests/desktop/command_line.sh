#!/usr/bin/env bash
# The window program's command line, with no display at all: --help and
# --version answer on standard output with status 0; every other argument,
# Qt's own options included, gets the one-line usage on standard error and
# status 2, and never a window or Qt's "could not connect to display".
#
# usage: command_line.sh PROGRAM
set -uo pipefail

program=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
usage='usage: vrindel [--help | --version]'

# Runs the program in a scratch folder (a window would create its files
# there) with no display; sets status, out and err.
run() {
  (cd "$tmp" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
     timeout 10 "$program" "$@" >"$tmp/out" 2>"$tmp/err")
  status=$?
  out=$(cat "$tmp/out")
  err=$(cat "$tmp/err")
}

run --help
[ "$status" -eq 0 ] || fail "--help: status $status"
[[ $out == "$usage"$'\n'* ]] || fail "--help: standard output does not open with the usage: $out"
[[ $out == *Zoznam.dat*Options.dat* ]] || fail "--help does not name the two files"
[ -z "$err" ] || fail "--help wrote to standard error: $err"

run --version
[ "$status" -eq 0 ] || fail "--version: status $status"
[ "$out" = "vrindel 2.1" ] || fail "--version printed \"$out\""
[ -z "$err" ] || fail "--version wrote to standard error: $err"

# One argument per line; "" is an empty argument.
while IFS= read -r line; do
  eval "args=($line)"
  run "${args[@]}"
  [ "$status" -eq 2 ] || fail "vrindel $line: status $status, expected 2"
  [ -z "$out" ] || fail "vrindel $line wrote to standard output: $out"
  [ "$err" = "$usage" ] || fail "vrindel $line: standard error was \"$err\""
done <<'CASES'
-h
-x
--helpx
--HELP
""
--
Zoznam.dat
-reverse
-style fusion
-stylesheet /dev/null
-platform offscreen
--help --version
--version --help
--help extra
CASES

[ ! -e "$tmp/Zoznam.dat" ] && [ ! -e "$tmp/Options.dat" ] ||
  fail "a refused command line created the catalogue files"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"; exit 1
fi
echo "command line OK"
