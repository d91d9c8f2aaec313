// SPDX-License-Identifier: GPL-3.0-or-later

// What kestrel-cli tells at the edges: dates past the times a catalog holds,
// sizes whose sum passes 64 bits, failures that name their catalog, and
// output forms that stay whole for any name.
#include "CliProcess.h"
#include "TestTree.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class CliMessagesTest : public ::testing::Test {
protected:
    // Runs a Python script (as another program editing or reading the
    // catalogs) and returns what it printed; strArg is its one argument.
    std::string Python(const std::string& strScript, const std::string& strArg = "") {
        const CliResult result = RunPython(m_cli.Home(), strScript, {strArg});
        EXPECT_EQ(result.nExit, 0) << strScript << "\n" << result.strOut;
        return result.strOut;
    }

    std::string Names(const std::string& strOut) { return HitNames(strOut); }

    CliProcess m_cli;
    TestTree m_tree;
};

} // namespace

TEST_F(CliMessagesTest, DatesBeyondTheStoredTimesCompareAsTheMomentsTheyAre) {
    m_tree.WriteFile("in 2020", "a");
    m_tree.WriteFile("latest", "b");
    m_tree.WriteFile("earliest", "c");
    const timespec times[2] = {{1577836800, 0}, {1577836800, 0}}; // 2020-01-01
    ASSERT_EQ(::utimensat(AT_FDCWD, m_tree.Path("in 2020").c_str(), times, 0), 0);
    ASSERT_EQ(m_cli.Run({"create", "Times", m_tree.Root()}).nExit, 0);
    // The last and the first moment a catalog can hold, written by another program.
    Python("import sqlite3, sys\n"
           "db = sqlite3.connect(sys.argv[1])\n"
           "db.execute(\"UPDATE files SET file_mtime = 9223372036854775807 WHERE file_name = "
           "'latest'\")\n"
           "db.execute(\"UPDATE files SET file_mtime = -9223372036854775808 WHERE file_name = "
           "'earliest'\")\n"
           "db.commit()\n",
           m_cli.CatalogPath("Times"));
    auto names = [&](const std::string& strOption, const std::string& strWhen) {
        const CliResult result =
            m_cli.Run({"search", "--where", "files", strOption, strWhen, "*", "Times"});
        EXPECT_EQ(result.nExit, result.strOut.empty() ? 1 : 0) << strWhen << result.strErr;
        return Names(result.strOut);
    };
    const std::string kAll = "earliest,in 2020,latest";
    // After every time a catalog holds: nothing was changed since, everything before.
    EXPECT_EQ(names("--changed-within", "2300-01-01"), "");
    EXPECT_EQ(names("--changed-before", "2300-01-01"), kAll);
    EXPECT_EQ(names("--changed-within", "9999-12-31 23:59:59"), "");
    // Before every time: the converse.
    for (const char* pszWhen :
         {"1000y", "1600-01-01", "0000-01-01", "99999999999999999999999999999999999999y"}) {
        EXPECT_EQ(names("--changed-within", pszWhen), kAll) << pszWhen;
        EXPECT_EQ(names("--changed-before", pszWhen), "") << pszWhen;
    }
    // A duration whose nanoseconds pass 64 bits may still end inside the
    // range: 106752 days back from now is in the 1730s.
    EXPECT_EQ(names("--changed-within", "106752d"), "in 2020,latest");
    EXPECT_EQ(names("--changed-before", "106752d"), "earliest");
    // Inside the range the bounds hold as ever.
    EXPECT_EQ(names("--changed-within", "2019-12-31"), "in 2020,latest");
    EXPECT_EQ(names("--changed-before", "2020-01-02"), "earliest,in 2020");

    // What is not a WHEN says which units and years are taken.
    const CliResult bad = m_cli.Run({"search", "--changed-within", "3 fortnights", "*", "Times"});
    EXPECT_EQ(bad.nExit, 2);
    EXPECT_NE(bad.strErr.find("s, min, h, d, w, months, y"), std::string::npos) << bad.strErr;
    EXPECT_NE(bad.strErr.find("0000 to 9999"), std::string::npos) << bad.strErr;
}

TEST_F(CliMessagesTest, TotalsOfHugeSizesNeverWrap) {
    // A catalog of an earlier Kestrel (five fields, no catalog_info) whose
    // sizes sum past 2^63; a negative size, as 32-bit writers left, is no size.
    const std::string strOld = m_tree.Path("old.mdb");
    Python("import sqlite3, sys\n"
           "db = sqlite3.connect(sys.argv[1])\n"
           "db.execute('CREATE TABLE dirs (dir_id INTEGER PRIMARY KEY, dir_name TEXT)')\n"
           "db.execute('CREATE TABLE files (file_id INTEGER PRIMARY KEY, dir_id INTEGER, "
           "file_name TEXT, file_size INTEGER, md5_checksum TEXT)')\n"
           "db.execute(\"INSERT INTO dirs VALUES (1, '/disk')\")\n"
           "for i in range(3):\n"
           "    db.execute('INSERT INTO files (dir_id, file_name, file_size, md5_checksum) "
           "VALUES (1, ?, ?, ?)', ('f%d' % i, 2**62 + i, 'a' * 32))\n"
           "db.execute(\"INSERT INTO files (dir_id, file_name, file_size) VALUES (1, 'n', -5)\")\n"
           "db.commit()\n",
           strOld);
    ASSERT_EQ(m_cli.Run({"add", strOld}).nExit, 0);
    CliResult info = m_cli.Run({"info", strOld});
    EXPECT_EQ(info.nExit, 0) << info.strErr;
    EXPECT_NE(info.strOut.find("Total size: 13835058055282163715 bytes (12.0 EiB)\n"),
              std::string::npos)
        << info.strOut;

    // Sparse files of 4 EiB and of 8 EiB, where a file system holds them
    // (tmpfs does): the walk's own sum and what info reads back agree.
    char szFolder[] = "/dev/shm/kestrel-test-XXXXXX";
    const bool bFolder = ::mkdtemp(szFolder) != nullptr;
    const std::string strFolder = szFolder;
    bool bMade = bFolder;
    for (const auto& [pszName, nSize] : {std::pair{"a", 4ULL << 60}, std::pair{"b", 4ULL << 60},
                                         std::pair{"c", 4ULL << 60}, std::pair{"d", ~0ULL >> 1}}) {
        const std::string strPath = strFolder + "/" + pszName;
        const int fd = bFolder ? ::open(strPath.c_str(), O_WRONLY | O_CREAT, 0644) : -1;
        bMade = bMade && fd >= 0 && ::ftruncate(fd, static_cast<off_t>(nSize)) == 0;
        if (fd >= 0)
            ::close(fd);
    }
    if (bMade) {
        EXPECT_EQ(m_cli.Run({"create", "Sparse", strFolder}).nExit, 0);
        const CliResult sparse = m_cli.Run({"info", "Sparse"});
        EXPECT_NE(sparse.strOut.find("Total size: 23058430092136939519 bytes (20.0 EiB)\n"),
                  std::string::npos)
            << sparse.strOut;
    }
    for (const char* pszName : {"a", "b", "c", "d"})
        ::unlink((strFolder + "/" + pszName).c_str());
    if (bFolder)
        ::rmdir(strFolder.c_str());

    // Five copies of a file of 2^62 bytes: keeping one frees 2^64 bytes.
    Python("import sqlite3, sys\n"
           "db = sqlite3.connect(sys.argv[1])\n"
           "for name in ('f3', 'f4'):\n"
           "    db.execute('INSERT INTO files (dir_id, file_name, file_size, md5_checksum) "
           "VALUES (1, ?, ?, ?)', (name, 2**62, 'a' * 32))\n"
           "db.execute('UPDATE files SET file_size = 4611686018427387904 WHERE file_size > 0')\n"
           "db.commit()\n",
           strOld);
    const CliResult duplicates = m_cli.Run({"duplicates", strOld});
    EXPECT_EQ(duplicates.nExit, 0) << duplicates.strErr;
    EXPECT_NE(duplicates.strErr.find("would free 18446744073709551616 bytes (16.0 EiB)"),
              std::string::npos)
        << duplicates.strErr;

    // Counts and sizes past 2^63 that a catalog records reach json whole.
    Python("import sqlite3, sys\n"
           "db = sqlite3.connect(sys.argv[1])\n"
           "db.execute('CREATE TABLE catalog_info (key TEXT, value TEXT)')\n"
           "db.execute(\"INSERT INTO catalog_info VALUES ('total_bytes', "
           "'36893488147419103232'), ('fs_size', '18446744073709551615')\")\n"
           "db.commit()\n",
           strOld);
    const std::string strJson = m_cli.Home().Path("info.json");
    ASSERT_EQ(
        m_cli.Run({"info", "--format", "json", strOld}, "exec \"$@\" > '" + strJson + "'").nExit,
        0);
    EXPECT_EQ(Python("import json, sys\n"
                     "record = json.load(open(sys.argv[1]))\n"
                     "print(record['total_bytes'], record['volume_bytes'])\n",
                     strJson),
              "36893488147419103232 18446744073709551615\n");
    info = m_cli.Run({"info", strOld});
    EXPECT_NE(info.strOut.find("Total size: 36893488147419103232 bytes (32.0 EiB)\n"),
              std::string::npos)
        << info.strOut;
}

TEST_F(CliMessagesTest, FailuresNameTheCatalogTheyCameFrom) {
    m_tree.WriteFile("photo.jpg", "p");
    for (int n = 0; n < 9; ++n)
        ASSERT_EQ(
            m_cli.Run({"create", "--checksum", Concat({"Disk", std::to_string(n)}), m_tree.Root()})
                .nExit,
            0);
    // A tenth catalog that another program made without the sizes.
    const std::string strOdd = m_cli.CatalogPath("Odd");
    Python("import sqlite3, sys\n"
           "db = sqlite3.connect(sys.argv[1])\n"
           "db.execute('CREATE TABLE dirs (dir_id INTEGER PRIMARY KEY, dir_name TEXT)')\n"
           "db.execute('CREATE TABLE files (file_id INTEGER PRIMARY KEY, dir_id INTEGER, "
           "file_name TEXT)')\n"
           "db.commit()\n",
           strOdd);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"search", "*"},
          std::vector<std::string>{"info", "Disk0", "Odd", "Disk1"},
          std::vector<std::string>{"verify", "Disk0", "Odd"},
          std::vector<std::string>{"duplicates"},
          std::vector<std::string>{"diff", "Disk0", "Odd"}}) {
        const CliResult result = m_cli.Run(args);
        EXPECT_EQ(result.nExit, 2) << args[0];
        EXPECT_NE(result.strErr.find("kestrel-cli: " + strOdd + ": no such column"),
                  std::string::npos)
            << args[0] << ": " << result.strErr;
    }
    ASSERT_EQ(::unlink(strOdd.c_str()), 0);

    // An entry that is nowhere.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"search", "*", "Disk0", "Nowhere"},
          std::vector<std::string>{"info", "Nowhere"},
          std::vector<std::string>{"verify", "Nowhere"},
          std::vector<std::string>{"duplicates", "Disk0", "Nowhere"},
          std::vector<std::string>{"diff", "Nowhere", "Disk0"},
          std::vector<std::string>{"info", "/no/such/catalog.mdb"}}) {
        const CliResult result = m_cli.Run(args);
        EXPECT_EQ(result.nExit, 2) << args[0];
        EXPECT_NE(result.strErr.find("' is not in the catalog list\n"), std::string::npos)
            << args[0] << ": " << result.strErr;
    }

    // Files named like catalogs that are none: empty, not a database, a
    // database of something else.
    m_tree.WriteFile("text.mdb", "just some text, long enough to be no database header at all");
    Python("import sqlite3, sys\n"
           "sqlite3.connect(sys.argv[1]).execute('CREATE TABLE notes (line TEXT)')\n",
           m_tree.Path("other.mdb"));
    m_cli.Home().WriteFile("data/kestrel/Empty.mdb", "");
    for (const std::string& strPath :
         {m_cli.CatalogPath("Empty"), m_tree.Path("text.mdb"), m_tree.Path("other.mdb")}) {
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"search", "*", strPath},
              std::vector<std::string>{"info", strPath},
              std::vector<std::string>{"verify", strPath},
              std::vector<std::string>{"duplicates", strPath}}) {
            const CliResult result = m_cli.Run(args);
            EXPECT_EQ(result.nExit, 2) << args[0] << " " << strPath;
            EXPECT_NE(result.strErr.find("kestrel-cli: '" + strPath + "' is not a catalog"),
                      std::string::npos)
                << args[0] << ": " << result.strErr;
        }
    }
    // Searching them all stops at the empty one and says which it is.
    const CliResult all = m_cli.Run({"search", "*"});
    EXPECT_EQ(all.nExit, 2);
    EXPECT_NE(all.strErr.find(Concat(
                  {"'", m_cli.CatalogPath("Empty"), "' is not a catalog: the file is empty"})),
              std::string::npos)
        << all.strErr;
}

TEST_F(CliMessagesTest, OutputFormsStayWholeForEveryCommand) {
    m_tree.WriteFile("file", "f");
    ASSERT_EQ(m_cli
                  .Run({"create", "--checksum", "--exclude", "*.o", "--exclude", "a, b",
                        "--exclude", "bad\xff", "Line\nBreak", m_tree.Root()})
                  .nExit,
              0);
    // A name holding a line break stays on its line.
    EXPECT_EQ(m_cli.Run({"list"}).strOut, "Line\\nBreak\n");
    const CliResult info = m_cli.Run({"info", "Line\nBreak"});
    EXPECT_EQ(info.strOut.substr(0, info.strOut.find('\n') + 1),
              Concat({"Catalog: Line\\nBreak (", m_cli.DataFolder(), "Line\\nBreak.mdb)\n"}))
        << info.strOut;

    // csv has its header also when there is nothing to list.
    const std::string strEntry = "Line\nBreak";
    const std::string kHit = "path,size,md5,catalog,mtime,type,path_bytes,catalog_bytes,archive,"
                             "member,archive_bytes,member_bytes\r\n";
    const std::pair<std::vector<std::string>, std::string> headers[] = {
        {{"search", "--format", "csv", "nothing", strEntry}, kHit},
        {{"verify", "--format", "csv", strEntry},
         "path,result,catalog,path_bytes,catalog_bytes\r\n"},
        {{"diff", "--format", "csv", strEntry, strEntry},
         "status,path,type,old_size,new_size,path_bytes\r\n"},
        {{"diff", "--content", "--format", "csv", strEntry, strEntry}, "path,size,path_bytes\r\n"},
        {{"duplicates", "--format", "csv", strEntry},
         "group,path,size,md5,catalog,path_bytes,catalog_bytes\r\n"}};
    for (const auto& [args, strHeader] : headers) {
        const CliResult result = m_cli.Run(args);
        EXPECT_EQ(result.strOut, strHeader) << args[0] << " " << args[1];
    }

    // The exclude patterns are an array in json, their exact bytes beside.
    const std::string strJson = m_cli.Home().Path("info.json");
    ASSERT_EQ(
        m_cli.Run({"info", "--format", "json", strEntry}, "exec \"$@\" > '" + strJson + "'").nExit,
        0);
    EXPECT_EQ(Python("import json, sys\n"
                     "record = json.load(open(sys.argv[1]))\n"
                     "print(record['excluded'] == ['*.o', 'a, b', 'bad\\udcff'],\n"
                     "      record['excluded_bytes'] == [None, None, '626164ff'],\n"
                     "      record['catalog'] == 'Line\\nBreak')\n",
                     strJson),
              "True True True\n");

    // -0 writes bare paths: asking for csv or json with it is a mistake.
    for (const char* pszFormat : {"json", "csv"}) {
        const CliResult result = m_cli.Run({"search", "-0", "--format", pszFormat, "*", strEntry});
        EXPECT_EQ(result.nExit, 2) << pszFormat;
        EXPECT_EQ(result.strOut, "") << pszFormat;
        EXPECT_NE(result.strErr.find("-0"), std::string::npos) << result.strErr;
    }
    EXPECT_EQ(m_cli.Run({"search", "-0", "--format", "tsv", "file", strEntry}).strOut,
              m_tree.Path("file") + std::string(1, '\0'));
}
