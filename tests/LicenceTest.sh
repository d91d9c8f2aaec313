#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Kestrel's licence is stated wherever a reader or a tool looks for it:
#   - COPYING is the whole text of the GNU GPL version 3;
#   - every C++ source and header begins with the SPDX line, and every
#     script, CMake file, completion and unit carries it in its first two
#     lines (after a #! or #compdef line);
#   - the manual pages' COPYRIGHT section, the help page and the AppStream
#     file name GPL-3.0-or-later.
# The Debian package's copyright file is checked by tools/check-package.sh.
#
#   LicenceTest.sh SOURCE_DIR
set -uo pipefail

cd "$1" || exit 1
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

spdx='SPDX-License-Identifier: GPL-3.0-or-later'

# The GPL's own title lines and its last section, whose wording is unique to
# version 3; the whole text when the system has it to compare with.
[ -f COPYING ] || fail "no COPYING"
if [ -f /usr/share/common-licenses/GPL-3 ]; then
    cmp -s COPYING /usr/share/common-licenses/GPL-3 || fail "COPYING is not the text of the GPL version 3"
fi
copying=$(tr -s ' \n' ' ' <COPYING 2>/dev/null)
for words in "GNU GENERAL PUBLIC LICENSE Version 3, 29 June 2007" "17. Interpretation of Sections 15 and 16." "END OF TERMS AND CONDITIONS"; do
    [[ $copying == *"$words"* ]] || fail "COPYING lacks '$words'"
done

# The sources: what git tracks or would (a new file not yet added counts),
# or without git everything but build trees and what a build generates.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files --cached --others --exclude-standard)
else
    mapfile -t files < <(find . \( -path './build*' -o -name .git -o -name CMakeFiles -o -name '*_autogen' \) -prune \
        -o -type f -print | sed 's|^\./||')
fi
checked=0
for f in "${files[@]}"; do
    [ -f "$f" ] || continue
    case $f in
        *.cpp | *.h | *.inc)
            [ "$(head -n 1 "$f")" = "// $spdx" ] || fail "$f does not begin with '// $spdx'"
            ;;
        *.sh | *.py | *.bash | *.cmake | *.service.in | CMakeLists.txt | */CMakeLists.txt | .ci/run | cli/completion/_kestrel-cli)
            first=$(head -n 1 "$f")
            second=$(sed -n 2p "$f")
            line=1
            [[ $first == '#!'* || $first == '#compdef'* ]] && line=2
            [ "$(sed -n "${line}p" "$f")" = "# $spdx" ] || fail "$f lacks '# $spdx' on line $line"
            # A #! or #compdef line works on the first line only.
            [[ $second == '#!'* || $second == '#compdef'* ]] && fail "$f has '$second' on line 2"
            [ -x "$f" ] && [[ $first != '#!'* ]] && fail "$f is a program without a #! line"
            [ "$f" = cli/completion/_kestrel-cli ] && [[ $first != '#compdef '* ]] && fail "$f does not begin with #compdef"
            ;;
        *) continue ;;
    esac
    checked=$((checked + 1))
done
[ "$checked" -ge 100 ] || fail "only $checked source files found to check"

for page in docs/man/kestrel.1 docs/man/kestrel-cli.1; do
    section=$(awk '/^\.SH / { on = ($2 == "COPYRIGHT") } on' "$page")
    [ -n "$section" ] || fail "$page has no COPYRIGHT section"
    [[ $section == *'GPL\-3.0\-or\-later'* ]] || fail "$page's COPYRIGHT section does not name GPL-3.0-or-later"
    [[ $section == *"any later"* ]] || fail "$page's COPYRIGHT section does not allow any later version"
done
help=$(sed -n '/<h2>Licence<\/h2>/,/<\/p>/p' res/help/kestrel.htm)
[[ $help == *"GPL-3.0-or-later"* ]] || fail "the help page has no Licence section naming GPL-3.0-or-later"
grep -qF '<project_license>GPL-3.0-or-later</project_license>' res/io.github.kestrel.metainfo.xml ||
    fail "the AppStream file's project_license is not GPL-3.0-or-later"

[ "$failures" -eq 0 ] && echo "LicenceTest: COPYING, $checked sources, the manual pages, the help page and the AppStream file name GPL-3.0-or-later"
exit $((failures > 0))
