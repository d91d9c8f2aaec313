// SPDX-License-Identifier: GPL-3.0-or-later

#include "DesktopFixture.h"
#include "UserInput.h"
#include "app/CMainDlg.h"
#include "app/CMainMenu.h"
#include "app/CommandIds.h"
#include "app/Globals.h"
#include "app/SearchHandover.h"
#include "catalog/Database.h"
#include "catalog/ResultSet.h"
#include "controls/CSortListCtrl.h"
#include "pages/CDBSearch.h"
#include "pages/CResult.h"
#include "search/DatabaseList.h"
#include "search/HitStream.h"
#include "search/SearchMessages.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QTest>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace {

class SearchPageTest : public DesktopTest {
protected:
    // Catalog A of three .txt files (and one .jpg), catalog B of two.
    void MakeTwoCatalogs() {
        m_tree.MakeDir("a/sub");
        m_tree.WriteFile("a/one.txt", "1");
        m_tree.WriteFile("a/sub/two.TXT", "22");
        m_tree.WriteFile("a/sub/three.txt", "333");
        m_tree.WriteFile("a/photo.jpg", "jpg");
        m_tree.MakeDir("b");
        m_tree.WriteFile("b/four.txt", "4444");
        m_tree.WriteFile("b/five.txt", "55555");
        MakeCatalog("A", m_tree.Path("a"));
        MakeCatalog("B", m_tree.Path("b"));
    }

    void Search(const std::string& strText, int nMode) {
        ClickTab(0);
        Type(*SearchPage().m_editSearch, strText);
        ChooseWhere(nMode);
        Click(SearchPage(), "IDC_SEARCH");
    }

    std::string ListFile() { return ReadFile(m_strData + kListFileName); }
};

} // namespace

TEST_F(SearchPageTest, TheThreeChecksComeInOrderAndOpenNothing) {
    Start();
    ResultPage().m_list->AddRow({"/old", "1", "", "X"});
    Search("", 0);
    Search("*.txt", 0);
    MakeTwoCatalogs();
    Click(SearchPage(), "IDC_UPDATE_LIST");
    Search("", 0);
    Search("*.txt", 0);
    const std::vector<MessageRequest> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0].strText, kMsgNoDatabases);
    EXPECT_EQ(messages[0].strCaption, "Information");
    EXPECT_EQ(messages[0].icon, MessageIcon::Information);
    EXPECT_EQ(messages[1].strText, kMsgNoDatabases);
    EXPECT_EQ(messages[2].strText, kMsgEnterSearchText);
    EXPECT_EQ(messages[2].strCaption, "Warning");
    EXPECT_EQ(messages[2].icon, MessageIcon::Warning);
    EXPECT_EQ(messages[3].strText, kMsgSelectDatabases);
    EXPECT_EQ(messages[3].strCaption, "Warning");
    EXPECT_EQ(CurrentTab(), 0);
    EXPECT_EQ(ResultColumn(0), std::vector<std::string>{"/old"});
}

TEST_F(SearchPageTest, TwoCatalogsFillTheResultPageOnce) {
    MakeTwoCatalogs();
    Start();
    ResultPage().m_list->AddRow({"/old", "1", "", "X"});
    SelectEntries({"A", "B"});
    Search("*.txt", kSearchFiles);
    EXPECT_TRUE(TakeMessages().empty());
    EXPECT_EQ(CurrentTab(), 1);
    EXPECT_TRUE(ResultPage().isVisible());
    EXPECT_TRUE(g_pMainMenu->IsEnabled(ID_RESULT_CHECK));
    const std::vector<std::string> databases = ResultColumn(3);
    ASSERT_EQ(databases.size(), 5u);
    // The entries' order in the list decides the catalogs' order.
    const std::vector<std::string> aThenB = {"A", "A", "A", "B", "B"};
    const std::vector<std::string> bThenA = {"B", "B", "A", "A", "A"};
    EXPECT_EQ(databases, ListedEntries()[0] == "A" ? aThenB : bThenA);
    std::vector<std::string> paths = ResultColumn(0);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths,
              (std::vector<std::string>{m_tree.Path("a/one.txt"), m_tree.Path("a/sub/three.txt"),
                                        m_tree.Path("a/sub/two.TXT"), m_tree.Path("b/five.txt"),
                                        m_tree.Path("b/four.txt")}));
    EXPECT_EQ(g_nResultAction, 0);
    EXPECT_FALSE(g_pSearchRecordset && g_pSearchRecordset->IsOpen());

    // "Directories and files" also lists every file of a matching directory.
    ClickTab(0);
    SelectEntries({"A"});
    Search("*/sub", kSearchBoth);
    paths = ResultColumn(0);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{m_tree.Path("a/sub/three.txt"),
                                               m_tree.Path("a/sub/two.TXT")}));
    // "Directories" lists directory paths, with empty sizes and checksums.
    Search("*SUB", kSearchDirs);
    EXPECT_EQ(ResultColumn(0), std::vector<std::string>{m_tree.Path("a/sub")});
    EXPECT_EQ(ResultColumn(1), std::vector<std::string>{""});
    EXPECT_EQ(ResultColumn(2), std::vector<std::string>{""});
    EXPECT_EQ(ResultColumn(3), std::vector<std::string>{"A"});
}

TEST_F(SearchPageTest, EnterInTheSearchTextSearches) {
    MakeTwoCatalogs();
    Start();
    SelectEntries({"B"});
    Type(*SearchPage().m_editSearch, "five.txt");
    Key(Qt::Key_Return);
    EXPECT_EQ(ResultColumn(0), std::vector<std::string>{m_tree.Path("b/five.txt")});
}

TEST_F(SearchPageTest, ApostrophesAndSpacesAreSearchedAsTyped) {
    m_tree.MakeDir("t");
    m_tree.WriteFile("t/Tom's notes.txt", "x");
    m_tree.WriteFile("t/   ", "spaces");
    MakeCatalog("T", m_tree.Path("t"));
    Start();
    SelectEntries({"T"});
    Search("*'s*", kSearchFiles);
    EXPECT_EQ(ResultColumn(0), std::vector<std::string>{m_tree.Path("t/Tom's notes.txt")});
    Search("   ", kSearchFiles);
    EXPECT_EQ(ResultColumn(0), std::vector<std::string>{m_tree.Path("t/   ")});
    EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(SearchPageTest, AnEngineErrorStopsTheSearchAndKeepsDeliveredRows) {
    MakeTwoCatalogs();
    Start();
    const std::vector<std::string> entries = ListedEntries();
    ResultPage().m_list->AddRow({"/old", "1", "", "X"});
    SelectEntries(entries);
    // The second catalog vanished after the list was loaded.
    ::unlink((m_strData + entries[1] + ".mdb").c_str());
    Search("*", kSearchFiles);
    std::vector<MessageRequest> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].icon, MessageIcon::Critical);
    EXPECT_FALSE(messages[0].strText.empty());
    const std::vector<std::string> databases = ResultColumn(3);
    ASSERT_FALSE(databases.empty());
    EXPECT_TRUE(std::all_of(databases.begin(), databases.end(),
                            [&](const std::string& s) { return s == entries[0]; }));
    EXPECT_EQ(CurrentTab(), 1);

    // A bad pattern in the first catalog: the previous rows stay, the page is not shown.
    const size_t nRows = ResultColumn(0).size();
    Search("[abc", kSearchFiles);
    messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].strText.find("'[' has no closing ']'"), std::string::npos);
    EXPECT_EQ(CurrentTab(), 0);
    EXPECT_EQ(g_nResultAction, 0);
    ClickTab(1);
    EXPECT_EQ(ResultColumn(0).size(), nRows);
}

TEST_F(SearchPageTest, AddDatabaseTestsTheFileAndKeepsTheListFile) {
    MakeTwoCatalogs();
    m_tree.MakeDir("keep");
    ::rename((m_strData + "B.mdb").c_str(), m_tree.Path("keep/b.mdb").c_str());
    {
        Database notCatalog;
        notCatalog.Create(m_tree.Path("keep/other.mdb"));
        notCatalog.Execute("CREATE TABLE things (x)");
    }
    m_tree.WriteFile("keep/text.mdb", "just text, no database at all");
    Start();
    ASSERT_EQ(ListedEntries(), std::vector<std::string>{"A"});

    m_pickedFile.reset(); // cancelled
    Click(SearchPage(), "IDC_ADD_DATABASE");
    m_pickedFile = m_tree.Path("keep/other.mdb");
    Click(SearchPage(), "IDC_ADD_DATABASE");
    m_pickedFile = m_tree.Path("keep/text.mdb");
    Click(SearchPage(), "IDC_ADD_DATABASE");
    m_pickedFile = m_tree.Path("keep/b.mdb");
    Click(SearchPage(), "IDC_ADD_DATABASE");
    Click(SearchPage(), "IDC_ADD_DATABASE");

    const std::vector<MessageRequest> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].strText, kMsgNotValidDatabase);
    EXPECT_EQ(messages[0].strCaption, "Error");
    EXPECT_EQ(messages[0].icon, MessageIcon::Critical);
    EXPECT_EQ(messages[1].icon, MessageIcon::Critical); // the engine's own text
    EXPECT_NE(messages[1].strText, kMsgNotValidDatabase);
    EXPECT_EQ(messages[2].strText, kMsgAlreadyInList);
    EXPECT_EQ(messages[2].strCaption, "Warning");
    EXPECT_EQ(messages[2].icon, MessageIcon::Information);
    EXPECT_EQ(ListedEntries(), (std::vector<std::string>{"A", m_tree.Path("keep/b.mdb")}));
    EXPECT_EQ(ListFile(), m_tree.Path("keep/b.mdb") + "\n");
}

TEST_F(SearchPageTest, DeleteAsksFirstThenRemovesTheFileAndTheEntry) {
    MakeTwoCatalogs();
    m_tree.MakeDir("keep");
    ::rename((m_strData + "B.mdb").c_str(), m_tree.Path("keep/b.mdb").c_str());
    m_tree.WriteFile("home/kestrel/dblist.txt", m_tree.Path("keep/b.mdb") + "\n/x/y.mdb\n");
    Start();
    ASSERT_EQ(ListedEntries(),
              (std::vector<std::string>{"A", m_tree.Path("keep/b.mdb"), "/x/y.mdb"}));
    QListWidget& list = *SearchPage().m_listDatabases;
    const std::string strQuestion =
        "Delete database '" + m_tree.Path("keep/b.mdb") + "'? Its file will be removed from disk.";

    // No entry clicked yet: Delete does nothing.
    Click(SearchPage(), "IDC_DELETE");
    EXPECT_TRUE(TakeMessages().empty());
    EXPECT_EQ(list.count(), 3);

    // The real question box: Enter answers No (its default button), and so
    // does Escape. Nothing changes.
    ClickEntry(1);
    const auto fnAnswer = g_desktopHooks.fnMessage;
    g_desktopHooks.fnMessage = nullptr;
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        bool bAsked = false;
        WhenModalShows([&](QWidget& modal) {
            auto* pBox = qobject_cast<QMessageBox*>(&modal);
            ASSERT_NE(pBox, nullptr);
            EXPECT_EQ(pBox->text().toStdString(), strQuestion);
            EXPECT_EQ(pBox->windowTitle(), "Database");
            EXPECT_EQ(pBox->icon(), QMessageBox::Question);
            bAsked = true;
            PressKey(key);
        });
        Click(SearchPage(), "IDC_DELETE");
        EXPECT_TRUE(bAsked) << key;
        EXPECT_TRUE(Exists(m_tree.Path("keep/b.mdb"))) << key;
        EXPECT_EQ(list.count(), 3) << key;
    }
    g_desktopHooks.fnMessage = fnAnswer;

    // Yes: the file, the entry and its line go.
    m_answers = {MessageAnswer::Yes};
    Click(SearchPage(), "IDC_DELETE");
    std::vector<MessageRequest> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].strText, strQuestion);
    EXPECT_EQ(messages[0].strCaption, "Database");
    EXPECT_EQ(messages[0].icon, MessageIcon::Question);
    EXPECT_EQ(messages[0].buttons, MessageButtons::YesNoDefaultNo);
    EXPECT_FALSE(Exists(m_tree.Path("keep/b.mdb")));
    EXPECT_EQ(ListedEntries(), (std::vector<std::string>{"A", "/x/y.mdb"}));
    EXPECT_EQ(ListFile(), "/x/y.mdb\n");
    // No neighbour became current: a second Delete (even with Yes ready)
    // asks nothing and deletes nothing.
    EXPECT_EQ(list.currentRow(), -1);
    m_answers = {MessageAnswer::Yes};
    Click(SearchPage(), "IDC_DELETE");
    EXPECT_TRUE(TakeMessages().empty());
    EXPECT_TRUE(Exists(m_strData + "A.mdb"));
    EXPECT_EQ(list.count(), 2);

    // A catalog of the data folder: its file goes, the list file stays.
    ClickEntry(0);
    m_answers = {MessageAnswer::Yes};
    Click(SearchPage(), "IDC_DELETE");
    EXPECT_FALSE(Exists(m_strData + "A.mdb"));
    EXPECT_EQ(ListedEntries(), std::vector<std::string>{"/x/y.mdb"});
    EXPECT_EQ(ListFile(), "/x/y.mdb\n");
    TakeMessages();

    // Update list reads it all again.
    MakeCatalog("C", m_tree.Path("b"));
    Click(SearchPage(), "IDC_UPDATE_LIST");
    EXPECT_EQ(ListedEntries(), (std::vector<std::string>{"C", "/x/y.mdb"}));
    EXPECT_TRUE(TakeMessages().empty());
}
