# SPDX-License-Identifier: GPL-3.0-or-later
# bash completion for kestrel-cli
#
# Completes the commands, each command's options, the values of --where and
# --format, catalog list entries (from `kestrel-cli list`) where a command
# takes an ENTRY, directories for START_DIR and files for `add PATH`.
# Needs nothing of the bash-completion package, so it also works sourced alone.

# The word as the shell will pass it: quotes and backslashes taken off.
_kestrel_cli_unquote() {
    local word=$1 plain= i
    case $word in
        \'*) word=${word#\'}; printf '%s' "${word%\'}"; return ;;
        \"*) word=${word#\"}; printf '%s' "${word%\"}"; return ;;
    esac
    for ((i = 0; i < ${#word}; i++)); do
        if [[ ${word:i:1} == \\ ]]; then
            ((i++))
        fi
        plain+=${word:i:1}
    done
    printf '%s' "$plain"
}

# COMPREPLY = the catalog list entries that begin with $1, quoted for the
# command line (an entry may hold spaces or quotes).
_kestrel_cli_entries() {
    local prefix cli=$2 entry
    prefix=$(_kestrel_cli_unquote "$1")
    while IFS= read -r entry; do
        if [[ $entry == "$prefix"* ]]; then
            COMPREPLY+=("$(printf '%q' "$entry")")
        fi
    done < <("$cli" list 2>/dev/null)
}

_kestrel_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev= cli=${COMP_WORDS[0]}
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()

    # "--where=fi" comes as the three words --where, = and fi.
    if [[ $cur == = ]]; then
        cur=
    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    fi
    # The program as typed runs `list`; a ~ in it the shell has not expanded.
    if [[ $cli != */* || ! -x $cli ]]; then
        cli=kestrel-cli
    fi

    local commands="create update info list add delete search verify diff duplicates ls tree du reindex
                    volumes note watch"
    if ((COMP_CWORD == 1)); then
        mapfile -t COMPREPLY < <(compgen -W "$commands --help --version" -- "$cur")
        return
    fi

    local command=${COMP_WORDS[1]} flags= valued=
    case $command in
        create) flags="--checksum --one-file-system --archives --force"
                valued="--max-size --exclude --archive-depth --jobs" ;;
        update) flags="--checksum --one-file-system --archives"
                valued="--max-size --exclude --archive-depth --jobs" ;;
        info | verify) valued="--format" ;;
        delete) flags="--yes" ;;
        search) flags="-0 --null --online --offline"
                valued="--where --size --changed-within --changed-before --format" ;;
        diff) flags="--content"
              valued="--format" ;;
        duplicates) valued="--min-size --format" ;;
        ls) flags="-l"
            valued="--format" ;;
        tree) flags="--archives"
              valued="--depth" ;;
        du) flags="-h"
            valued="--depth --sort --top" ;;
        volumes) valued="--format" ;;
        watch) flags="--update --verify" ;;
        list | add | reindex | note) ;;
        *) return ;;
    esac

    case $prev in
        --where)
            mapfile -t COMPREPLY < <(compgen -W "both files dirs" -- "$cur")
            return ;;
        --format)
            mapfile -t COMPREPLY < <(compgen -W "tsv csv json" -- "$cur")
            return ;;
        --sort)
            mapfile -t COMPREPLY < <(compgen -W "size name" -- "$cur")
            return ;;
    esac
    if [[ " $valued " == *" $prev "* ]]; then
        return # a number, a pattern or a time: nothing to offer
    fi

    # Which operand the cursor is on: options, their values and "--" do not count.
    local i word operand=0 options_ended=
    for ((i = 2; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ $options_ended ]]; then
            operand=$((operand + 1))
        elif [[ $word == -- ]]; then
            options_ended=1
        elif [[ $word == = ]]; then
            ((i++)) # the value after --option=
        elif [[ $word == -?* ]]; then
            if [[ " $valued " == *" $word "* && ${COMP_WORDS[i + 1]} != = ]]; then
                ((i++))
            fi
        else
            operand=$((operand + 1))
        fi
    done

    if [[ -z $options_ended && $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$flags $valued --help" -- "$cur")
        return
    fi

    case $command in
        create)
            if ((operand == 1)); then # START_DIR; NAME is new, nothing to offer
                compopt -o filenames 2>/dev/null
                mapfile -t COMPREPLY < <(compgen -d -- "$(_kestrel_cli_unquote "$cur")")
            fi ;;
        add)
            if ((operand == 0)); then
                compopt -o filenames 2>/dev/null
                mapfile -t COMPREPLY < <(compgen -f -- "$(_kestrel_cli_unquote "$cur")")
            fi ;;
        update | delete | ls | tree | du | note)
            ((operand == 0)) && _kestrel_cli_entries "$cur" "$cli" ;; # then PATH or TEXT: nothing to offer
        diff)
            ((operand < 2)) && _kestrel_cli_entries "$cur" "$cli" ;;
        search)
            ((operand > 0)) && _kestrel_cli_entries "$cur" "$cli" ;; # the first is PATTERN
        info | verify | duplicates | reindex | volumes)
            _kestrel_cli_entries "$cur" "$cli" ;;
    esac
    return 0
}

complete -F _kestrel_cli kestrel-cli

# Local Variables:
# mode: sh
# End:
