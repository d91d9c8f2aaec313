#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# kestrel-cli's bash completion, run as bash runs it on a TAB: the script is
# sourced, COMP_WORDS and COMP_CWORD are set and the completion function's
# COMPREPLY is compared with what a person expects. Catalog entries come from
# the real kestrel-cli over a data folder made here.
#
# The zsh completion, which needs zsh to run, is only read: it must name
# every command and option too.
#
#   CompletionTest.sh KESTREL_CLI BASH_COMPLETION [ZSH_COMPLETION]
set -uo pipefail

cli=$(realpath "$1")
script=$2
zsh_script=${3:-}
failures=0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME=$work/data HOME=$work/home
export PATH=$(dirname "$cli"):$PATH
mkdir -p "$work/tree/sub dir" "$work/tree/sub2" "$work/elsewhere" "$HOME"
echo x >"$work/tree/file"
kestrel-cli create Photos "$work/tree" >/dev/null 2>&1 &&
    kestrel-cli create "My Cats" "$work/tree" >/dev/null 2>&1 &&
    kestrel-cli create Old "$work/tree" >/dev/null 2>&1 &&
    mv "$XDG_DATA_HOME/kestrel/Old.mdb" "$work/elsewhere/Old.mdb" &&
    kestrel-cli add "$work/elsewhere/Old.mdb" >/dev/null || {
    echo "FAIL: could not make the catalogs" >&2
    exit 1
}

# shellcheck source=/dev/null
source "$script" || {
    echo "FAIL: $script does not load" >&2
    exit 1
}
[ "$(complete -p kestrel-cli 2>/dev/null)" = "complete -F _kestrel_cli kestrel-cli" ] || {
    echo "FAIL: $script registers no completion for kestrel-cli" >&2
    exit 1
}

# expect "REPLY..." WORD...: completing the last WORD offers exactly the
# replies (sorted, one space apart).
expect() {
    local want=$1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMP_LINE="$*"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _kestrel_cli kestrel-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | LC_ALL=C sort | paste -sd ' ')
    if [ "$got" != "$want" ]; then
        echo "FAIL: '$*<TAB>' offers '$got', expected '$want'" >&2
        failures=$((failures + 1))
    fi
}

# Offers, one a line, on completing the last of the words. Read them from a
# variable: grep -q on a pipe may stop reading early, and pipefail would count
# the writer's broken pipe as a failure.
offers() {
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMPREPLY=()
    _kestrel_cli kestrel-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}"
}

old=$(printf '%q' "$work/elsewhere/Old.mdb")

expect "search" kestrel-cli se
expect "delete diff du duplicates" kestrel-cli d
expect "--help --version" kestrel-cli --
expect "both dirs files" kestrel-cli search --where ""
expect "files" kestrel-cli search --where = fi
expect "csv json tsv" kestrel-cli info --format ""
expect "--changed-before --changed-within" kestrel-cli search --ch
expect "--archive-depth --archives --checksum --exclude --force --help --jobs --max-size --one-file-system" kestrel-cli create --
expect "" kestrel-cli create --max-size ""
expect "Photos" kestrel-cli verify P
expect "$old My\\ Cats Photos" kestrel-cli verify Photos ""
expect "My\\ Cats" kestrel-cli delete "My\\ C"
expect "My\\ Cats" kestrel-cli delete "'My C"
expect "$old" kestrel-cli info "$work/else"
expect "" kestrel-cli search ""
expect "Photos" kestrel-cli search --where files --size +1M "*.jpg" Ph
expect "Photos" kestrel-cli search --where=files "*.jpg" Ph
expect "" kestrel-cli diff Photos Photos ""
expect "Photos" kestrel-cli reindex Ph
expect "" kestrel-cli create Ph
expect "$work/tree/sub dir $work/tree/sub2" kestrel-cli create Name "$work/tree/"
expect "$work/tree/file" kestrel-cli add "$work/tree/f"
expect "" kestrel-cli list ""

# Both completions offer exactly the commands of kestrel-cli's command table
# and, for each command, exactly the options it takes.
sorted() { printf '%s\n' "$@" | sed '/^$/d' | LC_ALL=C sort | paste -sd ' '; }
# The same, each once (-h is help, unless a command has a -h of its own).
sorted_once() { printf '%s\n' "$@" | sed '/^$/d' | LC_ALL=C sort -u | paste -sd ' '; }
# The text of command $1's part of the zsh completion, the arrays it uses
# written out.
zsh_part() {
    awk -v want="$1" '
        /^ *[a-z]+=\(/ { name = $0; sub(/^ */, "", name); sub(/=.*/, "", name); array = name; text[name] = "" }
        array != "" { text[array] = text[array] " " $0; if ($0 ~ /\)$/) array = ""; next }
        /^ *[a-z][a-z |]*\)$/ { line = $0; gsub(/[ )]/, "", line); n = split(line, names, "|")
                                inside = 0; for (i = 1; i <= n; i++) if (names[i] == want) inside = 1; next }
        inside { part = part " " $0; if ($0 ~ /;;/) inside = 0 }
        END { for (name in text) gsub("\\$" name, text[name], part); print part }' "$zsh_script"
}
table=$(kestrel-cli --command-table) || {
    echo "FAIL: kestrel-cli --command-table failed" >&2
    failures=$((failures + 1))
}
table_commands=$(cut -d' ' -f1 <<<"$table")
expect "$(sorted $table_commands --help --version)" kestrel-cli ""
if [ -n "$zsh_script" ]; then
    zsh_commands=$(awk '/commands=\($/ { inside = 1; next } inside && /^ *\)$/ { inside = 0 }
                        inside' "$zsh_script" | sed -E "s/^ *'([a-z-]+):.*/\1/")
    [ "$(sorted $zsh_commands)" = "$(sorted $table_commands)" ] || {
        echo "FAIL: the zsh completion offers the commands '$(sorted $zsh_commands)', kestrel-cli runs '$(sorted $table_commands)'" >&2
        failures=$((failures + 1))
    }
fi
while read -r command options; do
    expect "$(sorted $options --help)" kestrel-cli "$command" -
    [ -n "$zsh_script" ] || continue
    zsh_options=$(zsh_part "$command" | sed "s/\\[[^]]*\\]//g; s/'([^)]*)'//g" |
        grep -oE -- "(^|[^[:alnum:]-])(--[a-z][a-z0-9-]*[a-z0-9]|-[a-z0-9])" | grep -oE -- '-.*')
    [ "$(sorted $zsh_options)" = "$(sorted_once $options -h --help)" ] || {
        echo "FAIL: the zsh completion offers '$(sorted $zsh_options)' for $command, which takes '$(sorted_once $options -h --help)'" >&2
        failures=$((failures + 1))
    }
done <<<"$table"

# The completion knows every command and every option kestrel-cli's help
# shows in its usage lines.
mapfile -t commands < <(kestrel-cli --help | sed -n 's/^  \([a-z][a-z-]*\)\( .*\)\{0,1\}$/\1/p')
[ ${#commands[@]} -ge 10 ] || {
    echo "FAIL: kestrel-cli --help lists only: ${commands[*]}" >&2
    failures=$((failures + 1))
}
for command in "${commands[@]}"; do
    grep -qxF -- "$command" <<<"$(offers kestrel-cli "")" || {
        echo "FAIL: 'kestrel-cli <TAB>' does not offer $command" >&2
        failures=$((failures + 1))
    }
    if [ -n "$zsh_script" ] && ! grep -qF -- "'$command:" "$zsh_script"; then
        echo "FAIL: the zsh completion does not offer $command" >&2
        failures=$((failures + 1))
    fi
    usage=$(kestrel-cli "$command" --help | sed '/^$/q')
    for option in $(grep -oE -- '\[(--[a-z][a-z0-9-]*|-[a-z0-9])[] ]' <<<"$usage" | tr -d '[] '); do
        grep -qxF -- "$option" <<<"$(offers kestrel-cli "$command" -)" || {
            echo "FAIL: 'kestrel-cli $command -<TAB>' does not offer $option" >&2
            failures=$((failures + 1))
        }
        if [ -n "$zsh_script" ] && ! grep -qE -- "[{,'*]$option[],=[}]" "$zsh_script"; then
            echo "FAIL: the zsh completion does not know $option" >&2
            failures=$((failures + 1))
        fi
    done
done

if [ "$failures" -ne 0 ]; then
    echo "$failures completions went wrong" >&2
    exit 1
fi
echo "kestrel-cli completes as expected"
