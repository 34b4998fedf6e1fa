#!/usr/bin/env bash
# The shell completions against the program they complete: every command
# and option that --help lists is offered by each shell's script, and bash
# and fish complete a few words as a user would type them.
#
# usage: completion.sh VRINDEL_CLI COMPLETION_DIR
set -uo pipefail

cli=$1 dir=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

commands=$("$cli" help | awk '/^Subcommands:/ { on = 1; next } on && NF == 0 { on = 0 } on { print $1 }')
[ -n "$commands" ] || fail "no commands in vrindel-cli help"
for c in $commands; do
  grep -qw -- "$c" "$dir/vrindel-cli.bash" || fail "bash: the command $c is not offered"
  grep -q -- "'$c:" "$dir/_vrindel-cli" || fail "zsh: the command $c is not offered"
  grep -q -- "-a $c " "$dir/vrindel-cli.fish" || fail "fish: the command $c is not offered"
  [ "$c" = help ] && continue
  for o in $("$cli" "$c" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
    [ "$o" = --help ] && continue
    grep -q -- "$o\b" "$dir/vrindel-cli.bash" || fail "bash: $c $o is not offered"
    grep -q -- "$o\b" "$dir/_vrindel-cli" || fail "zsh: $c $o is not offered"
    grep -q -- "-l ${o#--}\b" "$dir/vrindel-cli.fish" || fail "fish: $c $o is not offered"
  done
done

# bash, through bash-completion's own functions, as a terminal would call it.
if [ -f /usr/share/bash-completion/bash_completion ]; then
  complete_bash() {
    bash -c '
      source /usr/share/bash-completion/bash_completion
      source "$1"; shift
      COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
      COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
      _vrindel_cli vrindel-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
      printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "' _ "$dir/vrindel-cli.bash" "$@"
  }
  check_bash() {
    local expected=$1; shift
    local got; got=$(complete_bash "$@")
    [ "$got" = "$expected" ] || fail "bash: '$*' gives '$got', not '$expected'"
  }
  check_bash "import " vrindel-cli im
  check_bash "scan " vrindel-cli -C /tmp sc
  check_bash "--encoding " vrindel-cli import --enc
  check_bash "windows-1250 " vrindel-cli import --encoding w
  check_bash "csv json text tsv " vrindel-cli list --format ""
  check_bash "csv json tsv xlsx " vrindel-cli export --format ""
  check_bash "csv json ods tsv xlsx " vrindel-cli import --format ""
  # Record names from the catalogue -C names, quoted for the shell.
  names=$(mktemp -d)
  "$cli" -C "$names" add "Chata pod lesom" "CD 1" && "$cli" -C "$names" add "Chalupa" "CD 2" && "$cli" -C "$names" add "Dom" "CD 3"
  PATH=$(dirname "$cli"):$PATH check_bash 'Chalupa Chata\ pod\ lesom ' vrindel-cli -C "$names" delete ch
  PATH=$(dirname "$cli"):$PATH check_bash " " vrindel-cli -C "$names" rename Dom ch   # the new name is the user's own
  rm -rf "$names"
else
  echo "bash-completion is not installed: bash completing left out"
fi

if command -v zsh >/dev/null; then
  zsh -n "$dir/_vrindel-cli" || fail "zsh: the script does not parse"
fi
if command -v fish >/dev/null; then
  fish -n "$dir/vrindel-cli.fish" || fail "fish: the script does not parse"
  got=$(fish --no-config -c "source '$dir/vrindel-cli.fish'; complete -C 'vrindel-cli im'" | cut -f1)
  [ "$got" = import ] || fail "fish: 'vrindel-cli im' gives '$got'"
  got=$(fish --no-config -c "source '$dir/vrindel-cli.fish'; complete -C 'vrindel-cli import --encoding '" | cut -f1 | tr '\n' ' ')
  [ "$got" = "utf-8 windows-1250 " ] || fail "fish: 'import --encoding' gives '$got'"
fi

[ "$failures" -eq 0 ] && echo "completion: all checks passed"
exit $((failures > 0))
