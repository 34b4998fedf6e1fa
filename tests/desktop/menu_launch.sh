#!/usr/bin/env bash
# Starts the program from its desktop entry the way a GLib-based menu does
# (gio launch) and checks the folder it starts in: the catalogue files are
# opened relative to it, and the documented place is the home folder. A
# stand-in "vrindel" found first on PATH records where it was started.
#
# usage: menu_launch.sh DESKTOP_FILE GIO
set -uo pipefail

entry=$1 gio=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/home" "$tmp/bin" "$tmp/elsewhere"
cat >"$tmp/bin/vrindel" <<STUB
#!/bin/sh
pwd >"$tmp/started-in.part" && mv "$tmp/started-in.part" "$tmp/started-in"
STUB
chmod +x "$tmp/bin/vrindel"

# Launch from a folder that is not home, with a clean environment.
if ! (cd "$tmp/elsewhere" &&
      env -i PATH="$tmp/bin:/usr/bin:/bin" HOME="$tmp/home" "$gio" launch "$entry"); then
  echo "FAIL: gio launch $entry"; exit 1
fi

# gio returns once the child is spawned; give it a moment to report.
for _ in $(seq 100); do
  [ -f "$tmp/started-in" ] && break
  sleep 0.1
done
if [ ! -f "$tmp/started-in" ]; then
  echo "FAIL: the desktop entry did not start vrindel"; exit 1
fi
started_in=$(cat "$tmp/started-in")
if [ "$started_in" != "$(cd "$tmp/home" && pwd -P)" ]; then
  echo "FAIL: started in $started_in, expected the home folder $tmp/home"; exit 1
fi
echo "the menu starts vrindel in the home folder"
