# bash completion for vrindel-cli                           -*- shell-script -*-

_vrindel_cli() {
    local cur prev words cword
    _init_completion || return

    local commands="list find add rename relocate delete export import scan merge check help"
    local command="" i where=() at=0
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            -C | --directory) where=(-C "${words[i + 1]}"); ((i++)) ;;
            --menu) where=(--menu) ;;
            -*) ;;
            *) command=${words[i]}; at=$i; break ;;
        esac
    done

    case $prev in
        -C | --directory)
            _filedir -d; return ;;
        -o | --output)
            _filedir; return ;;
        --format)
            if [[ $command == check ]]; then
                COMPREPLY=($(compgen -W "text json" -- "$cur"))
            elif [[ $command == list || $command == find ]]; then
                COMPREPLY=($(compgen -W "text csv tsv json" -- "$cur"))
            elif [[ $command == export ]]; then
                COMPREPLY=($(compgen -W "csv tsv json xlsx" -- "$cur"))
            else
                COMPREPLY=($(compgen -W "csv tsv json xlsx ods" -- "$cur"))
            fi
            return ;;
        --delimiter)
            COMPREPLY=($(compgen -W ", ';' tab" -- "$cur")); return ;;
        --encoding)
            COMPREPLY=($(compgen -W "utf-8 windows-1250" -- "$cur")); return ;;
        --location | --extensions)
            return ;;
    esac

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "-C --directory --menu -q --quiet --no-progress -h --help --version" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        fi
        return
    fi

    local options="-h --help"
    case $command in
        list) options+=" --sorted --format" ;;
        find) options+=" --sorted --format" ;;
        export) options+=" -o --output --sorted --format --spreadsheet --excel" ;;
        import) options+=" --format --delimiter --encoding --lines --location --update --dry-run --skip-invalid" ;;
        scan) options+=" --location -r --recursive --extensions --update --dry-run" ;;
        merge) options+=" --dry-run --remove" ;;
        check) options+=" --format" ;;
        help)
            COMPREPLY=($(compgen -W "$commands" -- "$cur")); return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    elif [[ ($command == rename || $command == relocate || $command == delete) && $((cword - at)) -eq 1 ]]; then
        # The record's name, from the catalogue the command works on; the
        # program streams the names that start with what is typed.
        local name cli=${words[0]} typed=${cur//\\/}
        typed=${typed#[\"\']}
        [[ $cli == */* || $(type -t "$cli") ]] || cli=vrindel-cli
        COMPREPLY=()
        while IFS= read -r name; do
            COMPREPLY+=("$(printf '%q' "$name")")
        done < <("$cli" "${where[@]}" complete-names "$typed" 2>/dev/null)
    elif [[ $command == import || $command == merge ]]; then
        _filedir
    elif [[ $command == scan ]]; then
        _filedir -d
    fi
} &&
    complete -F _vrindel_cli vrindel-cli

# ex: filetype=sh
