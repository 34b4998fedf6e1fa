#!/usr/bin/env bash
# Catalogues on USB sticks: FAT through fusefat and exFAT through exfat-fuse
# have no owners or modes to keep, and a save must not fail for it. Several
# changes in a row each save, and the catalogue holds every record. A scan of
# the stick takes its label for the location, read from the image or device
# where neither udev's links nor a block device of the mount's number exist;
# one whose device the user may not read has it from libblkid's cache.
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

# try_media NAME LABEL MKFS LABEL-OPTION MOUNT...
try_media() {
  local name=$1 label=$2 mkfs=$3 labelled=$4; shift 4
  local image=$tmp/$name.img point=$tmp/$name
  mkdir -p "$point"
  if ! command -v "$mkfs" >/dev/null || ! type "$1" >/dev/null 2>&1 || [ ! -e /dev/fuse ]; then
    echo "skipped $name: $mkfs, $1 or /dev/fuse missing"
    return
  fi
  truncate -s 32M "$image" && "$mkfs" "$labelled" "$label" "$image" >/dev/null 2>&1 ||
    { echo "skipped $name: $mkfs failed"; return; }
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

  : >"$point/Hra.zip"
  mkdir -p "$tmp/scanned-$name"
  "$cli" -C "$tmp/scanned-$name" scan "$point" --extensions zip >/dev/null 2>"$tmp/err" ||
    fail "$name: scan: status $? $(cat "$tmp/err")"
  listed=$("$cli" -C "$tmp/scanned-$name" list --format tsv 2>&1)
  [ "$listed" = $'name\tlocation\nHra.zip\t'"$label" ] || fail "$name: the scan gave: $listed"
  if [ -n "$loop" ] && command -v blkid >/dev/null && command -v setpriv >/dev/null; then
    blkid "$loop" >/dev/null   # what root reads is cached
    chmod 755 "$tmp" && mkdir -p "$tmp/nobody" && chmod 777 "$tmp/nobody"
    listed=$(setpriv --reuid=65534 --regid=65534 --clear-groups \
               "$cli" -C "$tmp/nobody" scan "$point" --extensions zip --dry-run 2>&1)
    [ "$listed" = "$point/Hra.zip"$'\n''Would add 1 record at "'"$label"'" to '"$tmp/nobody/Zoznam.dat." ] ||
      fail "$name: a scan by a user who may not read $loop gave: $listed"
  fi
  fusermount -u "$point" 2>/dev/null || umount "$point"
  mounted=""
  [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null
  loop=""
}

# exfat-fuse wants a block device: the image goes through a loop device.
exfat_on_loop() {
  loop=$(losetup -f --show "$1") && mount.exfat-fuse "$loop" "$2"
}

# A FAT label is in a DOS code page, an exFAT one in UTF-16: only the latter
# holds letters beyond ASCII as such.
try_media fat "MY DISK" mkfs.vfat -n fusefat -o rw+
try_media exfat "Kľúč 2" mkfs.exfat -L exfat_on_loop

[ "$tried" -gt 0 ] || exit 77
[ "$failures" -eq 0 ] || exit 1
echo "ok: $tried removable file systems"
