#!/usr/bin/env bash
# A catalogue through LibreOffice Calc and back: exported as xlsx, opened and
# saved as ods and as xlsx again, one cell edited in the spreadsheet's own
# file, and imported with --update. What CSV cannot type ("007", a text that
# looks like a formula or a number, Slovak letters, the longest name) comes
# back byte for byte, and the edit is the only change.
#
# usage: spreadsheet_round_trip.sh VRINDEL-CLI
# Exits 77 (skipped) where soffice is not installed.
set -uo pipefail

cli=$1
command -v soffice >/dev/null || { echo "skipped: no soffice (libreoffice-calc-nogui)"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# A profile of its own, so that neither a user's settings nor a running
# LibreOffice takes part.
calc() { soffice --headless -env:UserInstallation="file://$tmp/profile" "$@" >"$tmp/soffice.log" 2>&1; }
# convert FILE FORMAT: FILE.FORMAT next to it, or the test fails.
convert() {
  local from=$1 to=$2
  calc --convert-to "$to" --outdir "$(dirname "$from")" "$from"
  [ -s "${from%.*}.$to" ] || { fail "soffice did not convert $(basename "$from") to $to: $(tail -n 3 "$tmp/soffice.log")"; exit 1; }
}

mkdir -p "$tmp/home" "$tmp/ods" "$tmp/xlsx" "$tmp/edited"
cat >"$tmp/records.csv" <<'CSV'
name,location
007,Skriňa 2
"=SUM(1;2)",Polica č. 3
Šťastný kôň ľúbi ďatelinu 12345,-5
0.10,+421 905
1e3,TRUE
'90s,"Hry; staré, nové"
CSV
cd "$tmp/home" && "$cli" import ../records.csv >/dev/null || { fail "the records were not imported"; exit 1; }
"$cli" export -o "$tmp/home.xlsx" || { fail "export --format xlsx failed"; exit 1; }

# xlsx -> ods -> xlsx, each read back into an empty folder.
cp "$tmp/home.xlsx" "$tmp/ods/calc.xlsx"
convert "$tmp/ods/calc.xlsx" ods
mv "$tmp/ods/calc.ods" "$tmp/calc.ods"
convert "$tmp/calc.ods" xlsx
for file in calc.ods calc.xlsx; do
  folder=$tmp/${file##*.}
  rm -f "$folder/Zoznam.dat"
  (cd "$folder" && "$cli" import "$tmp/$file" >/dev/null) || fail "$file was not imported"
  cmp -s "$folder/Zoznam.dat" "$tmp/home/Zoznam.dat" || fail "$file does not read back as the catalogue"
done

# One cell edited in the spreadsheet's flat file, saved as xlsx, imported
# with --update: that location alone changes.
convert "$tmp/calc.ods" fods
sed 's/Polica č\. 3/Polica č. 4/' "$tmp/calc.fods" >"$tmp/edited.fods"
cmp -s "$tmp/calc.fods" "$tmp/edited.fods" && fail "the cell to edit is not in the flat file"
convert "$tmp/edited.fods" xlsx
cp "$tmp/home/Zoznam.dat" "$tmp/edited/Zoznam.dat"
cd "$tmp/edited"
out=$("$cli" import --update --dry-run "$tmp/edited.xlsx")
expected="$tmp/edited.xlsx:3: would move \"=SUM(1;2)\" from \"Polica č. 3\" to \"Polica č. 4\"
Would import 0 records and change the location of 1 record in Zoznam.dat."
[ "$out" = "$expected" ] || fail "the dry run lists other changes:
$out"
"$cli" import --update "$tmp/edited.xlsx" >/dev/null || fail "import --update failed"
sed 's/Polica č\. 3/Polica č. 4/' "$tmp/records.csv" >"$tmp/edited.csv"
mkdir "$tmp/expected" && (cd "$tmp/expected" && "$cli" import ../edited.csv >/dev/null)
cmp -s "$tmp/edited/Zoznam.dat" "$tmp/expected/Zoznam.dat" || fail "the catalogue after --update is not the edited one"

[ "$failures" = 0 ] && echo "the catalogue came back through LibreOffice Calc byte for byte"
exit $((failures > 0))
