// Speed without other answers: checksums hashed on several threads give the
// rows of one thread, searches of many catalogs at once keep list order, and
// reindex gives old catalogs the index without changing a hit.
#include "CliProcess.h"
#include "TestTree.h"
#include "catalog/Database.h"
#include "catalog/ResultSet.h"

#include <gtest/gtest.h>

namespace {

// Every file row of a catalog, as text, in id order.
std::string FileRows(const std::string& strCatalog) {
    std::string strRows;
    Database db;
    db.Open(strCatalog, Database::OpenMode::ReadOnly);
    for (ResultSet rows(db.Prepare("SELECT file_id, dir_id, file_name, file_size, "
                                   "ifnull(md5_checksum, '-') FROM files ORDER BY file_id"));
         !rows.IsEOF(); rows.MoveNext()) {
        for (int i = 0; i < 5; ++i)
            strRows += rows.GetText(i) + (i < 4 ? " " : "\n");
    }
    return strRows;
}

class CliIndexTest : public ::testing::Test {
protected:
    CliProcess m_cli;
    TestTree m_tree;
};

} // namespace

TEST_F(CliIndexTest, ChecksumsOnSeveralThreadsGiveTheRowsOfOne) {
    // A large file first, which one thread hashes while the others go on.
    m_tree.MakeDir("a/b");
    m_tree.WriteSizedFile("a/large", 24 << 20);
    for (int i = 0; i < 300; ++i)
        m_tree.WriteSizedFile(Concat({i % 2 ? "a/" : "a/b/", "f", std::to_string(i)}),
                              static_cast<uint64_t>(i * 37));
    m_tree.MakeFifo("a/fifo");
    m_tree.MakeSymlink("large", "a/link");
    ASSERT_EQ(
        m_cli.Run({"create", "--checksum", "--max-size", "0", "--jobs", "1", "One", m_tree.Root()})
            .nExit,
        0);
    const std::string strOne = FileRows(m_cli.CatalogPath("One"));
    EXPECT_NE(strOne.find(" large 25165824 " + Md5OfText(PatternContent(24 << 20)) + "\n"),
              std::string::npos);
    EXPECT_NE(strOne.find(" f299 " + std::to_string(299 * 37) + " " +
                          Md5OfText(PatternContent(299 * 37)) + "\n"),
              std::string::npos);
    for (const char* pszJobs : {"2", "4"}) {
        const std::string strName = std::string("Jobs") + pszJobs;
        ASSERT_EQ(m_cli
                      .Run({"create", "--checksum", "--max-size", "0", "--jobs", pszJobs, strName,
                            m_tree.Root()})
                      .nExit,
                  0);
        EXPECT_EQ(FileRows(m_cli.CatalogPath(strName)), strOne) << pszJobs << " threads";
    }
    // Also with few descriptors to spare.
    const CliResult result =
        m_cli.Run({"create", "--checksum", "--max-size", "0", "--jobs", "4", "Few", m_tree.Root()},
                  "ulimit -n 24 && exec \"$@\"");
    ASSERT_EQ(result.nExit, 0) << result.strErr;
    EXPECT_EQ(FileRows(m_cli.CatalogPath("Few")), strOne);
    EXPECT_EQ(m_cli.Run({"create", "--jobs", "0", "Bad", m_tree.Root()}).nExit, 2);
}

TEST_F(CliIndexTest, ManyCatalogsAtOnceKeepTheirOrderAndReindexChangesNoHit) {
    std::vector<std::string> entries;
    for (int k = 0; k < 7; ++k) {
        const std::string strDir = Concat({"c", std::to_string(k)});
        m_tree.MakeDir(strDir);
        for (int i = 0; i < 40; ++i)
            m_tree.WriteFile(Concat({strDir, "/report_", std::to_string(k * 100 + i), ".txt"}), "");
        ASSERT_EQ(m_cli.Run({"create", strDir, m_tree.Path(strDir)}).nExit, 0);
        entries.push_back(strDir);
    }
    // One catalog at a time, in list order, as the hits must come.
    std::string strExpected;
    for (const std::string& strEntry : entries)
        strExpected += m_cli.Run({"search", "*report_*", strEntry}).strOut;
    std::vector<std::string> args = {"search", "*report_*"};
    args.insert(args.end(), entries.begin(), entries.end());
    for (int nRun = 0; nRun < 3; ++nRun)
        EXPECT_EQ(m_cli.Run(args).strOut, strExpected);
    args[1] = "*report_1##.txt";
    const std::string strSelective = m_cli.Run(args).strOut;
    EXPECT_EQ(std::count(strSelective.begin(), strSelective.end(), '\n'), 40);

    // A catalog as an earlier Kestrel made it has no index; reindex gives it
    // one, and every search finds what it found before.
    {
        Database db;
        db.Open(m_cli.CatalogPath("c1"), Database::OpenMode::ReadWrite);
        db.Execute("DROP TABLE name_index_meta; DROP TABLE name_index_files; "
                   "DROP TABLE name_index_dirs; DROP TABLE name_index_dir_files;");
    }
    const std::vector<std::string> patterns = {"*report_1##.txt", "*_105*", "*.TXT", "*/c1"};
    std::vector<std::string> before;
    for (const std::string& strPattern : patterns)
        before.push_back(m_cli.Run({"search", strPattern, "c1"}).strOut);
    const CliResult reindex = m_cli.Run({"reindex", "c1"});
    ASSERT_EQ(reindex.nExit, 0) << reindex.strErr;
    EXPECT_NE(reindex.strOut.find("indexed 40 files and 1 directories"), std::string::npos)
        << reindex.strOut;
    for (size_t i = 0; i < patterns.size(); ++i)
        EXPECT_EQ(m_cli.Run({"search", patterns[i], "c1"}).strOut, before[i]) << patterns[i];
    {
        Database db;
        db.Open(m_cli.CatalogPath("c1"), Database::OpenMode::ReadOnly);
        EXPECT_GT(ResultSet(db.Prepare("SELECT count(*) FROM name_index_files")).GetInt64(0), 0);
    }
    EXPECT_EQ(m_cli.Run({"reindex", "Nowhere"}).nExit, 1);
}
