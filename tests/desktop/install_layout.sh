#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR with the prefix a distribution
# package uses and checks that every file lands where desktops look for it,
# that nothing else is installed, and that the installed tree holds together
# (the metainfo's launchable, the desktop entry and its icon).
#
# usage: install_layout.sh BUILD_DIR APP_ID APPSTREAMCLI
set -uo pipefail

build=$1 id=$2 appstreamcli=$3
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! DESTDIR=$dest cmake --install "$build" --prefix /usr >"$dest.log" 2>&1; then
  cat "$dest.log"; rm -f "$dest.log"
  echo "FAIL: cmake --install"; exit 1
fi
rm -f "$dest.log"

expected=(
  usr/bin/vrindel
  "usr/share/applications/$id.desktop"
  "usr/share/metainfo/$id.metainfo.xml"
  usr/share/icons/hicolor/32x32/apps/vrindel.png
  usr/share/icons/hicolor/scalable/apps/vrindel.svg
)
for f in "${expected[@]}"; do
  [ -f "$dest/$f" ] || fail "$f was not installed"
done
[ -x "$dest/usr/bin/vrindel" ] || fail "usr/bin/vrindel is not executable"

# A package must not carry build leftovers such as static libraries or headers.
while IFS= read -r f; do
  case $f in
    usr/bin/vrindel | usr/share/*) ;;
    *) fail "unexpected file installed: $f" ;;
  esac
done < <(cd "$dest" && find . -type f -printf '%P\n')

entry=$dest/usr/share/applications/$id.desktop
if [ -f "$entry" ]; then
  icon=$(sed -n 's/^Icon=//p' "$entry")
  [ -n "$icon" ] && [ -f "$dest/usr/share/icons/hicolor/32x32/apps/$icon.png" ] &&
    [ -f "$dest/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] ||
    fail "the desktop entry's icon \"$icon\" is not installed in both sizes"
  tryexec=$(sed -n 's/^TryExec=//p' "$entry")
  [ -n "$tryexec" ] && [ -x "$dest/usr/bin/$tryexec" ] ||
    fail "the desktop entry's TryExec \"$tryexec\" is not an installed program"
fi

# validate-tree checks the metainfo against the desktop entry it launches.
if ! out=$("$appstreamcli" validate-tree --no-net --strict "$dest" 2>&1); then
  echo "$out"; fail "appstreamcli validate-tree"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"; exit 1
fi
echo "installed layout OK"
