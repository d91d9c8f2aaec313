// SPDX-License-Identifier: GPL-3.0-or-later

// A catalog's rows stay the truth: rows another program changes are found
// as they are now, not as the name index last saw them; reindex covers every
// row whatever its id; and one catalog file is listed once, however its path
// is spelled.
#include "CliProcess.h"
#include "TestTree.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

size_t LineCount(const std::string& strText) {
    return static_cast<size_t>(std::count(strText.begin(), strText.end(), '\n'));
}

class CliIntegrityIndexTest : public ::testing::Test {
protected:
    // Runs Python code against a catalog as another program would: the
    // code sees the open sqlite3 connection as c, and is committed after.
    // Returns Python's exit status with what it printed.
    std::pair<int, std::string> Python(const std::string& strCatalog, const std::string& strCode) {
        const CliResult result =
            RunPython(m_tree,
                      "import sqlite3, sys\nc = sqlite3.connect(sys.argv[1])\n" + strCode +
                          "\nc.commit()\nc.close()\n",
                      {strCatalog});
        return {result.nExit, result.strOut};
    }

    void Sql(const std::string& strCatalog, const std::string& strSql) {
        const auto [nExit, strOut] = Python(strCatalog, "c.executescript('''" + strSql + "\n''')");
        ASSERT_EQ(nExit, 0) << strSql << "\n" << strOut;
    }

    std::string Search(const std::string& strWhere, const std::string& strPattern,
                       const std::string& strEntry) {
        const CliResult result = m_cli.Run({"search", "--where", strWhere, strPattern, strEntry});
        EXPECT_LE(result.nExit, 1) << result.strErr;
        return result.strOut;
    }

    void Reindex(const std::string& strEntry) {
        const CliResult result = m_cli.Run({"reindex", strEntry});
        ASSERT_EQ(result.nExit, 0) << result.strErr;
    }

    CliProcess m_cli;
    TestTree m_tree;
};

} // namespace

TEST_F(CliIntegrityIndexTest, RowsChangedByAnotherProgramAreFoundAsTheyAreNow) {
    for (const char* pszDir : {"t/oldplace/alpha", "t/oldplace/bravo", "t/keep"})
        m_tree.MakeDir(pszDir);
    for (int i = 0; i < 400; ++i) {
        m_tree.WriteFile(Concat({"t/oldplace/alpha/photo_", std::to_string(1000 + i), ".jpg"}), "");
        m_tree.WriteFile(Concat({"t/keep/misc_", std::to_string(1000 + i), ".dat"}), "");
    }
    for (int i = 0; i < 40; ++i)
        m_tree.WriteFile(Concat({"t/oldplace/bravo/doc_", std::to_string(1000 + i), ".txt"}), "");
    m_tree.WriteFile("t/keep/lonely.txt", "");
    ASSERT_EQ(m_cli.Run({"create", "Disk", m_tree.Path("t")}).nExit, 0);
    const std::string strCatalog = m_cli.CatalogPath("Disk");
    ASSERT_EQ(LineCount(Search("both", "*/oldplace/*", "Disk")), 440u);
    ASSERT_EQ(LineCount(Search("both", "*bravo*", "Disk")), 40u);

    // The catalog's paths moved with SQL: every file below is found at its
    // new place, at once and after reindex.
    Sql(strCatalog, "UPDATE dirs SET dir_name = replace(dir_name, '/oldplace', '/newplace')");
    EXPECT_EQ(LineCount(Search("both", "*/newplace/*", "Disk")), 440u);
    EXPECT_EQ(LineCount(Search("dirs", "*/newplace", "Disk")), 1u);
    EXPECT_EQ(Search("both", "*/oldplace/*", "Disk"), "");
    Reindex("Disk");
    EXPECT_EQ(LineCount(Search("both", "*/newplace/*", "Disk")), 440u);
    EXPECT_EQ(LineCount(Search("dirs", "*/newplace", "Disk")), 1u);

    // A renamed file.
    Sql(strCatalog, "UPDATE files SET file_name = 'zebra_crossing.txt' "
                    "WHERE file_name = 'misc_1005.dat'");
    EXPECT_EQ(LineCount(Search("files", "*zebra*", "Disk")), 1u);
    EXPECT_EQ(Search("files", "misc_1005.dat", "Disk"), "");
    Reindex("Disk");
    EXPECT_EQ(LineCount(Search("files", "*zebra*", "Disk")), 1u);
    // A count of changes set below zero by hand is not brought back to
    // "unchanged" by the next change.
    Sql(strCatalog,
        "UPDATE name_index_meta SET value = -1 WHERE key = 'changes'; "
        "UPDATE files SET file_name = 'quagga.txt' WHERE file_name = 'zebra_crossing.txt'");
    EXPECT_EQ(LineCount(Search("files", "*quagga*", "Disk")), 1u);
    Reindex("Disk");

    // A file moved to another directory by its dir_id: the directory's
    // path now finds it too.
    Sql(strCatalog, "UPDATE files SET dir_id = (SELECT dir_id FROM dirs "
                    "WHERE dir_name LIKE '%/bravo') WHERE file_name = 'lonely.txt'");
    const std::string strBravo = Search("both", "*bravo*", "Disk");
    EXPECT_EQ(LineCount(strBravo), 41u);
    EXPECT_NE(strBravo.find("/bravo/lonely.txt\t"), std::string::npos) << strBravo;
    Reindex("Disk");
    EXPECT_EQ(Search("both", "*bravo*", "Disk"), strBravo);

    // The last row deleted and a new one given its id.
    Sql(strCatalog, "CREATE TEMP TABLE last AS SELECT max(file_id) AS id FROM files; "
                    "DELETE FROM files WHERE file_id = (SELECT id FROM last); "
                    "INSERT INTO files(file_id, dir_id, file_name, file_size) "
                    "SELECT id, 1, 'yak_shaving.bin', 5 FROM last");
    EXPECT_EQ(LineCount(Search("files", "*yak*", "Disk")), 1u);
    Reindex("Disk");
    EXPECT_EQ(LineCount(Search("files", "*yak*", "Disk")), 1u);

    // Without its triggers (an index an earlier Kestrel made, or someone
    // dropped them) nothing tells what changed: the index is not trusted.
    const auto [nDropped, strDropped] =
        Python(strCatalog, "for (name,) in c.execute(\"SELECT name FROM sqlite_master "
                           "WHERE type = 'trigger'\").fetchall():\n"
                           "    c.execute('DROP TRIGGER \"%s\"' % name)\n"
                           "c.execute(\"UPDATE files SET file_name = 'quail_egg.txt' "
                           "WHERE file_name = 'misc_1007.dat'\")");
    ASSERT_EQ(nDropped, 0) << strDropped;
    EXPECT_EQ(LineCount(Search("files", "*quail*", "Disk")), 1u);
    Reindex("Disk");
    EXPECT_EQ(LineCount(Search("files", "*quail*", "Disk")), 1u);
    Sql(strCatalog,
        "UPDATE files SET file_name = 'quail_egg.txt' WHERE file_name = 'misc_1008.dat'");
    EXPECT_EQ(LineCount(Search("files", "*quail*", "Disk")), 2u);

    // Index tables dropped by hand: searches read every row, and reindex
    // makes the catalog writable and indexed again.
    Sql(strCatalog, "DROP TABLE name_index_meta; DROP TABLE name_index_files");
    EXPECT_EQ(LineCount(Search("files", "*quail*", "Disk")), 2u);
    Reindex("Disk");
    Sql(strCatalog,
        "UPDATE files SET file_name = 'quail_hatch.txt' WHERE file_name = 'misc_1009.dat'");
    EXPECT_EQ(LineCount(Search("files", "*quail*", "Disk")), 3u);
    EXPECT_EQ(LineCount(Search("both", "*/newplace/*", "Disk")), 441u); // with lonely.txt
}

TEST_F(CliIntegrityIndexTest, ReindexCoversRowsOfAnyIdEachOnce) {
    for (const char* pszDir : {"t/quokka", "t/middle", "t/walrus"})
        m_tree.MakeDir(pszDir);
    for (int i = 0; i < 32; ++i)
        m_tree.WriteFile(Concat({"t/quokka/quokka_", std::to_string(10 + i), ".png"}), "");
    for (int i = 0; i < 200; ++i)
        m_tree.WriteFile(Concat({"t/middle/misc_", std::to_string(1000 + i), ".dat"}), "");
    for (int i = 0; i < 40; ++i)
        m_tree.WriteFile(Concat({"t/walrus/walrus_", std::to_string(10 + i), ".txt"}), "");
    ASSERT_EQ(m_cli.Run({"create", "Ids", m_tree.Path("t")}).nExit, 0);
    const std::string strCatalog = m_cli.CatalogPath("Ids");
    // Another program numbers the rows its own way: the quokka files and
    // their directory below zero, the walrus ones at the top of the range.
    const auto [nExit, strOut] = Python(strCatalog, R"py(
top = 2**63 - 1
c.execute("UPDATE files SET file_id = file_id + 1000000")
c.execute("UPDATE dirs SET dir_id = dir_id + 1000000")
c.execute("UPDATE files SET dir_id = dir_id + 1000000")
def renumber(name, new_id):
    (old,) = c.execute("SELECT dir_id FROM dirs WHERE dir_name LIKE ?", ('%/' + name,)).fetchone()
    c.execute("UPDATE dirs SET dir_id = ? WHERE dir_id = ?", (new_id, old))
    c.execute("UPDATE files SET dir_id = ? WHERE dir_id = ?", (new_id, old))
renumber('quokka', -1)
renumber('walrus', top)
quokka = [r[0] for r in c.execute("SELECT file_id FROM files WHERE file_name LIKE 'quokka%' ORDER BY file_id")]
for i, old in enumerate(quokka):
    c.execute("UPDATE files SET file_id = ? WHERE file_id = ?", (-32 + i, old))
walrus = [r[0] for r in c.execute("SELECT file_id FROM files WHERE file_name LIKE 'walrus%' ORDER BY file_id")]
for i, old in enumerate(walrus):
    c.execute("UPDATE files SET file_id = ? WHERE file_id = ?", (top - len(walrus) + 1 + i, old))
)py");
    ASSERT_EQ(nExit, 0) << strOut;
    ASSERT_EQ(QueryNumber(strCatalog, "SELECT min(file_id) FROM files"), -32);
    ASSERT_EQ(QueryNumber(strCatalog, "SELECT max(file_id) FROM files"), INT64_MAX);

    const std::vector<std::pair<std::string, std::string>> searches = {
        {"files", "*quokka*"}, {"both", "*quokka*"}, {"dirs", "*/quokka"}, {"files", "*walrus*"},
        {"both", "*walrus*"},  {"dirs", "*/walrus"}, {"files", "*_1#.*"},  {"both", "*misc_101#*"}};
    std::vector<std::string> before;
    for (const auto& [strWhere, strPattern] : searches)
        before.push_back(Search(strWhere, strPattern, "Ids"));
    EXPECT_EQ(LineCount(before[0]), 32u);
    EXPECT_EQ(LineCount(before[4]), 40u);
    EXPECT_EQ(LineCount(before[5]), 1u);
    EXPECT_EQ(LineCount(before[6]), 20u);
    const CliResult reindex = m_cli.Run({"reindex", "Ids"});
    ASSERT_EQ(reindex.nExit, 0) << reindex.strErr;
    EXPECT_NE(reindex.strOut.find("indexed 272 files and 4 directories"), std::string::npos)
        << reindex.strOut;
    for (size_t i = 0; i < searches.size(); ++i)
        EXPECT_EQ(Search(searches[i].first, searches[i].second, "Ids"), before[i])
            << searches[i].first << " " << searches[i].second;
}

TEST_F(CliIntegrityIndexTest, OneCatalogFileIsListedOnceHoweverItsPathIsSpelled) {
    m_tree.MakeDir("t/sub");
    m_tree.WriteFile("t/sub/one_of_a_kind.txt", "x");
    ASSERT_EQ(m_cli.Run({"create", "Photos", m_tree.Path("t")}).nExit, 0);
    const std::string strOwn = m_cli.CatalogPath("Photos");
    m_tree.MakeDir("else");
    namespace fs = std::filesystem;
    for (const char* pszName : {"Out.mdb", "A.mdb", "a.mdb", "C.mdb"})
        fs::copy_file(strOwn, m_tree.Path(std::string("else/") + pszName));
    fs::create_symlink(strOwn, m_tree.Path("else/own-link.mdb"));
    fs::create_symlink(m_tree.Path("else/Out.mdb"), m_tree.Path("else/out-link.mdb"));
    fs::create_hard_link(m_tree.Path("else/Out.mdb"), m_tree.Path("else/out-hard.mdb"));
    fs::create_hard_link(m_tree.Path("else/C.mdb"), m_tree.Path("else/c-hard.mdb"));
    fs::create_symlink(m_tree.Path("else/C.mdb"), m_tree.Path("else/c-link.mdb"));

    auto add = [&](const std::string& strPath) { return m_cli.Run({"add", strPath}); };
    // The data folder's own catalog by its full path, with "..", by a link.
    for (const std::string& strPath :
         {strOwn, m_cli.DataFolder() + "../kestrel/Photos.mdb", m_cli.DataFolder() + "./Photos.mdb",
          m_tree.Path("else/own-link.mdb")}) {
        const CliResult result = add(strPath);
        EXPECT_EQ(result.nExit, 1) << strPath;
        EXPECT_NE(result.strErr.find("Database already in list"), std::string::npos)
            << strPath << ": " << result.strErr;
    }
    ASSERT_EQ(add(m_tree.Path("else/Out.mdb")).nExit, 0);
    for (const std::string& strPath :
         {m_tree.Path("else/out-link.mdb"), m_tree.Path("else/out-hard.mdb"),
          m_tree.Path("else/../else/Out.mdb"), m_tree.Path("else//Out.mdb")}) {
        const CliResult result = add(strPath);
        EXPECT_EQ(result.nExit, 1) << strPath;
        EXPECT_NE(result.strErr.find("Database already in list"), std::string::npos)
            << strPath << ": " << result.strErr;
    }
    // Names that differ only in letter case are two files here: both listed.
    EXPECT_EQ(add(m_tree.Path("else/A.mdb")).nExit, 0);
    EXPECT_EQ(add(m_tree.Path("else/a.mdb")).nExit, 0);

    // Five spellings of one file added at the same moment: one wins.
    std::vector<pid_t> pids;
    for (const std::string& strPath :
         {m_tree.Path("else/C.mdb"), m_tree.Path("else/./C.mdb"), m_tree.Path("else/c-hard.mdb"),
          m_tree.Path("else/c-link.mdb"), m_tree.Path("t/../else/C.mdb")})
        pids.push_back(m_cli.Start({"add", strPath}));
    int nAdded = 0;
    for (const pid_t pid : pids) {
        const CliResult result = m_cli.Wait(pid);
        if (result.nExit == 0)
            ++nAdded;
        else
            EXPECT_NE(result.strErr.find("Database already in list"), std::string::npos)
                << result.strErr;
    }
    EXPECT_EQ(nAdded, 1);

    // Each listed file once: Photos, Out, A, a and C.
    const CliResult list = m_cli.Run({"list"});
    EXPECT_EQ(LineCount(list.strOut), 5u) << list.strOut;
    EXPECT_EQ(LineCount(m_cli.Run({"search", "*one_of_a_kind*"}).strOut), 5u);
}
