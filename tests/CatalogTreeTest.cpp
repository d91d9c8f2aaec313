// SPDX-License-Identifier: GPL-3.0-or-later

#include "browse/CatalogTree.h"
#include "TestTree.h"
#include "browse/TreeTables.h"
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
#include <sys/stat.h>

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

namespace {

// Every folder two trees hold, from their tops down, is the same in both:
// path, parent, totals, subfolders, files; and is found by its path.
void ExpectSameTrees(const CatalogTree& stored, const CatalogTree& computed) {
    ASSERT_EQ(stored.Tops(), computed.Tops());
    std::vector<int64_t> pending = computed.Tops();
    size_t nSeen = 0;
    while (!pending.empty()) {
        const int64_t nId = pending.back();
        pending.pop_back();
        ++nSeen;
        const TreeDir* pWant = computed.DirById(nId);
        const TreeDir* pGot = stored.DirById(nId);
        ASSERT_NE(pGot, nullptr) << nId;
        const std::string& strPath = pWant->strPath;
        EXPECT_EQ(pGot->strPath, strPath);
        EXPECT_EQ(pGot->nParentId, pWant->nParentId) << strPath;
        EXPECT_EQ(pGot->totals.nBytes, pWant->totals.nBytes) << strPath;
        EXPECT_EQ(pGot->totals.nFiles, pWant->totals.nFiles) << strPath;
        EXPECT_EQ(pGot->totals.nDirs, pWant->totals.nDirs) << strPath;
        EXPECT_EQ(pGot->totals.nNewestMtimeNs, pWant->totals.nNewestMtimeNs) << strPath;
        EXPECT_EQ(stored.DirByPath(strPath), pGot) << strPath;
        EXPECT_EQ(stored.DirByPath(strPath + "//"), pGot) << strPath;
        std::vector<int64_t> wantChildren, gotChildren;
        for (const TreeDir* pSub : computed.Subdirectories(nId))
            wantChildren.push_back(pSub->nId);
        for (const TreeDir* pSub : stored.Subdirectories(nId))
            gotChildren.push_back(pSub->nId);
        EXPECT_EQ(gotChildren, wantChildren) << strPath;
        pending.insert(pending.end(), wantChildren.begin(), wantChildren.end());
        const std::vector<TreeFile> wantFiles = computed.Files(nId), gotFiles = stored.Files(nId);
        ASSERT_EQ(gotFiles.size(), wantFiles.size()) << strPath;
        for (size_t i = 0; i < gotFiles.size(); ++i) {
            EXPECT_EQ(gotFiles[i].nId, wantFiles[i].nId);
            EXPECT_EQ(gotFiles[i].strName, wantFiles[i].strName);
            EXPECT_EQ(gotFiles[i].nSize, wantFiles[i].nSize);
            EXPECT_EQ(gotFiles[i].checksum, wantFiles[i].checksum);
            EXPECT_EQ(gotFiles[i].nMtimeNs, wantFiles[i].nMtimeNs);
        }
    }
    EXPECT_GT(nSeen, 0u);
    EXPECT_EQ(stored.DirByPath("/no/such/folder"), nullptr);
}

std::optional<uint32_t> ModeOf(const CatalogTree& tree, const std::string& strDir,
                               const std::string& strName) {
    for (const TreeFile& file : tree.Files(tree.DirByPath(strDir)->nId))
        if (file.strName == strName)
            return file.nMode;
    return std::nullopt;
}

} // namespace

// A catalog made by a walk carries folder tables that give every folder's
// totals, subfolders and files exactly as its rows do, and what each entry
// is; a catalog whose rows another program changed is read from its rows
// until it is indexed again, and reindex keeps what only the walk could see.
TEST(CatalogTree, FolderTablesGiveWhatTheRowsGive) {
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
    tree.WriteFile("tree/a/run.sh", "#!/bin/sh\n");
    fs::permissions(tree.Path("tree/a/run.sh"), fs::perms(0755));
    // Enough folders for several blocks of ids, some with files.
    for (int i = 0; i < 150; ++i) {
        tree.MakeDir("tree/many/" + std::to_string(i) + "/sub");
        if (i % 7 == 0)
            tree.WriteSizedFile("tree/many/" + std::to_string(i) + "/sub/f", i);
    }
    fs::permissions(tree.Path("tree/empty"), fs::perms(0700));
    ScanJob job;
    job.strCatalogPath = out.Path("c.mdb");
    job.strStartDir = tree.Path("tree");
    ScanThreadProc(&job);
    ASSERT_FALSE(job.outcome.bFailed) << job.outcome.strError;
    const std::string strPlain = out.Path("plain.mdb");
    auto sql = [](const std::string& strPath, const std::string& strSql) {
        Database db;
        db.Open(strPath, Database::OpenMode::ReadWrite);
        db.Execute(strSql);
    };
    sql(job.strCatalogPath, "VACUUM INTO '" + strPlain + "'");
    sql(strPlain, CatalogSql::kDropTreeTables);

    {
        Database stored, plain;
        stored.Open(job.strCatalogPath, Database::OpenMode::ReadOnly);
        plain.Open(strPlain, Database::OpenMode::ReadOnly);
        const CatalogTree storedTree(stored), computedTree(plain);
        ASSERT_TRUE(storedTree.IsStored());
        ASSERT_FALSE(computedTree.IsStored());
        ExpectSameTrees(storedTree, computedTree);
        // What each entry is, as the walk saw it.
        const std::string strA = tree.Path("tree/a");
        EXPECT_TRUE(S_ISLNK(ModeOf(storedTree, strA, "dangling").value_or(0)));
        EXPECT_TRUE(S_ISFIFO(ModeOf(storedTree, strA + "/b", "fifo").value_or(0)));
        EXPECT_EQ(ModeOf(storedTree, strA, "run.sh").value_or(0) & 07777, 0755u);
        EXPECT_TRUE(S_ISREG(ModeOf(storedTree, strA, "one").value_or(0)));
        EXPECT_FALSE(ModeOf(computedTree, strA, "one"));
        const TreeDir& empty = *storedTree.DirByPath(tree.Path("tree/empty"));
        EXPECT_EQ(empty.nMode, S_IFDIR | 0700u);
        struct stat st {};
        ASSERT_EQ(::lstat(tree.Path("tree/a/b").c_str(), &st), 0);
        EXPECT_EQ(storedTree.DirByPath(strA + "/b")->nMtimeNs,
                  int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec);
    }

    // Another program changes a size: the tables no longer hold.
    const std::string strUpdate =
        "UPDATE files SET file_size = file_size + 1000 WHERE file_name = 'deep'";
    for (const std::string& strPath : {job.strCatalogPath, strPlain})
        ASSERT_EQ(
            std::system(("python3 -c \"import sqlite3, sys; c = sqlite3.connect(sys.argv[1]); "
                         "c.execute(\\\"" +
                         strUpdate + "\\\"); c.commit()\" '" + strPath + "'")
                            .c_str()),
            0);
    {
        Database stored, plain;
        stored.Open(job.strCatalogPath, Database::OpenMode::ReadOnly);
        plain.Open(strPlain, Database::OpenMode::ReadOnly);
        const CatalogTree changedTree(stored), computedTree(plain);
        EXPECT_FALSE(changedTree.IsStored());
        EXPECT_EQ(changedTree.DirByPath(tree.Path("tree"))->totals.nBytes,
                  computedTree.DirByPath(tree.Path("tree"))->totals.nBytes);
        ExpectSameTrees(changedTree, computedTree);
    }
    {
        Database stored;
        stored.Open(job.strCatalogPath, Database::OpenMode::ReadWrite);
        stored.BeginTransaction();
        RebuildTreeTables(stored);
        stored.Commit();
    }
    Database stored, plain;
    stored.Open(job.strCatalogPath, Database::OpenMode::ReadOnly);
    plain.Open(strPlain, Database::OpenMode::ReadOnly);
    const CatalogTree reindexed(stored), computedTree(plain);
    ASSERT_TRUE(reindexed.IsStored());
    ExpectSameTrees(reindexed, computedTree);
    EXPECT_TRUE(S_ISFIFO(ModeOf(reindexed, tree.Path("tree/a/b"), "fifo").value_or(0)));
    EXPECT_EQ(reindexed.DirByPath(tree.Path("tree/empty"))->nMode, S_IFDIR | 0700u);
}

// reindex gives a catalog of another program folder tables too: one without
// file times, whose paths are not all in the normal form; a path typed in
// another form is still found, and the answers are those of its rows.
TEST(CatalogTree, ReindexedCatalogsOfOtherProgramsGiveTheSameTree) {
    TestTree out;
    const std::string strPath = out.Path("other.mdb"), strPlain = out.Path("plain.mdb");
    {
        Database db;
        ASSERT_TRUE(CreateCatalog(db, strPath));
        db.Execute("ALTER TABLE files DROP COLUMN file_mtime");
        RowAppender dirs(db, CatalogSql::kInsertDir);
        RowAppender files(db, "INSERT INTO files(dir_id, file_name, file_size, md5_checksum) "
                              "VALUES (?, ?, ?, ?)");
        const int64_t nTop = dirs.Append({std::string_view("/m/")});
        const int64_t nDeep = dirs.Append({std::string_view("/m/x/y")});
        dirs.Append({std::string_view("/m/x/y/z//")});
        files.Append({nTop, std::string_view("f"), int64_t{10}, std::string_view("abc")});
        files.Append({nDeep, std::string_view("g"), int64_t{-4}, FieldValue{}});
        files.Append({nDeep, std::string_view("h"), int64_t{6442450944}, FieldValue{}});
        db.Execute("VACUUM INTO '" + strPlain + "'");
        db.BeginTransaction();
        RebuildTreeTables(db);
        db.Commit();
    }
    Database stored, plain;
    stored.Open(strPath, Database::OpenMode::ReadOnly);
    plain.Open(strPlain, Database::OpenMode::ReadOnly);
    const CatalogTree storedTree(stored), computedTree(plain);
    ASSERT_TRUE(storedTree.IsStored());
    ExpectSameTrees(storedTree, computedTree);
    EXPECT_EQ(storedTree.DirByPath("/m")->strPath, "/m/");
    EXPECT_EQ(storedTree.DirByPath("/m/x/y/z")->totals.nFiles, 0u);
    EXPECT_EQ(storedTree.DirByPath("/m")->totals.nBytes, ByteTotal{10} + 6442450944);
    EXPECT_FALSE(storedTree.DirByPath("/m")->totals.nNewestMtimeNs);
}
