// SPDX-License-Identifier: GPL-3.0-or-later

// Paths compared across catalogs and with the disk, and output that goes out
// as it is found, asked of the real kestrel-cli: twin catalogs of one tree
// whose start directories were typed differently, and search, diff and
// duplicates of catalogs too large to hold in memory whole.
#include "CliProcess.h"
#include "TestTree.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class CliStreamTest : public ::testing::Test {
protected:
    CliProcess m_cli;
    TestTree m_tree;
};

// Runs a Python program with its arguments; true when it succeeded.
bool RunPythonOk(const TestTree& tree, const std::string& strProgram,
                 const std::vector<std::string>& args) {
    const CliResult result = RunPython(tree, strProgram, args);
    EXPECT_EQ(result.nExit, 0) << result.strOut;
    return result.nExit == 0;
}

// Writes a catalog of nFiles files of 4096 bytes below strStart, in folders of
// 20, as another program would: folder and file names begin with strPrefix,
// and file number i has the checksum of content i, so two such catalogs hold
// the same contents under other paths.
[[maybe_unused]] bool WriteCatalog(const TestTree& tree, const std::string& strPath,
                                   const std::string& strStart, const std::string& strPrefix,
                                   int nFiles) {
    return RunPythonOk(tree, R"py(
import sqlite3, sys
path, start, prefix, n = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
db = sqlite3.connect(path)
db.executescript("""CREATE TABLE dirs (dir_id INTEGER PRIMARY KEY, dir_name TEXT NOT NULL);
CREATE TABLE files (file_id INTEGER PRIMARY KEY, dir_id INTEGER, file_name TEXT,
                    file_size INTEGER, md5_checksum TEXT, file_mtime INTEGER);
CREATE TABLE catalog_info (key TEXT NOT NULL, value TEXT);""")
db.execute("INSERT INTO catalog_info VALUES (?, ?)", ("start_dir", start))
db.execute("INSERT INTO dirs VALUES (1, ?)", (start,))
db.executemany("INSERT INTO dirs VALUES (?, ?)",
               ((2 + d, "%s/%s folder %d" % (start, prefix, d)) for d in range((n + 19) // 20)))
db.executemany("INSERT INTO files VALUES (?, ?, ?, 4096, ?, ?)",
               ((i + 1, 2 + i // 20, "%s file %d.dat" % (prefix, i), "%032x" % (i * 2654435761), i)
                for i in range(n)))
db.commit()
)py",
                       {strPath, strStart, strPrefix, std::to_string(nFiles)});
}

[[maybe_unused]] std::vector<std::string> Lines(const std::string& strText) {
    std::vector<std::string> lines;
    std::istringstream stream(strText);
    for (std::string strLine; std::getline(stream, strLine);)
        lines.push_back(strLine);
    return lines;
}

} // namespace

TEST_F(CliStreamTest, StartDirectoriesTypedWithDoubledOrTrailingSeparatorsCompareAlike) {
    m_tree.MakeDir("t/x/a/b");
    m_tree.WriteFile("t/x/top.txt", "top");
    m_tree.WriteFile("t/x/a/middle.txt", "middle");
    m_tree.WriteFile("t/x/a/b/bottom.txt", "bottom");
    const std::string strStart = m_tree.Path("t/x");
    const std::vector<std::pair<std::string, std::string>> twins = {
        {"Doubled", "/" + strStart}, {"Slashed", strStart + "/"}, {"Twice", strStart + "//"}};
    ASSERT_EQ(m_cli.Run({"create", "--checksum", "Plain", strStart}).nExit, 0);
    for (const auto& [strName, strTyped] : twins)
        ASSERT_EQ(m_cli.Run({"create", "--checksum", strName, strTyped}).nExit, 0) << strTyped;

    // The same tree: nothing differs, either way, by path or by content, and
    // every file is found on the disk as catalogued.
    for (const auto& [strName, strTyped] : twins) {
        for (const auto& [strOld, strNew] :
             {std::pair{std::string("Plain"), strName}, std::pair{strName, std::string("Plain")}}) {
            CliResult result = m_cli.Run({"diff", strOld, strNew});
            EXPECT_EQ(result.nExit, 0) << strOld << " " << strNew;
            EXPECT_EQ(result.strOut, "") << strOld << " " << strNew;
            EXPECT_EQ(m_cli.Run({"diff", "--content", strOld, strNew}).nExit, 0);
        }
        const CliResult result = m_cli.Run({"verify", strName});
        EXPECT_EQ(result.nExit, 0) << strName;
        EXPECT_NE(result.strOut.find("3 unchanged, 0 changed, 0 not found"), std::string::npos)
            << result.strOut;
    }
    // What changes shows once, by its path below the start, whatever the spelling.
    m_tree.WriteFile("t/x/a/middle.txt", "middle, longer");
    m_tree.WriteFile("t/x/a/b/new.txt", "new");
    ASSERT_EQ(m_cli.Run({"create", "--checksum", "Later", strStart + "//"}).nExit, 0);
    CliResult result = m_cli.Run({"diff", "Doubled", "Later"});
    EXPECT_EQ(result.nExit, 1);
    EXPECT_EQ(result.strOut, "A\ta/b/new.txt\nM\ta/middle.txt\n");

    // Printed paths keep the form the Result page shows: a start directory
    // typed with a trailing separator keeps the doubled one before its files.
    result = m_cli.Run({"search", "--where", "files", "top.txt", "Slashed"});
    EXPECT_EQ(result.strOut, strStart + "//top.txt\t3\t" + Md5OfText("top") + "\tSlashed\n");

    // A catalog whose start directory is recorded with a doubled separator,
    // while its rows have none (another program wrote it so), is brought up
    // to date by meeting every file again: none is read anew.
    ASSERT_EQ(m_cli.Run({"create", "--checksum", "Respelled", strStart}).nExit, 0);
    ASSERT_TRUE(RunPythonOk(m_tree,
                            "import sqlite3, sys\n"
                            "db = sqlite3.connect(sys.argv[1])\n"
                            "db.execute(\"UPDATE catalog_info SET value = ? WHERE key = "
                            "'start_dir'\", (sys.argv[2],))\n"
                            "db.commit()\n",
                            {m_cli.CatalogPath("Respelled"), strStart + "//"}));
    result = m_cli.Run({"update", "Respelled"});
    EXPECT_EQ(result.nExit, 0) << result.strErr;
    EXPECT_NE(result.strOut.find(": 0 added, 0 removed, 0 changed, 4 unchanged files, 0 checksums "
                                 "computed, "),
              std::string::npos)
        << result.strOut;
}

#if !defined(__SANITIZE_ADDRESS__) &&                                                              \
    !defined(__SANITIZE_THREAD__) // sanitizers reserve more address space than any limit here
TEST_F(CliStreamTest, SearchDiffAndDuplicatesWriteAsTheyFindWithinLittleMemory) {
    // Two catalogs of 300 000 files: the same contents under other paths.
    constexpr int kFiles = 300000;
    std::filesystem::create_directories(m_cli.DataFolder());
    ASSERT_TRUE(WriteCatalog(m_tree, m_cli.CatalogPath("Disk"), "/media/disk", "disk", kFiles));
    ASSERT_TRUE(WriteCatalog(m_tree, m_cli.CatalogPath("Copy"), "/backup/copy", "copy", kFiles));
    // Far less address space than their output takes.
    const std::string strLimit = "ulimit -v 163840; MALLOC_ARENA_MAX=1; export MALLOC_ARENA_MAX; ";

    // A reader that takes nothing for a while gets every hit, in list order,
    // as one that reads at once.
    const std::vector<std::string> search = {"search", "--format", "json", "*",
                                             "Disk",   "Copy",     "Disk", "Copy"};
    const CliResult fast = m_cli.Run(search, "\"$@\" | cksum");
    CliResult result = m_cli.Run(search, strLimit + "{ \"$@\"; echo \"status $?\" >&2; } | "
                                                    "(sleep 2; cksum)");
    EXPECT_EQ(result.strErr, "status 0\n");
    EXPECT_EQ(result.strOut, fast.strOut);
    std::istringstream sum(fast.strOut);
    uint64_t nCrc = 0, nBytes = 0;
    sum >> nCrc >> nBytes;
    EXPECT_GT(nBytes, 4ull * 150 * kFiles) << fast.strOut;
    // One that hangs up ends the search quietly; Ctrl-C ends one that waits.
    result = m_cli.Run(search, strLimit + "\"$@\" | head -c 100000 > /dev/null");
    EXPECT_EQ(result.nExit, 0);
    EXPECT_EQ(result.strErr, "");
    const std::string strFifo = m_tree.Path("fifo");
    m_tree.MakeFifo("fifo");
    const pid_t searcher = m_cli.Start(search, strLimit + "exec \"$@\" > '" + strFifo + "'");
    const int nReader = ::open(strFifo.c_str(), O_RDONLY);
    ASSERT_GE(nReader, 0);
    char szSome[4096];
    ASSERT_GT(::read(nReader, szSome, sizeof szSome), 0);
    ::kill(searcher, SIGINT);
    EXPECT_EQ(m_cli.Wait(searcher).nExit, 128 + SIGINT);
    ::close(nReader);

    // Every path differs: all of them, in order, directories with their '/'.
    result = m_cli.Run({"diff", "Disk", "Copy"}, strLimit + "exec \"$@\"");
    EXPECT_EQ(result.nExit, 1) << result.strErr;
    std::vector<std::string> lines = Lines(result.strOut);
    ASSERT_EQ(lines.size(), 2u * (kFiles + kFiles / 20));
    EXPECT_EQ(lines.front(), "A\tcopy folder 0/");
    EXPECT_EQ(lines[1], "A\tcopy folder 0/copy file 0.dat");
    EXPECT_EQ(lines.back(), "D\tdisk folder 9999/disk file 199999.dat");
    EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end(), [](const auto& a, const auto& b) {
        return a.substr(2) < b.substr(2);
    }));
    EXPECT_NE(result.strErr.find("files: 300000 added, 300000 deleted, 0 modified; directories: "
                                 "15000 added, 15000 deleted"),
              std::string::npos)
        << result.strErr;

    // Each content twice: 300 000 groups of two, in the order of their checksums.
    result = m_cli.Run({"duplicates", "Disk", "Copy"}, strLimit + "exec \"$@\"");
    EXPECT_EQ(result.nExit, 0) << result.strErr;
    lines = Lines(result.strOut);
    ASSERT_EQ(lines.size(), 3u * kFiles - 1);
    EXPECT_EQ(lines[0], "/media/disk/disk folder 0/disk file 0.dat\t4096\t" + std::string(32, '0') +
                            "\tDisk");
    EXPECT_EQ(lines[1], "/backup/copy/copy folder 0/copy file 0.dat\t4096\t" +
                            std::string(32, '0') + "\tCopy");
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines.back().substr(0, lines.back().find('\t')),
              "/backup/copy/copy folder 14999/copy file 299999.dat");
    for (size_t i = 3; i + 3 < lines.size(); i += 3)
        ASSERT_LT(lines[i].substr(lines[i].find('\t', lines[i].find('\t') + 1)),
                  lines[i + 3].substr(lines[i + 3].find('\t', lines[i + 3].find('\t') + 1)))
            << i;
    EXPECT_NE(result.strErr.find("300000 groups of duplicates, 600000 files"), std::string::npos)
        << result.strErr;
    // A few copies of a large catalog's files: their paths are found by their ids.
    ASSERT_TRUE(WriteCatalog(m_tree, m_cli.CatalogPath("Few"), "/mnt/few", "few", 2));
    result = m_cli.Run({"duplicates", "Few", "Disk"}, strLimit + "exec \"$@\"");
    EXPECT_EQ(result.nExit, 0) << result.strErr;
    const std::string strSecond = "\t4096\t" + std::string(24, '0') + "9e3779b1\t";
    EXPECT_EQ(result.strOut,
              "/mnt/few/few folder 0/few file 0.dat\t4096\t" + std::string(32, '0') + "\tFew\n" +
                  "/media/disk/disk folder 0/disk file 0.dat\t4096\t" + std::string(32, '0') +
                  "\tDisk\n\n" + "/mnt/few/few folder 0/few file 1.dat" + strSecond + "Few\n" +
                  "/media/disk/disk folder 0/disk file 1.dat" + strSecond + "Disk\n");
}
#endif
