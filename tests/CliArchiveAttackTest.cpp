// SPDX-License-Identifier: GPL-3.0-or-later

// Archive members under stress: a create or update stopped while the
// members of archives are read, and archives whose reading would unpack far
// more than the bound, run as the real executable.
#include "CliProcess.h"
#include "TestTree.h"
#include "catalog/EngineError.h"
#include "scan/FileChecksum.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

// Writes argv[2] tar.gz archives of argv[3] members each below argv[1]
// (many.N.tar.gz), and a few plain files.
constexpr const char* kMakeManyMembers = R"py(
import io, os, sys, tarfile
root, count, members = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
os.makedirs(root, exist_ok=True)
for k in range(count):
    with tarfile.open(os.path.join(root, "many.%d.tar.gz" % k), "w:gz") as t:
        for i in range(members):
            data = b"%d" % i
            info = tarfile.TarInfo("dir%03d/file%06d.txt" % (i // 1000, i))
            info.size = len(data)
            t.addfile(info, io.BytesIO(data))
for i in range(5):
    with open(os.path.join(root, "plain%d.txt" % i), "w") as f:
        f.write("plain")
)py";

constexpr int kArchives = 3;
constexpr int kMembersEach = 40000;

// The member rows of a catalog, or -1 while it cannot be read.
int64_t MembersIn(const std::string& strCatalog) {
    try {
        return QueryNumber(strCatalog, "SELECT count(*) FROM archive_members");
    } catch (const EngineError&) {
        return -1;
    }
}

} // namespace

// The walk of a small tree ends long before its archives are read: a stop
// that comes while members are read is a stop all the same. A new catalog
// says it is incomplete; an update leaves the old catalog as it was.
TEST(CliArchiveAttackTest, StopWhileMembersAreReadIsAStop) {
    CliProcess cli;
    TestTree work;
    const CliResult made =
        RunPython(work, kMakeManyMembers,
                  {work.Path("tree"), std::to_string(kArchives), std::to_string(kMembersEach)});
    ASSERT_EQ(made.nExit, 0) << made.strOut;
    const int64_t nAllMembers = int64_t(kArchives) * kMembersEach;

    // A new catalog, stopped once the first members are stored.
    const std::string strCatalog = cli.CatalogPath("arc");
    const pid_t creator = cli.Start({"create", "--archives", "arc", work.Path("tree")});
    cli.WaitUntil(creator, [&] { return MembersIn(strCatalog) > 0; });
    ::kill(creator, SIGTERM);
    const CliResult created = cli.Wait(creator);
    if (created.nExit == 0) {
        // Only a run that read everything may say it is done.
        EXPECT_EQ(MembersIn(strCatalog), nAllMembers) << created.strOut;
    } else {
        EXPECT_EQ(created.nExit, 143) << created.strErr;
    }
    EXPECT_EQ(InfoValue(cli.Run({"info", "arc"}).strOut, "Complete"),
              MembersIn(strCatalog) == nAllMembers ? "yes" : "no");

    // A whole catalog, then an update that reads every archive again (they
    // all look changed), stopped part way: the old catalog stays.
    const CliResult forced = cli.Run({"create", "--force", "--archives", "arc", work.Path("tree")});
    ASSERT_EQ(forced.nExit, 0) << forced.strErr;
    ASSERT_EQ(MembersIn(strCatalog), nAllMembers);
    const auto digest = FileChecksum(strCatalog);
    for (int k = 0; k < kArchives; ++k) {
        const std::string strArchive = work.Path("tree/many." + std::to_string(k) + ".tar.gz");
        std::filesystem::last_write_time(strArchive, std::filesystem::last_write_time(strArchive) -
                                                         std::chrono::hours(1));
    }
    const std::string strNew = cli.DataFolder() + ".arc.mdb.new";
    const pid_t updater = cli.Start({"update", "arc"});
    cli.WaitUntil(updater, [&] { return MembersIn(strNew) > 0; });
    ::kill(updater, SIGINT);
    const CliResult updated = cli.Wait(updater);
    if (updated.nExit == 0) {
        EXPECT_EQ(MembersIn(strCatalog), nAllMembers) << updated.strOut;
    } else {
        EXPECT_EQ(updated.nExit, 130) << updated.strErr;
        EXPECT_EQ(FileChecksum(strCatalog), digest);
    }
    EXPECT_EQ(InfoValue(cli.Run({"info", "arc"}).strOut, "Complete"), "yes");
    EXPECT_EQ(cli.Run({"search", "--where", "files", "plain0.txt", "arc"}).nExit, 0);
}

// Writes argv[1]/solid.7z: one solid bzip2 block of a 160 MiB file of zeros
// then two small files, a few hundred bytes in all. The small files' data
// lies behind the zeros: hashing them unpacks the zeros first.
constexpr const char* kMakeSolid7z = R"py(
import os, subprocess, sys
root = sys.argv[1]
src = os.path.join(root, "src")
os.makedirs(src)
os.makedirs(os.path.join(root, "tree"))
with open(os.path.join(src, "a.txt"), "wb") as f:
    f.truncate(160 << 20)
for name in ("b.txt", "c.txt"):
    with open(os.path.join(src, name), "wb") as f:
        f.write(b"small\n")
subprocess.run(["7z", "a", "-bd", "-mmt=1", "-m0=bzip2", "-ms=100g",
                os.path.join(root, "tree", "solid.7z"), "a.txt", "b.txt", "c.txt"],
               cwd=src, check=True, stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
)py";

// What the library unpacks inside a 7z to pass over a member's data counts
// against the bound as the data of a compressed tar does.
TEST(CliArchiveAttackTest, DataPassedOverInsideA7zCountsAgainstTheBound) {
    CliProcess cli;
    TestTree work;
    const CliResult made = RunPython(work, kMakeSolid7z, {work.Root()});
    ASSERT_EQ(made.nExit, 0) << made.strOut;
    const int64_t nSize =
        static_cast<int64_t>(std::filesystem::file_size(work.Path("tree/solid.7z")));
    ASSERT_LT((64ll << 20) + 100 * nSize, 160ll << 20);
    const CliResult created =
        cli.Run({"create", "--archives", "--checksum", "solid", work.Path("tree")});
    ASSERT_EQ(created.nExit, 0) << created.strErr;
    const std::string strCatalog = cli.CatalogPath("solid");
    EXPECT_EQ(QueryNumber(strCatalog, "SELECT count(*) FROM archives WHERE complete = 0 AND "
                                      "problem = 'its data expands too far'"),
              1);
    EXPECT_EQ(QueryNumber(strCatalog, "SELECT count(*) FROM archive_members WHERE member_name = "
                                      "'b.txt' AND md5_checksum IS NOT NULL"),
              0);
}

// Changes the members another program may have written into a catalog,
// argv[1]: of the archive of a.tar, the sizes become text, the kinds NULL
// and the checksums empty, none of which Kestrel writes.
constexpr const char* kSpoilMembers = R"py(
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
db.execute("UPDATE archive_members SET member_size = 'unknown', member_mode = NULL, "
           "md5_checksum = '' WHERE archive_id IN (SELECT a.archive_id FROM archives a, files f "
           "WHERE a.file_id = f.file_id AND f.file_name = 'a.tar')")
db.commit()
)py";

constexpr const char* kMakeTar = R"py(
import io, os, sys, tarfile
os.makedirs(sys.argv[1], exist_ok=True)
with tarfile.open(os.path.join(sys.argv[1], "a.tar"), "w") as t:
    for i in range(3):
        data = b"member %d\n" % i
        info = tarfile.TarInfo("m%d.txt" % i)
        info.size = len(data)
        t.addfile(info, io.BytesIO(data))
)py";

// An update takes over only rows that are as Kestrel writes them: members
// whose sizes, kinds or checksums another program spoiled are read again
// from the unchanged archive, not copied with made-up values.
TEST(CliArchiveAttackTest, UpdateReadsAgainMembersWhoseRowsWereSpoiled) {
    CliProcess cli;
    TestTree work;
    ASSERT_EQ(RunPython(work, kMakeTar, {work.Path("tree")}).nExit, 0);
    ASSERT_EQ(cli.Run({"create", "--archives", "--checksum", "arc", work.Path("tree")}).nExit, 0);
    const std::string strCatalog = cli.CatalogPath("arc");
    const std::string strSound = "SELECT count(*) FROM archive_members WHERE member_size = 9 AND "
                                 "member_mode = 33188 AND length(md5_checksum) = 32";
    ASSERT_EQ(QueryNumber(strCatalog, strSound), 3);
    ASSERT_EQ(RunPython(work, kSpoilMembers, {strCatalog}).nExit, 0);
    const CliResult updated = cli.Run({"update", "arc"});
    ASSERT_EQ(updated.nExit, 0) << updated.strErr;
    EXPECT_EQ(QueryNumber(strCatalog, strSound), 3);
    EXPECT_EQ(QueryNumber(strCatalog, "SELECT count(*) FROM archive_members WHERE "
                                      "member_size = 0 OR member_mode = 0 OR md5_checksum = ''"),
              0);
}
