#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the Debian package (tools/dev.sh package) and checks what it holds:
# exactly the files an installation needs, stripped programs that run,
# gzipped manual pages equal to their sources, the Depends field that
# dpkg-shlibdeps found, sensible control fields, the licence where Debian and
# AppStream look for it, no homepage that is not really one, a valid desktop
# entry, AppStream file and manual pages, and nothing lintian objects to.
# Fails on the first finding.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/dev.sh package

fail() {
    echo "check-package: $*" >&2
    exit 1
}

version=$(build/cli/kestrel-cli --version)
version=${version##* }
deb=build/kestrel_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $deb"

# The files, nothing more and nothing less (directories aside).
expected="./usr/bin/kestrel
./usr/bin/kestrel-cli
./usr/lib/systemd/user/kestrel-watch.service
./usr/share/applications/kestrel.desktop
./usr/share/bash-completion/completions/kestrel-cli
./usr/share/doc/kestrel/copyright
./usr/share/icons/hicolor/scalable/apps/kestrel.svg
./usr/share/kestrel/help/kestrel.htm
./usr/share/man/man1/kestrel-cli.1.gz
./usr/share/man/man1/kestrel.1.gz
./usr/share/metainfo/io.github.kestrel.metainfo.xml
./usr/share/zsh/vendor-completions/_kestrel-cli"
contents=$(dpkg-deb -c "$deb")
files=$(awk '$1 !~ /^d/ { print $6 }' <<<"$contents" | LC_ALL=C sort)
[ "$files" = "$expected" ] || fail "$deb holds
$files
instead of
$expected"
if awk '$2 != "root/root" { bad = 1 } END { exit !bad }' <<<"$contents"; then
    fail "files not owned by root in $deb"
fi

# Control fields. Texts are matched from variables: grep -q or head on a pipe
# may stop reading early, and pipefail would count the writer's broken pipe.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = kestrel ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version), the programs say $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture: $(field Architecture)"
[ "$(field Section)" = utils ] || fail "Section: $(field Section)"
maintainer=$(field Maintainer)
grep -qE '^[^<>]+ <[^<>@ ]+@[^<>@ ]+>$' <<<"$maintainer" || fail "Maintainer: $maintainer"
description=$(field Description)
[[ $description == "catalogue "* ]] || fail "Description: ${description%%$'\n'*}"
[ "$(wc -l <<<"$description")" -ge 5 ] || fail "the Description has no long text"
homepage=$(field Homepage)
[ -z "$homepage" ] || [[ $homepage == https://* ]] || fail "Homepage: $homepage"

# Depends: what the binaries link, each with the version dpkg-shlibdeps
# found, plus the SVG plugins, which are loaded at run time.
depends=$(field Depends)
for library in libc6 libstdc++6 libgcc-s1 libsqlite3-0 libblkid1 libarchive13 libqt6core6 libqt6gui6 libqt6widgets6; do
    grep -qE "(^|, )${library//+/\\+} \(>= [^)]+\)(,|$)" <<<"$depends" || fail "Depends lacks $library (>= ...): $depends"
done
grep -qE '(^|, )libqt6svg6(,|$)' <<<"$depends" || fail "Depends lacks libqt6svg6: $depends"
if grep -qE -- '-dev\b' <<<"$depends"; then
    fail "Depends names a development package: $depends"
fi

# What is inside.
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
usr=$unpacked/usr
for program in kestrel kestrel-cli; do
    [[ $(file -b "$usr/bin/$program") == *", stripped"* ]] || fail "$program is not stripped"
    [ "$(env -u DISPLAY -u WAYLAND_DISPLAY "$usr/bin/$program" --version)" = "$program $version" ] ||
        fail "the packaged $program does not tell its version $version"
done
for page in kestrel-cli kestrel; do
    gz=$usr/share/man/man1/$page.1.gz
    gzip -t "$gz" || fail "$page.1.gz is no gzip file"
    zcat "$gz" >"$unpacked/$page.1"
    cmp -s "$unpacked/$page.1" "docs/man/$page.1" || fail "$page.1.gz differs from docs/man/$page.1"
    warnings=$(zcat "$gz" | groff -ww -man -Tutf8 -z 2>&1)
    [ -z "$warnings" ] || fail "groff warns on $page.1: $warnings"
    warnings=$(zcat "$gz" | mandoc -T lint 2>&1)
    [ -z "$warnings" ] || fail "mandoc warns on $page.1: $warnings"
done
cmp -s "$usr/share/bash-completion/completions/kestrel-cli" cli/completion/kestrel-cli.bash ||
    fail "the packaged completion differs from cli/completion/kestrel-cli.bash"
bash -n "$usr/share/bash-completion/completions/kestrel-cli" || fail "the completion is no bash script"
cmp -s "$usr/share/zsh/vendor-completions/_kestrel-cli" cli/completion/_kestrel-cli ||
    fail "the packaged zsh completion differs from cli/completion/_kestrel-cli"

unit=$usr/lib/systemd/user/kestrel-watch.service
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
[ "$exec_start" = "/usr/bin/kestrel-cli watch --update" ] ||
    fail "kestrel-watch.service runs '$exec_start', not the packaged kestrel-cli watch --update"
if command -v systemd-analyze >/dev/null; then
    # Checked as a copy that runs the unpacked program, which is not
    # installed here; every key it does not take is a warning.
    mkdir "$unpacked/unit"
    sed "s|^ExecStart=/usr/bin/|ExecStart=$usr/bin/|" "$unit" >"$unpacked/unit/kestrel-watch.service"
    warnings=$(systemd-analyze verify --man=no "$unpacked/unit/kestrel-watch.service" 2>&1) ||
        fail "systemd-analyze rejects kestrel-watch.service: $warnings"
    [ -z "$warnings" ] || fail "systemd-analyze warns on kestrel-watch.service: $warnings"
fi
desktop-file-validate "$usr/share/applications/kestrel.desktop" || fail "the desktop entry is not valid"
metainfo=$usr/share/metainfo/io.github.kestrel.metainfo.xml
appstreamcli validate --no-net --pedantic "$metainfo" || fail "the AppStream file is not valid"
grep -qF '<launchable type="desktop-id">kestrel.desktop</launchable>' "$metainfo" ||
    fail "the AppStream file does not launch kestrel.desktop"
# A homepage is named in both or in neither, and it is the same one.
metainfo_homepage=$(sed -n 's|.*<url type="homepage">\(.*\)</url>.*|\1|p' "$metainfo")
[ "$metainfo_homepage" = "$homepage" ] ||
    fail "the AppStream file's homepage is '$metainfo_homepage', the package's '$homepage'"
licence=GPL-3.0-or-later
project_license=$(sed -n 's|.*<project_license>\(.*\)</project_license>.*|\1|p' "$metainfo")
[ "$project_license" = "$licence" ] ||
    fail "the AppStream file's project_license is '$project_license', not $licence"
releases=$(grep -oE '<release version="[^"]+"' "$metainfo")
newest=$(sed -n '1s/.*"\(.*\)"/\1/p' <<<"$releases")
[ "$newest" = "$version" ] || fail "the AppStream file's newest release is $newest, the programs say $version"

# The licence, in Debian's machine-readable copyright format: every Files
# paragraph under GPL-3+ (the format's name for GPL-3.0-or-later), and that
# licence's own paragraph with the "or later" grant and the way to its text.
copyright=$usr/share/doc/kestrel/copyright
cmp -s "$copyright" res/copyright || fail "the packaged copyright differs from res/copyright"
grep -qE '^-rw-r--r-- .* \./usr/share/doc/kestrel/copyright$' <<<"$contents" ||
    fail "the copyright file is not mode 0644"
format=$(head -n 1 "$copyright")
[ "$format" = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ] ||
    fail "the copyright file's first line is '$format'"
# One line per paragraph: the Files patterns, whether it has a Copyright
# field, its License short name, and whether the licence's text follows.
# A line that continues no field (a paragraph cut by an empty line where
# " ." belongs) or a field the format does not know is a line "?|" and what
# it says.
paragraphs=$(awk '
    function flush() { if (name != "" || files != "") print (files == "" ? "-" : files) "|" copyright "|" name "|" text; files = ""; copyright = 0; name = ""; text = 0; field = "" }
    /^$/ { flush(); next }
    /^[ \t]/ && field == "" { print "?|" $0; next }
    /^[^ \t]/ {
        field = $1; sub(/:$/, "", field)
        if (field !~ /^(Format|Upstream-Name|Upstream-Contact|Source|Disclaimer|Comment|License|Copyright|Files)$/) { print "?|" $0; field = ""; next }
    }
    /^Files:/ { sub(/^Files:[ \t]*/, ""); files = $0 }
    /^Copyright:/ { copyright = 1 }
    /^License:/ { sub(/^License:[ \t]*/, ""); name = $0 }
    /^[ \t]/ && field == "License" { text = 1 }
    END { flush() }' "$copyright")
malformed=$(grep -E '^\?\|' <<<"$paragraphs" || true)
[ -z "$malformed" ] || fail "the copyright file has lines outside the format: ${malformed//\?|/}"
grep -qE '^\*\|1\|GPL-3\+\|' <<<"$paragraphs" || fail "the copyright file has no 'Files: *' paragraph under GPL-3+ with a Copyright field"
others=$(grep -vE '^-\|' <<<"$paragraphs" | grep -vE '^[^|]+\|1\|GPL-3\+\|' || true)
[ -z "$others" ] || fail "the copyright file has a Files paragraph without a Copyright field or under another licence: $others"
grep -qE '^-\|0\|GPL-3\+\|1$' <<<"$paragraphs" || fail "the copyright file has no stand-alone GPL-3+ paragraph with the licence's text"
grant=$(tr -s ' \n' ' ' <"$copyright")
[[ $grant == *"either version 3 of the License, or (at your option) any later version"* ]] ||
    fail "the copyright file does not grant version 3 or any later version"
[[ $grant == *'"/usr/share/common-licenses/GPL-3"'* ]] || fail "the copyright file does not point to /usr/share/common-licenses/GPL-3"

# Lintian's errors and warnings, but for the changelog a native package made
# by cpack has none of.
findings=$(lintian --suppress-tags no-changelog "$deb" 2>"$unpacked/lintian.log") ||
    fail "lintian: $findings$(cat "$unpacked/lintian.log")"
[ -z "$findings" ] || fail "lintian: $findings"

echo "check-package: $deb holds $(wc -l <<<"$files") files and depends on: $depends"
