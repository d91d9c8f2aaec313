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
