#include "browse/CatalogTree.h"
#include "TestTree.h"
#include "catalog/Catalog.h"
#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/RowAppender.h"
#include "scan/ScanJob.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>

namespace fs = std::filesystem;

// Every folder of a catalog of an awkward tree has the children and totals
// the disk has.
TEST(CatalogTree, FoldersAndTotalsAreWhatTheDiskSays) {
    TestTree tree, out;
    tree.MakeDir("tree/empty");
    tree.MakeDir("tree/a/b/c");
    tree.WriteSizedFile("tree/a/b/c/deep", 5000);
    tree.WriteSizedFile("tree/a/one", 1);
    tree.WriteFile("tree/a/b/zero", "");
    tree.WriteFile("tree/with\nnewline", "x");
    tree.WriteFile("tree/bad\xff name", "yy");
    tree.MakeDir("tree/A");
    tree.WriteSizedFile("tree/A/upper", 70000);
    tree.MakeSymlink("a", "tree/link to a");
    tree.MakeSymlink("nowhere", "tree/a/dangling");
    tree.MakeFifo("tree/a/b/fifo");
    ScanJob job;
    job.strCatalogPath = out.Path("c.mdb");
    job.strStartDir = tree.Path("tree");
    ScanThreadProc(&job);
    ASSERT_FALSE(job.outcome.bFailed) << job.outcome.strError;

    Database database;
    database.Open(job.strCatalogPath, Database::OpenMode::ReadOnly);
    const CatalogTree catalog(database);
    const std::map<std::string, DiskTotals> disk = WalkDisk(tree.Path("tree"));
    ASSERT_EQ(catalog.Tops().size(), 1u);
    EXPECT_EQ(catalog.DirById(catalog.Tops()[0])->strPath, tree.Path("tree"));
    for (const auto& [strPath, expected] : disk) {
        const TreeDir* pDir = catalog.DirByPath(strPath);
        ASSERT_NE(pDir, nullptr) << strPath;
        EXPECT_EQ(pDir, catalog.DirByPath(strPath + "//")) << "another spelling";
        EXPECT_EQ(pDir->totals.nBytes, expected.nBytes) << strPath;
        EXPECT_EQ(pDir->totals.nFiles, expected.nFiles) << strPath;
        EXPECT_EQ(pDir->totals.nDirs, expected.nDirs) << strPath;
        std::set<std::string> subdirectories, files;
        for (const TreeDir* pSub : catalog.Subdirectories(pDir->nId)) {
            EXPECT_EQ(*pSub->nParentId, pDir->nId);
            subdirectories.insert(fs::path(pSub->strPath).filename().string());
        }
        for (const TreeFile& file : catalog.Files(pDir->nId))
            files.insert(file.strName);
        EXPECT_EQ(subdirectories, expected.subdirectories) << strPath;
        EXPECT_EQ(files, expected.files) << strPath;
    }
    EXPECT_EQ(catalog.DirByPath(tree.Path("tree/missing")), nullptr);
}

// A catalog of another program: parents missing, a path stored twice,
// negative and unknown sizes, no file times.
TEST(CatalogTree, RowsOfOtherProgramsMakeATreeToo) {
    TestTree out;
    int64_t nTwice = 0;
    {
        Database db;
        ASSERT_TRUE(CreateCatalog(db, out.Path("other.mdb")));
        db.Execute("ALTER TABLE files DROP COLUMN file_mtime");
        RowAppender dirs(db, CatalogSql::kInsertDir);
        RowAppender files(db, "INSERT INTO files(dir_id, file_name, file_size, md5_checksum) "
                              "VALUES (?, ?, ?, ?)");
        const int64_t nTop = dirs.Append({std::string_view("/m")});
        const int64_t nDeep = dirs.Append({std::string_view("/m/x/y")}); // /m/x is not stored
        nTwice = dirs.Append({std::string_view("/m/x/y/")});
        const int64_t nAlone = dirs.Append({std::string_view("/elsewhere")});
        files.Append({nTop, std::string_view("f"), int64_t{10}, std::string_view("abc")});
        files.Append({nDeep, std::string_view("g"), int64_t{-4}, FieldValue{}});
        files.Append({nTwice, std::string_view("h"), int64_t{6442450944}, FieldValue{}});
        files.Append({nAlone, std::string_view("i"), FieldValue{}, FieldValue{}});
    }
    Database database;
    database.Open(out.Path("other.mdb"), Database::OpenMode::ReadOnly);
    const CatalogTree catalog(database);
    ASSERT_EQ(catalog.Tops().size(), 2u);
    const TreeDir& top = *catalog.DirByPath("/m");
    EXPECT_EQ(top.totals.nBytes, ByteTotal{10} + 6442450944);
    EXPECT_EQ(top.totals.nFiles, 3u);
    EXPECT_EQ(top.totals.nDirs, 1u);
    EXPECT_FALSE(top.totals.nNewestMtimeNs);
    const std::vector<const TreeDir*> below = catalog.Subdirectories(top.nId);
    ASSERT_EQ(below.size(), 1u); // both rows of /m/x/y are one folder below /m
    EXPECT_EQ(catalog.DirByPath("/m/x/y")->strPath, "/m/x/y");
    EXPECT_EQ(catalog.DirById(nTwice), catalog.DirByPath("/m/x/y"));
    EXPECT_EQ(catalog.DirByPath("/m/x/y")->totals.nFiles, 2u);
    EXPECT_EQ(catalog.Files(nTwice).size(), 2u);
    const std::vector<TreeFile> files = catalog.Files(top.nId);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].checksum, "abc");
    EXPECT_EQ(files[0].nSize, 10);
    EXPECT_FALSE(catalog.Files(catalog.DirByPath("/m/x/y")->nId)[0].nSize);
    EXPECT_EQ(catalog.DirByPath("/elsewhere")->totals.nFiles, 1u);
    EXPECT_EQ(catalog.DirByPath("/elsewhere")->totals.nFiles, 1u);
}

// Tables without keys or types: an id stored twice (also as 1 and '1'), files
// of no folder, a folder far below its nearest stored one. Each folder is
// one node, nothing is counted twice or where ls cannot show it.
TEST(CatalogTree, TablesWithoutKeysGiveATreeOfEachFolderOnce) {
    TestTree out;
    Database db;
    out.WriteFile("loose.mdb", "");
    db.Open(out.Path("loose.mdb"), Database::OpenMode::ReadWrite);
    std::string strDeep = "/r";
    for (int i = 0; i < 20000; ++i)
        strDeep += "/d";
    db.Execute("CREATE TABLE dirs(dir_id, dir_name); CREATE TABLE files(file_id, dir_id, "
               "file_name, file_size, md5_checksum);"
               "INSERT INTO dirs VALUES (1, '/r'), (1, '/r/x'), ('1', '/r/y'), (2, '/r/z'),"
               " (3, '" +
               strDeep +
               "');"
               "INSERT INTO files VALUES (1, 1, 'a', 1, NULL), (2, NULL, 'b', 10, NULL),"
               " (3, '2x', 'c', 100, NULL), (4, 2.5, 'd', 1000, NULL), (5, 3, 'e', 5, NULL);");
    const CatalogTree catalog(db);
    ASSERT_EQ(catalog.Tops().size(), 1u);
    const TreeDir& top = *catalog.DirById(catalog.Tops()[0]);
    EXPECT_EQ(top.strPath, "/r");
    EXPECT_EQ(top.totals.nBytes, 6u);
    EXPECT_EQ(top.totals.nFiles, 2u);
    EXPECT_EQ(top.totals.nDirs, 2u); // /r/z and the deep one, hanging right below /r
    EXPECT_EQ(catalog.DirByPath("/r/x"), nullptr);
    EXPECT_EQ(catalog.Subdirectories(top.nId).size(), 2u);
    EXPECT_EQ(catalog.Files(2).size(), 0u);
}
