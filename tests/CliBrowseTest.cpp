// SPDX-License-Identifier: GPL-3.0-or-later

#include "CliProcess.h"

#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

// The lines of a tsv output, each split at its first tab.
std::map<std::string, std::string> DuLines(const std::string& strOut,
                                           std::vector<std::string>* pOrder = nullptr) {
    std::map<std::string, std::string> lines;
    std::istringstream in(strOut);
    for (std::string strLine; std::getline(in, strLine);) {
        const size_t nTab = strLine.find('\t');
        lines[strLine.substr(nTab + 1)] = strLine.substr(0, nTab);
        if (pOrder)
            pOrder->push_back(strLine.substr(nTab + 1));
    }
    return lines;
}

} // namespace

// du, ls and tree over an awkward tree say what the file system says: du the
// sum of the lstat sizes of the non-directories below each folder, each
// folder after those below it; ls the entries of a folder; tree the folders.
TEST(CliBrowseTest, DuLsAndTreeAgreeWithTheDisk) {
    TestTree tree;
    CliProcess cli;
    tree.MakeDir("t/empty");
    tree.MakeDir("t/a/b/c");
    tree.WriteSizedFile("t/a/b/c/deep", 123456);
    tree.WriteSizedFile("t/a/one", 1);
    tree.WriteFile("t/a/b/zero", "");
    tree.WriteFile("t/bad\xff", "yy");
    tree.WriteFile("t/tab\there", "z");
    tree.MakeDir("t/B");
    tree.WriteSizedFile("t/B/big", 70000);
    tree.MakeSymlink("a", "t/link");
    tree.MakeFifo("t/a/fifo");
    const std::string strRoot = tree.Path("t");
    ASSERT_EQ(cli.Run({"create", "T", strRoot}).nExit, 0);

    std::map<std::string, uint64_t> expected;
    for (const auto& [strPath, totals] : WalkDisk(strRoot))
        expected[strPath] = totals.nBytes;
    std::vector<std::string> order;
    const CliResult du = cli.Run({"du", "T"});
    ASSERT_EQ(du.nExit, 0) << du.strErr;
    const std::map<std::string, std::string> lines = DuLines(du.strOut, &order);
    ASSERT_EQ(lines.size(), expected.size()) << du.strOut;
    for (const auto& [strPath, nBytes] : expected)
        EXPECT_EQ(lines.count(strPath) ? lines.at(strPath) : "missing", std::to_string(nBytes))
            << strPath;
    // Every folder after the folders below it, subfolders by name.
    EXPECT_EQ(order.back(), strRoot);
    EXPECT_EQ(order.front(), strRoot + "/B");
    EXPECT_EQ(cli.Run({"du", "--depth", "1", "--sort", "name", "T"}).strOut,
              std::to_string(expected[strRoot]) + "\t" + strRoot + "\n" +
                  std::to_string(expected[strRoot + "/B"]) + "\t" + strRoot + "/B\n" +
                  std::to_string(expected[strRoot + "/a"]) + "\t" + strRoot + "/a\n" + "0\t" +
                  strRoot + "/empty\n");
    EXPECT_EQ(cli.Run({"du", "--top", "2", "-h", "T", "a"}).strOut,
              "121K\t" + strRoot + "/a\n121K\t" + strRoot + "/a/b\n");

    // ls: directories, then files, by name; names byte-exact.
    EXPECT_EQ(cli.Run({"ls", "T"}).strOut, "B\na\nempty\nbad\xff\nlink\ntab\\there\n");
    EXPECT_EQ(cli.Run({"ls", "-l", "T", strRoot + "/a/b"}).strOut.substr(0, 17),
              "directory\t123456\t");
    const CliResult json = cli.Run({"ls", "--format", "json", "T", "a/b/c"});
    EXPECT_NE(json.strOut.find("\"kind\":\"file\",\"size\":123456"), std::string::npos)
        << json.strOut;
    const CliResult bytes = cli.Run({"ls", "--format", "json", "T"});
    EXPECT_NE(bytes.strOut.find("\"name_bytes\":\"626164ff\""), std::string::npos) << bytes.strOut;

    // tree: the folders, indented, with their totals; the first by its path.
    EXPECT_EQ(cli.Run({"tree", "--depth", "2", "T", "a"}).strOut,
              strRoot + "/a/ (121K in 4 files)\n  b/ (121K in 2 files)\n    c/ (121K in 1 file)\n");

    // A folder the catalog does not have, and a catalog that is not there.
    const CliResult none = cli.Run({"ls", "T", "nowhere"});
    EXPECT_EQ(none.nExit, 1);
    EXPECT_NE(none.strErr.find("'nowhere' is no folder of the catalog 'T'"), std::string::npos);
    EXPECT_EQ(cli.Run({"du", "Gone"}).nExit, 2);
    EXPECT_EQ(cli.Run({"du", "--sort", "age", "T"}).nExit, 2);
}

// A catalog made by another program: folders whose parents are not stored
// hang below the nearest one that is; sizes as du -h writes them.
TEST(CliBrowseTest, CatalogsOfOtherProgramsAndSizesAsDuWritesThem) {
    TestTree tree;
    CliProcess cli;
    const std::string strCatalog = cli.CatalogPath("Other");
    fs::create_directories(cli.DataFolder());
    const CliResult made = RunPython(tree, R"py(
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
db.execute("CREATE TABLE dirs(dir_id INTEGER PRIMARY KEY, dir_name TEXT)")
db.execute("CREATE TABLE files(file_id INTEGER PRIMARY KEY, dir_id INTEGER, file_name TEXT, "
           "file_size INTEGER, md5_checksum TEXT)")
db.execute("INSERT INTO dirs VALUES (1, '/m')")
sizes = [0, 1023, 1024, 1025, 10239, 10240, 10241, 1048575, 1048576, 5 * 2**40]
for i, size in enumerate(sizes):
    db.execute("INSERT INTO dirs VALUES (?, ?)", (i + 2, "/m/x/%02d" % i))
    db.execute("INSERT INTO files(dir_id, file_name, file_size) VALUES (?, 'f', ?)", (i + 2, size))
db.commit()
)py",
                                     {strCatalog});
    ASSERT_EQ(made.nExit, 0) << made.strOut;
    const CliResult du = cli.Run({"du", "-h", "Other"});
    ASSERT_EQ(du.nExit, 0) << du.strErr;
    const std::map<std::string, std::string> lines = DuLines(du.strOut);
    const char* const kExpected[] = {"0",   "1023", "1.0K", "1.1K", "10K",
                                     "10K", "11K",  "1.0M", "1.0M", "5.0T"};
    for (size_t i = 0; i < std::size(kExpected); ++i) {
        const std::string strPath = std::string("/m/x/") + (i < 10 ? "0" : "") + std::to_string(i);
        EXPECT_EQ(lines.count(strPath) ? lines.at(strPath) : "missing", kExpected[i]) << strPath;
    }
    EXPECT_EQ(lines.at("/m"), "5.1T");
    EXPECT_EQ(cli.Run({"ls", "Other"}).strOut, "x/00\nx/01\nx/02\nx/03\nx/04\nx/05\nx/06\nx/07\n"
                                               "x/08\nx/09\n");
}

// ls -l tells what each entry is, as the walk saw it: its kind and its mode
// as ls -l writes it, a folder's own time; without the folder tables (a
// catalog whose rows another program changed) the kinds fall back to
// directory and file, the rest stays.
TEST(CliBrowseTest, LsTellsWhatEachEntryIs) {
    TestTree tree;
    CliProcess cli;
    tree.MakeDir("t/sub");
    tree.WriteFile("t/run.sh", "#!/bin/sh\n");
    fs::permissions(tree.Path("t/run.sh"), fs::perms(0755));
    tree.WriteFile("t/plain", "x");
    fs::permissions(tree.Path("t/plain"), fs::perms(0640));
    tree.MakeSymlink("sub", "t/link");
    tree.MakeFifo("t/pipe");
    fs::permissions(tree.Path("t/sub"), fs::perms(01777));
    const std::string strRoot = tree.Path("t");
    ASSERT_EQ(cli.Run({"create", "T", strRoot}).nExit, 0);
    struct stat st {};
    ASSERT_EQ(::lstat(tree.Path("t/sub").c_str(), &st), 0);
    char szTime[64];
    std::strftime(szTime, sizeof szTime, "%Y-%m-%dT%H:%M:%S", std::gmtime(&st.st_mtim.tv_sec));

    const CliResult ls = cli.Run({"ls", "-l", "T"});
    ASSERT_EQ(ls.nExit, 0) << ls.strErr;
    std::map<std::string, std::string> lines;
    std::istringstream in(ls.strOut);
    for (std::string strLine; std::getline(in, strLine);)
        lines[strLine.substr(strLine.rfind('\t') + 1)] = strLine;
    auto fields = [&](const std::string& strName) {
        std::vector<std::string> parts;
        std::istringstream line(lines[strName]);
        for (std::string strPart; std::getline(line, strPart, '\t');)
            parts.push_back(strPart);
        return parts;
    };
    ASSERT_EQ(fields("sub").size(), 6u) << ls.strOut;
    EXPECT_EQ(fields("sub")[0], "directory");
    EXPECT_EQ(fields("sub")[4], "drwxrwxrwt");
    EXPECT_EQ(fields("sub")[2].substr(0, 19), szTime) << "the folder's own time";
    EXPECT_EQ(fields("run.sh")[0], "file");
    EXPECT_EQ(fields("run.sh")[4], "-rwxr-xr-x");
    EXPECT_EQ(fields("plain")[4], "-rw-r-----");
    EXPECT_EQ(fields("link")[0], "link");
    EXPECT_EQ(fields("link")[4], "lrwxrwxrwx");
    EXPECT_EQ(fields("pipe")[0], "fifo");
    const CliResult json = cli.Run({"ls", "--format", "json", "T"});
    EXPECT_NE(json.strOut.find("\"kind\":\"fifo\""), std::string::npos) << json.strOut;
    EXPECT_NE(json.strOut.find("\"mode\":\"-rwxr-xr-x\",\"name\":\"run.sh\""), std::string::npos)
        << json.strOut;

    const CliResult changed = RunPython(tree, R"py(
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
db.execute("UPDATE files SET file_size = 5 WHERE file_name = 'plain'")
db.commit()
)py",
                                        {cli.CatalogPath("T")});
    ASSERT_EQ(changed.nExit, 0) << changed.strOut;
    const CliResult after = cli.Run({"ls", "-l", "T"});
    EXPECT_NE(after.strOut.find("file\t5\t"), std::string::npos) << after.strOut;
    EXPECT_NE(after.strOut.find(
                  "file\t" + std::to_string(fs::read_symlink(tree.Path("t/link")).string().size()) +
                  "\t"),
              std::string::npos)
        << after.strOut;
    EXPECT_EQ(cli.Run({"du", "--depth", "0", "T"}).strOut, "18\t" + strRoot + "\n");
    ASSERT_EQ(cli.Run({"reindex", "T"}).nExit, 0);
    EXPECT_NE(cli.Run({"ls", "-l", "T"}).strOut.find("link\t3\t"), std::string::npos)
        << "reindex keeps what the walk saw";

    // A byte of the stored folders changed by another program: a clear
    // error, never another folder's answer; reindex makes the tables anew.
    const CliResult damaged = RunPython(tree, R"py(
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
data = bytearray(db.execute("SELECT data FROM tree_dirs WHERE block = 0").fetchone()[0])
data[len(data) // 2] ^= 0x5a
db.execute("UPDATE tree_dirs SET data = ? WHERE block = 0", (bytes(data),))
db.commit()
)py",
                                        {cli.CatalogPath("T")});
    ASSERT_EQ(damaged.nExit, 0) << damaged.strOut;
    const CliResult refused = cli.Run({"du", "T"});
    EXPECT_EQ(refused.nExit, 2);
    EXPECT_EQ(refused.strOut, "");
    EXPECT_NE(refused.strErr.find("damaged: run kestrel-cli reindex"), std::string::npos)
        << refused.strErr;
    ASSERT_EQ(cli.Run({"reindex", "T"}).nExit, 0);
    EXPECT_EQ(cli.Run({"du", "--depth", "0", "T"}).strOut, "18\t" + strRoot + "\n");
}

// In a catalog that holds the members of archives, an archive is a folder
// too: ls lists the members of a path inside it (folders the archive lists
// and those only its members' paths imply, an archive inside it as a folder
// again), tree shows archives below their folders when asked, and du counts
// an archive as its own size, the members' sizes only inside it. The same
// tree catalogued without members lists as before.
TEST(CliBrowseTest, ArchivesOpenAsFolders) {
    TestTree tree;
    CliProcess cli;
    tree.MakeDir("t/sub");
    tree.WriteFile("t/a.txt", "hello");
    const CliResult made = RunPython(tree, R"py(
import io, sys, tarfile, zipfile
inner = io.BytesIO()
with tarfile.open(fileobj=inner, mode="w") as tar:
    for name, size in (("docs/a.md", 30), ("b.txt", 40)):
        info = tarfile.TarInfo(name)
        info.size = size
        info.mtime = 1500000000
        tar.addfile(info, io.BytesIO(b"d" * size))
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr(zipfile.ZipInfo("photos/", (2019, 5, 1, 12, 0, 0)), b"")
    z.writestr(zipfile.ZipInfo("photos/img1.jpg", (2019, 5, 1, 12, 0, 0)), b"p" * 100)
    z.writestr(zipfile.ZipInfo("photos/2019/img2.jpg", (2019, 6, 1, 12, 0, 0)), b"q" * 200)
    z.writestr(zipfile.ZipInfo("readme.txt", (2019, 7, 1, 12, 0, 0)), b"r" * 10)
    z.writestr(zipfile.ZipInfo("inner.tar", (2019, 8, 1, 12, 0, 0)), inner.getvalue())
)py",
                                     {tree.Path("t/sub/x.zip")});
    ASSERT_EQ(made.nExit, 0) << made.strOut;
    const std::string strRoot = tree.Path("t");
    const std::string strZip = strRoot + "/sub/x.zip";
    const std::string strZipSize = std::to_string(fs::file_size(strZip));
    ASSERT_EQ(cli.Run({"create", "Plain", strRoot}).nExit, 0);
    const CliResult create =
        cli.Run({"create", "--archives", "--checksum", "--archive-depth", "2", "Members", strRoot});
    ASSERT_EQ(create.nExit, 0) << create.strErr;
    const std::string strTarSize = std::to_string(
        QueryNumber(cli.CatalogPath("Members"),
                    "SELECT member_size FROM archive_members WHERE member_path = 'inner.tar'"));

    // The archive's folder holds it as a file, of kind archive.
    EXPECT_EQ(cli.Run({"ls", "Members", "sub"}).strOut, "x.zip\n");
    const CliResult holding = cli.Run({"ls", "-l", "Members", "sub"});
    EXPECT_EQ(holding.strOut.substr(0, holding.strOut.find('\t', 8) + 1),
              "archive\t" + strZipSize + "\t")
        << holding.strOut;

    // Its members, by the archive's path with "//", without, or relative.
    const std::string strTop = "photos\ninner.tar\nreadme.txt\n";
    EXPECT_EQ(cli.Run({"ls", "Members", strZip + "//"}).strOut, strTop);
    EXPECT_EQ(cli.Run({"ls", "Members", strZip}).strOut, strTop);
    EXPECT_EQ(cli.Run({"ls", "Members", "sub/x.zip//"}).strOut, strTop);
    const CliResult top = cli.Run({"ls", "-l", "Members", strZip + "//"});
    EXPECT_NE(top.strOut.find("directory\t300\t"), std::string::npos) << top.strOut;
    EXPECT_NE(top.strOut.find("archive\t" + strTarSize + "\t"), std::string::npos) << top.strOut;
    const CliResult photos = cli.Run({"ls", "--format", "json", "Members", strZip + "//photos"});
    ASSERT_EQ(photos.nExit, 0) << photos.strErr;
    EXPECT_NE(photos.strOut.find("\"kind\":\"directory\",\"size\":200"), std::string::npos)
        << photos.strOut;
    EXPECT_NE(photos.strOut.find("\"kind\":\"file\",\"size\":100,\"mtime\":\""), std::string::npos)
        << photos.strOut;
    EXPECT_NE(photos.strOut.find("\"md5\":\"f0b1b06c4c48a35d5a79a666e5377235\""), std::string::npos)
        << photos.strOut;
    EXPECT_NE(photos.strOut.find(",\"name\":\"img1.jpg\""), std::string::npos) << photos.strOut;
    EXPECT_EQ(cli.Run({"ls", "Members", strZip + "//photos/2019"}).strOut, "img2.jpg\n");
    // An archive inside the archive, opened the same way.
    EXPECT_EQ(cli.Run({"ls", "Members", strZip + "//inner.tar//"}).strOut, "docs\nb.txt\n");
    EXPECT_EQ(cli.Run({"ls", "Members", strZip + "//inner.tar//docs"}).strOut, "a.md\n");
    const CliResult inner = cli.Run({"ls", "-l", "Members", strZip + "//inner.tar"});
    EXPECT_EQ(inner.strOut.substr(0, 32), "directory\t30\t2017-07-14T02:40:00") << inner.strOut;
    EXPECT_NE(inner.strOut.find("file\t40\t2017-07-14T02:40:00"), std::string::npos)
        << inner.strOut;
    const CliResult nowhere = cli.Run({"ls", "Members", strZip + "//nowhere"});
    EXPECT_EQ(nowhere.nExit, 1);
    EXPECT_NE(nowhere.strErr.find("is no folder of the catalog 'Members'"), std::string::npos);

    // tree: archives only when asked, each as a folder named with "//".
    const std::string strTree = cli.Run({"tree", "Plain"}).strOut;
    EXPECT_EQ(cli.Run({"tree", "Members"}).strOut, strTree);
    auto humanSize = [&](const std::string& strEntry, const std::string& strPath) {
        const std::string strOut = cli.Run({"du", "-h", "--depth", "0", strEntry, strPath}).strOut;
        return strOut.substr(0, strOut.find('\t'));
    };
    EXPECT_EQ(cli.Run({"tree", "--archives", "Members", "sub"}).strOut,
              strRoot + "/sub/ (" + humanSize("Plain", "sub") + " in 1 file)\n  x.zip// (" +
                  humanSize("Members", strZip + "//") +
                  " in 4 files)\n"
                  "    inner.tar// (70 in 2 files)\n"
                  "      docs/ (30 in 1 file)\n"
                  "    photos/ (300 in 2 files)\n"
                  "      2019/ (200 in 1 file)\n");

    // du: what the disk holds, the same as without members; inside an
    // archive, the members' sizes.
    EXPECT_EQ(cli.Run({"du", "Members"}).strOut, cli.Run({"du", "Plain"}).strOut);
    EXPECT_EQ(cli.Run({"du", "--depth", "0", "Members", "sub"}).strOut,
              strZipSize + "\t" + strRoot + "/sub\n");
    EXPECT_EQ(cli.Run({"du", "Members", strZip + "//"}).strOut,
              "200\t" + strZip + "//photos/2019\n300\t" + strZip + "//photos\n" +
                  std::to_string(300 + 10 + std::stoll(strTarSize)) + "\t" + strZip + "//\n");
    EXPECT_EQ(cli.Run({"du", "Members", strZip + "//inner.tar//"}).strOut,
              "30\t" + strZip + "//inner.tar//docs\n70\t" + strZip + "//inner.tar//\n");

    // Without members nothing opens, and ls reads as it did.
    EXPECT_EQ(cli.Run({"ls", "Plain", strZip + "//"}).nExit, 1);
    EXPECT_EQ(cli.Run({"ls", "Plain", strZip}).nExit, 1);
    EXPECT_EQ(cli.Run({"ls", "Members"}).strOut, cli.Run({"ls", "Plain"}).strOut);
    EXPECT_EQ(cli.Run({"ls", "-l", "Plain", "sub"}).strOut.substr(0, 5), "file\t");

    // A catalog whose rows another program changed is read from its rows:
    // the archives open the same.
    const CliResult changed = RunPython(tree, R"py(
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
db.execute("UPDATE files SET file_size = 6 WHERE file_name = 'a.txt'")
db.commit()
)py",
                                        {cli.CatalogPath("Members")});
    ASSERT_EQ(changed.nExit, 0) << changed.strOut;
    EXPECT_EQ(cli.Run({"ls", "Members", "sub/x.zip//inner.tar//docs"}).strOut, "a.md\n");
    EXPECT_EQ(cli.Run({"ls", "-l", "Members", "sub"}).strOut.substr(0, 8), "archive\t");
}
