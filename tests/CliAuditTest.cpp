// The backup questions, asked of the real kestrel-cli: what changed between
// two catalogs, is everything of one in another, where are the duplicates,
// filters of a search, and the csv and json forms read back by Python.
#include "CliProcess.h"
#include "TestTree.h"
#include "catalog/Database.h"

#include <algorithm>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void SetTime(const std::string& strPath, time_t tSeconds, long nNs = 0) {
    const timespec times[2] = {{tSeconds, nNs}, {tSeconds, nNs}};
    ::utimensat(AT_FDCWD, strPath.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// Local midnight of a day, as the date filters read "YYYY-MM-DD".
time_t LocalMidnight(int nYear, int nMonth, int nDay) {
    std::tm local{};
    local.tm_year = nYear - 1900;
    local.tm_mon = nMonth - 1;
    local.tm_mday = nDay;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

class CliAuditTest : public ::testing::Test {
protected:
    CliProcess m_cli;
    TestTree m_tree;
};

} // namespace

TEST_F(CliAuditTest, DiffComparesByPathBelowTheStartAndByContent) {
    // The same tree in two places; the copy then changes.
    for (const char* pszRoot : {"disk", "backup"}) {
        const std::string strRoot = pszRoot;
        m_tree.MakeDir(strRoot + "/photos/2023");
        m_tree.MakeDir(strRoot + "/old");
        m_tree.WriteFile(strRoot + "/photos/2023/a.jpg", "picture a");
        m_tree.WriteFile(strRoot + "/photos/2023/b.jpg", "picture b");
        m_tree.WriteFile(strRoot + "/notes.txt", "notes");
        m_tree.WriteFile(strRoot + "/same size.txt", "12345");
        m_tree.WriteFile(strRoot + "/old/gone.txt", "gone");
        m_tree.WriteFile(strRoot + "/moved.txt", "moving");
    }
    ::unlink(m_tree.Path("backup/old/gone.txt").c_str());
    ::rmdir(m_tree.Path("backup/old").c_str());
    m_tree.WriteFile("backup/added.txt", "new");
    m_tree.WriteFile("backup/notes.txt", "notes, longer"); // grown
    m_tree.WriteFile("backup/same size.txt", "54321");     // rewritten, same size
    ::rename(m_tree.Path("backup/moved.txt").c_str(),
             m_tree.Path("backup/photos/moved.txt").c_str());
    ASSERT_EQ(m_cli.Run({"create", "--checksum", "Disk", m_tree.Path("disk")}).nExit, 0);
    ASSERT_EQ(m_cli.Run({"create", "--checksum", "Backup", m_tree.Path("backup/")}).nExit, 0);
    ASSERT_EQ(m_cli.Run({"create", "Plain", m_tree.Path("backup")}).nExit, 0);

    CliResult result = m_cli.Run({"diff", "Disk", "Backup"});
    EXPECT_EQ(result.nExit, 1);
    EXPECT_EQ(result.strOut, "A\tadded.txt\n"
                             "D\tmoved.txt\n"
                             "M\tnotes.txt\n"
                             "D\told/\n"
                             "D\told/gone.txt\n"
                             "A\tphotos/moved.txt\n"
                             "M\tsame size.txt\n");
    EXPECT_NE(result.strErr.find("files: 2 added, 2 deleted, 2 modified; directories: 0 added, 1 "
                                 "deleted"),
              std::string::npos)
        << result.strErr;
    // Without checksums on one side only sizes tell: the rewrite goes unseen.
    result = m_cli.Run({"diff", "Disk", "Plain"});
    EXPECT_EQ(result.strOut.find("same size.txt"), std::string::npos) << result.strOut;
    EXPECT_NE(result.strOut.find("M\tnotes.txt\n"), std::string::npos);
    EXPECT_EQ(m_cli.Run({"diff", "Backup", "Backup"}).nExit, 0);
    EXPECT_EQ(m_cli.Run({"diff", "Backup", "Nowhere"}).nExit, 2);

    // Is everything of Disk somewhere in Backup? The moved file is; the
    // rewritten, grown and removed ones are not. Plain has no checksums.
    result = m_cli.Run({"diff", "--content", "Disk", "Backup"});
    EXPECT_EQ(result.nExit, 1);
    EXPECT_EQ(result.strOut, m_tree.Path("disk/notes.txt") + "\n" +
                                 m_tree.Path("disk/same size.txt") + "\n" +
                                 m_tree.Path("disk/old/gone.txt") + "\n");
    EXPECT_NE(result.strErr.find("3 files have a copy in Backup, 3 have none, 0 have no checksum"),
              std::string::npos)
        << result.strErr;
    result = m_cli.Run({"diff", "--content", "Plain", "Disk"});
    EXPECT_EQ(result.nExit, 1);
    EXPECT_EQ(result.strOut, "");
    EXPECT_NE(result.strErr.find("0 files have a copy in Disk, 0 have none, 6 have no checksum"),
              std::string::npos)
        << result.strErr;
    EXPECT_EQ(m_cli.Run({"diff", "--content", "Backup", "Backup"}).nExit, 0);
}

TEST_F(CliAuditTest, DiffTakesOnlyWholeDirectoriesBelowTheStart) {
    // Catalogs made by another program: the start directory is the first
    // directory row, and the rows after it need not lie below it.
    auto craft = [&](const std::string& strName, const std::string& strStart,
                     const std::string& strDir) {
        const std::string strCatalog = m_tree.Path(strName + ".mdb");
        Database db;
        db.Create(strCatalog, "CREATE TABLE dirs (dir_id INTEGER PRIMARY KEY, dir_name TEXT);"
                              "CREATE TABLE files (file_id INTEGER PRIMARY KEY, dir_id INTEGER, "
                              "file_name TEXT, file_size INTEGER, md5_checksum TEXT);");
        db.Execute("INSERT INTO dirs VALUES (1, '" + strStart + "');INSERT INTO dirs VALUES (2, '" +
                   strDir + "');INSERT INTO files VALUES (1, 2, 'f', 1, NULL);");
        return strCatalog;
    };
    const std::string strBeside = craft("beside", "/data", "/database/x");
    const std::string strBelow = craft("below", "/data", "/data/base/x");
    const std::string strSlashed = craft("slashed", "/data/", "/data/base/x");
    const std::string strRoot = craft("root", "/", "/base/x");

    // /database is no directory below /data: its path is kept whole.
    CliResult result = m_cli.Run({"diff", strBeside, strBelow});
    EXPECT_EQ(result.nExit, 1);
    EXPECT_EQ(result.strOut, "D\t/database/x/\n"
                             "D\t/database/x/f\n"
                             "A\tbase/x/\n"
                             "A\tbase/x/f\n");
    // A start typed with a trailing slash, and the root, still take what lies below.
    result = m_cli.Run({"diff", strBelow, strSlashed});
    EXPECT_EQ(result.nExit, 0) << result.strOut;
    result = m_cli.Run({"diff", strBelow, strRoot});
    EXPECT_EQ(result.nExit, 0) << result.strOut;
}

TEST_F(CliAuditTest, DuplicatesAcrossCatalogsMostWastefulFirst) {
    for (const char* pszDir : {"one", "two", "three"})
        m_tree.MakeDir(pszDir);
    const std::string strBig(3000, 'b'), strMid(1000, 'm');
    m_tree.WriteFile("one/big", strBig);
    m_tree.WriteFile("two/big copy", strBig); // 1 extra copy of 3000: 3000 wasted
    m_tree.WriteFile("one/mid", strMid);
    m_tree.WriteFile("two/mid", strMid);
    m_tree.WriteFile("three/mid", strMid);
    m_tree.WriteFile("three/mid again", strMid); // 3 extra copies of 1000: 3000 wasted
    m_tree.WriteFile("one/small", "tiny");
    m_tree.WriteFile("three/small", "tiny"); // 4 bytes wasted
    m_tree.WriteFile("one/empty", "");
    m_tree.WriteFile("two/empty", ""); // nothing wasted: left out
    m_tree.WriteFile("two/unique", "only once");
    for (const char* pszDir : {"one", "two", "three"})
        ASSERT_EQ(m_cli.Run({"create", "--checksum", pszDir, m_tree.Path(pszDir)}).nExit, 0);
    // A catalog without checksums has no duplicates, whatever its files hold.
    ASSERT_EQ(m_cli.Run({"create", "Unsummed", m_tree.Path("one")}).nExit, 0);

    CliResult result = m_cli.Run({"duplicates", "one", "two", "three", "Unsummed"});
    EXPECT_EQ(result.nExit, 0);
    const std::string strBigSum = "\t3000\t" + Md5OfText(strBig) + "\t";
    const std::string strMidSum = "\t1000\t" + Md5OfText(strMid) + "\t";
    // Equal waste: the larger file first.
    EXPECT_EQ(result.strOut,
              m_tree.Path("one/big") + strBigSum + "one\n" + m_tree.Path("two/big copy") +
                  strBigSum + "two\n\n" + m_tree.Path("one/mid") + strMidSum + "one\n" +
                  m_tree.Path("two/mid") + strMidSum + "two\n" + m_tree.Path("three/mid") +
                  strMidSum + "three\n" + m_tree.Path("three/mid again") + strMidSum + "three\n\n" +
                  m_tree.Path("one/small") + "\t4\t" + Md5OfText("tiny") + "\tone\n" +
                  m_tree.Path("three/small") + "\t4\t" + Md5OfText("tiny") + "\tthree\n");
    EXPECT_NE(result.strErr.find("3 groups of duplicates, 8 files; keeping one copy of each would "
                                 "free 6004 bytes"),
              std::string::npos)
        << result.strErr;
    result = m_cli.Run({"duplicates", "--min-size", "1000", "one", "two", "three"});
    EXPECT_NE(result.strErr.find("2 groups of duplicates, 6 files"), std::string::npos);
    result = m_cli.Run({"duplicates", "--min-size", "1001", "one", "two", "three"});
    EXPECT_NE(result.strErr.find("1 group of duplicates, 2 files"), std::string::npos);
    EXPECT_EQ(m_cli.Run({"duplicates", "two"}).nExit, 1);
    EXPECT_EQ(m_cli.Run({"duplicates", "--min-size", "lots", "two"}).nExit, 2);
}

TEST_F(CliAuditTest, FiltersNarrowHitsAtTheirEdges) {
    m_tree.WriteFile("exactly 1k", std::string(1024, 'k'));
    m_tree.WriteFile("one byte less", std::string(1023, 'l'));
    m_tree.WriteFile("one byte more", std::string(1025, 'm'));
    const time_t tMidnight = LocalMidnight(2024, 6, 30);
    SetTime(m_tree.Path("exactly 1k"), tMidnight);        // at the date
    SetTime(m_tree.Path("one byte less"), tMidnight - 1); // a second before
    SetTime(m_tree.Path("one byte more"), tMidnight, 1);  // a nanosecond after
    ASSERT_EQ(m_cli.Run({"create", "Sizes", m_tree.Root()}).nExit, 0);
    auto names = [&](std::vector<std::string> args) {
        args.insert(args.begin(), "search");
        args.insert(args.end(), {"--where", "files", "*", "Sizes"});
        return HitNames(m_cli.Run(args).strOut);
    };
    EXPECT_EQ(names({"--size", "+1k"}), "exactly 1k,one byte more");
    EXPECT_EQ(names({"--size", "-1k"}), "exactly 1k,one byte less");
    EXPECT_EQ(names({"--size", "+1k", "--size", "-1024b"}), "exactly 1k");
    EXPECT_EQ(names({"--changed-within", "2024-06-30"}), "exactly 1k,one byte more");
    EXPECT_EQ(names({"--changed-before", "2024-06-30"}), "one byte less");
    EXPECT_EQ(names({"--changed-before", "2024-06-30 00:00:01"}),
              "exactly 1k,one byte less,one byte more");
    EXPECT_EQ(names({"--changed-within", "1d"}), "");
    EXPECT_EQ(names({"--changed-before", "1d"}), "exactly 1k,one byte less,one byte more");

    // A catalog that records no times never passes a time filter.
    m_tree.WriteFile("now", "n");
    ASSERT_EQ(m_cli.Run({"create", "Timeless", m_tree.Root()}).nExit, 0);
    {
        Database db;
        db.Open(m_cli.CatalogPath("Timeless"), Database::OpenMode::ReadWrite);
        db.Execute("UPDATE files SET file_mtime = NULL");
    }
    EXPECT_EQ(m_cli.Run({"search", "now", "Timeless"}).nExit, 0);
    EXPECT_EQ(m_cli.Run({"search", "--changed-within", "1y", "now", "Timeless"}).nExit, 1);
    EXPECT_EQ(m_cli.Run({"search", "--changed-before", "1d", "now", "Timeless"}).nExit, 1);
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"search", "--size", "10M", "*"},
          std::vector<std::string>{"search", "--size", "+10X", "*"},
          std::vector<std::string>{"search", "--changed-within", "fortnight", "*"},
          std::vector<std::string>{"search", "--changed-before", "2024-13-01", "*"},
          std::vector<std::string>{"search", "--where", "dirs", "--size", "+1", "*"},
          std::vector<std::string>{"search", "--format", "xml", "*"}})
        EXPECT_EQ(m_cli.Run(bad).nExit, 2) << bad[1] << " " << bad[2];
}

TEST_F(CliAuditTest, CsvAndJsonReadBackExactly) {
    // Names a spreadsheet or a script must get back byte for byte.
    const std::vector<std::string> names = {"comma, in it", "quote \" in it", "line\nbreak",
                                            "invalid \xff\xfe bytes", "plain"};
    for (const std::string& strName : names)
        m_tree.WriteFile(strName, strName);
    ASSERT_EQ(m_cli.Run({"create", "--checksum", "Odd", m_tree.Root()}).nExit, 0);
    const std::string strCsv = m_cli.Home().Path("hits.csv");
    const std::string strJson = m_cli.Home().Path("hits.json");
    ASSERT_EQ(m_cli
                  .Run({"search", "--format", "csv", "--where", "files", "*", "Odd"},
                       "exec \"$@\" > '" + strCsv + "'")
                  .nExit,
              0);
    ASSERT_EQ(m_cli
                  .Run({"search", "--format", "json", "--where", "files", "*", "Odd"},
                       "exec \"$@\" > '" + strJson + "'")
                  .nExit,
              0);
    // Python reads both with its own modules and writes each path's bytes in
    // hexadecimal, sorted, one a line, with the size and checksum.
    const std::string strScript = m_cli.Home().Path("read.py");
    m_cli.Home().WriteFile("read.py", R"py(
import csv, json, sys
def out(rows):
    for r in sorted(rows): print(r)
with open(sys.argv[1], newline='', encoding='utf-8') as f:
    out((bytes.fromhex(r['path_bytes']) if r['path_bytes'] else r['path'].encode()).hex() + ' ' + r['size'] + ' ' + r['md5'] + ' ' + r['catalog'] for r in csv.DictReader(f))
print('--')
with open(sys.argv[2], encoding='utf-8') as f:
    out(r['path'].encode('utf-8', 'surrogateescape').hex() + ' ' + str(r['size']) + ' ' + r['md5'] + ' ' + r['catalog'] + ' ' + r['type'] + ' ' + str(r['mtime'] is not None) for r in map(json.loads, f))
)py");
    FILE* pPipe =
        ::popen(("python3 '" + strScript + "' '" + strCsv + "' '" + strJson + "'").c_str(), "r");
    ASSERT_NE(pPipe, nullptr);
    std::string strRead;
    char buffer[4096];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pPipe))
        strRead.append(buffer, n);
    ASSERT_EQ(::pclose(pPipe), 0) << strRead;
    auto hex = [](const std::string& strBytes) {
        std::string strHex;
        char sz[3];
        for (unsigned char c : strBytes) {
            std::snprintf(sz, sizeof sz, "%02x", c);
            strHex += sz;
        }
        return strHex;
    };
    std::vector<std::string> csvLines, jsonLines;
    for (const std::string& strName : names) {
        const std::string strCommon = hex(m_tree.Path(strName)) + " " +
                                      std::to_string(strName.size()) + " " + Md5OfText(strName) +
                                      " Odd";
        csvLines.push_back(strCommon);
        jsonLines.push_back(strCommon + " file True");
    }
    std::sort(csvLines.begin(), csvLines.end());
    std::sort(jsonLines.begin(), jsonLines.end());
    std::string strExpected;
    for (const std::string& strLine : csvLines)
        strExpected += strLine + "\n";
    strExpected += "--\n";
    for (const std::string& strLine : jsonLines)
        strExpected += strLine + "\n";
    EXPECT_EQ(strRead, strExpected);
}
