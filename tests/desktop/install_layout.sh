#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR with the prefix a distribution
# package uses and checks that every file lands where desktops look for it,
# that nothing else is installed, and that the installed tree holds together:
# the metainfo's launchable, the desktop entry and its icon at every size, a
# manual page for every program that renders without a warning, and the
# catalogue's file type: a desktop's databases made from the installed tree
# give a Zoznam.dat that type and open it with the program. The manual pages
# are there in each language they are translated to, and the README where a
# distribution keeps a package's documentation.
#
# usage: install_layout.sh BUILD_DIR APP_ID APPSTREAMCLI "ICON_SIZES" "PROGRAMS" GIO UPDATE_MIME_DATABASE
#                          "MAN_LANGUAGES"
set -uo pipefail

build=$1 id=$2 appstreamcli=$3 gio=$6 update_mime_database=$7
read -r -a sizes <<<"$4"
read -r -a programs <<<"$5"
read -r -a man_languages <<<"${8:-}"
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
  "usr/share/applications/$id.desktop"
  "usr/share/metainfo/$id.metainfo.xml"
  "usr/share/mime/packages/$id.xml"
  usr/share/icons/hicolor/scalable/apps/vrindel.svg
  usr/share/doc/vrindel/README.md
)
pages=()
for p in "${programs[@]}"; do
  expected+=("usr/bin/$p")
  pages+=("usr/share/man/man1/$p.1")
  for l in "${man_languages[@]}"; do
    pages+=("usr/share/man/$l/man1/$p.1")
  done
done
expected+=("${pages[@]}")
# Shell completion where bash, zsh and fish look for a command's own, and
# the command's Slovak messages where gettext looks for them.
case " ${programs[*]} " in
  *" vrindel-cli "*)
    expected+=(usr/share/bash-completion/completions/vrindel-cli usr/share/zsh/vendor-completions/_vrindel-cli
               usr/share/fish/vendor_completions.d/vrindel-cli.fish usr/share/locale/sk/LC_MESSAGES/vrindel-cli.mo) ;;
esac
for s in "${sizes[@]}"; do
  expected+=("usr/share/icons/hicolor/${s}x$s/apps/vrindel.png")
done
for f in "${expected[@]}"; do
  [ -f "$dest/$f" ] || fail "$f was not installed"
done
for p in "${programs[@]}"; do
  [ -x "$dest/usr/bin/$p" ] || fail "usr/bin/$p is not executable"
done

# A package must not carry build leftovers such as static libraries or
# headers, nor a page without its program.
while IFS= read -r f; do
  case " ${expected[*]} " in
    *" $f "*) ;;
    *) fail "unexpected file installed: $f" ;;
  esac
done < <(cd "$dest" && find . -type f -printf '%P\n')

# Each PNG's header holds its width and height (bytes 16 to 23, big-endian).
for s in "${sizes[@]}"; do
  png=$dest/usr/share/icons/hicolor/${s}x$s/apps/vrindel.png
  [ -f "$png" ] || continue
  read -r w h < <(od -An -tu1 -j16 -N8 "$png" |
                  awk '{ print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }')
  [ "$w $h" = "$s $s" ] || fail "the ${s}x$s icon is $w x $h pixels"
done

# Both in a plain terminal and in a UTF-8 one, as man-db shows them; a
# translated page in its own language from its first heading on.
for f in "${pages[@]}"; do
  page=$dest/$f
  [ -f "$page" ] || continue
  p=$(basename "$f" .1)
  case $f in
    usr/share/man/man1/*) heading=NAME ;;
    usr/share/man/sk/man1/*) heading="N[AÁ]ZOV" ;;
    *) heading="" ;;
  esac
  for locale in C C.UTF-8; do
    if ! out=$(LC_ALL=$locale MANWIDTH=80 man --warnings -l "$page" 2>&1 >"$dest/page.txt"); then
      fail "man -l $f ($locale) failed: $out"
    elif [ -n "$out" ]; then
      fail "man -l $f ($locale) warns: $out"
    elif ! grep -Eq "^$heading\$" "$dest/page.txt" || ! grep -q "$p" "$dest/page.txt"; then
      fail "man -l $f ($locale) shows no page for $p headed $heading"
    fi
  done
  rm -f "$dest/page.txt"
done

entry=$dest/usr/share/applications/$id.desktop
if [ -f "$entry" ]; then
  icon=$(sed -n 's/^Icon=//p' "$entry")
  [ "$icon" = vrindel ] || fail "the desktop entry's icon is \"$icon\", not the installed vrindel"
  tryexec=$(sed -n 's/^TryExec=//p' "$entry")
  [ -n "$tryexec" ] && [ -x "$dest/usr/bin/$tryexec" ] ||
    fail "the desktop entry's TryExec \"$tryexec\" is not an installed program"
fi

# validate-tree checks the metainfo against the desktop entry it launches.
if ! out=$("$appstreamcli" validate-tree --no-net --strict "$dest" 2>&1); then
  echo "$out"; fail "appstreamcli validate-tree"
fi

# What a package's triggers make of the installed files, then the type of
# catalogue files and the program they open with, as GLib's file managers
# see them. The files have content: GLib calls every empty file text/plain.
type=application/x-vrindel-catalogue
if ! out=$("$update_mime_database" "$dest/usr/share/mime" 2>&1 &&
           update-desktop-database "$dest/usr/share/applications" 2>&1); then
  fail "the desktop's databases could not be made: $out"
else
  desktop_env=(env -i LC_ALL=C.UTF-8 PATH="$dest/usr/bin:/usr/bin:/bin" HOME="$dest/home"
               XDG_DATA_HOME="$dest/home/data" XDG_CONFIG_HOME="$dest/home/config"
               XDG_DATA_DIRS="$dest/usr/share:/usr/share")
  mkdir -p "$dest/files/box"
  while read -r name expected; do
    head -c 64 /dev/zero >"$dest/files/$name"
    got=$("${desktop_env[@]}" "$gio" info -a standard::content-type "$dest/files/$name" |
          sed -n 's/^ *standard::content-type: //p')
    if [ "$expected" = yes ] && [ "$got" != "$type" ]; then
      fail "$name has the type \"$got\", not $type"
    elif [ "$expected" = no ] && [ "$got" = "$type" ]; then
      fail "$name has the catalogue's type"
    fi
  done <<'NAMES'
box/Zoznam.dat yes
zoznam.dat no
Zoznam.dat.bak no
Options.dat no
NAMES
  default=$("${desktop_env[@]}" "$gio" mime "$type" | sed -n 's/^Default application for .*: //p')
  [ "$default" = "$id.desktop" ] || fail "a catalogue opens with \"$default\", not $id.desktop"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"; exit 1
fi
echo "installed layout OK"
