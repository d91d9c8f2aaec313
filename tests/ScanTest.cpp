// SPDX-License-Identifier: GPL-3.0-or-later

#include "TestTree.h"
#include "catalog/Database.h"
#include "catalog/ResultSet.h"
#include "scan/FileChecksum.h"
#include "scan/Paths.h"
#include "scan/ScanJob.h"

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

struct FileRow {
    std::string strDir;
    std::string strName;
    std::optional<int64_t> nSize;
    std::optional<std::string> strMd5;
};

// Runs a job on a worker thread as the desktop program does, and waits for
// its end hook (never by sleeping). Returns how often the hook ran.
// A job that does not end in time (a walk that blocks) is left behind and
// reported as 0 calls.
struct HookCount {
    std::mutex mutex;
    std::condition_variable cv;
    int nCalls = 0;
};

int RunJob(std::unique_ptr<ScanJob>& pJob) {
    auto pCount = std::make_shared<HookCount>();
    pJob->fnOnEnd = [pCount] {
        std::lock_guard lock(pCount->mutex);
        ++pCount->nCalls;
        pCount->cv.notify_all();
    };
    std::thread worker(ScanThreadProc, pJob.get());
    std::unique_lock lock(pCount->mutex);
    if (!pCount->cv.wait_for(lock, std::chrono::seconds(120), [&] { return pCount->nCalls > 0; })) {
        worker.detach();
        pJob.release(); // still in use by the stuck worker
        return 0;
    }
    lock.unlock();
    worker.join();
    return pCount->nCalls;
}

class ScanTest : public ::testing::Test {
protected:
    // Scans tree/strStart (or strStartDir as given) into a new catalog.
    void Scan(const std::string& strStartDir, bool bChecksum = false, int32_t nLimitKb = 100) {
        m_job = std::make_unique<ScanJob>();
        m_job->strCatalogPath = m_out.Path(Concat({"c", std::to_string(++m_nScans), ".mdb"}));
        m_job->strStartDir = strStartDir;
        m_job->bChecksum = bChecksum;
        m_job->nMaxFileSizeKb = nLimitKb;
        g_bReloadDatabaseList = false;
        ASSERT_EQ(RunJob(m_job), 1) << "the end hook must run exactly once";
        EXPECT_TRUE(g_bReloadDatabaseList);
        m_db.Open(m_job->strCatalogPath, Database::OpenMode::ReadOnly);
    }

    std::vector<std::string> Dirs() {
        std::vector<std::string> dirs;
        for (ResultSet rows(m_db.Prepare("SELECT dir_name FROM dirs ORDER BY dir_id"));
             !rows.IsEOF(); rows.MoveNext())
            dirs.push_back(rows.GetText(0));
        return dirs;
    }

    std::vector<FileRow> Files() {
        std::vector<FileRow> files;
        for (ResultSet rows(m_db.Prepare("SELECT d.dir_name, f.file_name, f.file_size, "
                                         "f.md5_checksum FROM files f, dirs d "
                                         "WHERE d.dir_id = f.dir_id ORDER BY f.file_id"));
             !rows.IsEOF(); rows.MoveNext()) {
            FileRow row{rows.GetText(0), rows.GetText(1), {}, {}};
            if (!rows.IsNull(2))
                row.nSize = rows.GetInt64(2);
            if (!rows.IsNull(3))
                row.strMd5 = rows.GetText(3);
            files.push_back(row);
        }
        return files;
    }

    // The file rows by name, for trees whose names are unique.
    std::map<std::string, FileRow> FilesByName() {
        std::map<std::string, FileRow> byName;
        for (const FileRow& row : Files())
            byName[row.strName] = row;
        return byName;
    }

    TestTree m_tree;
    TestTree m_out;
    std::unique_ptr<ScanJob> m_job;
    Database m_db;
    int m_nScans = 0;
};

} // namespace

TEST(JoinPath, OneSeparatorAndPairsCollapsed) {
    const struct {
        const char* pszParent;
        const char* pszName;
        const char* pszJoined;
    } kCases[] = {
        {"/", "usr", "/usr"},          {"/data", "x", "/data/x"},      {"/data/", "x", "/data/x"},
        {"data", "x", "data/x"},       {"//server", "x", "/server/x"}, {"/a//b", "c", "/a/b/c"},
        {"/a///b", "c", "/a//b/c"},    {"/x//", "y", "/x//y"},         {"", "x", "/x"},
        {"/it's", "a b", "/it's/a b"},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(JoinPath(c.pszParent, c.pszName), c.pszJoined)
            << c.pszParent << " + " << c.pszName;
}

TEST_F(ScanTest, RowsComeDepthFirstWithEachDirectorysOwnId) {
    for (const char* pszDir : {"top/a/a1/deep", "top/a/a2", "top/b/b1", "top/c"})
        m_tree.MakeDir(pszDir);
    std::map<std::string, std::string> fileAt; // name -> relative path
    for (const char* pszFile : {"top/f0", "top/a/fa", "top/a/a1/fa1", "top/a/a1/deep/fdeep",
                                "top/a/a2/fa2", "top/b/fb", "top/b/b1/fb1", "top/c/fc"}) {
        m_tree.WriteFile(pszFile, pszFile);
        const std::string strPath = pszFile;
        fileAt[strPath.substr(strPath.rfind('/') + 1)] = strPath;
    }
    const std::string strTop = m_tree.Path("top");
    Scan(strTop);
    const std::vector<std::string> dirs = Dirs();
    ASSERT_EQ(dirs.size(), 8u);
    ASSERT_EQ(dirs[0], strTop);

    // Rebuild the order the walk must have: a directory's subdirectories are
    // stored together (in the listing's order, taken from the table), then
    // each one's subtree in turn. Files follow the order in which their
    // directories were walked.
    auto parentOf = [](const std::string& strPath) {
        return strPath.substr(0, strPath.rfind('/'));
    };
    std::vector<std::string> expectedRows{strTop};
    std::vector<std::string> walkOrder;
    std::function<void(const std::string&)> walk = [&](const std::string& strDir) {
        walkOrder.push_back(strDir);
        std::vector<std::string> children;
        for (const std::string& strRow : dirs)
            if (strRow != strDir && parentOf(strRow) == strDir)
                children.push_back(strRow);
        expectedRows.insert(expectedRows.end(), children.begin(), children.end());
        for (const std::string& strChild : children)
            walk(strChild);
    };
    walk(strTop);
    EXPECT_EQ(dirs, expectedRows);

    size_t nWalked = 0;
    for (const FileRow& row : Files()) {
        EXPECT_EQ(row.strDir + "/" + row.strName, m_tree.Path(fileAt[row.strName]));
        while (nWalked < walkOrder.size() && walkOrder[nWalked] != row.strDir)
            ++nWalked;
        EXPECT_LT(nWalked, walkOrder.size()) << row.strName << " is out of walk order";
    }
    EXPECT_EQ(m_job->outcome.nDirs, 8u);
    EXPECT_EQ(m_job->outcome.nFiles, 8u);
    EXPECT_EQ(m_job->outcome.nChecksums, 0u);
    EXPECT_FALSE(m_job->outcome.bFailed);
}

TEST_F(ScanTest, OddNamesKeepTheirBytesTheirFilesAndTheirChecksums) {
    const std::map<std::string, std::string> files = {
        {"it's/o'brien.txt", "apostrophe"},
        {"it's/sub dir/a file", "space"},
        {"it's/[x]#?*", "pattern characters"},
        {"Case/in upper", "upper"},
        {"case/in lower", "lower"},
        {".hidden", "hidden"},
        {"\xff\xfe bytes/caf\xe9", "latin-1 bytes"},
        {"Ünïcødé/файл", "unicode"},
        {"line\nbreak", "newline"},
    };
    for (const auto& [strPath, strContent] : files) {
        if (const size_t nSlash = strPath.rfind('/'); nSlash != std::string::npos)
            m_tree.MakeDir(strPath.substr(0, nSlash));
        m_tree.WriteFile(strPath, strContent);
    }
    Scan(m_tree.Root(), true, 100);
    std::map<std::string, std::string> found;
    for (const FileRow& row : Files()) {
        ASSERT_TRUE(row.strMd5.has_value()) << row.strName;
        found[row.strDir + "/" + row.strName] = *row.strMd5;
    }
    std::map<std::string, std::string> expected;
    for (const auto& [strPath, strContent] : files)
        expected[m_tree.Path(strPath)] = Md5OfText(strContent);
    EXPECT_EQ(found, expected);
    const std::vector<std::string> dirs = Dirs();
    EXPECT_EQ(
        std::set<std::string>(dirs.begin(), dirs.end()),
        (std::set<std::string>{m_tree.Root(), m_tree.Path("it's"), m_tree.Path("it's/sub dir"),
                               m_tree.Path("Case"), m_tree.Path("case"),
                               m_tree.Path("\xff\xfe bytes"), m_tree.Path("Ünïcødé")}));
}

TEST_F(ScanTest, StartDirectoryIsStoredAsGiven) {
    m_tree.MakeDir("data/x");
    m_tree.WriteFile("data/f", "f");
    const struct {
        const char* pszStart;
        const char* pszChild;
    } kCases[] = {{"data", "data/x"}, {"data/", "data/x"}, {"data//", "data//x"}, {"via", "via/x"}};
    m_tree.MakeSymlink("data", "via"); // a start directory named through a link is followed
    for (const auto& c : kCases) {
        const std::string strStart = m_tree.Path(c.pszStart);
        Scan(strStart);
        EXPECT_EQ(Dirs(), (std::vector<std::string>{strStart, m_tree.Path(c.pszChild)}));
        ASSERT_EQ(Files().size(), 1u);
        EXPECT_EQ(Files()[0].strDir, strStart);
        m_db.Close();
    }
}

TEST_F(ScanTest, StartThatCannotBeListedGivesOneRowAndANormalEnd) {
    m_tree.WriteFile("plain", "not a directory");
    m_tree.MakeDir("empty");
    for (const std::string& strStart : {m_tree.Path("missing"), m_tree.Path("plain"),
                                        m_tree.Path("empty"), std::string("\x01")}) {
        Scan(strStart, true);
        EXPECT_EQ(Dirs(), std::vector<std::string>{strStart});
        EXPECT_TRUE(Files().empty());
        EXPECT_FALSE(m_job->outcome.bFailed) << m_job->outcome.strError;
        EXPECT_EQ(m_job->outcome.nDirs, 1u);
        m_db.Close();
    }
}

TEST_F(ScanTest, ChecksumSizeLimit) {
    m_tree.WriteSizedFile("99k", 102399);
    m_tree.WriteSizedFile("100k", 103423);
    m_tree.WriteSizedFile("101k", 103424);
    m_tree.WriteFile("empty", "");
    const struct {
        bool bChecksum;
        int32_t nLimitKb;
        std::set<std::string> withChecksum;
    } kCases[] = {
        {true, 100, {"99k", "100k", "empty"}},
        {true, 99, {"99k", "empty"}},
        {true, 0, {"99k", "100k", "101k", "empty"}},
        {true, -1, {"99k", "100k", "101k", "empty"}}, // compared as unsigned: no limit
        {false, 100, {}},
        {false, 0, {}},
    };
    for (const auto& c : kCases) {
        Scan(m_tree.Root(), c.bChecksum, c.nLimitKb);
        std::set<std::string> withChecksum;
        for (const auto& [strName, row] : FilesByName()) {
            if (row.strMd5) {
                withChecksum.insert(strName);
                EXPECT_EQ(*row.strMd5, Md5OfText(PatternContent(*row.nSize))) << strName;
            }
        }
        EXPECT_EQ(withChecksum, c.withChecksum) << c.bChecksum << " " << c.nLimitKb;
        EXPECT_EQ(m_job->outcome.nChecksums, c.withChecksum.size());
        EXPECT_EQ(FilesByName()["101k"].nSize, 103424);
        m_db.Close();
    }
}

TEST_F(ScanTest, SparseFileOver4GiBKeepsItsWholeSize) {
    const uint64_t nSize = (5ull << 30) + 7;
    m_tree.WriteSparseFile("huge", nSize);
    Scan(m_tree.Root(), true, 100);
    const FileRow row = FilesByName()["huge"];
    EXPECT_EQ(row.nSize, static_cast<int64_t>(nSize));
    EXPECT_EQ(row.strMd5, std::nullopt);
}

TEST_F(ScanTest, LinksAreFilesAndNeverFollowed) {
    m_tree.MakeDir("real/inner");
    m_tree.WriteFile("real/inner/data", "data");
    m_tree.MakeSymlink("..", "real/inner/up"); // a loop back up the tree
    m_tree.MakeSymlink("loop", "loop");        // a link to itself
    m_tree.MakeSymlink("real/inner/data", "to-file");
    m_tree.MakeSymlink("real", "to-dir");
    m_tree.MakeSymlink("nowhere", "dangling");
    Scan(m_tree.Root(), true, 0);
    EXPECT_EQ(Dirs(), (std::vector<std::string>{m_tree.Root(), m_tree.Path("real"),
                                                m_tree.Path("real/inner")}));
    const auto files = FilesByName();
    EXPECT_EQ(files.size(), 6u);
    for (const char* pszLink : {"up", "loop", "to-file", "to-dir", "dangling"}) {
        ASSERT_EQ(files.count(pszLink), 1u) << pszLink;
        const FileRow& row = files.at(pszLink);
        EXPECT_EQ(row.strMd5, std::nullopt) << pszLink;
        // The link's own size: the length of the text it points to.
        ASSERT_TRUE(row.nSize.has_value());
        char target[256];
        const ssize_t nLength =
            ::readlink((row.strDir + "/" + row.strName).c_str(), target, sizeof target);
        EXPECT_EQ(*row.nSize, nLength) << pszLink;
    }
    EXPECT_EQ(files.at("data").strMd5, Md5OfText("data"));
}

TEST_F(ScanTest, SpecialFilesNeverBlockAndGetNoChecksum) {
    m_tree.MakeFifo("fifo");
    m_tree.WriteFile("plain", "p");
    Scan(m_tree.Root(), true, 0);
    const auto files = FilesByName();
    ASSERT_EQ(files.count("fifo"), 1u);
    EXPECT_EQ(files.at("fifo").strMd5, std::nullopt);
    EXPECT_EQ(files.at("plain").strMd5, Md5OfText("p"));
}

TEST_F(ScanTest, PathsLongerThanTheSystemLimitAreWalked) {
    // 25 levels of 200-byte names: over 5000 bytes, past PATH_MAX, and a
    // file name of the longest length a name may have.
    const std::string strLongName(255, 'f');
    const std::string strDeepest =
        m_tree.MakeDeepFile("", 25, std::string(200, 'd'), strLongName, "deep");
    Scan(m_tree.Root(), true, 0);
    ASSERT_EQ(Dirs().size(), 26u);
    EXPECT_EQ(Dirs().back(), strDeepest);
    const std::vector<FileRow> files = Files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].strDir, strDeepest);
    EXPECT_EQ(files[0].strName, strLongName);
    EXPECT_EQ(files[0].strMd5, Md5OfText("deep"));
}

// Scans tree into a catalog in out and describes what is wrong with the
// result, or returns "" when an unreadable subdirectory was handled right.
std::string CheckUnreadableWalk(const TestTree& tree, const TestTree& out) {
    auto pJob = std::make_unique<ScanJob>();
    pJob->strCatalogPath = out.Path("c.mdb");
    pJob->strStartDir = tree.Root();
    if (RunJob(pJob) != 1)
        return "the end hook did not run once";
    if (pJob->outcome.bFailed)
        return "the job failed: " + pJob->outcome.strError;
    Database db;
    db.Open(pJob->strCatalogPath, Database::OpenMode::ReadOnly);
    std::set<std::string> dirs;
    for (ResultSet rows(db.Prepare("SELECT dir_name FROM dirs")); !rows.IsEOF(); rows.MoveNext())
        dirs.insert(rows.GetText(0));
    if (dirs != std::set<std::string>{tree.Root(), tree.Path("locked"), tree.Path("open")})
        return "wrong directory rows";
    ResultSet files(db.Prepare("SELECT group_concat(file_name) FROM files"));
    if (files.GetText(0) != "f")
        return "wrong file rows: " + files.GetText(0);
    return "";
}

TEST(ScanUnreadable, SubdirectoryKeepsItsRowAndTheWalkGoesOn) {
    TestTree tree;
    TestTree out;
    tree.MakeDir("locked/inner");
    tree.WriteFile("locked/hidden", "h");
    tree.MakeDir("open");
    tree.WriteFile("open/f", "f");
    ::chmod(tree.Path("locked").c_str(), 0);
    if (::geteuid() != 0) {
        EXPECT_EQ(CheckUnreadableWalk(tree, out), "");
        return;
    }
    // Root reads every directory: walk as an ordinary user in a child process.
    ::chmod(tree.Root().c_str(), 0755);
    ::chmod(out.Root().c_str(), 0777);
    EXPECT_EXIT(
        {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                std::_Exit(3);
            const std::string strProblem = CheckUnreadableWalk(tree, out);
            std::fprintf(stderr, "%s", strProblem.c_str());
            std::_Exit(strProblem.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "^$");
}

TEST_F(ScanTest, ManyRowsAcrossCommitBatches) {
    // Enough rows for several batches, ending off a batch boundary.
    const int kFiles = 12345;
    m_tree.MakeDir("a");
    m_tree.MakeDir("b");
    for (int i = 0; i < kFiles; ++i)
        m_tree.WriteFile((i % 2 ? "a/" : "b/") + std::to_string(i), "");
    Scan(m_tree.Root());
    EXPECT_EQ(Files().size(), static_cast<size_t>(kFiles));
    EXPECT_EQ(m_job->outcome.nFiles, static_cast<uint64_t>(kFiles));
    EXPECT_FALSE(m_db.InTransaction());
}

TEST(ScanJobFailure, EngineErrorsEndTheJobNormallyWithTheirText) {
    TestTree tree;
    tree.WriteFile("exists.mdb", "keep me");
    tree.MakeDir("start");
    const struct {
        std::string strCatalog;
        const char* pszExpected;
    } kCases[] = {
        {tree.Path("no folder/c.mdb"), "No such file or directory"},
        {tree.Path("exists.mdb"), "File exists"},
        {"", "No catalog path was given."},
    };
    for (const auto& c : kCases) {
        auto pJob = std::make_unique<ScanJob>();
        pJob->strCatalogPath = c.strCatalog;
        pJob->strStartDir = tree.Path("start");
        g_bReloadDatabaseList = false;
        ASSERT_EQ(RunJob(pJob), 1) << c.strCatalog;
        EXPECT_TRUE(g_bReloadDatabaseList);
        EXPECT_TRUE(pJob->outcome.bFailed);
        EXPECT_NE(pJob->outcome.strError.find(c.pszExpected), std::string::npos)
            << pJob->outcome.strError;
    }
    EXPECT_EQ(FileChecksum(tree.Path("exists.mdb")), Md5OfText("keep me"));
}

TEST(ScanJobFailure, DiskFullKeepsTheCommittedRows) {
    // A file size limit stands in for a full disk: writes past it fail.
    TestTree tree;
    TestTree out;
    for (int i = 0; i < 30000; ++i)
        tree.WriteFile(Concat({"file number ", std::to_string(i), " with a fairly long name"}), "");
    auto pJob = std::make_unique<ScanJob>();
    pJob->strCatalogPath = out.Path("full.mdb");
    pJob->strStartDir = tree.Root();
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 1 << 20;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const int nCalls = RunJob(pJob);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_EQ(nCalls, 1);
    EXPECT_TRUE(pJob->outcome.bFailed);
    EXPECT_FALSE(pJob->outcome.strError.empty());

    Database db;
    db.Open(pJob->strCatalogPath, Database::OpenMode::ReadOnly);
    ResultSet check(db.Prepare("PRAGMA integrity_check"));
    EXPECT_EQ(check.GetText(0), "ok");
    ResultSet count(db.Prepare("SELECT count(*) FROM files"));
    EXPECT_GT(count.GetInt64(0), 0);
    EXPECT_LT(count.GetInt64(0), 30000);
    // The outcome tells what the catalog holds, not what was attempted.
    EXPECT_EQ(static_cast<uint64_t>(count.GetInt64(0)), pJob->outcome.nFiles);
    EXPECT_EQ(pJob->outcome.nDirs, 1u);
}
