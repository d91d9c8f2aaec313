// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalog/Catalog.h"
#include "TestTree.h"
#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "catalog/ResultSet.h"
#include "catalog/RowAppender.h"
#include "scan/FileChecksum.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <vector>

namespace {

std::vector<std::string> Column(Database& db, const std::string& strSql, int nField = 0) {
    std::vector<std::string> values;
    for (ResultSet rows(db.Prepare(strSql)); !rows.IsEOF(); rows.MoveNext())
        values.push_back(rows.IsNull(nField) ? "<null>" : rows.GetText(nField));
    return values;
}

class CatalogTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(CreateCatalog(m_db, m_tree.Path("c.mdb"))); }

    TestTree m_tree;
    Database m_db;
};

} // namespace

TEST_F(CatalogTest, HasTheTablesFieldsAndIndexes) {
    EXPECT_EQ(Column(m_db, "SELECT name FROM pragma_table_info('dirs')"),
              (std::vector<std::string>{"dir_id", "dir_name"}));
    EXPECT_EQ(Column(m_db, "SELECT name FROM pragma_table_info('files')"),
              (std::vector<std::string>{"file_id", "dir_id", "file_name", "file_size",
                                        "md5_checksum", "file_mtime"}));
    EXPECT_EQ(
        Column(m_db, "SELECT type FROM pragma_table_info('files')"),
        (std::vector<std::string>{"INTEGER", "INTEGER", "TEXT", "INTEGER", "TEXT", "INTEGER"}));
    EXPECT_EQ(Column(m_db, "SELECT name FROM pragma_table_info('catalog_info')"),
              (std::vector<std::string>{"key", "value"}));
    EXPECT_EQ(Column(m_db, "SELECT name || ':' || \"unique\" FROM pragma_index_list('dirs')"),
              (std::vector<std::string>{"dir_name_index:1"}));
    // The ids are the row ids, the tables' primary keys, under their names.
    EXPECT_EQ(Column(m_db, "SELECT name || ':' || pk FROM pragma_table_info('dirs')"),
              (std::vector<std::string>{"dir_id:1", "dir_name:0"}));
    for (const char* pszIndex : {"dir_id_index PRIMARY KEY", "file_id_index PRIMARY KEY"}) {
        const auto schema = Column(m_db, "SELECT group_concat(sql) FROM sqlite_schema");
        EXPECT_NE(schema[0].find(pszIndex), std::string::npos) << schema[0];
    }
    EXPECT_EQ(Column(m_db, "SELECT name FROM pragma_index_info('dir_name_index')"),
              (std::vector<std::string>{"dir_name"}));
    EXPECT_TRUE(Column(m_db, "SELECT name FROM pragma_index_list('files')").empty());
    EXPECT_EQ(Column(m_db, "SELECT count(*) FROM dirs"), (std::vector<std::string>{"0"}));
    EXPECT_EQ(Column(m_db, "SELECT count(*) FROM files"), (std::vector<std::string>{"0"}));
}

TEST_F(CatalogTest, IdsGrowInInsertionOrderAndMissingTextIsNull) {
    RowAppender dirs(m_db, CatalogSql::kInsertDir);
    RowAppender files(m_db, CatalogSql::kInsertFile);
    const int64_t nFirst = dirs.Append({std::string_view("/z")});
    const int64_t nSecond = dirs.Append({std::string_view("/a")});
    EXPECT_LT(nFirst, nSecond);
    // The same name in two directories; an empty checksum text is no value.
    const int64_t nFile1 = files.Append(
        {nFirst, std::string_view("same"), int64_t{5}, std::string_view(""), FieldValue{}});
    const int64_t nFile2 = files.Append(
        {nSecond, std::string_view("same"), int64_t{5}, std::string_view("0123"), int64_t{7}});
    EXPECT_LT(nFile1, nFile2);
    EXPECT_EQ(Column(m_db, "SELECT md5_checksum FROM files ORDER BY file_id"),
              (std::vector<std::string>{"<null>", "0123"}));
    EXPECT_EQ(Column(m_db, "SELECT count(*) FROM files WHERE md5_checksum = ''"),
              (std::vector<std::string>{"0"}));
    EXPECT_EQ(Column(m_db, "SELECT dir_id FROM dirs ORDER BY dir_name"),
              (std::vector<std::string>{std::to_string(nSecond), std::to_string(nFirst)}));
}

TEST_F(CatalogTest, StoresWhole64BitSizesAndLongText) {
    RowAppender files(m_db, CatalogSql::kInsertFile);
    const std::string strLongName(1000, 'n');
    files.Append(
        {int64_t{1}, std::string_view(strLongName), int64_t{3} << 31, FieldValue{}, FieldValue{}});
    files.Append(
        {int64_t{1}, std::string_view("big"), (int64_t{1} << 32) + 5, FieldValue{}, FieldValue{}});
    EXPECT_EQ(Column(m_db, "SELECT file_size FROM files ORDER BY file_id"),
              (std::vector<std::string>{"6442450944", "4294967301"}));
    EXPECT_EQ(Column(m_db, "SELECT length(file_name) FROM files ORDER BY file_id"),
              (std::vector<std::string>{"1000", "3"}));
}

TEST_F(CatalogTest, DirNameIsUniqueUnderExactComparison) {
    RowAppender dirs(m_db, CatalogSql::kInsertDir);
    dirs.Append({std::string_view("/data/Photos")});
    dirs.Append({std::string_view("/data/photos")}); // differs in case only: another directory
    try {
        dirs.Append({std::string_view("/data/Photos")});
        FAIL() << "a second row with an equal path was stored";
    } catch (const EngineError& error) {
        EXPECT_NE(std::string(error.what()).find("UNIQUE"), std::string::npos) << error.what();
    }
    EXPECT_THROW(dirs.Append({std::string_view("")}), EngineError); // no path at all
    EXPECT_EQ(Column(m_db, "SELECT count(*) FROM dirs"), (std::vector<std::string>{"2"}));
}

TEST(CreateCatalog, EmptyPathDoesNothing) {
    Database db;
    EXPECT_FALSE(CreateCatalog(db, ""));
    EXPECT_FALSE(db.IsOpen());
}

TEST(CreateCatalog, RefusesAnExistingFileAndKeepsIt) {
    TestTree tree;
    tree.WriteFile("old.mdb", "precious");
    Database db;
    EXPECT_THROW(CreateCatalog(db, tree.Path("old.mdb")), EngineError);
    EXPECT_FALSE(db.IsOpen());
    Database other;
    EXPECT_THROW(CreateCatalog(other, tree.Path("no such folder/x.mdb")), EngineError);
    EXPECT_FALSE(Exists(tree.Path("no such folder")));
    // The old file is untouched.
    EXPECT_EQ(FileChecksum(tree.Path("old.mdb")), Md5OfText("precious"));
}

TEST(Database, ReadOnlyConnectionsAndResultSetsNeverWrite) {
    TestTree tree;
    {
        Database db;
        ASSERT_TRUE(CreateCatalog(db, tree.Path("c.mdb")));
        RowAppender(db, CatalogSql::kInsertDir).Append({std::string_view("/x")});
    }
    Database db;
    db.Open(tree.Path("c.mdb"), Database::OpenMode::ReadOnly);
    EXPECT_THROW(db.Execute("INSERT INTO dirs(dir_name) VALUES ('/y')"), EngineError);
    EXPECT_THROW(ResultSet(db.Prepare("DELETE FROM dirs")), EngineError);
    ResultSet rows(db.Prepare("SELECT dir_id, dir_name FROM dirs"));
    ASSERT_FALSE(rows.IsEOF());
    EXPECT_EQ(rows.GetInt64(0), 1);
    EXPECT_EQ(rows.GetText(1), "/x");
    rows.MoveNext();
    EXPECT_TRUE(rows.IsEOF());
    EXPECT_THROW(rows.GetText(0), EngineError);
    rows.Close();
    EXPECT_FALSE(rows.IsOpen());
    EXPECT_THROW(db.Open(tree.Path("missing.mdb"), Database::OpenMode::ReadOnly), EngineError);
}

TEST(Database, EngineErrorsCarryTheEngineText) {
    TestTree tree;
    Database db;
    db.Create(tree.Path("c.mdb"));
    try {
        db.Execute("SELECT * FROM no_such_table");
        FAIL();
    } catch (const EngineError& error) {
        EXPECT_STREQ(error.what(), "no such table: no_such_table");
    }
    try {
        db.Prepare("SELEKT 1");
        FAIL();
    } catch (const EngineError& error) {
        EXPECT_NE(std::string(error.what()).find("syntax error"), std::string::npos);
    }
}
