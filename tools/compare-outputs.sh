#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# compare-outputs.sh OLD_CLI NEW_CLI
#
# Runs the same battery of kestrel-cli calls with two builds and compares what
# each call printed (stdout, stderr) and its exit status. Each build gets the
# same freshly made test trees at the same temporary path, its own data and
# config folders there (never the user's), and builds its own catalogs, so the
# catalogs' printed outputs are compared, not the files (they record when they
# were made). Temporary paths, the seconds a command took, the scan times an
# info prints and the volume's free space are replaced by fixed tokens.
#
# Prints "identical: N calls" and exits 0, or prints the differing calls and
# exits 1 (2 for a wrong command line).

set -u

if [ $# -ne 2 ] || [ ! -x "$1" ] || [ ! -x "$2" ]; then
    echo "usage: $0 OLD_CLI NEW_CLI (both executable)" >&2
    exit 2
fi
OLD_CLI=$(realpath "$1")
NEW_CLI=$(realpath "$2")

TMP_ROOT=$(mktemp -d /tmp/kestrel-compare.XXXXXX)
cleanup() {
    chmod -R u+rwX "$TMP_ROOT" 2>/dev/null
    rm -rf "$TMP_ROOT"
}
# KESTREL_COMPARE_KEEP=1 keeps the records for a look.
[ -n "${KESTREL_COMPARE_KEEP:-}" ] || trap cleanup EXIT

W=$TMP_ROOT/w # the same path for both builds
TREES=$W/trees
STAMP='2020-03-04 05:06:07.250000000'

# Writes N bytes of a repeating text made of SEED.
filler() { # FILE N SEED
    yes "$3" | head -c "$2" >"$1"
}

# Gives every entry below DIR the fixed time (links themselves, not targets).
stamp_all() {
    find "$1" -depth -exec touch -h -d "$STAMP" {} +
}

make_trees() {
    mkdir -p "$TREES"
    local o=$TREES/odd
    mkdir -p "$o/empty dir" "$o/a/b/c/d/e/f/g/h" "$o/sub dir/inner" "$o/Zeta" "$o/alpha"
    printf 'space\n' >"$o/with space"
    printf 'tab\n' >"$o/tab"$'\t'"here"
    printf 'newline\n' >"$o/new"$'\n'"line"
    printf 'back\n' >"$o/back\\slash"
    printf 'bad\n' >"$o/bad"$'\xff\xfe'"name"
    printf 'lead\n' >"$o/-leading"
    printf 'unicode\n' >"$o/unicodé ünï 日本.txt"
    printf 'upper\n' >"$o/UPPER.TXT"
    printf 'lower\n' >"$o/lower.txt"
    printf 'report\n' >"$o/Report.pdf"
    printf 'report1\n' >"$o/report1.doc"
    printf 'brackets\n' >"$o/x[1].txt"
    printf 'question\n' >"$o/what?.txt"
    printf 'hash\n' >"$o/hash#5"
    printf 'hash\n' >"$o/hash42"
    printf 'star\n' >"$o/star*name"
    printf "quote\n" >"$o/it's"
    : >"$o/empty.dat"
    printf 'x' >"$o/one.dat"
    filler "$o/mid.bin" 153600 mid
    filler "$o/big.bin" 1048577 big
    printf 'deep\n' >"$o/a/b/c/d/e/f/g/h/deep.txt"
    printf 'inner\n' >"$o/sub dir/inner/file.txt"
    printf 'z\n' >"$o/Zeta/z.txt"
    printf 'a\n' >"$o/alpha/a.txt"
    ln -s "with space" "$o/link-to-file"
    ln -s "nowhere" "$o/dangling"
    ln -s "a" "$o/link-to-dir"
    mkfifo "$o/fifo"

    local d=$TREES/dup
    mkdir -p "$d/sub" "$d/other"
    printf 'duplicate content\n' >"$d/d1.txt"
    printf 'duplicate content\n' >"$d/D2.txt"
    printf 'duplicate content\n' >"$d/sub/d3.txt"
    printf 'different content\n' >"$d/same-size.txt"
    filler "$d/big1.bin" 204800 dup
    filler "$d/other/big2.bin" 204800 dup
    : >"$d/zero1"
    : >"$d/zero2"
    printf 'x' >"$d/one-a"
    printf 'x' >"$d/other/one-b"

    local old=$TREES/old new=$TREES/new
    mkdir -p "$old/common" "$old/gone dir/x" "$old/Case" "$old/became-file"
    mkdir -p "$new/common" "$new/fresh dir" "$new/Case" "$new/became-dir"
    for t in "$old" "$new"; do
        printf 'same\n' >"$t/common/same.txt"
        printf 'same\n' >"$t/Case/B.txt"
        printf 'same\n' >"$t/Case/a.txt"
        printf 'same\n' >"$t/_under"
    done
    printf 'short\n' >"$old/common/resized.txt"
    printf 'much longer\n' >"$new/common/resized.txt"
    printf 'AAAA\n' >"$old/common/edited.txt"
    printf 'BBBB\n' >"$new/common/edited.txt"
    printf 'old\n' >"$old/only-old.txt"
    printf 'new\n' >"$new/only-new.txt"
    printf 'x\n' >"$old/gone dir/x/inside.txt"
    printf 'moved\n' >"$old/gone dir/moved.txt"
    printf 'moved\n' >"$new/fresh dir/moved.txt"
    # A file replaced by a directory, and a directory by a file.
    printf 'was a file\n' >"$old/became-dir"
    printf 'in\n' >"$new/became-dir/in.txt"
    printf 'in\n' >"$old/became-file/in.txt"
    printf 'now a file\n' >"$new/became-file"
    printf 'same\n' >"$old/Case/b-lower.txt"
    printf 'same\n' >"$new/Case/C.txt"

    local v=$TREES/vtree
    mkdir -p "$v/sub"
    for f in unchanged edited resized removed to-link to-dir to-fifo; do
        printf '%s content\n' "$f" >"$v/$f"
    done
    printf 'sub\n' >"$v/sub/kept"
    filler "$v/large" 307200 large
    mkfifo "$v/fifo"
    ln -s unchanged "$v/link"

    stamp_all "$TREES"
    # A few other times, for --changed-within and --changed-before.
    touch -h -d '2019-12-31 23:59:59' "$o/with space"
    touch -h -d '2021-06-30 12:00:00.5' "$o/big.bin"
    touch -h -d '1970-01-01 00:00:00' "$o/one.dat"
    touch -h -d '2020-03-04 05:06:07' "$o/lower.txt"
}

# Changes vtree after it was catalogued, to fixed times again.
change_vtree() {
    local v=$TREES/vtree
    printf 'EDITED content\n' >"$v/edited"
    printf 'resized, longer now\n' >"$v/resized"
    rm "$v/removed"
    rm "$v/to-link" && ln -s unchanged "$v/to-link"
    rm "$v/to-dir" && mkdir "$v/to-dir"
    rm "$v/to-fifo" && mkfifo "$v/to-fifo"
    stamp_all "$v"
    touch -h -d '2022-02-02 02:02:02' "$v/edited" "$v/resized"
}

BIN=
OUT=
N=0

# One call: the arguments as given, run in $W with stdin from /dev/null.
k() {
    N=$((N + 1))
    local c
    c=$(printf '%s/%04d' "$OUT" "$N")
    printf '%q ' "$@" >"$c.cmd"
    (cd "$W" && env -i PATH=/usr/bin:/bin HOME="$W/home" TZ=UTC LC_ALL=C.UTF-8 \
        XDG_DATA_HOME="$W/data" XDG_CONFIG_HOME="$W/config" XDG_RUNTIME_DIR="$W/run" \
        "$BIN" "$@") </dev/null >"$c.out" 2>"$c.err"
    echo $? >"$c.rc"
}

# The same call with each format.
kf() { # COMMAND ARGS...
    local cmd=$1
    shift
    k "$cmd" "$@"
    local f
    for f in tsv csv json; do
        k "$cmd" --format "$f" "$@"
    done
}

battery() {
    k
    k --help
    k -h
    k --version
    k help
    k frobnicate
    k export
    k --bogus
    k --version extra
    local c
    for c in create update reindex info list add delete search verify diff duplicates; do
        k "$c" --help
        k "$c" -h
    done

    # create
    k create odd trees/odd
    k create --checksum oddsum "$TREES/odd"
    k create --checksum --max-size 0 oddall "$TREES/odd/"
    k create --checksum --max-size 1 oddsmall "$TREES//odd"
    k create --max-size 10 nosum "$TREES/odd"
    k create --exclude '*.txt' --exclude 'a' ex1 "$TREES/odd"
    k create --exclude '*/sub dir/*' --exclude '*.BIN' ex2 "$TREES/odd"
    k create --exclude '[' exbad "$TREES/odd"
    k create --one-file-system ofs "$TREES/odd"
    k create --checksum --jobs 1 j1 "$TREES/dup"
    k create --checksum --jobs 2 j2 "$TREES/dup"
    k create --checksum --max-size 0 dup "$TREES/dup"
    k create --checksum old "$TREES/old"
    k create --checksum new "$TREES/new"
    k create old-nosum "$TREES/old"
    k create --checksum vt "$TREES/vtree"
    k create 'sp ace' "$TREES/dup"
    k create "ta"$'\t'"b" "$TREES/dup"
    k create odd "$TREES/odd"
    k create --force odd "$TREES/odd"
    k create
    k create onlyname
    k create nothere "$TREES/missing"
    k create afile "$TREES/odd/one.dat"
    k create a/b "$TREES/dup"
    k create '' "$TREES/dup"
    k create emptystart ''
    k create "$(printf 'n%.0s' {1..300})" "$TREES/dup"
    k create --jobs 0 jz "$TREES/dup"
    k create --jobs abc ja "$TREES/dup"
    k create --max-size -1 ms "$TREES/dup"
    k create --max-size x ms "$TREES/dup"
    k create --max-size
    k create --bogus x "$TREES/dup"
    k create x "$TREES/dup" extra

    # list, info, add
    k list
    k list extra
    k info odd
    k info --format tsv odd
    k info --format csv odd oddsum ex1
    k info --format json odd nosum ex2 ofs
    k info --format xml odd
    k info nosuchcatalog
    k info odd nosuchcatalog
    k info
    mkdir -p "$W/else where" "$W/tab"$'\t'"dir"
    cp "$W/data/kestrel/dup.mdb" "$W/else where/copy.mdb"
    cp "$W/data/kestrel/j1.mdb" "$W/tab"$'\t'"dir/j1copy.mdb"
    ln -s "copy.mdb" "$W/else where/link.mdb"
    printf 'not a catalog\n' >"$W/else where/text.mdb"
    k add "else where/copy.mdb"
    k add "$W/tab"$'\t'"dir/j1copy.mdb"
    k add "$W/else where/copy.mdb"
    k add "$W/else where/link.mdb"
    k add "$W/else where/../else where/copy.mdb"
    k add "$W/data/kestrel/odd.mdb"
    k add "$W/else where/text.mdb"
    k add "$W/else where/missing.mdb"
    k add
    k add a b
    k list
    k info "$W/else where/copy.mdb"

    # search
    local p
    for p in '*' '*.txt' 'report*' '*report*' 'REPORT.PDF' '?ower.txt' 'hash#' 'hash##' \
        'x[[]1].txt' 'x[1].txt' '[!u]*' '[a-c]*' 'star[*]name' 'what[?].txt' 'hash[#]5' \
        '*日本*' '*space*' '*\*' "*'*" 'new*' '*'$'\t''*' 'bad*' '*/b/*' 'zzz-no-hit' \
        '[' '[]' '[z-a]' '' '[!]' 'a[' '*[*'; do
        k search "$p" odd
    done
    k search -leading odd
    k search -- -leading odd
    for c in both files dirs; do
        k search --where "$c" '*a*' odd old
        k search --where "$c" '*/c/*' odd
    done
    k search --where all '*' odd
    k search --where
    local s
    for s in +0 -0 +1 -1 +2 +150k -150k +1M -1M +1025k +99999999T -99999999T +9223372036854775807 \
        +9223372036854775808 +-1 10 +x +1X +1b +1K +1g +1t '+' '' +1.5k; do
        k search --size "$s" '*' odd
    done
    k search --size +1 --size -10 '*' odd
    k search --size +100k --size -200k '*' odd
    k search --size +10 --size +1 '*' odd
    k search --size -10 --size +20 '*' odd
    k search --where dirs --size +1 '*' odd
    for s in 2020-03-04 '2020-03-04 05:06:07' '2020-03-04 05:06:08' 2019-12-31 1970-01-01 \
        1000y 1y 2weeks 3d 12h 90min 30s 1y6months 99999999999999999999y 0s 1677-01-01 \
        2262-04-12 2300-01-01 0000-01-01 9999-12-31 10000-01-01 2020-13-01 2020-02-30 yesterday \
        '' 5 3x -3d; do
        k search --changed-within "$s" '*' odd
        k search --changed-before "$s" '*' odd
    done
    k search --changed-within 2020-01-01 --changed-before 2021-01-01 '*' odd
    k search --changed-within 2021-01-01 --changed-before 2020-01-01 '*' odd
    k search --changed-within 1d --size +1 '*' odd
    for p in '*' '*.txt' '*/c/*' 'zzz-no-hit'; do
        kf search "$p" odd oddsum
        k search -0 "$p" odd
        k search --null "$p" odd
    done
    kf search --where dirs '*' odd
    kf search '*' dup "$W/else where/copy.mdb"
    k search --format csv -0 '*' odd
    k search --format json --null '*' odd
    k search --format xml '*' odd
    k search '*' nosuchcatalog
    k search '*' odd nosuchcatalog
    k search '*d*'
    k search
    k search --bogus '*'

    # reindex, then the same searches through the index
    k reindex odd dup
    k reindex "$W/else where/copy.mdb"
    k reindex nosuchcatalog
    k reindex
    for p in '*a*' '*report*' '*日本*' 'lower.txt' '*/b/*'; do
        k search "$p" odd
    done

    # diff
    kf diff old new
    kf diff new old
    kf diff --content old new
    kf diff --content new old
    kf diff old old
    k diff --content old-nosum new
    k diff old-nosum new
    k diff odd oddsum
    k diff dup "$W/else where/copy.mdb"
    k diff old nosuchcatalog
    k diff old
    k diff
    k diff old new extra
    k diff --format xml old new
    k diff --bogus old new

    # duplicates
    kf duplicates
    kf duplicates dup
    kf duplicates j1 j2
    k duplicates --min-size 0 dup
    k duplicates --min-size 1 dup
    k duplicates --min-size 2 dup
    k duplicates --min-size 200k dup
    k duplicates --min-size 201k dup
    k duplicates --min-size x dup
    k duplicates --min-size -1 dup
    k duplicates nosum
    kf duplicates oddsum oddall
    k duplicates nosuchcatalog
    k duplicates --format xml dup

    # verify, before and after the tree changed
    kf verify vt
    kf verify odd oddsum
    k verify oddall "$W/else where/copy.mdb"
    change_vtree
    kf verify vt
    k verify vt odd
    k verify nosuchcatalog
    k verify
    k verify --format xml vt

    # update
    k update vt
    kf verify vt
    k search '*' vt
    k update --checksum --max-size 0 --jobs 2 odd
    k info odd
    k update --exclude '*.bin' odd
    k search '*.bin' odd
    k update --one-file-system nosum
    k update nosuchcatalog
    k update
    k update odd dup
    k update --jobs 0 odd
    k info --format json vt odd

    # delete
    k delete odd
    k delete --yes nosum
    k delete --yes "$W/else where/copy.mdb"
    k delete --yes nosuchcatalog
    k delete --yes
    k delete --yes odd oddsum
    k list
    k search 'd1.txt'
    k duplicates
}

# Runs the battery with one build; the calls' records end up in DEST.
run_with() { # CLI DEST
    BIN=$1
    OUT=$2
    N=0
    rm -rf "$W"
    mkdir -p "$W/home" "$W/data" "$W/config" "$W/run" "$OUT"
    chmod 700 "$W/run"
    make_trees
    battery
    # Fixed tokens for what differs from run to run.
    local tmp_re
    tmp_re=$(printf '%s' "$TMP_ROOT" | sed 's/[.[\*^$/]/\\&/g')
    local f
    for f in "$OUT"/*.out "$OUT"/*.err; do
        LC_ALL=C sed -E -i \
            -e "s/$tmp_re/@TMP@/g" \
            -e 's/[0-9]+\.[0-9]+ seconds/@T@ seconds/g' \
            -e 's/^(Started|Finished): .*/\1: @TIME@/' \
            -e 's/"(started|finished)":"[^"]*"/"\1":"@TIME@"/g' \
            -e 's/,[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}Z,[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}Z,/,@TIME@,@TIME@,/g' \
            -e 's/^Free space: .*/Free space: @FREE@/' \
            -e 's/"free_bytes":[0-9]+/"free_bytes":@FREE@/g' \
            -e 's/,([0-9]+),[0-9]+,(Kestrel [^,]*),/,\1,@FREE@,\2,/g' \
            "$f"
    done
}

run_with "$OLD_CLI" "$TMP_ROOT/old"
run_with "$NEW_CLI" "$TMP_ROOT/new"

ncalls=$N
ndiff=0
for ((i = 1; i <= ncalls; i++)); do
    id=$(printf '%04d' "$i")
    same=1
    for part in out err rc; do
        cmp -s "$TMP_ROOT/old/$id.$part" "$TMP_ROOT/new/$id.$part" || same=0
    done
    if [ $same -eq 0 ]; then
        ndiff=$((ndiff + 1))
        echo "=== call $id: kestrel-cli $(cat "$TMP_ROOT/old/$id.cmd")"
        for part in out err rc; do
            if ! cmp -s "$TMP_ROOT/old/$id.$part" "$TMP_ROOT/new/$id.$part"; then
                echo "--- $part (old) / +++ $part (new)"
                diff -u --label old --label new <(cat -v "$TMP_ROOT/old/$id.$part") \
                    <(cat -v "$TMP_ROOT/new/$id.$part") | tail -n +3
            fi
        done
    fi
done

if [ $ndiff -eq 0 ]; then
    echo "identical: $ncalls calls"
    exit 0
fi
echo "differences in $ndiff of $ncalls calls"
exit 1
