// SPDX-License-Identifier: GPL-3.0-or-later

#include "search/DatabaseList.h"
#include "TestTree.h"
#include "catalog/Catalog.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <sys/stat.h>

namespace {

class DatabaseListTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_tree.MakeDir("app");
        m_tree.MakeDir("elsewhere");
        m_strApp = m_tree.Path("app") + "/";
    }

    // A real, empty catalog at strPath.
    void MakeCatalog(const std::string& strPath) {
        Database db;
        ASSERT_TRUE(CreateCatalog(db, strPath));
    }

    std::string ListFile() { return ReadFile(m_strApp + kListFileName); }

    TestTree m_tree;
    std::string m_strApp;
};

} // namespace

TEST_F(DatabaseListTest, LoadsFolderCatalogsThenTheListFile) {
    MakeCatalog(m_strApp + "photos.mdb");
    MakeCatalog(m_strApp + "Music.MDB");
    m_tree.WriteFile("app/notes.txt", "not listed");
    m_tree.MakeDir("app/folder.mdb"); // a folder is no catalog
    m_tree.WriteFile("app/dblist.txt", "/old/a.mdb\n");
    const std::vector<std::string> entries = LoadDatabaseList(m_strApp);
    ASSERT_EQ(entries.size(), 3u);
    // The folder's two come first, in its own order; then the list file.
    EXPECT_EQ(std::set<std::string>(entries.begin(), entries.begin() + 2),
              (std::set<std::string>{"photos", "Music"}));
    EXPECT_EQ(entries[2], "/old/a.mdb");
    // Music.MDB is opened under its real name.
    EXPECT_EQ(CatalogPathOfEntry(m_strApp, "Music"), m_strApp + "Music.MDB");
    EXPECT_EQ(CatalogPathOfEntry(m_strApp, "photos"), m_strApp + "photos.mdb");
    EXPECT_EQ(CatalogPathOfEntry(m_strApp, "/old/a.mdb"), "/old/a.mdb");
    EXPECT_EQ(CatalogPathOfEntry(m_strApp, "gone"), m_strApp + "gone.mdb");
    EXPECT_TRUE(LoadDatabaseList(m_tree.Path("no such folder/")).empty());
}

TEST_F(DatabaseListTest, HandEditedListFileLosesNothing) {
    const std::string str258 = "/" + std::string(257, 'x');
    const std::string str1000 = "/" + std::string(999, 'y');
    m_tree.WriteFile("app/dblist.txt", "/crlf/a.mdb\r\n\n\r\n" + str258 + "\n" + str1000 +
                                           "\n/it's here/b c.mdb\n/last/no newline.mdb");
    EXPECT_EQ(LoadDatabaseList(m_strApp),
              (std::vector<std::string>{"/crlf/a.mdb", str258, str1000, "/it's here/b c.mdb",
                                        "/last/no newline.mdb"}));
}

TEST_F(DatabaseListTest, AddTestsTheFileAndAppendsOneLine) {
    const std::string strGood = m_tree.Path("elsewhere/Good.mdb");
    MakeCatalog(strGood);
    {
        Database other;
        other.Create(m_tree.Path("elsewhere/other.mdb"));
        other.Execute("CREATE TABLE Dirs(x); CREATE TABLE files(y)");
    }
    m_tree.WriteFile("elsewhere/text.mdb", "just some text, long enough to be no database at all");
    m_tree.WriteFile("app/dblist.txt", "/kept/line.mdb"); // no final newline

    std::vector<std::string> entries = LoadDatabaseList(m_strApp);
    EXPECT_EQ(AddDatabase(m_strApp, strGood, entries), AddResult::Added);
    EXPECT_EQ(ListFile(), "/kept/line.mdb\n" + strGood + "\n");
    entries = LoadDatabaseList(m_strApp);
    EXPECT_EQ(AddDatabase(m_strApp, strGood, entries), AddResult::AlreadyListed);
    EXPECT_EQ(AddDatabase(m_strApp, m_tree.Path("elsewhere/other.mdb"), entries),
              AddResult::NotValid);
    EXPECT_THROW(AddDatabase(m_strApp, m_tree.Path("elsewhere/text.mdb"), entries), EngineError);
    EXPECT_THROW(AddDatabase(m_strApp, m_tree.Path("elsewhere/missing.mdb"), entries), EngineError);
    // Paths are compared exactly: another letter case is another file here.
    ::rename(strGood.c_str(), m_tree.Path("elsewhere/GOOD.MDB").c_str());
    EXPECT_EQ(AddDatabase(m_strApp, m_tree.Path("elsewhere/GOOD.MDB"), entries), AddResult::Added);
    EXPECT_EQ(ListFile(),
              "/kept/line.mdb\n" + strGood + "\n" + m_tree.Path("elsewhere/GOOD.MDB") + "\n");
}

TEST_F(DatabaseListTest, DeleteRemovesTheFileAndEveryEqualLine) {
    const std::string strTwice = m_tree.Path("elsewhere/twice.mdb");
    MakeCatalog(strTwice);
    MakeCatalog(m_strApp + "Music.MDB");
    m_tree.WriteFile("app/dblist.txt",
                     strTwice + "\r\n/other.mdb\n" + strTwice + "\n" + strTwice + ".bak\n");
    DeleteDatabase(m_strApp, strTwice);
    EXPECT_FALSE(Exists(strTwice));
    EXPECT_EQ(ListFile(), "/other.mdb\n" + strTwice + ".bak\n");
    // A name entry: its file goes, the list file stays as it is.
    DeleteDatabase(m_strApp, "Music");
    EXPECT_FALSE(Exists(m_strApp + "Music.MDB"));
    EXPECT_EQ(ListFile(), "/other.mdb\n" + strTwice + ".bak\n");
    // A file that is already gone is no error, and its lines still go.
    DeleteDatabase(m_strApp, "/other.mdb");
    EXPECT_EQ(ListFile(), strTwice + ".bak\n");
    EXPECT_EQ(LoadDatabaseList(m_strApp), std::vector<std::string>{strTwice + ".bak"});
}
