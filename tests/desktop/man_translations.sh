#!/usr/bin/env bash
# Every paragraph of the English manual pages has its translation in each
# po/man/*.po: po4a brings the pages' paragraphs into a copy of each, and
# none may then be untranslated or fuzzy (a paragraph changed since it was
# translated).
#
# usage: man_translations.sh SOURCE_DIR
set -uo pipefail

src=$1
for tool in po4a msgfmt; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The copies are updated in the scratch folder; the tree is left alone.
# po4a reads the catalogues from there, and goes by the pages' contents, not
# their times (--force): copies newer than the pages would be taken as up to
# date.
mkdir -p "$tmp/po/man"
cp "$src"/po/man/*.po "$src"/po/man/*.pot "$tmp/po/man/"
if ! out=$(po4a --force --no-translations --srcdir "$src" --destdir "$tmp" "$src/po/man/po4a.cfg" 2>&1); then
  echo "$out"; echo "FAIL: po4a"; exit 1
fi
failures=0
for po in "$src"/po/man/*.po; do
  name=$(basename "$po")
  updated=$tmp/po/man/$name
  [ -f "$updated" ] || { echo "FAIL: po4a did not bring the pages into $name"; failures=$((failures + 1)); continue; }
  stats=$(msgfmt --check --statistics -o /dev/null "$updated" 2>&1)
  echo "$name: $stats"
  case $stats in
    *untranslated* | *fuzzy*) echo "FAIL: $name lacks translations (po4a po/man/po4a.cfg --no-translations)"
                              failures=$((failures + 1)) ;;
  esac
done
[ "$failures" = 0 ]
