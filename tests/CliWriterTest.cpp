// SPDX-License-Identifier: GPL-3.0-or-later

// Commands that write a catalog (create, update, reindex, delete) never lose
// it: a typo, a kill at any moment, a second writer, a private file, a link
// or a long name leave it either as it was or wholly new. Run as the real
// executable, with real signals and concurrent processes.
#include "CliProcess.h"
#include "TestTree.h"
#include "scan/FileChecksum.h"

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

std::string InfoLine(const CliResult& info, const std::string& strKey) {
    const size_t nPos = info.strOut.find("\n" + strKey + ": ");
    if (nPos == std::string::npos)
        return "<missing>";
    const size_t nBegin = nPos + strKey.size() + 3;
    return info.strOut.substr(nBegin, info.strOut.find('\n', nBegin) - nBegin);
}

class CliWriterTest : public ::testing::Test {
protected:
    // A tree whose walk, with slow listings, takes long enough to be caught.
    void MakeLargeTree(const std::string& strDir, int nFiles) {
        m_tree.MakeDir(strDir);
        for (int i = 0; i < nFiles; ++i)
            m_tree.WriteFile(Concat({strDir, "/f", std::to_string(i)}), "");
    }
    std::string FilesOf(const std::string& strName) {
        return std::to_string(
            QueryNumber(m_cli.CatalogPath(strName), "SELECT count(*) FROM files"));
    }

    CliProcess m_cli;
    TestTree m_tree;
};

} // namespace

TEST_F(CliWriterTest, ATyposOrAFailedForcedCreateLeavesTheOldCatalogAsItWas) {
    MakeLargeTree("old", 3000);
    ASSERT_EQ(m_cli.Run({"create", "Keep", m_tree.Path("old")}).nExit, 0);
    const std::string strCatalog = m_cli.CatalogPath("Keep");
    const auto digest = FileChecksum(strCatalog);
    m_tree.WriteFile("a file", "x");
    for (const std::string& strBad : {std::string("/no/such/dir"), m_tree.Path("a file")}) {
        const CliResult result = m_cli.Run({"create", "--force", "Keep", strBad});
        EXPECT_EQ(result.nExit, 1) << strBad;
        EXPECT_NE(result.strErr.find("'" + strBad + "'"), std::string::npos) << result.strErr;
        EXPECT_EQ(FileChecksum(strCatalog), digest) << strBad;
    }

    // A forced create stopped or killed part way keeps the old catalog; the
    // build a kill leaves behind is cleared by the next writer, and no
    // command lists it.
    MakeLargeTree("new", 12000);
    m_cli.InjectFaults("KESTREL_FAULT_READDIR_DELAY_US=150");
    const std::string strBuild = m_cli.DataFolder() + ".Keep.mdb.new";
    for (const int nSignal : {SIGINT, SIGKILL}) {
        const pid_t creator = m_cli.Start({"create", "--force", "Keep", m_tree.Path("new")});
        ASSERT_TRUE(m_cli.WaitUntil(creator, [&] { return Exists(strBuild); }));
        ::usleep(200 * 1000);
        ::kill(creator, nSignal);
        const CliResult create = m_cli.Wait(creator);
        EXPECT_EQ(create.nExit, 128 + nSignal) << create.strErr;
        EXPECT_EQ(FileChecksum(strCatalog), digest);
        EXPECT_EQ(m_cli.Run({"list"}).strOut, "Keep\n");
    }
    m_cli.InjectFaults("KESTREL_FAULT_READDIR_DELAY_US=0");
    const CliResult done = m_cli.Run({"create", "--force", "Keep", m_tree.Path("new")});
    ASSERT_EQ(done.nExit, 0) << done.strErr;
    EXPECT_EQ(FilesOf("Keep"), "12000");
    EXPECT_FALSE(Exists(strBuild));
    EXPECT_EQ(InfoLine(m_cli.Run({"info", "Keep"}), "Complete"), "yes");
}

TEST_F(CliWriterTest, ACreateKilledAtOnceStillTellsItsStartAndCanBeUpdated) {
    MakeLargeTree("tree", 2000);
    m_cli.InjectFaults("KESTREL_FAULT_READDIR_DELAY_US=2000");
    const pid_t creator = m_cli.Start({"create", "Early", m_tree.Path("tree")});
    ASSERT_TRUE(m_cli.WaitUntil(
        creator, [&] { return Exists(m_cli.CatalogPath("Early")); }, 60000));
    ::kill(creator, SIGKILL);
    m_cli.Wait(creator);
    m_cli.InjectFaults("KESTREL_FAULT_READDIR_DELAY_US=0");
    const CliResult info = m_cli.Run({"info", "Early"});
    EXPECT_EQ(InfoLine(info, "Complete"), "no") << info.strOut;
    EXPECT_EQ(InfoLine(info, "Start directory"), m_tree.Path("tree")) << info.strOut;
    const CliResult update = m_cli.Run({"update", "Early"});
    EXPECT_EQ(update.nExit, 0) << update.strErr;
    EXPECT_EQ(FilesOf("Early"), "2000");
}

TEST_F(CliWriterTest, ARelativeStartDirectoryIsStoredAsTheFolderItNamed) {
    m_tree.MakeDir("a");
    m_tree.MakeDir("a/t1");
    m_tree.WriteFile("a/t1/one", "1");
    m_tree.WriteFile("a/t1/two", "2");
    m_tree.MakeDir("b");
    const std::string strIn = "cd '" + m_tree.Path("a") + "' && \"$@\"";
    ASSERT_EQ(m_cli.Run({"create", "T", "t1"}, strIn).nExit, 0);
    EXPECT_EQ(InfoLine(m_cli.Run({"info", "T"}), "Start directory"), m_tree.Path("a/t1"));
    const std::string strElsewhere = "cd '" + m_tree.Path("b") + "' && \"$@\"";
    const CliResult update = m_cli.Run({"update", "T"}, strElsewhere);
    ASSERT_EQ(update.nExit, 0) << update.strErr;
    EXPECT_NE(update.strOut.find(": 0 added, 0 removed, 0 changed, 2 unchanged"), std::string::npos)
        << update.strOut;

    // A catalog that recorded a relative start (an earlier version, another
    // program) is not walked against today's working directory.
    const std::string strSql = "UPDATE catalog_info SET value='t1' WHERE key='start_dir'; "
                               "UPDATE dirs SET dir_name='t1' WHERE dir_id=1";
    const CliResult edit = RunPython(m_tree,
                                     "import sqlite3, sys\nc = sqlite3.connect(sys.argv[1])\n"
                                     "c.executescript(sys.argv[2])\nc.commit()\n",
                                     {m_cli.CatalogPath("T"), strSql});
    ASSERT_EQ(edit.nExit, 0) << edit.strOut;
    const CliResult verify = m_cli.Run({"verify", "T"}, strIn);
    EXPECT_EQ(verify.nExit, 2) << verify.strOut;
    EXPECT_NE(verify.strErr.find("relative"), std::string::npos) << verify.strErr;
    const auto digest = FileChecksum(m_cli.CatalogPath("T"));
    const CliResult refused = m_cli.Run({"update", "T"}, strIn);
    EXPECT_EQ(refused.nExit, 1);
    EXPECT_NE(refused.strErr.find("relative"), std::string::npos) << refused.strErr;
    EXPECT_EQ(FileChecksum(m_cli.CatalogPath("T")), digest);
}

TEST_F(CliWriterTest, UpdateKeepsTheCatalogsModeOwnerAndLink) {
    m_tree.MakeDir("disk");
    m_tree.WriteFile("disk/one", "1");
    ASSERT_EQ(m_cli.Run({"create", "Private", m_tree.Path("disk")}).nExit, 0);
    const std::string strCatalog = m_cli.CatalogPath("Private");
    ASSERT_EQ(::chmod(strCatalog.c_str(), 0600), 0);
    ASSERT_EQ(::chown(strCatalog.c_str(), 1234, 1235), 0);
    m_tree.WriteFile("disk/two", "2");
    ASSERT_EQ(m_cli.Run({"update", "Private"}).nExit, 0);
    struct stat st {};
    ASSERT_EQ(::stat(strCatalog.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 1235u);

    // Reached through a link, the link's target is brought up to date.
    m_tree.MakeDir("elsewhere");
    const std::string strTarget = m_tree.Path("elsewhere/real.mdb");
    ASSERT_EQ(::rename(strCatalog.c_str(), strTarget.c_str()), 0);
    ASSERT_EQ(::symlink(strTarget.c_str(), strCatalog.c_str()), 0);
    m_tree.WriteFile("disk/three", "3");
    const CliResult update = m_cli.Run({"update", "Private"});
    ASSERT_EQ(update.nExit, 0) << update.strErr;
    ASSERT_EQ(::lstat(strCatalog.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(QueryNumber(strTarget, "SELECT count(*) FROM files"), 3);
    ASSERT_EQ(m_cli.Run({"reindex", "Private"}).nExit, 0);
    ASSERT_EQ(::lstat(strCatalog.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(CliWriterTest, WritersOfOneCatalogTakeTurns) {
    MakeLargeTree("old", 12000);
    m_tree.MakeDir("other");
    m_tree.WriteFile("other/only", "x");
    ASSERT_EQ(m_cli.Run({"create", "Kt", m_tree.Path("old")}).nExit, 0);
    m_cli.InjectFaults("KESTREL_FAULT_READDIR_DELAY_US=150");
    const std::string strBuild = m_cli.DataFolder() + ".Kt.mdb.new";

    // A delete during an update waits for it, so the catalog is gone after.
    pid_t updater = m_cli.Start({"update", "Kt"});
    ASSERT_TRUE(m_cli.WaitUntil(updater, [&] { return Exists(strBuild); }));
    const pid_t deleter = m_cli.Start({"delete", "--yes", "Kt"});
    ::usleep(300 * 1000);
    EXPECT_TRUE(m_cli.Running(deleter));
    EXPECT_EQ(m_cli.Wait(updater).nExit, 0);
    const CliResult deleted = m_cli.Wait(deleter);
    EXPECT_EQ(deleted.nExit, 0) << deleted.strErr;
    EXPECT_FALSE(Exists(m_cli.CatalogPath("Kt")));
    EXPECT_EQ(m_cli.Run({"list"}).strOut, "");

    // A forced create during an update comes after it: its tree stays.
    m_cli.InjectFaults("KESTREL_FAULT_READDIR_DELAY_US=0");
    ASSERT_EQ(m_cli.Run({"create", "Kt", m_tree.Path("old")}).nExit, 0);
    m_cli.InjectFaults("KESTREL_FAULT_READDIR_DELAY_US=150");
    updater = m_cli.Start({"update", "Kt"});
    ASSERT_TRUE(m_cli.WaitUntil(updater, [&] { return Exists(strBuild); }));
    const pid_t creator = m_cli.Start({"create", "--force", "Kt", m_tree.Path("other")});
    EXPECT_EQ(m_cli.Wait(updater).nExit, 0);
    const CliResult created = m_cli.Wait(creator);
    EXPECT_EQ(created.nExit, 0) << created.strErr;
    EXPECT_EQ(FilesOf("Kt"), "1");
}

TEST_F(CliWriterTest, EveryNameCreateAcceptsCanBeUpdatedAndReindexed) {
    m_tree.MakeDir("disk");
    m_tree.WriteFile("disk/one", "1");
    for (const size_t nLength : {229u, 238u, 243u}) {
        const std::string strName(nLength, 'n');
        const CliResult create = m_cli.Run({"create", strName, m_tree.Path("disk")});
        ASSERT_EQ(create.nExit, 0) << nLength << create.strErr;
        const CliResult update = m_cli.Run({"update", strName});
        EXPECT_EQ(update.nExit, 0) << nLength << update.strErr;
        const CliResult reindex = m_cli.Run({"reindex", strName});
        EXPECT_EQ(reindex.nExit, 0) << nLength << reindex.strErr;
    }
    EXPECT_EQ(m_cli.Run({"create", std::string(244, 'n'), m_tree.Path("disk")}).nExit, 2);
}

TEST_F(CliWriterTest, WhatOthersLeaveBesideACatalogNeitherHangsNorMisleadsAWriter) {
    m_tree.MakeDir("disk");
    m_tree.WriteFile("disk/one", "1");
    const std::string strData = m_cli.DataFolder();
    ASSERT_EQ(m_cli.Run({"create", "a", m_tree.Path("disk")}).nExit, 0);
    ASSERT_EQ(m_cli.Run({"create", "a.mdb.update-1", m_tree.Path("disk")}).nExit, 0);

    // Leftovers of killed writers go; files of other catalogs and fresh
    // files of a build in progress stay.
    for (const char* pszName :
         {".a.mdb.update-77", ".a.mdb.update-77-wal", ".a.mdb.new", ".kestrel-new-AbCdEf",
          ".kestrel-new-AbCdEf-journal", ".kestrel-new-Fresh1", ".a.mdb.update-1.mdb.lock"})
        m_cli.Home().WriteFile(Concat({"data/kestrel/", pszName}), "left");
    const timespec old[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 3600, 0}};
    for (const char* pszName : {".kestrel-new-AbCdEf", ".kestrel-new-AbCdEf-journal"})
        ::utimensat(AT_FDCWD, Concat({strData, pszName}).c_str(), old, 0);
    ASSERT_EQ(m_cli.Run({"update", "a"}).nExit, 0);
    for (const char* pszGone : {".a.mdb.update-77", ".a.mdb.update-77-wal", ".a.mdb.new",
                                ".kestrel-new-AbCdEf", ".kestrel-new-AbCdEf-journal"})
        EXPECT_FALSE(Exists(strData + pszGone)) << pszGone;
    for (const char* pszKept : {".kestrel-new-Fresh1", ".a.mdb.update-1.mdb.lock"})
        EXPECT_TRUE(Exists(strData + pszKept)) << pszKept;
    ::unlink((strData + ".a.mdb.update-1.mdb.lock").c_str());

    // A FIFO where the lock goes is refused, not waited on for ever.
    ASSERT_EQ(::mkfifo((strData + ".a.mdb.lock").c_str(), 0644), 0);
    const CliResult fifo = m_cli.Run({"update", "a"}, "timeout 20 \"$@\"");
    EXPECT_EQ(fifo.nExit, 1) << fifo.strErr;
    EXPECT_NE(fifo.strErr.find(".a.mdb.lock"), std::string::npos) << fifo.strErr;
    ::unlink((strData + ".a.mdb.lock").c_str());

    // A loop of links is no catalog to write through.
    for (const auto& [pszLink, pszTarget] :
         {std::pair{"L1.mdb", "L2.mdb"}, std::pair{"L2.mdb", "L3.mdb"},
          std::pair{"L3.mdb", "L1.mdb"}})
        ASSERT_EQ(::symlink(pszTarget, (strData + pszLink).c_str()), 0);
    EXPECT_EQ(m_cli.Run({"create", "--force", "L2", m_tree.Path("disk")}).nExit, 1);
    struct stat st {};
    for (const char* pszLink : {"L1.mdb", "L2.mdb", "L3.mdb"})
        EXPECT_TRUE(::lstat((strData + pszLink).c_str(), &st) == 0 && S_ISLNK(st.st_mode));

    // A start directory whose absolute path cannot be told is refused.
    const CliResult removed =
        m_cli.Run({"create", "Doom", "."}, "mkdir '" + m_tree.Path("gone") + "' && cd '" +
                                               m_tree.Path("gone") + "' && rmdir '" +
                                               m_tree.Path("gone") + "' && \"$@\"");
    EXPECT_EQ(removed.nExit, 1) << removed.strErr;
    EXPECT_FALSE(Exists(m_cli.CatalogPath("Doom")));

    // The entry of a catalog whose folder has gone with its disk can be deleted.
    m_tree.MakeDir("card");
    ASSERT_EQ(::rename(m_cli.CatalogPath("a").c_str(), m_tree.Path("card/a.mdb").c_str()), 0);
    ASSERT_EQ(m_cli.Run({"add", m_tree.Path("card/a.mdb")}).nExit, 0);
    ::unlink(m_tree.Path("card/a.mdb").c_str());
    ASSERT_EQ(::rmdir(m_tree.Path("card").c_str()), 0);
    EXPECT_EQ(m_cli.Run({"delete", "--yes", m_tree.Path("card/a.mdb")}).nExit, 0);
    EXPECT_EQ(m_cli.Run({"list"}).strOut.find("card"), std::string::npos);
}

TEST_F(CliWriterTest, AFullDiskOrAnUnreadableTreeNeverReplacesACatalog) {
    MakeLargeTree("big", 12000);
    m_tree.MakeDir("small");
    m_tree.WriteFile("small/one", "1");
    // Disks that fill up at different moments of the build and its close.
    for (int nKb = 1500; nKb <= 3500; nKb += 250) {
        CliProcess cli;
        TestTree disk;
        const ScopedTmpfs mount(disk.Root(), (std::to_string(nKb) + "k").c_str());
        if (!mount.Mounted())
            GTEST_SKIP() << "no tmpfs can be mounted here (needs root)";
        ASSERT_EQ(::symlink(disk.Root().c_str(), cli.Home().Path("data").c_str()), 0);
        ASSERT_EQ(cli.Run({"create", "F", m_tree.Path("small")}).nExit, 0);
        const auto digest = FileChecksum(cli.CatalogPath("F"));
        const CliResult forced =
            cli.Run({"create", "--force", "--checksum", "F", m_tree.Path("big")});
        const CliResult info = cli.Run({"info", "F"});
        EXPECT_EQ(info.nExit, 0) << nKb << "k: " << info.strErr;
        if (forced.nExit == 0)
            EXPECT_EQ(QueryNumber(cli.CatalogPath("F"), "SELECT count(*) FROM files"), 12000)
                << nKb << "k";
        else
            EXPECT_EQ(FileChecksum(cli.CatalogPath("F")), digest) << nKb << "k";
    }

    // An ordinary user's update of a tree it can no longer read or enter
    // keeps the catalog.
    ASSERT_EQ(m_cli.Run({"create", "U", m_tree.Path("small")}).nExit, 0);
    ::chmod(m_tree.Root().c_str(), 0755);
    ASSERT_EQ(std::system(("chown -R 65534:65534 '" + m_cli.DataFolder() + "'").c_str()), 0);
    const auto digest = FileChecksum(m_cli.CatalogPath("U"));
    m_cli.DropRoot(true);
    for (const mode_t nMode : {0000, 0644}) {
        ::chmod(m_tree.Path("small").c_str(), nMode);
        const CliResult update = m_cli.Run({"update", "U"});
        EXPECT_EQ(update.nExit, 1) << update.strOut;
        EXPECT_EQ(FileChecksum(m_cli.CatalogPath("U")), digest);
    }
    ::chmod(m_tree.Path("small").c_str(), 0755);
}
