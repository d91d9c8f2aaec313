// SPDX-License-Identifier: GPL-3.0-or-later

// Speed without other answers: checksums hashed on several threads give the
// rows of a plain walk, searches of many catalogs at once keep list order,
// reindex gives old catalogs the index without changing a hit, and broad
// searches, which run as passes of their own, give the rows of the search
// statement in its order, for catalogs made here or elsewhere.
#include "CliProcess.h"
#include "TestTree.h"
#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/ResultSet.h"
#include "scan/Paths.h"
#include "search/CatalogHits.h"
#include "search/HitRecord.h"
#include "search/RecordWriter.h"
#include "search/SearchQuery.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// A search as typed: where, pattern, format, and a size and a time bound
// (empty for none).
struct TypedSearch {
    std::string strWhere = "both";
    std::string strPattern = "*";
    std::string strFormat = "tsv";
    std::string strSize = "";
    std::string strBefore = "";

    std::vector<std::string> Args(const std::string& strEntry) const {
        std::vector<std::string> args = {"search", "--where", strWhere, "--format", strFormat};
        if (!strSize.empty())
            args.insert(args.end(), {"--size", strSize});
        if (!strBefore.empty())
            args.insert(args.end(), {"--changed-before", strBefore});
        args.insert(args.end(), {strPattern, strEntry});
        return args;
    }
};

// What the search statement itself gives for the search of one catalog (the
// statement run as it stands, every row kept that the filter passes),
// written as kestrel-cli writes hits: what the search must print.
std::string StatementHits(const std::string& strCatalog, const std::string& strEntry,
                          const TypedSearch& typed) {
    SearchQuery query;
    query.mode = typed.strWhere == "dirs"    ? kSearchDirs
                 : typed.strWhere == "files" ? kSearchFiles
                                             : kSearchBoth;
    query.strPattern = typed.strPattern;
    std::string strError;
    if (!typed.strSize.empty()) {
        EXPECT_TRUE(ParseSizeBound(typed.strSize, query.filter, strError)) << strError;
    }
    if (!typed.strBefore.empty())
        query.filter.nChangedBeforeNs = ParseMoment(typed.strBefore, NowNs(), strError);
    OutputFormat format = OutputFormat::Tsv;
    EXPECT_TRUE(ParseOutputFormat(typed.strFormat, format));
    query.bWithTimes = format != OutputFormat::Tsv;

    Database db;
    db.Open(strCatalog, Database::OpenMode::ReadOnly);
    CatalogSql::SearchTimes times = CatalogSql::SearchTimes::None;
    if ((query.bWithTimes || query.filter.NeedsTimes()) && query.mode != kSearchDirs)
        times = db.QueryInt64(CatalogSql::kHasFileTimes) > 0 ? CatalogSql::SearchTimes::Stored
                                                             : CatalogSql::SearchTimes::Null;
    Statement statement = db.Prepare(CatalogSql::SearchSql(query.mode, times, false));
    statement.BindText(1, query.strPattern);
    if (statement.ParameterCount() > 1)
        statement.BindText(2, query.strPattern);
    std::string strOut;
    RecordWriter records([&](std::string_view text) { strOut += text; }, format, HitFields());
    records.WriteHeader();
    SearchHit hit;
    hit.catalog = strEntry;
    hit.bDirectory = query.mode == kSearchDirs;
    std::string strPath;
    for (ResultSet rows(std::move(statement)); !rows.IsEOF(); rows.MoveNext()) {
        if (hit.bDirectory) {
            hit.path = rows.GetTextView(0);
            WriteHit(records, hit);
            continue;
        }
        hit.nSize.reset();
        if (!rows.IsNull(2) && rows.GetInt64(2) >= 0)
            hit.nSize = rows.GetInt64(2);
        hit.nMtimeNs.reset();
        if (rows.FieldCount() > 4 && !rows.IsNull(4))
            hit.nMtimeNs = rows.GetInt64(4);
        if (query.filter.IsActive() && !query.filter.Passes(hit.nSize, hit.nMtimeNs))
            continue;
        AssignFilePath(rows.GetTextView(0), rows.GetTextView(1), strPath);
        hit.path = strPath;
        hit.checksum.reset();
        if (!rows.IsNull(3))
            hit.checksum = rows.GetTextView(3);
        WriteHit(records, hit);
    }
    return strOut;
}

// The searches asked of every catalog below: broad and narrow patterns, in
// every mode, with times, and with bounds.
std::vector<TypedSearch> SearchesToCompare() {
    std::vector<TypedSearch> searches;
    for (const char* pszWhere : {"both", "files", "dirs"})
        for (const char* pszPattern : {"*/src*", "*src*", "*", "*2*", "?*.c", "*/SRC ##*"})
            searches.push_back({pszWhere, pszPattern});
    for (const char* pszPattern : {"*/src*", "*src*", "*"}) {
        searches.push_back({"both", pszPattern, "csv"});
        searches.push_back({"both", pszPattern, "tsv", "+2"});
        searches.push_back({"files", pszPattern, "tsv", "-10"});
        searches.push_back({"both", pszPattern, "csv", "", "2000-01-01"});
    }
    return searches;
}

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

TEST_F(CliIndexTest, BroadSearchesOfCatalogsMadeElsewhereGiveTheRowsOfTheSearchStatement) {
    std::filesystem::create_directories(m_cli.DataFolder());
    // Ids negative, far apart and out of the order rows were written in;
    // directory ids stored as texts, reals and blobs, or naming no
    // directory; names, paths, sizes and times that are NULL, numbers or
    // blobs; directories that match and files in them that match too.
    const CliResult odd = RunPython(m_tree, R"py(
import itertools, sqlite3, sys
db = sqlite3.connect(sys.argv[1])
db.executescript("""CREATE TABLE dirs (dir_id INTEGER PRIMARY KEY, dir_name);
CREATE TABLE files (file_id INTEGER PRIMARY KEY, dir_id, file_name, file_size, md5_checksum,
                    file_mtime);
CREATE TABLE catalog_info (key TEXT NOT NULL, value TEXT);""")
db.executemany("INSERT INTO dirs VALUES (?, ?)",
               [(2**62, "/r/SRC 62"), (-7, "/r/src minus"), (1, "/r"), (2, "/r/src 2"),
                (3, "/r/other"), (8, b"/r/src blob"), (9, None), (10, 1234), (1000, "/r/src far"),
                (2**40, "/r/docs 2")])
dir_ids = [2, "2", " 2", 2.0, "2.0", 2.5, b"2", None, 424242, "abc", -7, 1, 3, 8, 9, 10, 1000,
           2**40, 2**62]
names = ["src.c", "notes.txt", None, 42, b"src\xff.c", "", "Src 2.c"]
sizes = [10, None, -1, "big", 2**40, 1]
times = [None, 10**9, 1700000000 * 10**9, -5, "soon"]
rows = list(itertools.product(dir_ids, names))
ids = [(i * 37) % 211 - 100 for i in range(len(rows))]
ids[5], ids[17] = 2**50, -2**50
db.executemany("INSERT INTO files VALUES (?, ?, ?, ?, ?, ?)",
               [(ids[i], d, n, sizes[i % 6], None if i % 3 else "%032x" % i, times[i % 5])
                for i, (d, n) in enumerate(rows)])
db.commit()
)py",
                                    {m_cli.CatalogPath("Odd")});
    ASSERT_EQ(odd.nExit, 0) << odd.strOut;
    // Directory ids that are no row ids and repeat, and an index on the
    // files' directory ids: the engine runs the search another way, and its
    // rows are still what the search gives.
    const CliResult elsewhere = RunPython(m_tree, R"py(
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
db.executescript("""CREATE TABLE dirs (dir_id INTEGER, dir_name TEXT);
CREATE TABLE files (file_id INTEGER PRIMARY KEY, dir_id INTEGER, file_name TEXT,
                    file_size INTEGER, md5_checksum TEXT);
CREATE INDEX files_of_dir ON files(dir_id);""")
db.executemany("INSERT INTO dirs VALUES (?, ?)",
               [(3, "/e/src 3"), (1, "/e"), (2, "/e/src 2"), (2, "/e/src twin"), (4, "/e/b")])
db.executemany("INSERT INTO files VALUES (?, ?, ?, ?, NULL)",
               [(i, (i * 5) % 6, "src %d.c" % i if i % 4 == 0 else "f %d.txt" % i, i)
                for i in range(1, 60)])
db.commit()
)py",
                                          {m_cli.CatalogPath("Elsewhere")});
    ASSERT_EQ(elsewhere.nExit, 0) << elsewhere.strOut;

    // And the odd catalog with the index, which takes rows of every kind.
    std::filesystem::copy_file(m_cli.CatalogPath("Odd"), m_cli.CatalogPath("Reindexed"));
    const CliResult reindex = m_cli.Run({"reindex", "Reindexed"});
    ASSERT_EQ(reindex.nExit, 0) << reindex.strErr;

    size_t nHits = 0;
    for (const char* pszEntry : {"Odd", "Elsewhere", "Reindexed"}) {
        for (const TypedSearch& search : SearchesToCompare()) {
            const std::string strExpected =
                StatementHits(m_cli.CatalogPath(pszEntry), pszEntry, search);
            EXPECT_EQ(m_cli.Run(search.Args(pszEntry)).strOut, strExpected)
                << pszEntry << ": --where " << search.strWhere << " --format " << search.strFormat
                << " --size '" << search.strSize << "' --changed-before '" << search.strBefore
                << "' " << search.strPattern;
            nHits += static_cast<size_t>(std::count(strExpected.begin(), strExpected.end(), '\n'));
        }
    }
    // The draw holds hits of every kind, or agreeing proves little.
    EXPECT_GT(nHits, 2000u);
}

TEST_F(CliIndexTest, BroadSearchesOfManyFoldersGiveTheRowsOfTheSearchStatement) {
    // Every sixth folder a "src" one, a piece of a path in every block of
    // folders the index has; some names hold it too, also in those folders.
    const char* const kKinds[] = {"src", "docs", "build", "photos", "music", "data"};
    for (int d = 0; d < 150; ++d) {
        const std::string strDir =
            Concat({"p", std::to_string(d % 5), "/", kKinds[d % 6], " ", std::to_string(d)});
        m_tree.MakeDir(strDir);
        for (int i = 0; i < 6; ++i)
            m_tree.WriteSizedFile(Concat({strDir, "/", (d + i) % 7 == 0 ? "src_" : "file ",
                                          std::to_string(d * 6 + i), i % 2 ? ".c" : ".txt"}),
                                  static_cast<uint64_t>(i * 3));
    }
    ASSERT_EQ(m_cli.Run({"create", "Folders", m_tree.Root()}).nExit, 0);
    // The same catalog without its index, as an earlier Kestrel made it.
    std::filesystem::copy_file(m_cli.CatalogPath("Folders"), m_cli.CatalogPath("Plain"));
    {
        Database db;
        db.Open(m_cli.CatalogPath("Plain"), Database::OpenMode::ReadWrite);
        db.Execute("DROP TABLE name_index_meta; DROP TABLE name_index_files; "
                   "DROP TABLE name_index_dirs; DROP TABLE name_index_dir_files;");
    }
    {
        // The index narrows even a piece of a path common to every block of
        // folders, by the folders that match.
        Database db;
        db.Open(m_cli.CatalogPath("Folders"), Database::OpenMode::ReadOnly);
        EXPECT_TRUE(IndexedCandidates(db, kSearchBoth, "*/src*").has_value());
        EXPECT_FALSE(IndexedCandidates(db, kSearchBoth, "*").has_value());
    }
    for (const char* pszEntry : {"Folders", "Plain"}) {
        for (const TypedSearch& search : SearchesToCompare()) {
            const CliResult result = m_cli.Run(search.Args(pszEntry));
            EXPECT_EQ(result.strOut, StatementHits(m_cli.CatalogPath(pszEntry), pszEntry, search))
                << pszEntry << ": --where " << search.strWhere << " --format " << search.strFormat
                << " --size '" << search.strSize << "' --changed-before '" << search.strBefore
                << "' " << search.strPattern;
        }
    }
    // A file of a "src" folder whose name holds "src" too is one hit.
    for (const char* pszEntry : {"Folders", "Plain"}) {
        const std::string strHits = m_cli.Run({"search", "*src*", pszEntry}).strOut;
        size_t nFound = 0;
        for (size_t nAt = 0; (nAt = strHits.find("/src 0/src_0.txt\t", nAt)) != std::string::npos;
             ++nAt)
            ++nFound;
        EXPECT_EQ(nFound, 1u) << pszEntry;
    }
}

TEST_F(CliIndexTest, MembersOfArchivesAreHitsAfterTheFilesInEveryFormatWithOrWithoutTheIndex) {
    // 2019.zip: 300 photos (enough blocks for the index to narrow a search
    // to a few), a note at its top, a folder listed of its own, and a tar
    // holding x.txt; a photos folder on disk beside it.
    m_tree.MakeDir("t/b");
    m_tree.MakeDir("t/photos");
    m_tree.WriteFile("t/photos/a.jpg", "a");
    m_tree.WriteFile("t/b/img_0007.txt", "on disk");
    const CliResult made = RunPython(
        m_tree,
        "import io, sys, tarfile, zipfile\n"
        "when = (2019, 6, 30, 12, 0, 0)\n"
        "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
        "    for i in range(300):\n"
        "        z.writestr(zipfile.ZipInfo('photos/img_%04d.jpg' % i, when), 'x' * (i % 7))\n"
        "    z.writestr(zipfile.ZipInfo('note.txt', when), 'hello')\n"
        "    z.writestr(zipfile.ZipInfo('docs/', when), '')\n"
        "    tar = io.BytesIO()\n"
        "    with tarfile.open(fileobj=tar, mode='w') as t:\n"
        "        info = tarfile.TarInfo('x.txt')\n"
        "        info.size = 2\n"
        "        t.addfile(info, io.BytesIO(b'xx'))\n"
        "    z.writestr(zipfile.ZipInfo('inner.tar', when), tar.getvalue())\n",
        {m_tree.Path("t/b/2019.zip")});
    ASSERT_EQ(made.nExit, 0) << made.strOut;
    ASSERT_EQ(m_cli
                  .Run({"create", "--archives", "--archive-depth", "2", "--checksum", "M",
                        m_tree.Path("t")})
                  .nExit,
              0);
    const std::string strZip = m_tree.Path("t/b/2019.zip");
    const std::string strCatalog = m_cli.CatalogPath("M");
    EXPECT_GT(QueryNumber(strCatalog, "SELECT count(*) FROM name_index_members"), 0);

    // tsv: the file first, then the member, by its path through the archive.
    EXPECT_EQ(m_cli.Run({"search", "*img_0007*", "M"}).strOut,
              Concat({m_tree.Path("t/b/img_0007.txt"), "\t7\t", "f4bfaef6216dfc685387b3cd6d251017",
                      "\tM\n", strZip,
                      "//photos/img_0007.jpg\t0\td41d8cd98f00b204e9800998ecf8427e\tM\n"}));
    // Files: member names only; both: also the members of a folder that
    // matches; dirs: folders on disk only.
    EXPECT_EQ(m_cli.Run({"search", "--where", "files", "*photos*", "M"}).nExit, 1);
    const std::string strBoth = m_cli.Run({"search", "*/photos", "M"}).strOut;
    EXPECT_EQ(std::count(strBoth.begin(), strBoth.end(), '\n'), 301) << strBoth;
    EXPECT_EQ(strBoth.substr(0, strBoth.find('\n')),
              Concat({m_tree.Path("t/photos/a.jpg"), "\t1\t0cc175b9c0f1b6a831c399e269772661\tM"}));
    EXPECT_EQ(m_cli.Run({"search", "--where", "dirs", "*photos*", "M"}).strOut,
              Concat({m_tree.Path("t/photos"), "\t\t\tM\n"}));
    // A folder listed in the archive is no hit of its own; filters read the
    // members' own sizes.
    EXPECT_EQ(m_cli.Run({"search", "*docs*", "M"}).nExit, 1);
    const std::string strSized = m_cli.Run({"search", "--size", "+6", "*img_00[01]#*", "M"}).strOut;
    EXPECT_EQ(strSized,
              Concat({m_tree.Path("t/b/img_0007.txt"), "\t7\tf4bfaef6216dfc685387b3cd6d251017\tM\n",
                      strZip, "//photos/img_0006.jpg\t6\t", "dad3a37aa9d50688b5157698acfd7aee",
                      "\tM\n", strZip, "//photos/img_0013.jpg\t6\t",
                      "dad3a37aa9d50688b5157698acfd7aee", "\tM\n"}));

    // csv and json: two more fields, after every column scripts read today.
    const std::string strCsv = m_cli.Run({"search", "--format", "csv", "*x.txt", "M"}).strOut;
    EXPECT_EQ(strCsv,
              Concat({"path,size,md5,catalog,mtime,type,path_bytes,catalog_bytes,archive,member,"
                      "archive_bytes,member_bytes\r\n",
                      strZip, "//inner.tar//x.txt,2,9336ebf25087d91c818ee6e9ec29f8c1,M,",
                      "1970-01-01T00:00:00Z,member,,,", strZip, "//inner.tar,x.txt,,\r\n"}));
    const std::string strJson = m_cli.Home().Path("hits.json");
    ASSERT_EQ(m_cli
                  .Run({"search", "--format", "json", "--where", "files", "*[an]o?e*", "M"},
                       "exec \"$@\" > '" + strJson + "'")
                  .nExit,
              0);
    EXPECT_EQ(RunPython(m_tree,
                        "import json, sys\n"
                        "for line in open(sys.argv[1]):\n"
                        "    r = json.loads(line)\n"
                        "    print(r['type'], r.get('archive', '-') == sys.argv[2], "
                        "r.get('member', '-'), r['size'], r['mtime'][:4])\n",
                        {strJson, strZip})
                  .strOut,
              "member True note.txt 5 2019\n");

    // The same hits from the index, without it, and after an edit by
    // another program (the index no longer holds, the rows are read).
    const std::vector<std::vector<std::string>> searches = {
        {"*img_0123*"}, {"--where", "files", "*IMG_02#5.jpg"}, {"*/photos*"},
        {"*inner*"},    {"--where", "files", "*.txt"},         {"*zip//inner.tar"}};
    const auto runAll = [&] {
        std::string strAll;
        for (std::vector<std::string> args : searches) {
            args.insert(args.begin(), "search");
            args.push_back("M");
            strAll += m_cli.Run(args).strOut + "--\n";
        }
        return strAll;
    };
    const std::string strIndexed = runAll();
    EXPECT_NE(strIndexed.find(strZip + "//photos/img_0123.jpg\t"), std::string::npos);
    EXPECT_NE(strIndexed.find(strZip + "//inner.tar//x.txt\t"), std::string::npos);
    {
        Database db;
        db.Open(strCatalog, Database::OpenMode::ReadWrite);
        db.Execute("DROP TABLE name_index_meta; DROP TABLE name_index_files; "
                   "DROP TABLE name_index_dirs; DROP TABLE name_index_dir_files; "
                   "DROP TABLE name_index_members; DROP TABLE name_index_member_dirs;");
    }
    EXPECT_EQ(runAll(), strIndexed);
    ASSERT_EQ(m_cli.Run({"reindex", "M"}).nExit, 0);
    EXPECT_EQ(runAll(), strIndexed);
    EXPECT_GT(QueryNumber(strCatalog, "SELECT count(*) FROM name_index_member_dirs"), 0);

    const CliResult edited =
        RunPython(m_tree,
                  "import sqlite3, sys\n"
                  "db = sqlite3.connect(sys.argv[1])\n"
                  "db.execute(\"UPDATE archive_members SET member_name = 'renamed.jpg', "
                  "member_path = 'photos/renamed.jpg' WHERE member_name = 'img_0123.jpg'\")\n"
                  "db.commit()\n",
                  {strCatalog});
    ASSERT_EQ(edited.nExit, 0) << edited.strOut;
    EXPECT_EQ(m_cli.Run({"search", "*img_0123*", "M"}).nExit, 1);
    EXPECT_EQ(m_cli.Run({"search", "*renamed*", "M"}).strOut,
              Concat({strZip, "//photos/renamed.jpg\t", std::to_string(123 % 7), "\t",
                      "ea416ed0759d46a8de58f63a59077499", "\tM\n"}));
}
