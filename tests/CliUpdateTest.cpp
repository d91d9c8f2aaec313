// SPDX-License-Identifier: GPL-3.0-or-later

// Catalogs that know their disk and their time, brought up to date instead
// of rebuilt: kestrel-cli info, update, --exclude and --one-file-system, run
// as the real executable.
#include "CliProcess.h"
#include "TestTree.h"
#include "catalog/Database.h"
#include "catalog/ResultSet.h"
#include "scan/FileChecksum.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace {

// Every row of a catalog as text, directories and files, for comparing two
// catalogs of the same tree: path, size, checksum and time of each file.
struct CatalogRows {
    std::set<std::string> dirs;
    std::map<std::string, std::tuple<std::string, std::string, std::string>> files;
    bool operator==(const CatalogRows&) const = default;
};

CatalogRows RowsOf(const std::string& strCatalog) {
    CatalogRows rows;
    Database db;
    db.Open(strCatalog, Database::OpenMode::ReadOnly);
    for (ResultSet r(db.Prepare("SELECT dir_name FROM dirs")); !r.IsEOF(); r.MoveNext())
        rows.dirs.insert(r.GetText(0));
    for (ResultSet r(db.Prepare("SELECT d.dir_name || '/' || f.file_name, f.file_size, "
                                "f.md5_checksum, f.file_mtime FROM files f, dirs d "
                                "WHERE d.dir_id = f.dir_id"));
         !r.IsEOF(); r.MoveNext())
        rows.files[r.GetText(0)] = {r.GetText(1), r.GetText(2), r.GetText(3)};
    return rows;
}

void KeepTimeOf(const std::string& strPath, const timespec& mtime) {
    const timespec times[2] = {{0, UTIME_OMIT}, mtime};
    ::utimensat(AT_FDCWD, strPath.c_str(), times, 0);
}

timespec TimeOf(const std::string& strPath) {
    struct stat st {};
    ::stat(strPath.c_str(), &st);
    return st.st_mtim;
}

class CliUpdateTest : public ::testing::Test {
protected:
    CliProcess m_cli;
    TestTree m_tree;
};

} // namespace

TEST_F(CliUpdateTest, UpdateGivesTheRowsOfAFreshBuildAndReadsOnlyWhatChanged) {
    m_tree.MakeDir("docs/old");
    for (int i = 0; i < 20; ++i)
        m_tree.WriteFile("docs/file" + std::to_string(i) + ".txt", "content " + std::to_string(i));
    m_tree.WriteFile("docs/old/removed.txt", "going");
    m_tree.WriteFile("docs/grows.txt", "short");
    m_tree.WriteFile("docs/touched.txt", "same bytes");
    m_tree.WriteFile("docs/secretly.txt", "original!");
    ASSERT_EQ(m_cli.Run({"create", "--checksum", "--max-size", "0", "Docs", m_tree.Root()}).nExit,
              0);

    ::unlink(m_tree.Path("docs/old/removed.txt").c_str());
    m_tree.WriteFile("docs/added.txt", "new here");
    m_tree.MakeDir("docs/new dir");
    m_tree.WriteFile("docs/new dir/inner.txt", "inner");
    m_tree.WriteFile("docs/grows.txt", "longer now");
    const timespec later{TimeOf(m_tree.Path("docs/touched.txt")).tv_sec + 10, 0};
    KeepTimeOf(m_tree.Path("docs/touched.txt"), later);
    // Other bytes, but the same size and time: only reading it could tell,
    // and an update must not read it.
    const timespec kept = TimeOf(m_tree.Path("docs/secretly.txt"));
    m_tree.WriteFile("docs/secretly.txt", "tampered!");
    KeepTimeOf(m_tree.Path("docs/secretly.txt"), kept);

    CliResult result = m_cli.Run({"update", "Docs"});
    ASSERT_EQ(result.nExit, 0) << result.strErr;
    EXPECT_NE(result.strOut.find(": 2 added, 1 removed, 2 changed, 21 unchanged files, 4 checksums "
                                 "computed, "),
              std::string::npos)
        << result.strOut;
    const CatalogRows updated = RowsOf(m_cli.CatalogPath("Docs"));
    EXPECT_EQ(std::get<1>(updated.files.at(m_tree.Path("docs/secretly.txt"))),
              Md5OfText("original!"));

    // Apart from the file it was not to read, it is what a fresh build gives.
    ASSERT_EQ(m_cli.Run({"create", "--checksum", "--max-size", "0", "Fresh", m_tree.Root()}).nExit,
              0);
    CatalogRows fresh = RowsOf(m_cli.CatalogPath("Fresh"));
    std::get<1>(fresh.files[m_tree.Path("docs/secretly.txt")]) = Md5OfText("original!");
    EXPECT_EQ(updated, fresh);
    EXPECT_EQ(std::get<1>(updated.files.at(m_tree.Path("docs/grows.txt"))),
              Md5OfText("longer now"));
    EXPECT_EQ(std::get<1>(updated.files.at(m_tree.Path("docs/new dir/inner.txt"))),
              Md5OfText("inner"));
    // It keeps its settings and says it is complete.
    const std::string strInfo = m_cli.Run({"info", "Docs"}).strOut;
    EXPECT_EQ(InfoValue(strInfo, "Complete"), "yes");
    EXPECT_EQ(InfoValue(strInfo, "Checksum limit"), "no limit");
    EXPECT_EQ(InfoValue(strInfo, "Files"), "25");
    EXPECT_EQ(InfoValue(strInfo, "Start directory"), m_tree.Root());
    // A catalog without checksums gets them when asked.
    ASSERT_EQ(m_cli.Run({"create", "Plain", m_tree.Path("docs/new dir")}).nExit, 0);
    ASSERT_EQ(m_cli.Run({"update", "--checksum", "Plain"}).nExit, 0);
    EXPECT_EQ(
        std::get<1>(
            RowsOf(m_cli.CatalogPath("Plain")).files.at(m_tree.Path("docs/new dir/inner.txt"))),
        Md5OfText("inner"));
    // A start directory typed with a trailing '/' meets its files again.
    ASSERT_EQ(m_cli.Run({"create", "--checksum", "Slash", m_tree.Path("docs/new dir") + "/"}).nExit,
              0);
    result = m_cli.Run({"update", "Slash"});
    EXPECT_NE(result.strOut.find(": 0 added, 0 removed, 0 changed, 1 unchanged files, 0 checksums "
                                 "computed, "),
              std::string::npos)
        << result.strOut;
}

TEST_F(CliUpdateTest, AStoppedOrRefusedUpdateLeavesTheCatalogAsItWas) {
    for (int i = 0; i < 12000; ++i)
        m_tree.WriteFile(Concat({"f", std::to_string(i)}), "");
    ASSERT_EQ(m_cli.Run({"create", "Kept", m_tree.Root()}).nExit, 0);
    const std::string strCatalog = m_cli.CatalogPath("Kept");
    const auto digest = FileChecksum(strCatalog);
    ASSERT_TRUE(digest);
    m_tree.WriteFile("added after", "x");
    m_cli.InjectFaults("KESTREL_FAULT_READDIR_DELAY_US=150");
    for (const int nSignal : {SIGINT, SIGKILL}) {
        const pid_t updater = m_cli.Start({"update", "Kept"});
        const std::string strNew = m_cli.DataFolder() + ".Kept.mdb.new";
        m_cli.WaitUntil(updater, [&] { return Exists(strNew); });
        // The old catalog is searched meanwhile, as it was.
        const CliResult search = m_cli.Run({"search", "--where", "files", "f1", "Kept"});
        EXPECT_EQ(search.nExit, 0) << search.strErr;
        ::kill(updater, nSignal);
        const CliResult update = m_cli.Wait(updater);
        EXPECT_EQ(update.nExit, 128 + nSignal) << update.strErr;
        EXPECT_EQ(FileChecksum(strCatalog), digest);
        if (nSignal == SIGINT) {
            EXPECT_FALSE(Exists(strNew));
        }
    }

    // With its disk away, an update refuses and names what is missing.
    ASSERT_EQ(::rename(m_tree.Root().c_str(), (m_tree.Root() + ".away").c_str()), 0);
    const CliResult refused = m_cli.Run({"update", "Kept"});
    ASSERT_EQ(::rename((m_tree.Root() + ".away").c_str(), m_tree.Root().c_str()), 0);
    EXPECT_EQ(refused.nExit, 1);
    EXPECT_NE(refused.strErr.find("'" + m_tree.Root() + "' is not there"), std::string::npos)
        << refused.strErr;
    EXPECT_EQ(FileChecksum(strCatalog), digest);

    // Another disk, or the bare mount folder, where the catalogued one was:
    // walking it would replace the only record of the catalogued volume.
    {
        Database database;
        database.Open(strCatalog, Database::OpenMode::ReadWrite);
        database.Execute("UPDATE catalog_info SET value = 'f00d-cafe' WHERE key = 'fs_uuid';"
                         "UPDATE catalog_info SET value = '/media/card' WHERE key = 'mount_point'");
    }
    const auto moved = FileChecksum(strCatalog);
    const CliResult elsewhere = m_cli.Run({"update", "Kept"});
    EXPECT_EQ(elsewhere.nExit, 1);
    EXPECT_NE(elsewhere.strErr.find("now lies on another volume"), std::string::npos)
        << elsewhere.strErr;
    EXPECT_NE(elsewhere.strErr.find("'/media/card'"), std::string::npos) << elsewhere.strErr;
    EXPECT_EQ(FileChecksum(strCatalog), moved);
}

TEST_F(CliUpdateTest, InfoTellsWhatEachKindOfCatalogKnows) {
    m_tree.MakeDir("a");
    m_tree.WriteFile("a/one", "1");
    m_tree.WriteFile("two", "22");
    ASSERT_EQ(m_cli.Run({"create", "--checksum", "New", m_tree.Root()}).nExit, 0);
    std::string strInfo = m_cli.Run({"info", "New"}).strOut;
    EXPECT_EQ(strInfo.rfind("Catalog: New (" + m_cli.CatalogPath("New") + ")\n", 0), 0u);
    const std::map<std::string, std::string> expected = {{"Start directory", m_tree.Root()},
                                                         {"Complete", "yes"},
                                                         {"Directories", "2"},
                                                         {"Files", "2"},
                                                         {"Checksums", "2"},
                                                         {"Checksum limit", "100 KB"},
                                                         {"Total size", "3 bytes"},
                                                         {"Excluded", "nothing"},
                                                         {"One file system", "no"},
                                                         {"Made by", "Kestrel " KESTREL_VERSION}};
    for (const auto& [strKey, strValue] : expected)
        EXPECT_EQ(InfoValue(strInfo, strKey), strValue) << strKey;
    for (const char* pszKey : {"Started", "Finished", "File system", "Mount point"})
        EXPECT_NE(InfoValue(strInfo, pszKey), "unknown") << pszKey;
    // The same for scripts, typed.
    const std::string strJson = m_cli.Run({"info", "--format", "json", "New"}).strOut;
    for (const char* pszField : {"\"complete\":true,", "\"directories\":2,", "\"files\":2,",
                                 "\"checksum_limit_kb\":100,", "\"total_bytes\":3,"})
        EXPECT_NE(strJson.find(pszField), std::string::npos) << pszField << strJson;

    // A stopped build says it is not complete.
    for (int i = 0; i < 12000; ++i)
        m_tree.WriteFile(Concat({"f", std::to_string(i)}), "");
    m_cli.InjectFaults("KESTREL_FAULT_READDIR_DELAY_US=150");
    const pid_t builder = m_cli.Start({"create", "Stopped", m_tree.Root()});
    m_cli.WaitUntil(builder, [&] {
        return m_cli.Run({"search", "--where", "dirs", "*", "Stopped"}).nExit == 0;
    });
    ::kill(builder, SIGTERM);
    ASSERT_EQ(m_cli.Wait(builder).nExit, 143);
    EXPECT_EQ(InfoValue(m_cli.Run({"info", "Stopped"}).strOut, "Complete"), "no");

    // A catalog made before catalogs knew themselves: five fields in files,
    // no catalog_info. What its rows tell is shown, the rest is unknown, and
    // an update rebuilds it whole.
    const std::string strOld = m_cli.Home().Path("old.mdb");
    {
        Database db;
        db.Create(strOld, "CREATE TABLE dirs (dir_id INTEGER PRIMARY KEY, dir_name TEXT);"
                          "CREATE TABLE files (file_id INTEGER PRIMARY KEY, dir_id INTEGER, "
                          "file_name TEXT, file_size INTEGER, md5_checksum TEXT);");
        db.Execute("INSERT INTO dirs VALUES (1, '" + m_tree.Path("a") +
                   "');"
                   "INSERT INTO files VALUES (1, 1, 'one', 1, 'c4ca4238a0b923820dcc509a6f75849b');"
                   "INSERT INTO files VALUES (2, 1, 'gone', 5, NULL);");
    }
    ASSERT_EQ(m_cli.Run({"add", strOld}).nExit, 0);
    strInfo = m_cli.Run({"info", strOld}).strOut;
    EXPECT_EQ(InfoValue(strInfo, "Start directory"), m_tree.Path("a"));
    EXPECT_EQ(InfoValue(strInfo, "Files"), "2");
    EXPECT_EQ(InfoValue(strInfo, "Checksums"), "1");
    EXPECT_EQ(InfoValue(strInfo, "Total size"), "6 bytes");
    for (const char* pszKey : {"Started", "Complete", "Checksum limit", "Excluded", "Made by"})
        EXPECT_EQ(InfoValue(strInfo, pszKey), "unknown") << pszKey;
    const CliResult update = m_cli.Run({"update", strOld});
    ASSERT_EQ(update.nExit, 0) << update.strErr;
    EXPECT_NE(update.strOut.find(": 0 added, 1 removed, 0 changed, 1 unchanged files, 1 checksums "
                                 "computed"),
              std::string::npos)
        << update.strOut;
    EXPECT_EQ(InfoValue(m_cli.Run({"info", strOld}).strOut, "Complete"), "yes");
}

TEST_F(CliUpdateTest, ExcludesAndOneFileSystemAreKeptByUpdates) {
    m_tree.MakeDir("src/.git/objects");
    m_tree.MakeDir("src/build");
    m_tree.MakeDir("other/build");
    m_tree.WriteFile("src/main.c", "int main;");
    m_tree.WriteFile("src/main.o", "object");
    m_tree.WriteFile("src/.git/objects/ab", "blob");
    m_tree.WriteFile("src/build/out", "out");
    m_tree.WriteFile("other/build/kept", "kept");
    ASSERT_EQ(m_cli
                  .Run({"create", "--exclude", "*.O", "--exclude", ".git", "--exclude",
                        "*/src/build", "Src", m_tree.Root()})
                  .nExit,
              0);
    const std::set<std::string> expectedDirs = {m_tree.Root(), m_tree.Path("src"),
                                                m_tree.Path("other"), m_tree.Path("other/build")};
    const std::set<std::string> expectedFiles = {m_tree.Path("src/main.c"),
                                                 m_tree.Path("other/build/kept")};
    auto check = [&](const char* pszWhen) {
        const CatalogRows rows = RowsOf(m_cli.CatalogPath("Src"));
        EXPECT_EQ(rows.dirs, expectedDirs) << pszWhen;
        std::set<std::string> files;
        for (const auto& [strPath, values] : rows.files)
            files.insert(strPath);
        EXPECT_EQ(files, expectedFiles) << pszWhen;
    };
    check("create");
    m_tree.WriteFile("src/more.o", "object");
    ASSERT_EQ(m_cli.Run({"update", "Src"}).nExit, 0);
    check("update");
    EXPECT_EQ(InfoValue(m_cli.Run({"info", "Src"}).strOut, "Excluded"), "*.O, .git, */src/build");
    EXPECT_EQ(m_cli.Run({"create", "--exclude", "[x", "Bad", m_tree.Root()}).nExit, 2);

    // A file system mounted inside the tree: its mount point is stored, its
    // content not.
    m_tree.MakeDir("mnt");
    std::optional<ScopedTmpfs> mount(std::in_place, m_tree.Path("mnt"), "64k");
    if (!mount->Mounted())
        GTEST_SKIP() << "no tmpfs can be mounted here (needs root): --one-file-system skipped";
    m_tree.WriteFile("mnt/inside", "on another file system");
    CliResult result = m_cli.Run({"create", "--one-file-system", "Local", m_tree.Root()});
    const bool bInsideStored =
        RowsOf(m_cli.CatalogPath("Local")).files.count(m_tree.Path("mnt/inside")) > 0;
    const bool bMountStored = RowsOf(m_cli.CatalogPath("Local")).dirs.count(m_tree.Path("mnt")) > 0;
    ASSERT_EQ(m_cli.Run({"update", "Local"}).nExit, 0);
    const bool bInsideAfterUpdate =
        RowsOf(m_cli.CatalogPath("Local")).files.count(m_tree.Path("mnt/inside")) > 0;
    mount.reset();
    EXPECT_EQ(result.nExit, 0);
    EXPECT_TRUE(bMountStored);
    EXPECT_FALSE(bInsideStored);
    EXPECT_FALSE(bInsideAfterUpdate);
}
