#!/bin/bash
# The translations against the sources: every message the program can say
# has its translation, and each translation has the places ({0}, {1}...) of
# its English, no more and no fewer: a missing one loses a value, an extra
# one makes the program fall back to English.
# translations.sh SOURCE_DIR
set -u
source_dir=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0

if ! "$source_dir/po/template.sh" "$source_dir" "$scratch/vrindel-cli.pot" 2>"$scratch/err"; then
    cat "$scratch/err"
    exit 1
fi

places() { grep -o '{[0-9]*}' | sort -u | tr -d '\n'; }

for po in "$source_dir"/po/*.po; do
    # msgcmp reports each message of the sources the translation lacks or
    # leaves untranslated.
    if ! msgcmp "$po" "$scratch/vrindel-cli.pot" 2>"$scratch/cmp"; then
        echo "$(basename "$po"): messages without a translation:"
        grep -v "^msgcmp:" "$scratch/cmp" | head -20
        failed=1
    fi
    if msgattrib --only-fuzzy --no-obsolete "$po" | grep -q '^msgid'; then
        echo "$(basename "$po"): fuzzy translations left (check them, then drop the fuzzy mark)"
        failed=1
    fi
    # Every form of every translation, with its English.
    msgexec --input="$po" sh -c 'printf "%s\n\036\n" "$MSGEXEC_MSGID"; cat; printf "\n\037\n"' >"$scratch/pairs" 2>/dev/null
    while IFS= read -r -d $'\037' pair; do
        english=${pair%%$'\036'*}
        translated=${pair#*$'\036'}
        [ -z "$(printf '%s' "$english" | tr -d '\n')" ] && continue   # the header
        if [ "$(printf '%s' "$english" | places)" != "$(printf '%s' "$translated" | places)" ]; then
            echo "$(basename "$po"): places differ:"
            echo "  $english" | head -2
            echo "  $translated" | head -2
            failed=1
        fi
    done <"$scratch/pairs"
done
exit $failed
