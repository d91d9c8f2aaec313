// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/SearchHandover.h"
#include "TestTree.h"
#include "catalog/Catalog.h"
#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "catalog/RowAppender.h"
#include "search/HitStream.h"
#include "search/ResultRow.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

struct DirSpec {
    std::string strPath;
    std::vector<std::string> files;
};

class SearchHandoverTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_tree.MakeDir("app");
        m_strApp = m_tree.Path("app") + "/";
        g_nResultAction = 0;
        g_pSearchRecordset.reset();
    }

    // A catalog in the data folder named strName with the given rows.
    void MakeCatalog(const std::string& strName, const std::vector<DirSpec>& dirs) {
        Database db;
        ASSERT_TRUE(CreateCatalog(db, m_strApp + strName + ".mdb"));
        RowAppender dirRows(db, CatalogSql::kInsertDir);
        RowAppender fileRows(db, CatalogSql::kInsertFile);
        for (const DirSpec& dir : dirs) {
            const int64_t nId = dirRows.Append({std::string_view(dir.strPath)});
            for (const std::string& strFile : dir.files)
                fileRows.Append(
                    {nId, std::string_view(strFile), int64_t{1}, FieldValue{}, FieldValue{}});
        }
    }

    // Runs a search; returns "path|database" for each row delivered, and the
    // actions seen at each delivery.
    std::vector<std::string> Search(const std::vector<std::string>& entries, SearchMode nMode,
                                    const std::string& strText) {
        std::vector<std::string> rows;
        m_actions.clear();
        SearchCatalogs(m_strApp, entries, nMode, strText, [&] {
            m_actions.push_back(TakeSearchHits(
                [&](ResultRow&& row) { rows.push_back(row.strPath + "|" + row.strDatabase); }));
        });
        return rows;
    }

    void MakeMixedCatalog() {
        MakeCatalog("mixed", {{"/data", {"A.TXT", "b.txt", "c.doc"}},
                              {"/data/Notes.Txt", {"inside.doc"}},
                              {"/data/my photos", {"x.jpg"}},
                              {"/data/Photos2", {}}});
    }

    TestTree m_tree;
    std::string m_strApp;
    std::vector<int> m_actions;
};

} // namespace

TEST_F(SearchHandoverTest, RowsOfSeveralCatalogsAccumulateInListOrder) {
    MakeCatalog("first", {{"/one", {"a", "b", "c"}}});
    MakeCatalog("second", {{"/two", {"d", "e"}}});
    EXPECT_EQ(Search({"first", "second"}, kSearchFiles, "*"),
              (std::vector<std::string>{"/one/a|first", "/one/b|first", "/one/c|first",
                                        "/two/d|second", "/two/e|second"}));
    EXPECT_EQ(m_actions, (std::vector<int>{1, 2}));
    EXPECT_EQ(g_nResultAction, 0);
}

TEST_F(SearchHandoverTest, ModesAndPatterns) {
    MakeMixedCatalog();
    const struct {
        SearchMode nMode;
        const char* pszText;
        std::vector<std::string> expected;
    } kCases[] = {
        {kSearchFiles, "*.txt", {"/data/A.TXT|mixed", "/data/b.txt|mixed"}},
        {kSearchBoth,
         "*.txt",
         {"/data/A.TXT|mixed", "/data/b.txt|mixed", "/data/Notes.Txt/inside.doc|mixed"}},
        {kSearchDirs, "*.txt", {"/data/Notes.Txt|mixed"}},
        {kSearchDirs, "*photos*", {"/data/my photos|mixed", "/data/Photos2|mixed"}},
        {kSearchDirs, "photos", {}},
        {kSearchFiles, "   ", {}},
        {kSearchFiles, "it's*", {}},
    };
    // Within one catalog the engine's order is not fixed: compare sorted.
    for (const auto& c : kCases) {
        std::vector<std::string> rows = Search({"mixed"}, c.nMode, c.pszText);
        std::vector<std::string> expected = c.expected;
        std::sort(rows.begin(), rows.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(rows, expected) << c.nMode << " " << c.pszText;
    }
    EXPECT_EQ(g_nSearchMode, kSearchFiles);
}

TEST_F(SearchHandoverTest, TextIsTakenAsTyped) {
    MakeCatalog("odd", {{"/d", {"   ", "it's mine", "x' OR '1'='1"}}});
    EXPECT_EQ(Search({"odd"}, kSearchFiles, "   "), std::vector<std::string>{"/d/   |odd"});
    EXPECT_EQ(Search({"odd"}, kSearchFiles, "it's*"), std::vector<std::string>{"/d/it's mine|odd"});
    EXPECT_EQ(Search({"odd"}, kSearchFiles, "x' OR '1'='1"),
              std::vector<std::string>{"/d/x' OR '1'='1|odd"});
}

TEST_F(SearchHandoverTest, BadPatternDeliversNothingAndLeavesNothingToRead) {
    MakeMixedCatalog();
    bool bDelivered = false;
    try {
        SearchCatalogs(m_strApp, {"mixed"}, kSearchBoth, "[a", [&] { bDelivered = true; });
        FAIL() << "the bad pattern was searched";
    } catch (const EngineError& error) {
        EXPECT_NE(std::string(error.what()).find("no closing ']'"), std::string::npos);
    }
    EXPECT_FALSE(bDelivered);
    EXPECT_EQ(g_nResultAction, 0);
    EXPECT_EQ(g_pSearchRecordset, nullptr);
    EXPECT_EQ(TakeSearchHits([](ResultRow&&) { ADD_FAILURE() << "a row was read"; }), 0);
}

TEST_F(SearchHandoverTest, MissingCatalogStopsTheSearchThere) {
    MakeCatalog("first", {{"/one", {"a"}}});
    MakeCatalog("third", {{"/three", {"c"}}});
    std::vector<std::string> rows;
    EXPECT_THROW(rows = Search({"first", "gone", "third"}, kSearchFiles, "*"), EngineError);
    EXPECT_EQ(m_actions, std::vector<int>{1}); // the third was not searched
    EXPECT_EQ(g_nResultAction, 0);
}
