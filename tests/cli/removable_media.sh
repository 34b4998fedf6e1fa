#!/usr/bin/env bash
# Catalogues on USB sticks: FAT through fusefat and exFAT through exfat-fuse
# have no owners or modes to keep, and a save must not fail for it. Several
# changes in a row each save, and the catalogue holds every record.
#
# usage: removable_media.sh VRINDEL-CLI
# Exits 77 (skipped) where this machine cannot mount either file system.
set -uo pipefail

cli=$1
tmp=$(mktemp -d)
mounted=""
loop=""
cleanup() {
  [ -n "$mounted" ] && { fusermount -u "$mounted" 2>/dev/null || umount "$mounted" 2>/dev/null; }
  [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
failures=0
tried=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# try_media NAME MKFS MOUNT...
try_media() {
  local name=$1 mkfs=$2; shift 2
  local image=$tmp/$name.img point=$tmp/$name
  mkdir -p "$point"
  if ! command -v "$mkfs" >/dev/null || ! type "$1" >/dev/null 2>&1 || [ ! -e /dev/fuse ]; then
    echo "skipped $name: $mkfs, $1 or /dev/fuse missing"
    return
  fi
  truncate -s 32M "$image" && "$mkfs" "$image" >/dev/null 2>&1 || { echo "skipped $name: $mkfs failed"; return; }
  if ! "$@" "$image" "$point" 2>"$tmp/mount.err"; then
    echo "skipped $name: cannot mount here: $(head -c 200 "$tmp/mount.err")"
    return
  fi
  mounted=$point
  tried=$((tried + 1))
  for k in 1 2 3 4; do
    "$cli" -C "$point" add "Disk $k" "Krabica $k" 2>"$tmp/err" || fail "$name: add $k: status $? $(cat "$tmp/err")"
  done
  "$cli" -C "$point" delete "Disk 2" 2>"$tmp/err" || fail "$name: delete: status $? $(cat "$tmp/err")"
  "$cli" -C "$point" relocate "Disk 3" "Polica" 2>"$tmp/err" || fail "$name: relocate: status $? $(cat "$tmp/err")"
  local listed
  listed=$("$cli" -C "$point" list --format tsv 2>&1)
  [ "$listed" = $'name\tlocation\nDisk 1\tKrabica 1\nDisk 3\tPolica\nDisk 4\tKrabica 4' ] ||
    fail "$name: the catalogue reads: $listed"
  ls -a "$point" | grep -q 'tmp-' && fail "$name: a temporary file was left: $(ls -a "$point")"
  fusermount -u "$point" 2>/dev/null || umount "$point"
  mounted=""
  [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null
  loop=""
}

# exfat-fuse wants a block device: the image goes through a loop device.
exfat_on_loop() {
  loop=$(losetup -f --show "$1") && mount.exfat-fuse "$loop" "$2"
}

try_media fat mkfs.vfat fusefat -o rw+
try_media exfat mkfs.exfat exfat_on_loop

[ "$tried" -gt 0 ] || exit 77
[ "$failures" -eq 0 ] || exit 1
echo "ok: $tried removable file systems"
