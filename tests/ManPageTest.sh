#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The manual pages and the programs' --help tell the same story:
#   - every option that `kestrel-cli COMMAND --help` names is described in that
#     command's part of kestrel-cli(1), and every option of `kestrel-cli --help`
#     somewhere in the page;
#   - every command the page describes is one kestrel-cli runs;
#   - the page's COMMANDS and SYNOPSIS have exactly the commands of
#     kestrel-cli's command table (`kestrel-cli --command-table`), each
#     option a command takes is told in its part, and its SYNOPSIS line names
#     no option the command does not take;
#   - each page carries the version the program prints;
#   - groff and mandoc, where installed, render the pages without a warning.
#
#   ManPageTest.sh KESTREL_CLI KESTREL_CLI_PAGE [KESTREL KESTREL_PAGE]
set -uo pipefail

cli=$1
cli_page=$2
gui=${3:-}
gui_page=${4:-}
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# The page as plain text, one input line a line: fonts, \& and \% gone, \- a
# hyphen.
plain() {
    sed -e 's/\\f[BIRP]//g; s/\\f(..//g; s/\\-/-/g; s/\\&//g; s/\\%//g' "$1"
}

# The part of the page about command $2: from ".SS $2" to the next heading.
part_of() {
    awk -v heading=".SS $2" '/^\.S[HS]( |$)/ { inside = ($0 == heading); next } inside' <<<"$1"
}

# The options a help text names: --word, or a dash and one letter or digit.
options_in() {
    grep -oE -- '(^|[][[:space:],(|'\''"])(--[a-z][a-z0-9-]*[a-z0-9]|-[a-z0-9])([^[:alnum:]-]|$)' |
        grep -oE -- '--?[a-z0-9][a-z0-9-]*' | sort -u
}

has_word() { # text $1 holds $2 as a whole word
    grep -qE -- "(^|[^[:alnum:]-])$2([^[:alnum:]-]|$)" <<<"$1"
}

check_version() { # program $1 prints "NAME VERSION"; page $2's .TH says "Kestrel VERSION"
    local version page_version
    version=$("$1" --version) || fail "$1 --version failed"
    version=${version##* }
    page_version=$(sed -n 's/^\.TH .*"Kestrel \([^"]*\)".*/\1/p' "$2")
    [ -n "$version" ] && [ "$version" = "$page_version" ] ||
        fail "$2 is of Kestrel '$page_version', the program of '$version'"
}

check_rendering() { # page $1 renders without a warning
    local out
    if command -v groff >/dev/null; then
        for device in utf8 ascii; do
            out=$(groff -ww -man -T"$device" -z "$1" 2>&1)
            [ -z "$out" ] || fail "groff -T$device warns on $1: $out"
        done
    fi
    if command -v mandoc >/dev/null; then
        out=$(mandoc -T lint "$1" 2>&1)
        [ -z "$out" ] || fail "mandoc warns on $1: $out"
    fi
}

page=$(plain "$cli_page")
general=$("$cli" --help) || fail "kestrel-cli --help failed"
mapfile -t commands < <(sed -n 's/^  \([a-z][a-z-]*\)\( .*\)\{0,1\}$/\1/p' <<<"$general")
[ ${#commands[@]} -ge 10 ] || fail "kestrel-cli --help lists only: ${commands[*]}"

for option in $(options_in <<<"$general"); do
    has_word "$page" "$option" || fail "kestrel-cli --help names $option, the page does not"
done

for command in "${commands[@]}"; do
    help=$("$cli" "$command" --help) || fail "kestrel-cli $command --help failed"
    part=$(part_of "$page" "$command")
    [ -n "$part" ] || fail "the page has no part on the command $command"
    for option in $(options_in <<<"$help"); do
        case $option in
            --help | -h) has_word "$page" "$option" || fail "the page does not tell $option" ;;
            *) has_word "$part" "$option" || fail "kestrel-cli $command --help names $option, the page's part on $command does not" ;;
        esac
    done
done

mapfile -t described < <(awk '/^\.SH / { inside = ($0 == ".SH COMMANDS"); next }
                               inside && /^\.SS / { print $2 }' "$cli_page")
[ ${#described[@]} -ge 10 ] || fail "the page's COMMANDS describe only: ${described[*]}"
for command in "${described[@]}"; do
    grep -qxF -- "$command" <<<"$(printf '%s\n' "${commands[@]}")" ||
        fail "the page describes '$command', which kestrel-cli does not run"
done

sorted() { printf '%s\n' "$@" | LC_ALL=C sort | paste -sd ' '; }
table=$("$cli" --command-table) || fail "kestrel-cli --command-table failed"
mapfile -t table_commands < <(cut -d' ' -f1 <<<"$table")
[ "$(sorted "${described[@]}")" = "$(sorted "${table_commands[@]}")" ] ||
    fail "the page's COMMANDS describe '${described[*]}', kestrel-cli runs '${table_commands[*]}'"
synopsis=$(awk '/^\.SH / { inside = ($0 == ".SH SYNOPSIS"); next } inside' "$cli_page" |
    plain /dev/stdin | awk '/^\.B kestrel-cli [a-z]/ { command = $3; print command; next }
                            /^\.br/ { command = "" } command { print command, $0 }')
mapfile -t synopsis_commands < <(awk 'NF == 1' <<<"$synopsis")
[ "$(sorted "${synopsis_commands[@]}")" = "$(sorted "${table_commands[@]}")" ] ||
    fail "the page's SYNOPSIS has '${synopsis_commands[*]}', kestrel-cli runs '${table_commands[*]}'"
while read -r command options; do
    part=$(part_of "$page" "$command")
    for option in $options; do
        has_word "$part" "$option" || fail "$command takes $option, the page's part on $command does not tell it"
    done
    for option in $(awk -v c="$command" '$1 == c { $1 = ""; print }' <<<"$synopsis" | options_in); do
        has_word "$options" "$option" || fail "the page's SYNOPSIS gives $command $option, which it does not take"
    done
done <<<"$table"

check_version "$cli" "$cli_page"
check_rendering "$cli_page"

if [ -n "$gui" ]; then
    gui_text=$(plain "$gui_page")
    gui_help=$(env -u DISPLAY -u WAYLAND_DISPLAY "$gui" --help) || fail "kestrel --help failed"
    for option in $(options_in <<<"$gui_help"); do
        has_word "$gui_text" "$option" || fail "kestrel --help names $option, kestrel(1) does not"
    done
    check_version "$gui" "$gui_page"
    check_rendering "$gui_page"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures disagreements between the programs and their manual pages" >&2
    exit 1
fi
echo "the manual pages agree with --help"
