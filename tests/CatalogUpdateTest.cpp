// SPDX-License-Identifier: GPL-3.0-or-later

#include "scan/CatalogUpdate.h"
#include "TestTree.h"
#include "catalog/Database.h"
#include "catalog/ResultSet.h"
#include "scan/ScanJob.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

namespace {

// A file written anew with its former modification time, so only its size
// or content tells it changed.
void RewriteKeepingTime(const TestTree& tree, const std::string& strRelative,
                        const std::string& strContent) {
    struct stat st {};
    ASSERT_EQ(::stat(tree.Path(strRelative).c_str(), &st), 0);
    tree.WriteFile(strRelative, strContent);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, tree.Path(strRelative).c_str(), times, 0), 0);
}

// Every file of the catalog at strPath by its path below strStart, with its checksum.
std::map<std::string, std::string> ChecksumsByPath(const std::string& strPath,
                                                   const std::string& strStart) {
    Database database;
    database.Open(strPath, Database::OpenMode::ReadOnly);
    std::map<std::string, std::string> checksums;
    for (ResultSet rows(database.Prepare("SELECT d.dir_name, f.file_name, f.md5_checksum FROM "
                                         "files f, dirs d WHERE d.dir_id = f.dir_id"));
         !rows.IsEOF(); rows.MoveNext())
        checksums[rows.GetText(0).substr(strStart.size()) + "/" + rows.GetText(1)] =
            rows.IsNull(2) ? "" : rows.GetText(2);
    return checksums;
}

// Builds a catalog of strStart with every file's checksum.
void BuildWithChecksums(ScanJob& job, const std::string& strCatalog, const std::string& strStart) {
    job.strCatalogPath = strCatalog;
    job.strStartDir = strStart;
    job.bChecksum = true;
    job.nMaxFileSizeKb = 0;
    ScanThreadProc(&job);
}

// An update counts each file of the tree against the catalog by its path,
// size and time, lends the checksum of an unchanged file unread, reads the
// rest, and puts the new catalog in place.
TEST(CatalogUpdate, CountsEachFileAndReadsOnlyWhatChanged) {
    TestTree tree, out;
    tree.WriteFile("same.txt", "hello");
    tree.WriteFile("grow.txt", "abc");
    tree.WriteFile("touched.txt", "touch");
    tree.WriteFile("f", "a file, later a directory");
    tree.MakeDir("d");
    tree.WriteFile("d/one", "1");
    tree.WriteFile("d/two", "2");
    ScanJob job;
    BuildWithChecksums(job, out.Path("c.mdb"), tree.Root());
    ASSERT_FALSE(job.outcome.bFailed) << job.outcome.strError;

    // Same size and time, other bytes: taken as unchanged, so not read.
    RewriteKeepingTime(tree, "same.txt", "jello");
    // Another size at the same time: changed.
    RewriteKeepingTime(tree, "grow.txt", "abcdef");
    // The same bytes at another time: changed.
    struct stat st {};
    ASSERT_EQ(::stat(tree.Path("touched.txt").c_str(), &st), 0);
    const struct timespec times[2] = {st.st_atim, {st.st_mtim.tv_sec - 100, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, tree.Path("touched.txt").c_str(), times, 0), 0);
    // A file replaced by a directory of its name, a directory emptied, a new file.
    std::filesystem::remove(tree.Path("f"));
    tree.MakeDir("f");
    tree.WriteFile("f/inner", "inner");
    std::filesystem::remove(tree.Path("d/one"));
    std::filesystem::remove(tree.Path("d/two"));
    tree.WriteFile("new.txt", "new");

    CatalogUpdate update(job.strCatalogPath, {});
    ASSERT_EQ(update.StartProblem(), "");
    ScanThreadProc(&update.Job());
    ASSERT_EQ(update.Finish(), "");
    EXPECT_EQ(update.ChangesText(), "2 added, 3 removed, 2 changed, 1 unchanged files");
    EXPECT_EQ(update.Job().outcome.nChecksumsRead, 4u); // grow, touched, f/inner, new
    const std::map<std::string, std::string> expected = {{"/same.txt", Md5OfText("hello")},
                                                         {"/grow.txt", Md5OfText("abcdef")},
                                                         {"/touched.txt", Md5OfText("touch")},
                                                         {"/f/inner", Md5OfText("inner")},
                                                         {"/new.txt", Md5OfText("new")}};
    EXPECT_EQ(ChecksumsByPath(job.strCatalogPath, tree.Root()), expected);
}

// Settings given to an update replace the catalog's own: an unchanged file
// the new checksum limit leaves out drops the checksum it had, unread.
TEST(CatalogUpdate, GivenSettingsDecideWhichChecksumsStay) {
    TestTree tree, out;
    tree.WriteSizedFile("small", 1000);
    tree.WriteSizedFile("large", 3 * 1024);
    ScanJob job;
    BuildWithChecksums(job, out.Path("c.mdb"), tree.Root());
    ASSERT_EQ(job.outcome.nChecksums, 2u);

    UpdateOptions options;
    options.nMaxFileSizeKb = 1;
    CatalogUpdate limited(job.strCatalogPath, options);
    ScanThreadProc(&limited.Job());
    ASSERT_EQ(limited.Finish(), "");
    EXPECT_EQ(limited.ChangesText(), "0 added, 0 removed, 0 changed, 2 unchanged files");
    EXPECT_EQ(limited.Job().outcome.nChecksumsRead, 0u);
    const std::map<std::string, std::string> expected = {
        {"/small", Md5OfText(PatternContent(1000))}, {"/large", ""}};
    EXPECT_EQ(ChecksumsByPath(job.strCatalogPath, tree.Root()), expected);
}

} // namespace
