// SPDX-License-Identifier: GPL-3.0-or-later

#include "TestTree.h"
#include "catalog/Catalog.h"
#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/RowAppender.h"
#include "search/ResultRow.h"
#include "search/SearchDriver.h"

#include <gtest/gtest.h>
#include <map>

TEST(ResultRow, TextsOfAHit) {
    TestTree tree;
    {
        Database db;
        ASSERT_TRUE(CreateCatalog(db, tree.Path("c.mdb")));
        RowAppender dirRows(db, CatalogSql::kInsertDir);
        RowAppender fileRows(db, CatalogSql::kInsertFile);
        const struct {
            const char* pszDir;
            const char* pszName;
            FieldValue size;
            FieldValue checksum;
        } kRows[] = {{"/", "boot.ini", int64_t{5}, std::string_view("abc")},
                     {"/win", "a.txt", int64_t{0}, FieldValue{}},
                     {"/x/", "y", int64_t{-5}, FieldValue{}},
                     {"/data/", "f", int64_t{6442450944}, FieldValue{}},
                     {"/d", "n", FieldValue{}, FieldValue{}}};
        for (const auto& row : kRows)
            fileRows.Append({dirRows.Append({std::string_view(row.pszDir)}),
                             std::string_view(row.pszName), row.size, row.checksum, FieldValue{}});
    }
    const std::map<std::string, std::pair<std::string, std::string>> kExpected = {
        {"/boot.ini", {"5", "abc"}},
        {"/win/a.txt", {"0", ""}},
        {"/x/y", {"", ""}},
        {"/data//f", {"6442450944", ""}},
        {"/d/n", {"", ""}}};
    for (const SearchMode mode : {kSearchFiles, kSearchDirs}) {
        SearchQuery query;
        query.mode = mode;
        query.strPattern = "*";
        std::vector<ResultRow> rows;
        RunSearch(tree.Root() + "/", {tree.Path("c.mdb")}, query,
                  [&](size_t, std::unique_ptr<HitStream> hits) {
                      for (; !hits->IsEOF(); hits->MoveNext())
                          rows.push_back(ResultRowOf(hits->Hit()));
                  });
        ASSERT_EQ(rows.size(), kExpected.size());
        for (const ResultRow& row : rows) {
            EXPECT_EQ(row.strDatabase, tree.Path("c.mdb"));
            if (mode == kSearchDirs) {
                EXPECT_EQ(row.strSize, "") << row.strPath;
                EXPECT_EQ(row.strChecksum, "");
                continue;
            }
            ASSERT_EQ(kExpected.count(row.strPath), 1u) << row.strPath;
            EXPECT_EQ(row.strSize, kExpected.at(row.strPath).first) << row.strPath;
            EXPECT_EQ(row.strChecksum, kExpected.at(row.strPath).second) << row.strPath;
        }
    }
}
