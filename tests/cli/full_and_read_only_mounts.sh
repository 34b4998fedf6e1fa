#!/usr/bin/env bash
# vrindel-cli on a full disk and on a read-only mount, through small tmpfs
# mounts: an export that runs out of room leaves the old file as it was and
# nothing beside it; a catalogue on a read-only mount is listed, exported
# and checked, and a change is refused with the reason.
#
# usage: full_and_read_only_mounts.sh VRINDEL-CLI
# Exits 77 (skipped) where this machine cannot mount a tmpfs.
set -uo pipefail

cli=$(realpath "$1")
tmp=$(mktemp -d)
mounted=""
cleanup() {
  [ -n "$mounted" ] && umount "$mounted" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# 20,000 records: a CSV export of about 400 KB.
{ echo name,location; seq 20000 | awk '{ printf "Meno %06d,Polica\n", $1 }'; } >"$tmp/records.csv"
"$cli" -C "$tmp" import records.csv >/dev/null || { echo "FAIL: cannot make the catalogue"; exit 1; }

mount_small() {
  mkdir -p "$tmp/$1"
  if ! mount -t tmpfs -o "size=$2" tmpfs "$tmp/$1" 2>"$tmp/mount.err"; then
    echo "skipped: cannot mount a tmpfs here: $(head -c 200 "$tmp/mount.err")"
    exit 77
  fi
  mounted=$tmp/$1
}

# A full disk: room for the old backup, not for the new one.
mount_small full 256k
printf 'name,location\r\nStará,záloha\r\n' >"$tmp/full/backup.csv"
chmod 640 "$tmp/full/backup.csv"
cp "$tmp/full/backup.csv" "$tmp/old.csv"
for format in csv json; do
  (cd "$tmp" && "$cli" export --format "$format" -o full/backup.csv) 2>"$tmp/err"
  status=$?
  [ "$status" = 3 ] || fail "export $format on a full disk: status $status"
  grep -q 'full/backup.csv: cannot write: No space left on device; the old file is as it was' "$tmp/err" ||
    fail "export $format on a full disk says: $(cat "$tmp/err")"
  cmp -s "$tmp/old.csv" "$tmp/full/backup.csv" || fail "export $format on a full disk changed the old file"
  [ "$(ls -A "$tmp/full")" = backup.csv ] || fail "export $format left: $(ls -A "$tmp/full")"
done
umount "$tmp/full" && mounted=""

# A read-only mount.
mount_small ro 4m
cp "$tmp/Zoznam.dat" "$tmp/ro/"
mount -o remount,ro "$tmp/ro" || { echo "skipped: cannot remount read-only"; exit 77; }
"$cli" -C "$tmp/ro" list >"$tmp/out" 2>"$tmp/err" || fail "list on a read-only mount: $(cat "$tmp/err")"
[ "$(wc -l <"$tmp/out")" = 20000 ] || fail "list on a read-only mount gave $(wc -l <"$tmp/out") lines"
"$cli" -C "$tmp/ro" export -o "$tmp/export.csv" 2>"$tmp/err" || fail "export from a read-only mount: $(cat "$tmp/err")"
"$cli" -C "$tmp/ro" check >/dev/null 2>"$tmp/err" || fail "check on a read-only mount: $(cat "$tmp/err")"
"$cli" -C "$tmp/ro" add Dom Polica 2>"$tmp/err"
status=$?
[ "$status" = 3 ] || fail "add on a read-only mount: status $status"
grep -q 'read-only: a change needs write access to the catalogue' "$tmp/err" ||
  fail "add on a read-only mount says: $(cat "$tmp/err")"
cmp -s "$tmp/Zoznam.dat" "$tmp/ro/Zoznam.dat" || fail "the read-only catalogue changed"

[ "$failures" = 0 ] && echo "all passed"
exit $((failures > 0))
