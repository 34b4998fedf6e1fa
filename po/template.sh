#!/bin/sh
# The message template of vrindel-cli from its sources: template.sh SOURCE_DIR OUT.pot
set -e
cd "$1"
xgettext --from-code=UTF-8 --language=C++ --no-wrap --sort-by-file \
    --keyword=_ --keyword=N_ --keyword=tr:1 --keyword=trn:1,2 \
    --add-comments=TRANSLATORS: --package-name=vrindel-cli \
    --msgid-bugs-address=vrindel@users.noreply.github.io \
    --files-from=po/POTFILES -o "$2"
