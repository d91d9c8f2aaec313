// SPDX-License-Identifier: GPL-3.0-or-later

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

namespace {

// Writes a zip archive at strPath whose members (stored, not compressed, all
// of one time so the same members give the same bytes) are the JSON object
// strMembers: a name ending in '/' is a folder, an object is a tar archive of
// those members, a text is a file's content.
// The program that writes it is kept in
// tree, away from the trees catalogued.
void WriteZip(const TestTree& tree, const std::string& strPath, const std::string& strMembers) {
    const CliResult result = RunPython(tree, R"py(
import io, json, sys, tarfile, zipfile
def tar_bytes(members):
    data = io.BytesIO()
    with tarfile.open(fileobj=data, mode='w', format=tarfile.USTAR_FORMAT) as tar:
        for name, content in members.items():
            info = tarfile.TarInfo(name)
            info.size, info.mtime, info.mode = len(content.encode()), 1577836800, 0o644
            tar.addfile(info, io.BytesIO(content.encode()))
    return data.getvalue()
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_STORED) as archive:
    for name, content in json.loads(sys.argv[2]).items():
        info = zipfile.ZipInfo(name, (2020, 1, 1, 0, 0, 0))
        if name.endswith('/'):
            info.external_attr = (0o40755 << 16) | 0x10
            archive.writestr(info, b'')
        else:
            info.external_attr = 0o100644 << 16
            archive.writestr(info, tar_bytes(content) if isinstance(content, dict) else content.encode())
)py",
                                       {strPath, strMembers});
    ASSERT_EQ(result.nExit, 0) << result.strOut;
}

} // namespace

TEST_F(CliAuditTest, DiffComparesMembersOfArchivesWhenBothCatalogsHoldThem) {
    for (const char* pszRoot : {"disk", "backup"}) {
        m_tree.MakeDir(pszRoot);
        m_tree.WriteFile(std::string(pszRoot) + "/a.zip.bak", "kept beside");
    }
    WriteZip(m_cli.Home(), m_tree.Path("disk/a.zip"),
             R"({"photos/": "", "photos/img.jpg": "jpeg data", "report.txt": "the report",
                 "gone.txt": "abc"})");
    WriteZip(m_cli.Home(), m_tree.Path("backup/a.zip"),
             R"({"photos/": "", "photos/img.jpg": "jpeg data, edited", "report.txt": "the report",
                 "new.txt": "abc", "extra/": ""})");
    // Inside an archive inside another, rewritten to the same size.
    WriteZip(m_cli.Home(), m_tree.Path("disk/b.zip"), R"({"inner.tar": {"x.txt": "inner text"}})");
    WriteZip(m_cli.Home(), m_tree.Path("backup/b.zip"),
             R"({"inner.tar": {"x.txt": "inner TEXT"}})");
    for (const char* pszRoot : {"disk", "backup"}) {
        const std::string strRoot = pszRoot;
        ASSERT_EQ(m_cli
                      .Run({"create", "--archives", "--archive-depth", "2", "--checksum",
                            strRoot + "-members", m_tree.Path(strRoot)})
                      .nExit,
                  0);
        ASSERT_EQ(
            m_cli.Run({"create", "--checksum", strRoot + "-plain", m_tree.Path(strRoot)}).nExit, 0);
    }

    // Members by their paths in the member form, in the byte order of the
    // paths: "a.zip.bak" sorts before "a.zip//...".
    CliResult result = m_cli.Run({"diff", "disk-members", "backup-members"});
    EXPECT_EQ(result.nExit, 1);
    EXPECT_EQ(result.strOut, "M\ta.zip\n"
                             "A\ta.zip//extra/\n"
                             "D\ta.zip//gone.txt\n"
                             "A\ta.zip//new.txt\n"
                             "M\ta.zip//photos/img.jpg\n"
                             "M\tb.zip\n"
                             "M\tb.zip//inner.tar\n"
                             "M\tb.zip//inner.tar//x.txt\n");
    EXPECT_NE(result.strErr.find("files: 0 added, 0 deleted, 2 modified; directories: 0 added, 0 "
                                 "deleted; members of archives: 2 added, 1 deleted, 3 modified"),
              std::string::npos)
        << result.strErr;
    result = m_cli.Run({"diff", "--format", "json", "disk-members", "backup-members"});
    EXPECT_NE(result.strOut.find(R"({"status":"A","path":"a.zip//extra/","type":"directory",)"
                                 R"("old_size":null,"new_size":null})"),
              std::string::npos)
        << result.strOut;
    EXPECT_NE(result.strOut.find(R"({"status":"M","path":"a.zip//photos/img.jpg","type":"file",)"
                                 R"("old_size":9,"new_size":17})"),
              std::string::npos)
        << result.strOut;
    EXPECT_EQ(m_cli.Run({"diff", "backup-members", "backup-members"}).nExit, 0);

    // One side without members: they are left out, and what is printed is
    // what two catalogs without members give.
    const CliResult plain = m_cli.Run({"diff", "disk-plain", "backup-plain"});
    EXPECT_EQ(plain.strOut, "M\ta.zip\nM\tb.zip\n");
    EXPECT_EQ(plain.strErr.find("member"), std::string::npos) << plain.strErr;
    for (const auto& [strOld, strNew] :
         {std::pair<std::string, std::string>{"disk-members", "backup-plain"},
          std::pair<std::string, std::string>{"disk-plain", "backup-members"}}) {
        result = m_cli.Run({"diff", strOld, strNew});
        EXPECT_EQ(result.nExit, 1);
        EXPECT_EQ(result.strOut, plain.strOut);
        EXPECT_NE(result.strErr.find("Members of archives are left out: only one of the catalogs "
                                     "holds them"),
                  std::string::npos)
            << result.strErr;
    }

    // Is everything of the disk in the backup? The removed member's content
    // is there under another name; the edited ones are not.
    result = m_cli.Run({"diff", "--content", "disk-members", "backup-members"});
    EXPECT_EQ(result.nExit, 1);
    for (const char* pszMissing : {"disk/a.zip\n", "disk/b.zip\n", "disk/a.zip//photos/img.jpg\n",
                                   "disk/b.zip//inner.tar\n", "disk/b.zip//inner.tar//x.txt\n"})
        EXPECT_NE(result.strOut.find(m_tree.Path(pszMissing)), std::string::npos) << pszMissing;
    EXPECT_EQ(std::count(result.strOut.begin(), result.strOut.end(), '\n'), 5) << result.strOut;
    EXPECT_NE(result.strErr.find("1 file has a copy in backup-members, 2 have none, 0 have no "
                                 "checksum to compare; 2 members have a copy, 3 have none, 0 have "
                                 "no checksum"),
              std::string::npos)
        << result.strErr;
    result = m_cli.Run({"diff", "--content", "disk-members", "backup-plain"});
    EXPECT_EQ(result.strOut.find("//"), std::string::npos) << result.strOut;
}

TEST_F(CliAuditTest, DuplicatesGroupFilesWithMembersOfArchives) {
    m_tree.MakeDir("docs");
    m_tree.WriteFile("docs/report.txt", "the yearly report");
    WriteZip(m_cli.Home(), m_tree.Path("pack.zip"),
             R"({"report.txt": "the yearly report", "photos/img.jpg": "jpeg",
                 "inner.tar": {"x.txt": "jpeg", "copy.txt": "the yearly report"}})");
    ASSERT_EQ(m_cli
                  .Run({"create", "--archives", "--archive-depth", "2", "--checksum", "Pack",
                        m_tree.Root()})
                  .nExit,
              0);
    ASSERT_EQ(m_cli.Run({"create", "--checksum", "Files", m_tree.Root()}).nExit, 0);

    // A file and two members, then two members: a catalog's files come
    // before its members, those in the order their archive lists them.
    CliResult result = m_cli.Run({"duplicates", "Pack"});
    EXPECT_EQ(result.nExit, 0);
    const std::string strReport = "\t17\t" + Md5OfText("the yearly report") + "\tPack\n";
    const std::string strJpeg = "\t4\t" + Md5OfText("jpeg") + "\tPack\n";
    EXPECT_EQ(result.strOut, m_tree.Path("docs/report.txt") + strReport +
                                 m_tree.Path("pack.zip//report.txt") + strReport +
                                 m_tree.Path("pack.zip//inner.tar//copy.txt") + strReport + "\n" +
                                 m_tree.Path("pack.zip//photos/img.jpg") + strJpeg +
                                 m_tree.Path("pack.zip//inner.tar//x.txt") + strJpeg);
    EXPECT_NE(result.strErr.find("2 groups of duplicates, 5 files; keeping one copy of each would "
                                 "free 38 bytes"),
              std::string::npos)
        << result.strErr;
    // Across catalogs, one without members: its file joins the group (after
    // the group of the archive itself, in both).
    result = m_cli.Run({"duplicates", "--min-size", "5", "Files", "Pack"});
    const std::string strGroup = "\n\n" + m_tree.Path("docs/report.txt") + "\t17\t" +
                                 Md5OfText("the yearly report") + "\tFiles\n" +
                                 m_tree.Path("docs/report.txt") + strReport +
                                 m_tree.Path("pack.zip//report.txt") + strReport +
                                 m_tree.Path("pack.zip//inner.tar//copy.txt") + strReport;
    ASSERT_GT(result.strOut.size(), strGroup.size()) << result.strOut;
    EXPECT_EQ(result.strOut.substr(result.strOut.size() - strGroup.size()), strGroup);
    EXPECT_NE(result.strErr.find("2 groups of duplicates, 6 files"), std::string::npos)
        << result.strErr;
    // Files only, without members: the one report has no copy.
    EXPECT_EQ(m_cli.Run({"duplicates", "Files"}).nExit, 1);
}

TEST_F(CliAuditTest, VerifyReadsMembersAgainFromTheirArchives) {
    // big.zip is past the checksum limit itself, its small members are not:
    // only their checksums can tell a change inside it.
    WriteZip(m_cli.Home(), m_tree.Path("big.zip"),
             R"({"notes.txt": "first draft", "same.txt": "steady", "padding.bin": ")" +
                 std::string(3000, 'p') + R"("})");
    WriteZip(m_cli.Home(), m_tree.Path("gone.zip"), R"({"a.txt": "a", "b.txt": "b"})");
    WriteZip(m_cli.Home(), m_tree.Path("grown.zip"), R"({"c.txt": "c"})");
    ASSERT_EQ(m_cli
                  .Run({"create", "--archives", "--checksum", "--max-size", "1", "Members",
                        m_tree.Root()})
                  .nExit,
              0);
    ASSERT_EQ(m_cli.Run({"create", "--checksum", "--max-size", "1", "Plain", m_tree.Root()}).nExit,
              0);
    ASSERT_EQ(QueryNumber(m_cli.CatalogPath("Members"),
                          "SELECT count(*) FROM files WHERE md5_checksum IS NULL"),
              1);
    CliResult result = m_cli.Run({"verify", "Members"});
    EXPECT_EQ(result.nExit, 0) << result.strOut;
    EXPECT_EQ(result.strOut, "2 unchanged, 0 changed, 0 not found, 0 not readable, 1 not checked; "
                             "members of archives: 5 unchanged, 0 changed, 0 not found, 0 not "
                             "readable, 1 not checked\n");

    // One member rewritten to the same length, the archive's time put back:
    // its size and time are as catalogued.
    struct stat st {};
    ASSERT_EQ(::stat(m_tree.Path("big.zip").c_str(), &st), 0);
    WriteZip(m_cli.Home(), m_tree.Path("big.zip"),
             R"({"notes.txt": "final draft", "same.txt": "steady", "padding.bin": ")" +
                 std::string(3000, 'p') + R"("})");
    SetTime(m_tree.Path("big.zip"), st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    struct stat after {};
    ASSERT_EQ(::stat(m_tree.Path("big.zip").c_str(), &after), 0);
    ASSERT_EQ(after.st_size, st.st_size);
    // A missing archive, and one of another size: told once each.
    ASSERT_EQ(::unlink(m_tree.Path("gone.zip").c_str()), 0);
    ASSERT_EQ(::truncate(m_tree.Path("grown.zip").c_str(), 1000), 0);

    result = m_cli.Run({"verify", "Members"});
    EXPECT_EQ(result.nExit, 1);
    EXPECT_NE(
        result.strOut.find("Member '" + m_tree.Path("big.zip//notes.txt") + "' was changed\n"),
        std::string::npos)
        << result.strOut;
    EXPECT_NE(result.strOut.find("File '" + m_tree.Path("gone.zip") + "' not found\n"),
              std::string::npos);
    EXPECT_NE(result.strOut.find("File '" + m_tree.Path("grown.zip") + "' was changed\n"),
              std::string::npos);
    EXPECT_EQ(std::count(result.strOut.begin(), result.strOut.end(), '\n'), 4) << result.strOut;
    EXPECT_NE(result.strOut.find("0 unchanged, 1 changed, 1 not found, 0 not readable, 1 not "
                                 "checked; members of archives: 1 unchanged, 2 changed, 2 not "
                                 "found, 0 not readable, 1 not checked\n"),
              std::string::npos)
        << result.strOut;
    result = m_cli.Run({"verify", "--format", "json", "Members"});
    EXPECT_NE(result.strOut.find(R"({"path":")" + m_tree.Path("big.zip//notes.txt") +
                                 R"(","result":"changed","catalog":"Members"})"),
              std::string::npos)
        << result.strOut;
    // Without members nothing tells the change inside big.zip.
    result = m_cli.Run({"verify", "Plain"});
    EXPECT_EQ(result.strOut.find("big.zip"), std::string::npos) << result.strOut;
    EXPECT_EQ(result.strOut.find("member"), std::string::npos) << result.strOut;
}
