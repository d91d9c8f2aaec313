// SPDX-License-Identifier: GPL-3.0-or-later

// Archive members: what a catalog stores of archives of every kind equals
// what bsdtar lists of them, an update takes over the members of unchanged
// archives, and hostile archives are read within bounds, writing nothing.
#include "CliProcess.h"
#include "TestTree.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>

namespace {

// Writes archives of every kind below argv[1]/tree from the files of
// argv[1]/src, with the standard tools, and the members each holds to
// argv[1]/expected.json: path, kind, size and MD5 of the data, by archive.
constexpr const char* kMakeArchives = R"py(
import hashlib, io, json, os, subprocess, sys, tarfile, zipfile
root = sys.argv[1]
src, tree = os.path.join(root, "src"), os.path.join(root, "tree")
os.makedirs(os.path.join(src, "photos", "2019 summer"))
os.makedirs(os.path.join(src, "empty folder"))
os.makedirs(tree)
files = {
    "a.txt": b"hello\n",
    "photos/2019 summer/img_0001.jpg": os.urandom(150000),
    "photos/2019 summer/caf\u00e9.txt": b"cafe" * 1000,
    "photos/zero": b"",
    "-leading dash.txt": b"x" * 4097,
}
for name, data in files.items():
    with open(os.path.join(src, name), "wb") as f:
        f.write(data)
os.symlink("a.txt", os.path.join(src, "link"))
for dirpath, dirnames, filenames in os.walk(src):
    for name in dirnames + filenames:
        os.utime(os.path.join(dirpath, name), (1600000000, 1600000000), follow_symlinks=False)

def run(args, cwd=src):
    subprocess.run(args, cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

with zipfile.ZipFile(os.path.join(tree, "deflated.zip"), "w", zipfile.ZIP_DEFLATED) as z:
    for name, data in files.items():
        z.writestr(name, data)
    z.writestr("empty folder/", b"")
with zipfile.ZipFile(os.path.join(tree, "stored.zip"), "w", zipfile.ZIP_STORED) as z:
    for name, data in files.items():
        z.writestr(name, data)
for mode, ext in (("w", "tar"), ("w:gz", "tar.gz"), ("w:bz2", "tar.bz2"), ("w:xz", "tar.xz")):
    with tarfile.open(os.path.join(tree, "plain." + ext), mode, format=tarfile.PAX_FORMAT) as t:
        t.add(src, arcname=".")
run(["sh", "-c", "tar -cf - . | zstd -q -o '%s'" % os.path.join(tree, "z.tar.zst")])
run(["7z", "a", "-bd", os.path.join(tree, "seven.7z"), "."])
run(["xorriso", "-as", "mkisofs", "-quiet", "-R", "-J", "-o", os.path.join(tree, "disc.iso"), "."])
run(["sh", "-c", "find . | cpio -o -H newc --quiet > '%s'" % os.path.join(tree, "old.cpio")])
with open(os.path.join(tree, "not really.zip"), "wb") as f:
    f.write(b"this is text, not an archive\n")
open(os.path.join(tree, "empty.tar.gz"), "wb").close()
os.mkfifo(os.path.join(tree, "pipe.zip"))
# An archive inside an archive: read with --archive-depth 2.
inner = io.BytesIO()
with zipfile.ZipFile(inner, "w") as z:
    z.writestr("deep/inner.txt", b"inside" * 100)
with tarfile.open(os.path.join(tree, "outer.tar.gz"), "w:gz") as t:
    info = tarfile.TarInfo("sub/inner.zip")
    info.size = len(inner.getvalue())
    t.addfile(info, io.BytesIO(inner.getvalue()))

expected = {name: hashlib.md5(data).hexdigest() for name, data in files.items()}
expected["deep/inner.txt"] = hashlib.md5(b"inside" * 100).hexdigest()
expected["sub/inner.zip"] = hashlib.md5(inner.getvalue()).hexdigest()
with open(os.path.join(root, "expected.json"), "w") as f:
    json.dump(expected, f)
)py";

// Compares the members argv[2] (a catalog) stores of each archive below
// argv[1]/tree with what `bsdtar -tvf` lists: the same paths (in the stored
// form), kinds and sizes, and each file's MD5 that of the file it was made
// of. Prints one line a difference, then "checked N".
constexpr const char* kCompareWithBsdtar = R"py(
import json, os, re, sqlite3, stat, subprocess, sys
root, catalog = sys.argv[1], sys.argv[2]
tree = os.path.join(root, "tree")
expected = json.load(open(os.path.join(root, "expected.json")))
db = sqlite3.connect(catalog)
db.text_factory = bytes
line_re = re.compile(rb"^(\S+)\s+\d+\s+\S+\s+\S+\s+(\d+)\s+\w+\s+\d+\s+[\d:]+\s(.*)$")

def stored_form(raw):
    return b"/".join(n for n in raw.split(b"/") if n not in (b"", b"."))

def listed(path):
    out = subprocess.run(["bsdtar", "-tvf", path], capture_output=True, env={"LC_ALL": "C.UTF-8"},
                         check=True).stdout
    members = set()
    for line in out.splitlines():
        m = line_re.match(line)
        if not m:
            print("unparsed bsdtar line:", line)
            continue
        mode, size, name = m.group(1), int(m.group(2)), m.group(3)
        kind = chr(mode[0])
        if kind == "l":
            name = name.split(b" -> ")[0]
        if kind == "h":
            kind = "-"
        name = name.split(b" link to ")[0]
        name = stored_form(name)
        if kind == "d" and name == b"":
            continue
        members.add((name, kind, size if kind == "-" else None))
    return members

checked = 0
for name in sorted(os.listdir(tree)):
    if name in ("not really.zip", "empty.tar.gz", "pipe.zip"):
        continue
    rows = db.execute(
        "SELECT m.member_path, m.member_mode, m.member_size, m.md5_checksum, a.complete "
        "FROM archive_members m, archives a, files f WHERE m.archive_id = a.archive_id "
        "AND a.file_id = f.file_id AND a.member_id IS NULL AND f.file_name = ?",
        (name,)).fetchall()
    stored = set()
    for path, mode, size, md5, complete in rows:
        path = path or b""
        kind = "d" if stat.S_ISDIR(mode) else "l" if stat.S_ISLNK(mode) else "-"
        stored.add((path, kind, size if kind == "-" else None))
        if complete != 1:
            print(name, "not read completely")
        if kind == "-":
            want = expected.get(path.decode("utf-8", "replace"))
            if md5 is None or want is None or md5.decode() != want:
                print(name, path, "checksum", md5, "expected", want)
    want = listed(os.path.join(tree, name))
    if name == "outer.tar.gz":
        pass  # its member is an archive: compared below
    for extra in sorted(stored - want):
        print(name, "stores", extra, "which bsdtar does not list")
    for missing in sorted(want - stored):
        print(name, "lacks", missing, "which bsdtar lists")
    checked += 1
inner = db.execute(
    "SELECT m.member_path, m.md5_checksum, o.member_path FROM archive_members m, archives a, "
    "archive_members o WHERE m.archive_id = a.archive_id AND a.member_id = o.member_id").fetchall()
if [(p, o) for p, _, o in inner] != [(b"deep/inner.txt", b"sub/inner.zip")]:
    print("nested members", inner)
elif inner[0][1].decode() != expected["deep/inner.txt"]:
    print("nested checksum", inner[0][1])
for name in ("not really.zip", "empty.tar.gz", "pipe.zip"):
    n = db.execute("SELECT count(*) FROM archives a, files f WHERE a.file_id = f.file_id "
                   "AND f.file_name = ?", (name,)).fetchone()[0]
    if n:
        print(name, "was read as an archive")
print("checked", checked)
)py";

// The files below root, but for the data folder: what a run may have written.
std::set<std::string> FilesBelow(const std::string& strRoot) {
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(strRoot))
        if (entry.path().string().find("/data/") == std::string::npos)
            files.insert(entry.path().string());
    return files;
}

} // namespace

TEST(CliArchiveTest, MembersOfEveryKindAreWhatBsdtarListsAndUpdateTakesOverTheUnchanged) {
    CliProcess cli;
    TestTree work;
    const CliResult made = RunPython(work, kMakeArchives, {work.Root()});
    ASSERT_EQ(made.nExit, 0) << made.strOut;
    const CliResult created = cli.Run({"create", "--archive-depth", "2", "--checksum", "--max-size",
                                       "0", "arc", work.Path("tree")});
    ASSERT_EQ(created.nExit, 0) << created.strErr;
    // zip (2), tar (4 filters and zstd), 7z, ISO, cpio, the tar.gz and the zip inside it.
    EXPECT_NE(created.strOut.find("; 12 archives with "), std::string::npos) << created.strOut;
    const std::string strCatalog = cli.CatalogPath("arc");
    const CliResult compared = RunPython(work, kCompareWithBsdtar, {work.Root(), strCatalog});
    EXPECT_EQ(compared.strOut, "checked 11\n");

    // An archive rewritten with the same size and time is taken as unchanged:
    // its members are taken over (those stored before, though they are gone
    // now); one that changed is read again.
    const std::string strStored = work.Path("tree/stored.zip");
    const auto oldTime = std::filesystem::last_write_time(strStored);
    {
        std::string strBytes(std::filesystem::file_size(strStored), '\0');
        work.WriteFile("tree/stored.zip", strBytes);
    }
    std::filesystem::last_write_time(strStored, oldTime);
    work.WriteFile("tree/plain.tar", "no longer a tar file");
    const CliResult updated = cli.Run({"update", "arc"});
    ASSERT_EQ(updated.nExit, 0) << updated.strErr;
    EXPECT_EQ(QueryNumber(strCatalog, "SELECT count(*) FROM archive_members m, archives a, files f "
                                      "WHERE m.archive_id = a.archive_id AND a.file_id = f.file_id "
                                      "AND f.file_name = 'stored.zip'"),
              5);
    EXPECT_EQ(QueryNumber(strCatalog, "SELECT count(*) FROM archives a, files f WHERE "
                                      "a.file_id = f.file_id AND f.file_name = 'plain.tar'"),
              0);
    EXPECT_EQ(QueryNumber(strCatalog,
                          "SELECT count(*) FROM archives a, archive_members o WHERE "
                          "a.member_id = o.member_id AND o.member_path = 'sub/inner.zip'"),
              1);
    const CliResult info = cli.Run({"info", "arc"});
    EXPECT_NE(info.strOut.find("Archive depth"), std::string::npos) << info.strOut;
}

// Writes hostile archives below argv[1]: names that climb out or are
// absolute, invalid UTF-8 or empty; a 13 KB tar.bz2 whose one member unpacks to
// 10 GiB of zeros; zips nested three deep, ten in each, around 1 MiB files
// of zeros; truncated and corrupted archives; encrypted ones (the data of a
// zip, the headers of a 7z).
constexpr const char* kMakeHostile = R"py(
import bz2, io, os, subprocess, sys, tarfile, zipfile
root = sys.argv[1]
os.makedirs(root, exist_ok=True)
with zipfile.ZipFile(os.path.join(root, "names.zip"), "w") as z:
    for name in ("../../escaped.txt", "/etc/passwd-copy", "a/../../b.txt", "ok.txt"):
        z.writestr(name, b"data")
    z.writestr(zipfile.ZipInfo(""), b"no name")
with tarfile.open(os.path.join(root, "names.tar"), "w", encoding="utf-8",
                  errors="surrogateescape") as t:
    for name in ("bad\udcff\udcfe.txt", "../up.txt", "dir/./x.txt", "a/" * 3000 + "deep.txt"):
        info = tarfile.TarInfo(name)
        info.size = 3
        t.addfile(info, io.BytesIO(b"abc"))

# One header of a 10 GiB member, then its zeros as many bzip2 streams of the
# same 64 MiB each: the archive is 13 KB.
header = tarfile.TarInfo("zeros.bin")
header.size = 10 << 30
chunk = bz2.compress(b"\0" * (64 << 20), 9)
with open(os.path.join(root, "bomb.tar.bz2"), "wb") as f:
    f.write(bz2.compress(header.tobuf(format=tarfile.GNU_FORMAT)))
    for _ in range(160):
        f.write(chunk)
    f.write(bz2.compress(b"\0" * 1024))

level = io.BytesIO()
with zipfile.ZipFile(level, "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("zeros.bin", b"\0" * (1 << 20))
for depth in range(3):
    outer = io.BytesIO()
    with zipfile.ZipFile(outer, "w", zipfile.ZIP_STORED) as z:
        for i in range(10):
            z.writestr("copy%d.zip" % i, level.getvalue())
    level = outer
with open(os.path.join(root, "nested.zip"), "wb") as f:
    f.write(level.getvalue())

good = io.BytesIO()
with zipfile.ZipFile(good, "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(50):
        z.writestr("file%02d.txt" % i, os.urandom(2000))
data = good.getvalue()
with open(os.path.join(root, "cut.zip"), "wb") as f:
    f.write(data[: len(data) * 2 // 3])
bad = bytearray(data)
for i in range(1000, 1200):
    bad[i] ^= 0x5A
with open(os.path.join(root, "corrupt.zip"), "wb") as f:
    f.write(bytes(bad))
tgz = io.BytesIO()
with tarfile.open(fileobj=tgz, mode="w:gz") as t:
    for i in range(200):
        info = tarfile.TarInfo("part%03d.bin" % i)
        blob = os.urandom(2000)
        info.size = len(blob)
        t.addfile(info, io.BytesIO(blob))
with open(os.path.join(root, "cut.tar.gz"), "wb") as f:
    f.write(tgz.getvalue()[: len(tgz.getvalue()) // 2])
with open(os.path.join(root, "secret.txt"), "wb") as f:
    f.write(b"secret" * 100)
for args in (["-tzip", "locked.zip"], ["-mhe=on", "locked.7z"]):
    subprocess.run(["7z", "a", "-bd", "-pPASSWORD", args[0], args[1], "secret.txt"], cwd=root,
                   check=True, stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
os.remove(os.path.join(root, "secret.txt"))
)py";

TEST(CliArchiveTest, HostileArchivesAreReadWithinBoundsAndNothingIsWritten) {
    CliProcess cli;
    TestTree work;
    const CliResult made = RunPython(work, kMakeHostile, {work.Path("tree")});
    ASSERT_EQ(made.nExit, 0) << made.strOut;
    const std::set<std::string> before = FilesBelow(work.Root());
    // Run from inside the tree, stdin a terminal-less pipe: no password is asked for.
    const CliResult created = cli.Run({"create", "--archive-depth", "8", "--checksum", "--max-size",
                                       "0", "hostile", work.Path("tree")},
                                      "cd '" + work.Path("tree") + "' && \"$@\" </dev/null");
    ASSERT_EQ(created.nExit, 0) << created.strErr;
    EXPECT_EQ(FilesBelow(work.Root()), before);
    EXPECT_FALSE(std::filesystem::exists(work.Path("escaped.txt")));
    EXPECT_FALSE(std::filesystem::exists("/etc/passwd-copy"));
    const std::string strCatalog = cli.CatalogPath("hostile");
    auto number = [&](const std::string& strSql) { return QueryNumber(strCatalog, strSql); };
    auto membersOf = [&](const std::string& strFile, const std::string& strWhere) {
        return number("SELECT count(*) FROM archive_members m, archives a, files f WHERE "
                      "m.archive_id = a.archive_id AND a.file_id = f.file_id AND "
                      "f.file_name = '" +
                      strFile + "'" + strWhere);
    };
    auto complete = [&](const std::string& strFile) {
        return number("SELECT min(a.complete) FROM archives a, files f WHERE a.file_id = "
                      "f.file_id AND a.member_id IS NULL AND f.file_name = '" +
                      strFile + "'");
    };

    // Names are stored as text, never used as paths: leading '/' and "." go,
    // ".." stays, bytes stay bytes.
    EXPECT_EQ(membersOf("names.zip", " AND m.member_path IN ('../../escaped.txt', "
                                     "'etc/passwd-copy', 'a/../../b.txt', 'ok.txt')"),
              4);
    EXPECT_EQ(membersOf("names.zip", ""), 4); // not the one without a name
    EXPECT_EQ(complete("names.zip"), 0);
    EXPECT_EQ(membersOf("names.tar", " AND m.member_path IN (CAST(X'626164FFFE2E747874' AS "
                                     "TEXT), '../up.txt', 'dir/x.txt')"),
              3);
    // A path 3 000 folders deep is longer than any the system takes: left out.
    EXPECT_EQ(membersOf("names.tar", ""), 3);
    EXPECT_EQ(complete("names.tar"), 0);

    // The bomb: its one member is listed with its size, the reading stops
    // within the bound and says so.
    EXPECT_EQ(
        membersOf("bomb.tar.bz2", " AND m.member_size = 10737418240 AND m.md5_checksum IS NULL"),
        1);
    EXPECT_EQ(complete("bomb.tar.bz2"), 0);
    const int64_t nBombSize =
        static_cast<int64_t>(std::filesystem::file_size(work.Path("tree/bomb.tar.bz2")));
    const int64_t nBound = (64ll << 20) + 100 * nBombSize;
    EXPECT_LE(number("SELECT max(a.bytes_read) FROM archives a, files f WHERE a.file_id = "
                     "f.file_id AND f.file_name = 'bomb.tar.bz2'"),
              nBound + (8ll << 20));
    EXPECT_EQ(number("SELECT count(*) FROM archives a, files f WHERE a.file_id = f.file_id AND "
                     "f.file_name = 'bomb.tar.bz2' AND a.problem = 'its data expands too far'"),
              1);

    // Nested three deep around 1 GiB of zeros: the hashing stops at the
    // bound, with the archives read until then listed.
    EXPECT_GE(membersOf("nested.zip", " AND substr(m.member_name, 1, 4) = 'copy'"), 4);
    EXPECT_LE(membersOf("nested.zip", " AND m.member_name = 'zeros.bin' AND m.md5_checksum IS "
                                      "NOT NULL")
                  << 20,
              (64ll << 20) + 100 * static_cast<int64_t>(
                                       std::filesystem::file_size(work.Path("tree/nested.zip"))));
    EXPECT_LE(
        number("SELECT max(a.bytes_read) FROM archives a, files f WHERE a.file_id = "
               "f.file_id AND f.file_name = 'nested.zip'"),
        (64ll << 20) +
            100 * static_cast<int64_t>(std::filesystem::file_size(work.Path("tree/nested.zip"))) +
            (8ll << 20));
    EXPECT_EQ(complete("nested.zip"), 0);

    // Damaged archives keep what could be read and say they were not read whole.
    for (const char* pszName : {"cut.zip", "corrupt.zip", "cut.tar.gz"}) {
        EXPECT_EQ(complete(pszName), 0) << pszName;
    }
    EXPECT_GT(membersOf("cut.tar.gz", ""), 0);
    EXPECT_GT(membersOf("cut.zip", ""), 0);

    // Encrypted: the zip's member is listed and marked, the 7z with
    // encrypted headers is not read; no password was asked for.
    EXPECT_EQ(membersOf("locked.zip", " AND m.member_name = 'secret.txt' AND m.encrypted = 1 AND "
                                      "m.md5_checksum IS NULL"),
              1);
    EXPECT_EQ(complete("locked.7z"), 0);

    EXPECT_NE(created.strOut.find("archives not read completely"), std::string::npos)
        << created.strOut;
    EXPECT_EQ(cli.Run({"search", "--where", "files", "names.zip", "hostile"}).nExit, 0);
}

// Writes below argv[1]: a tar that lists one path twice (as appending to it
// leaves it), a tar whose member's time is 10^13 seconds after 1970, and a
// zip of 102 members two of which hold the same data.
constexpr const char* kMakeUnusual = R"py(
import io, os, sys, tarfile, zipfile
root = sys.argv[1]
os.makedirs(root)
with tarfile.open(os.path.join(root, "appended.tar"), "w") as t:
    for data in (b"first version\n", b"second version, longer\n"):
        info = tarfile.TarInfo("notes.txt")
        info.size = len(data)
        info.mtime = 1600000000
        t.addfile(info, io.BytesIO(data))
with tarfile.open(os.path.join(root, "far.tar"), "w", format=tarfile.PAX_FORMAT) as t:
    info = tarfile.TarInfo("far.txt")
    info.size = 1
    info.mtime = 10 ** 13
    t.addfile(info, io.BytesIO(b"x"))
with zipfile.ZipFile(os.path.join(root, "many.zip"), "w") as z:
    for i in range(100):
        z.writestr("f%03d.txt" % i, ("unique %d\n" % i) * 50)
    z.writestr("same1.txt", "same content\n" * 100)
    z.writestr("same2.txt", "same content\n" * 100)
)py";

// Makes the archive of the member same2.txt of the catalog argv[1] a member
// of itself: its archives lead nowhere, round and round.
constexpr const char* kLoopArchives = R"py(
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
(member, file_id) = db.execute(
    "SELECT m.member_id, a.file_id FROM archive_members m, archives a "
    "WHERE m.archive_id = a.archive_id AND m.member_name = 'same2.txt'").fetchone()
cur = db.execute("INSERT INTO archives(file_id, member_id, complete) VALUES (?, ?, 1)",
                 (file_id, member))
db.execute("UPDATE archive_members SET archive_id = ? WHERE member_id = ?", (cur.lastrowid, member))
db.commit()
)py";

TEST(CliArchiveTest, UnusualArchivesAndLoopedRowsAreReadAndCheckedRight) {
    CliProcess cli;
    TestTree work;
    const CliResult made = RunPython(work, kMakeUnusual, {work.Path("tree")});
    ASSERT_EQ(made.nExit, 0) << made.strOut;
    const CliResult created = cli.Run({"create", "--archives", "plain", work.Path("tree")});
    ASSERT_EQ(created.nExit, 0) << created.strErr;
    const std::string strCatalog = cli.CatalogPath("plain");

    // Both copies of the path are stored, and verify finds each of them in
    // the archive that did not change.
    EXPECT_EQ(QueryNumber(strCatalog,
                          "SELECT count(*) FROM archive_members WHERE member_path = 'notes.txt'"),
              2);
    const CliResult verified = cli.Run({"verify", "plain"});
    EXPECT_EQ(verified.nExit, 0) << verified.strOut << verified.strErr;
    EXPECT_EQ(verified.strOut, "0 unchanged, 0 changed, 0 not found, 0 not readable, 3 not "
                               "checked; members of archives: 0 unchanged, 0 changed, 0 not "
                               "found, 0 not readable, 105 not checked\n");

    // A time no nanosecond count holds is no time, not one wrapped around.
    EXPECT_EQ(QueryNumber(strCatalog, "SELECT count(*) FROM archive_members WHERE member_name = "
                                      "'far.txt' AND member_mtime IS NULL"),
              1);

    // duplicates looks a few members' paths up one by one: rows edited into
    // a loop give no path, and the search ends.
    const CliResult summed =
        cli.Run({"create", "--archives", "--checksum", "sums", work.Path("tree")});
    ASSERT_EQ(summed.nExit, 0) << summed.strErr;
    const CliResult looped = RunPython(work, kLoopArchives, {cli.CatalogPath("sums")});
    ASSERT_EQ(looped.nExit, 0) << looped.strOut;
    const CliResult duplicates = cli.Run({"duplicates", "sums"}, "timeout 300 \"$@\"");
    EXPECT_EQ(duplicates.nExit, 0) << duplicates.strErr;
    EXPECT_NE(duplicates.strOut.find(work.Path("tree/many.zip") + "//same1.txt\t"),
              std::string::npos)
        << duplicates.strOut;
}
