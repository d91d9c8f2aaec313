// SPDX-License-Identifier: GPL-3.0-or-later

// The questions asked of finished catalogs, through the core's own functions:
// the order and kinds of a diff's lines, how duplicates are grouped, and what
// a verify calls each kind of change. The catalogs are built by the scan
// worker from trees made here.
#include "TestTree.h"
#include "audit/Diff.h"
#include "audit/Duplicates.h"
#include "audit/Verify.h"
#include "catalog/Database.h"
#include "scan/ScanJob.h"

#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class AuditTest : public ::testing::Test {
protected:
    // A catalog of the start directory, built as create builds it, open for reading.
    std::unique_ptr<Database> Catalog(const std::string& strStartDir, bool bChecksum = true,
                                      int32_t nLimitKb = 100) {
        ScanJob job;
        job.strCatalogPath = m_out.Path(Concat({"c", std::to_string(++m_nCatalogs), ".mdb"}));
        job.strStartDir = strStartDir;
        job.bChecksum = bChecksum;
        job.nMaxFileSizeKb = nLimitKb;
        ScanThreadProc(&job);
        m_strLastCatalog = job.strCatalogPath;
        EXPECT_FALSE(job.outcome.bFailed) << job.outcome.strError;
        auto pDb = std::make_unique<Database>();
        pDb->Open(job.strCatalogPath, Database::OpenMode::ReadOnly);
        return pDb;
    }

    // Each line as "status path", and the lines themselves.
    std::vector<std::string> Diff(Database& oldDb, Database& newDb, DiffCounts* pCounts = nullptr,
                                  std::vector<DiffLine>* pLines = nullptr) {
        std::vector<std::string> lines;
        const DiffCounts counts =
            DiffCatalogs(oldDb, newDb, pLines != nullptr, [&](const DiffLine& line) {
                lines.push_back(std::string(1, line.cStatus) + " " + line.strPath);
                EXPECT_EQ(line.bDirectory, line.strPath.back() == '/') << line.strPath;
                if (pLines)
                    pLines->push_back(line);
            });
        if (pCounts)
            *pCounts = counts;
        return lines;
    }

    TestTree m_tree, m_out;
    int m_nCatalogs = 0;
    std::string m_strLastCatalog;
};

const DiffLine* LineOf(const std::vector<DiffLine>& lines, const std::string& strPath) {
    for (const DiffLine& line : lines)
        if (line.strPath == strPath)
            return &line;
    return nullptr;
}

} // namespace

TEST_F(AuditTest, DiffGoesInByteOrderAndTellsAFileFromTheDirectoryThatReplacedIt) {
    // Names that sort otherwise when letter case is folded or bytes are
    // signed: the same on both sides, they must give no line at all.
    for (const char* pszSide : {"old", "new"}) {
        const std::string strSide = pszSide;
        for (const char* pszDir : {"Zeta", "zeta", "a"})
            m_tree.MakeDir(Concat({strSide, "/", pszDir}));
        for (const char* pszFile :
             {"B.txt", "a.txt", "Zeta/z", "zeta/z", "a/k", "\xc3\xa9", "\xff"})
            m_tree.WriteFile(Concat({strSide, "/", pszFile}), pszFile);
    }
    m_tree.WriteFile("old/B only", "b");
    m_tree.WriteFile("old/a b", "ab");
    m_tree.WriteFile("new/a only", "a");
    m_tree.WriteFile("new/a.b", "a.b");
    m_tree.MakeDir("new/b");
    m_tree.WriteFile("new/b/in", "in");
    m_tree.WriteFile("old/m", "1");
    m_tree.WriteFile("new/m", "22");
    m_tree.WriteFile("old/n", "same size");
    m_tree.WriteFile("new/n", "SAME SIZE");
    // One side's name comes first by bytes, the other's when case is folded
    // or bytes are taken as signed.
    m_tree.MakeDir("old/s");
    m_tree.MakeDir("new/s");
    m_tree.WriteFile("old/s/Q", "q");
    m_tree.WriteFile("old/s/\xff", "f");
    m_tree.WriteFile("new/s/b", "b");
    m_tree.WriteFile("new/s/z", "z");
    m_tree.WriteFile("old/x", "a file");
    m_tree.MakeDir("new/x");
    m_tree.WriteFile("new/x/in", "in");
    m_tree.MakeDir("old/y");
    m_tree.WriteFile("old/y/in", "in");
    m_tree.WriteFile("new/y", "a file now");
    m_tree.WriteFile("old/\xc3\xa9-old", "e");
    m_tree.WriteFile("new/\xff-new", "f");
    auto pOld = Catalog(m_tree.Path("old"));
    auto pNew = Catalog(m_tree.Path("new"));

    DiffCounts counts;
    std::vector<DiffLine> lines;
    EXPECT_EQ(Diff(*pOld, *pNew, &counts, &lines),
              (std::vector<std::string>{
                  "D B only", "D a b", "A a only", "A a.b",  "A b/",           "A b/in",    "M m",
                  "M n",      "D s/Q", "A s/b",    "A s/z",  "D s/\xff",       "D x",       "A x/",
                  "A x/in",   "A y",   "D y/",     "D y/in", "D \xc3\xa9-old", "A \xff-new"}));
    EXPECT_EQ(counts.nFilesAdded, 8u);
    EXPECT_EQ(counts.nFilesDeleted, 7u);
    EXPECT_EQ(counts.nFilesModified, 2u);
    EXPECT_EQ(counts.nDirsAdded, 2u);
    EXPECT_EQ(counts.nDirsDeleted, 1u);

    // What a line carries: the sizes of the sides it is on, the full paths
    // and the checksums as each catalog holds them.
    const DiffLine* pLine = LineOf(lines, "m");
    ASSERT_TRUE(pLine);
    EXPECT_EQ(pLine->nOldSize, 1);
    EXPECT_EQ(pLine->nNewSize, 2);
    pLine = LineOf(lines, "n");
    ASSERT_TRUE(pLine);
    EXPECT_EQ(pLine->nOldSize, 9);
    EXPECT_EQ(pLine->nNewSize, 9);
    EXPECT_EQ(pLine->strOldPath, m_tree.Path("old/n"));
    EXPECT_EQ(pLine->strNewPath, m_tree.Path("new/n"));
    EXPECT_EQ(pLine->strOldChecksum, Md5OfText("same size"));
    EXPECT_EQ(pLine->strNewChecksum, Md5OfText("SAME SIZE"));
    pLine = LineOf(lines, "x");
    ASSERT_TRUE(pLine);
    EXPECT_EQ(pLine->nOldSize, 6);
    EXPECT_EQ(pLine->nNewSize, std::nullopt);
    EXPECT_EQ(pLine->strOldPath, m_tree.Path("old/x"));
    EXPECT_EQ(pLine->strNewPath, "");
    pLine = LineOf(lines, "x/");
    ASSERT_TRUE(pLine);
    EXPECT_EQ(pLine->nOldSize, std::nullopt);
    EXPECT_EQ(pLine->nNewSize, std::nullopt);

    // Reversed, every A is a D and the order stays.
    EXPECT_EQ(Diff(*pNew, *pOld),
              (std::vector<std::string>{
                  "A B only", "A a b", "D a only", "D a.b",  "D b/",           "D b/in",    "M m",
                  "M n",      "A s/Q", "D s/b",    "D s/z",  "A s/\xff",       "A x",       "D x/",
                  "D x/in",   "D y",   "A y/",     "A y/in", "A \xc3\xa9-old", "D \xff-new"}));
    // Other spellings of the same start directory compare alike.
    auto pOldSlashed = Catalog("/" + m_tree.Path("old") + "/");
    EXPECT_EQ(Diff(*pOld, *pOldSlashed), std::vector<std::string>{});
    // Without a checksum on one side, a file of the same size is no change.
    auto pNewUnsummed = Catalog(m_tree.Path("new"), false);
    const std::vector<std::string> unsummed = Diff(*pOld, *pNewUnsummed);
    EXPECT_NE(std::find(unsummed.begin(), unsummed.end(), "M m"), unsummed.end());
    EXPECT_EQ(std::find(unsummed.begin(), unsummed.end(), "M n"), unsummed.end());
}

TEST_F(AuditTest, DuplicatesAreTheSameSizeAndChecksumWithTheMostWastefulFirst) {
    m_tree.MakeDir("one/sub");
    m_tree.MakeDir("two/sub");
    m_tree.WriteFile("one/a", "same");
    m_tree.WriteFile("one/sub/a copy", "same");
    m_tree.WriteFile("two/a again", "same");
    m_tree.WriteFile("two/tampered", "same");
    m_tree.WriteFile("one/d", "diff"); // the same size, another checksum
    m_tree.WriteFile("one/e1", "");
    m_tree.WriteFile("one/sub/e2", "");
    m_tree.WriteFile("two/e3", "");
    const std::string strK(1000, 'k'), strP(500, 'p'), strBig(3000, 'b');
    m_tree.WriteFile("one/k1", strK);
    m_tree.WriteFile("one/sub/k2", strK); // waste 1000
    m_tree.WriteFile("one/p3", strP);
    m_tree.WriteFile("two/p1", strP);
    m_tree.WriteFile("two/sub/p2", strP); // waste 1000 too, in smaller files
    m_tree.WriteFile("one/big1", strBig); // over the 1 KB limit: no checksums
    m_tree.WriteFile("one/sub/big2", strBig);
    std::vector<std::unique_ptr<Database>> catalogs;
    catalogs.push_back(Catalog(m_tree.Path("one"), true, 1));
    catalogs.push_back(Catalog(m_tree.Path("two"), true, 1));
    {
        // As another program may have written them: a checksum in capitals,
        // and a size that does not belong to the content.
        Database db;
        db.Open(m_strLastCatalog, Database::OpenMode::ReadWrite);
        db.Execute(
            "UPDATE files SET md5_checksum = upper(md5_checksum) WHERE file_name = 'a again';"
            "UPDATE files SET file_size = 5 WHERE file_name = 'tampered'");
    }

    auto groups = [&](int64_t nMinSize) {
        std::vector<std::string> result;
        const uint64_t nGroups =
            FindDuplicates(catalogs, nMinSize, [&](const DuplicateGroup& group) {
                std::string strGroup =
                    Concat({std::to_string(group.nSize), " ", group.strChecksum});
                for (const DuplicateGroup::Member& member : group.members)
                    strGroup += Concat({" ", std::to_string(member.nCatalog), ":", member.strPath});
                strGroup +=
                    Concat({" waste ", std::to_string(static_cast<uint64_t>(group.Waste()))});
                result.push_back(strGroup);
            });
        EXPECT_EQ(nGroups, result.size());
        return result;
    };
    const std::string strK1 = m_tree.Path("one/k1"), strK2 = m_tree.Path("one/sub/k2");
    const std::string strKGroup =
        Concat({"1000 ", Md5OfText(strK), " 0:", strK1, " 0:", strK2, " waste 1000"});
    const std::string strPGroup =
        Concat({"500 ", Md5OfText(strP), " 0:", m_tree.Path("one/p3"), " 1:", m_tree.Path("two/p1"),
                " 1:", m_tree.Path("two/sub/p2"), " waste 1000"});
    const std::string strSameGroup = Concat({"4 ", Md5OfText("same"), " 0:", m_tree.Path("one/a"),
                                             " 0:", m_tree.Path("one/sub/a copy"),
                                             " 1:", m_tree.Path("two/a again"), " waste 8"});
    EXPECT_EQ(groups(0), (std::vector<std::string>{strKGroup, strPGroup, strSameGroup}));
    EXPECT_EQ(groups(1), groups(0));
    EXPECT_EQ(groups(500), (std::vector<std::string>{strKGroup, strPGroup}));
    EXPECT_EQ(groups(501), (std::vector<std::string>{strKGroup}));
    EXPECT_EQ(groups(1001), std::vector<std::string>{});

    // Without checksums nothing is a duplicate, whatever the files hold.
    catalogs.clear();
    catalogs.push_back(Catalog(m_tree.Path("one"), false));
    EXPECT_EQ(groups(0), std::vector<std::string>{});
}

TEST_F(AuditTest, VerifyTellsEachKindOfChangeApartWithoutFollowingLinks) {
    m_tree.WriteFile("same", "unchanged");
    m_tree.WriteFile("edited", "original");
    m_tree.WriteFile("grown", "short");
    m_tree.WriteFile("removed", "bye");
    m_tree.WriteFile("now a dir", "x");
    m_tree.WriteFile("now a link", "unchanged");       // becomes a link to "same", of another size
    m_tree.WriteFile("now a link, same size", "abcd"); // becomes a link to "same": 4 bytes too
    m_tree.WriteFile("big", std::string(3000, 'b'));   // over the 1 KB limit: no checksum
    m_tree.WriteFile("big grown", std::string(3000, 'g'));
    m_tree.MakeSymlink("same", "link");
    m_tree.MakeFifo("fifo");
    for (const char* pszDir : {"loop", "gone", "as file"}) {
        m_tree.MakeDir(pszDir);
        m_tree.WriteFile(Concat({pszDir, "/inside"}), "in");
    }
    auto pDb = Catalog(m_tree.Root(), true, 1);
    auto check = [&] {
        std::map<std::string, VerifyResult> results;
        VerifyCatalog(*pDb, [&](const std::string& strPath, VerifyResult result) {
            EXPECT_TRUE(results.emplace(strPath.substr(m_tree.Root().size() + 1), result).second)
                << strPath;
        });
        return results;
    };
    using R = VerifyResult;
    std::map<std::string, VerifyResult> expected = {
        {"same", R::Unchanged},
        {"edited", R::Unchanged},
        {"grown", R::Unchanged},
        {"removed", R::Unchanged},
        {"now a dir", R::Unchanged},
        {"now a link", R::Unchanged},
        {"now a link, same size", R::Unchanged},
        {"big", R::NotChecked},
        {"big grown", R::NotChecked},
        {"link", R::NotChecked},
        {"fifo", R::NotChecked},
        {"loop/inside", R::Unchanged},
        {"gone/inside", R::Unchanged},
        {"as file/inside", R::Unchanged},
    };
    EXPECT_EQ(check(), expected);

    m_tree.WriteFile("edited", "ORIGINAL");
    m_tree.WriteFile("grown", "longer now");
    ASSERT_EQ(::unlink(m_tree.Path("removed").c_str()), 0);
    ASSERT_EQ(::unlink(m_tree.Path("now a dir").c_str()), 0);
    m_tree.MakeDir("now a dir");
    for (const char* pszLink : {"now a link", "now a link, same size"}) {
        ASSERT_EQ(::unlink(m_tree.Path(pszLink).c_str()), 0);
        m_tree.MakeSymlink("same", pszLink);
    }
    m_tree.WriteFile("big grown", std::string(3001, 'g'));
    // A directory replaced by a link (to itself: it could not be entered
    // through it either), one that is gone, one that is a file now.
    ASSERT_EQ(::unlink(m_tree.Path("loop/inside").c_str()), 0);
    ASSERT_EQ(::rmdir(m_tree.Path("loop").c_str()), 0);
    m_tree.MakeSymlink("loop", "loop");
    ASSERT_EQ(::unlink(m_tree.Path("gone/inside").c_str()), 0);
    ASSERT_EQ(::rmdir(m_tree.Path("gone").c_str()), 0);
    ASSERT_EQ(::unlink(m_tree.Path("as file/inside").c_str()), 0);
    ASSERT_EQ(::rmdir(m_tree.Path("as file").c_str()), 0);
    m_tree.WriteFile("as file", "a file");
    expected = {
        {"same", R::Unchanged},
        {"edited", R::Changed},
        {"grown", R::Changed},
        {"removed", R::NotFound},
        {"now a dir", R::NotFound},
        // A link is looked at, not what it points to: the other size tells
        // a change; of the same size it is no regular file to compare.
        {"now a link", R::Changed},
        {"now a link, same size", R::NotChecked},
        {"big", R::NotChecked},
        {"big grown", R::Changed},
        {"link", R::NotChecked},
        {"fifo", R::NotChecked},
        {"loop/inside", R::NotFound}, // a link is no catalogued folder
        {"gone/inside", R::NotFound},
        {"as file/inside", R::NotFound},
    };
    EXPECT_EQ(check(), expected);
}
