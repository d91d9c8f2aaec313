// Speed without other answers: checksums hashed on several threads give the
// rows of one thread, searches of many catalogs at once keep list order, and
// reindex gives old catalogs the index without changing a hit.
#include "CliProcess.h"
#include "TestTree.h"
#include "catalog/Database.h"
#include "catalog/ResultSet.h"

#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

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

// The rows a plain walk on one thread gives, written by another program:
// each directory's entries in the order the system lists them, its
// subdirectories' rows with its files, then each subdirectory's tree in
// turn; an MD5 for each regular file within the limit (KB, 0: none).
std::string RowsOfAPlainWalk(const std::string& strRoot, int nLimitKb) {
    static const TestTree scratch;
    const CliResult rows =
        RunPython(scratch,
                  "import hashlib, os, stat, sys\n"
                  "root, limit = os.fsencode(sys.argv[1]), int(sys.argv[2])\n"
                  "dirs, files = [root], []\n"
                  "def walk(path, number):\n"
                  "    subdirectories = []\n"
                  "    for entry in os.scandir(path):\n"
                  "        full = path + b'/' + entry.name\n"
                  "        if entry.is_dir(follow_symlinks=False):\n"
                  "            dirs.append(full)\n"
                  "            subdirectories.append((full, len(dirs)))\n"
                  "            continue\n"
                  "        st = os.lstat(full)\n"
                  "        md5 = b'-'\n"
                  "        if stat.S_ISREG(st.st_mode) and "
                  "(limit == 0 or st.st_size >> 10 <= limit):\n"
                  "            with open(full, 'rb') as f:\n"
                  "                md5 = hashlib.md5(f.read()).hexdigest().encode()\n"
                  "        files.append(b'%d %s %d %s' % (number, entry.name, "
                  "st.st_size, md5))\n"
                  "    for full, number in subdirectories:\n"
                  "        walk(full, number)\n"
                  "walk(root, 1)\n"
                  "out = sys.stdout.buffer\n"
                  "for i, d in enumerate(dirs):\n"
                  "    out.write(b'dir %d %s\\n' % (i + 1, d))\n"
                  "for i, f in enumerate(files):\n"
                  "    out.write(b'%d %s\\n' % (i + 1, f))\n",
                  {strRoot, std::to_string(nLimitKb)});
    EXPECT_EQ(rows.nExit, 0) << rows.strOut;
    return rows.strOut;
}

// The same of a catalog: its directory rows, then its file rows, in id order.
std::string RowsOfCatalog(const std::string& strCatalog) {
    std::string strRows;
    Database db;
    db.Open(strCatalog, Database::OpenMode::ReadOnly);
    for (ResultSet rows(db.Prepare("SELECT dir_id, dir_name FROM dirs ORDER BY dir_id"));
         !rows.IsEOF(); rows.MoveNext())
        strRows += "dir " + rows.GetText(0) + " " + rows.GetText(1) + "\n";
    return strRows + FileRows(strCatalog);
}

TEST_F(CliIndexTest, ChecksumsOnSeveralThreadsGiveTheRowsOfAPlainWalk) {
    // A large file first, which one thread hashes while the others go on.
    m_tree.MakeDir("t/a/b");
    m_tree.WriteSizedFile("t/a/large", 24 << 20);
    for (int i = 0; i < 300; ++i)
        m_tree.WriteSizedFile(Concat({i % 2 ? "t/a/" : "t/a/b/", "f", std::to_string(i)}),
                              static_cast<uint64_t>(i * 37));
    m_tree.MakeFifo("t/a/fifo");
    m_tree.MakeSymlink("large", "t/a/link");
    m_tree.MakeSymlink("nowhere", "t/a/b/dangling");
    // Awkward names and sizes: the limit's edges, empty, sparse, deep.
    m_tree.MakeDir("t/empty");
    for (const char* pszName : {"t/new\nline", "t/bad\xff byte", "t/-dash", "t/ space "})
        m_tree.WriteFile(pszName, pszName);
    m_tree.WriteSizedFile("t/within", 103423);
    m_tree.WriteSizedFile("t/beyond", 103424);
    m_tree.WriteFile("t/zero", "");
    m_tree.WriteSparseFile("t/sparse", 3 << 20);
    m_tree.MakeDeepFile("t/deep", 40, "d", "bottom", "at the bottom");
    // And 20 000 files in 100 folders.
    for (int i = 0; i < 20000; ++i) {
        if (i % 200 == 0)
            m_tree.MakeDir(Concat({"t/many/", std::to_string(i / 200)}));
        m_tree.WriteSizedFile(Concat({"t/many/", std::to_string(i / 200), "/", std::to_string(i)}),
                              static_cast<uint64_t>(i * 7 % 5000));
    }
    const std::string strRoot = m_tree.Path("t");
    for (const int nLimitKb : {100, 0}) {
        const std::string strExpected = RowsOfAPlainWalk(strRoot, nLimitKb);
        ASSERT_NE(strExpected.find(
                      " large 25165824 " +
                      (nLimitKb ? std::string("-") : Md5OfText(PatternContent(24 << 20))) + "\n"),
                  std::string::npos);
        const std::string strLimit = std::to_string(nLimitKb);
        for (const char* pszJobs : {"1", "2", "8"}) {
            const std::string strName = Concat({"Jobs", pszJobs, "-", strLimit});
            const CliResult result = m_cli.Run({"create", "--checksum", "--max-size", strLimit,
                                                "--jobs", pszJobs, strName, strRoot});
            ASSERT_EQ(result.nExit, 0) << result.strErr;
            EXPECT_EQ(RowsOfCatalog(m_cli.CatalogPath(strName)), strExpected) << strName;
        }
        // Also with few descriptors to spare, and with the default threads.
        const std::string strFew = "Few-" + strLimit;
        CliResult result = m_cli.Run(
            {"create", "--checksum", "--max-size", strLimit, "--jobs", "4", strFew, strRoot},
            "ulimit -n 24 && exec \"$@\"");
        ASSERT_EQ(result.nExit, 0) << result.strErr;
        EXPECT_EQ(RowsOfCatalog(m_cli.CatalogPath(strFew)), strExpected);
        const std::string strDefault = "Default-" + strLimit;
        result = m_cli.Run({"create", "--checksum", "--max-size", strLimit, strDefault, strRoot});
        ASSERT_EQ(result.nExit, 0) << result.strErr;
        EXPECT_EQ(RowsOfCatalog(m_cli.CatalogPath(strDefault)), strExpected);
        // An update of the unchanged tree reads nothing and keeps every row.
        result = m_cli.Run({"update", strDefault});
        ASSERT_EQ(result.nExit, 0) << result.strErr;
        EXPECT_EQ(RowsOfCatalog(m_cli.CatalogPath(strDefault)), strExpected);
    }
    EXPECT_EQ(m_cli.Run({"create", "--jobs", "0", "Bad", strRoot}).nExit, 2);
}

// Stopped while the hashing threads have far more to read than they can:
// the build ends at once, keeps the rows up to the first file not hashed,
// each with its right checksum, and says it is incomplete.
TEST_F(CliIndexTest, AStopWhileManyFilesWaitForTheirChecksumsKeepsWhatWasDone) {
    constexpr int kLarge = 40;
    m_tree.MakeDir("t/large");
    m_tree.MakeDir("t/small");
    for (int i = 0; i < kLarge; ++i)
        m_tree.WriteSparseFile(Concat({"t/large/", std::to_string(i)}), 64 << 20);
    for (int i = 0; i < 2000; ++i)
        m_tree.WriteFile(Concat({"t/small/", std::to_string(i)}), std::to_string(i));
    const pid_t creator = m_cli.Start(
        {"create", "--checksum", "--max-size", "0", "--jobs", "1", "Stopped", m_tree.Path("t")});
    ASSERT_TRUE(m_cli.WaitUntil(creator, [&] { return Exists(m_cli.CatalogPath("Stopped")); }));
    ::usleep(300 * 1000);
    ::kill(creator, SIGINT);
    const CliResult create = m_cli.Wait(creator);
    EXPECT_EQ(create.nExit, 130) << create.strErr;
    EXPECT_NE(create.strErr.find("incomplete"), std::string::npos) << create.strErr;
    const std::string strCatalog = m_cli.CatalogPath("Stopped");
    EXPECT_LT(QueryNumber(strCatalog, "SELECT count(*) FROM files WHERE file_size = 67108864"),
              kLarge);
    // Every row kept has its checksum, and the right one.
    EXPECT_EQ(QueryNumber(strCatalog, "SELECT count(*) FROM files WHERE md5_checksum IS NULL"), 0);
    const std::string strZeros = Md5OfText(std::string(64 << 20, '\0'));
    EXPECT_EQ(QueryNumber(strCatalog, "SELECT count(*) FROM files WHERE file_size = 67108864 AND "
                                      "md5_checksum != '" +
                                          strZeros + "'"),
              0);
    const CliResult search = m_cli.Run({"search", "--where", "files", "*", "Stopped"});
    EXPECT_LE(search.nExit, 1) << search.strErr;
    EXPECT_EQ(QueryNumber(strCatalog, "SELECT count(*) FROM catalog_info WHERE key = 'complete' "
                                      "AND value = 'no'"),
              1);
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
