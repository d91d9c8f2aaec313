// SPDX-License-Identifier: GPL-3.0-or-later

// A search through the name index gives exactly the hits, in the same order,
// of a pass over every row; and the index is used where it can be.
#include "catalog/NameIndex.h"
#include "TestTree.h"
#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/ResultSet.h"
#include "catalog/RowAppender.h"
#include "scan/ScanJob.h"
#include "search/CatalogHits.h"
#include "search/SearchDriver.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <random>

namespace {

class NameIndexTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Names of many kinds, in enough folders to fill many blocks of rows.
        const std::vector<std::string> words = {"report",
                                                "Holiday",
                                                "IMG_",
                                                "invoice_2023",
                                                "café",
                                                "CAFÉ",
                                                "Straße",
                                                "STRASSE",
                                                "ΑΘΗΝΑ",
                                                "αθηνα",
                                                "Дом",
                                                "дом",
                                                "notes",
                                                "project_src",
                                                "a\xff\xfe"
                                                "b",
                                                "x"};
        const std::vector<std::string> exts = {".txt", ".JPG", ".pdf", ".tar.gz", "", ".Doc"};
        std::mt19937 random(11);
        for (int d = 0; d < 60; ++d) {
            const std::string strDir =
                Concat({"d", std::to_string(d % 7), "/", words[random() % words.size()], " ",
                        std::to_string(d)});
            m_tree.MakeDir(strDir);
            const int nFiles = 10 + static_cast<int>(random() % 80);
            for (int f = 0; f < nFiles; ++f) {
                std::string strName = words[random() % words.size()];
                strName += Concat({"_", std::to_string(random() % 100000)});
                strName += exts[random() % exts.size()];
                m_names.push_back(strName);
                m_tree.WriteFile(strDir + "/" + strName, "");
            }
            m_names.push_back(strDir);
        }
        ScanJob job;
        job.strCatalogPath = m_tree.Path("indexed.mdb");
        job.strStartDir = m_tree.Path("d0/..");
        ScanThreadProc(&job);
        ASSERT_FALSE(job.outcome.bFailed) << job.outcome.strError;
        // The same catalog without its index, as an earlier Kestrel made it.
        std::filesystem::copy_file(m_tree.Path("indexed.mdb"), m_tree.Path("plain.mdb"));
        Database plain;
        plain.Open(m_tree.Path("plain.mdb"), Database::OpenMode::ReadWrite);
        plain.Execute("DROP TABLE name_index_meta; DROP TABLE name_index_files; "
                      "DROP TABLE name_index_dirs; DROP TABLE name_index_dir_files;");
    }

    std::vector<std::string> Hits(const std::string& strCatalog, int nMode,
                                  const std::string& strPattern) {
        std::vector<std::string> hits;
        SearchQuery query;
        query.mode = static_cast<SearchMode>(nMode);
        query.strPattern = strPattern;
        RunSearch(m_tree.Root() + "/", {m_tree.Path(strCatalog)}, query,
                  [&](size_t, std::unique_ptr<HitStream> stream) {
                      for (; !stream->IsEOF(); stream->MoveNext())
                          hits.push_back(std::string(stream->Hit().path));
                  });
        return hits;
    }

    bool UsesIndex(int nMode, const std::string& strPattern) {
        Database db;
        db.Open(m_tree.Path("indexed.mdb"), Database::OpenMode::ReadOnly);
        return IndexedCandidates(db, static_cast<SearchMode>(nMode), strPattern).has_value();
    }

    TestTree m_tree;
    std::vector<std::string> m_names;
};

} // namespace

TEST_F(NameIndexTest, IndexedSearchesGiveTheHitsOfAPassOverEveryRow) {
    std::vector<std::string> patterns = {"*.txt",
                                         "*report*",
                                         "*REPORT_1*",
                                         "report*",
                                         "*café*",
                                         "*cafe*",
                                         "*CAFÉ_#*",
                                         "*straße*",
                                         "*STRASSE*",
                                         "*αθηνα*",
                                         "*ДОМ*",
                                         "*invoice_2023*",
                                         "*[ab]*x*",
                                         "*\xff\xfe*",
                                         "*holiday ?*",
                                         "*/d3/*",
                                         "*project_src_1####*",
                                         "*o*",
                                         "*",
                                         "x_*",
                                         "*[!a-z]_#*.pdf",
                                         "*.tar.gz",
                                         "*notes 1*"};
    // And pieces of real names and paths, in other letter cases, some with a
    // character left open.
    std::mt19937 random(23);
    for (int i = 0; i < 300; ++i) {
        const std::string& strName = m_names[random() % m_names.size()];
        const size_t nLength = 3 + random() % 6;
        if (strName.size() < nLength)
            continue;
        std::string strPiece = strName.substr(random() % (strName.size() - nLength + 1), nLength);
        for (char& c : strPiece)
            if (random() % 2 && c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        if (random() % 4 == 0)
            strPiece[random() % strPiece.size()] = '?';
        patterns.push_back((random() % 3 ? "*" : "") + strPiece + (random() % 3 ? "*" : ""));
    }
    int nIndexed = 0;
    for (const std::string& strPattern : patterns) {
        for (const int nMode : {kSearchBoth, kSearchFiles, kSearchDirs}) {
            EXPECT_EQ(Hits("indexed.mdb", nMode, strPattern), Hits("plain.mdb", nMode, strPattern))
                << strPattern << " mode " << nMode;
            nIndexed += UsesIndex(nMode, strPattern);
        }
    }
    // Selective patterns do go through the index; "*" and "*o*" cannot.
    EXPECT_GT(nIndexed, 500);
    EXPECT_TRUE(UsesIndex(kSearchFiles, "*" + m_names[0] + "*"));
    EXPECT_FALSE(UsesIndex(kSearchFiles, "*"));
    EXPECT_FALSE(UsesIndex(kSearchFiles, "*o*"));
}

TEST_F(NameIndexTest, AnIndexThatDoesNotCoverEveryRowIsNotUsed) {
    const std::string strPattern = "*" + m_names[0] + "*";
    ASSERT_TRUE(UsesIndex(kSearchFiles, strPattern));
    const std::vector<std::string> before = Hits("indexed.mdb", kSearchFiles, strPattern);
    {
        // Another program adds a row after the index was built.
        Database db;
        db.Open(m_tree.Path("indexed.mdb"), Database::OpenMode::ReadWrite);
        RowAppender files(db, CatalogSql::kInsertFile);
        const std::string strLate = "late " + m_names[0];
        files.Append(
            {int64_t{1}, std::string_view(strLate), int64_t{1}, FieldValue{}, FieldValue{}});
    }
    EXPECT_FALSE(UsesIndex(kSearchFiles, strPattern));
    const std::vector<std::string> after = Hits("indexed.mdb", kSearchFiles, strPattern);
    EXPECT_EQ(after.size(), before.size() + 1);
    {
        Database db;
        db.Open(m_tree.Path("indexed.mdb"), Database::OpenMode::ReadWrite);
        db.BeginTransaction();
        RebuildNameIndex(db);
        db.Commit();
    }
    EXPECT_TRUE(UsesIndex(kSearchFiles, strPattern));
    EXPECT_EQ(Hits("indexed.mdb", kSearchFiles, strPattern), after);
}
