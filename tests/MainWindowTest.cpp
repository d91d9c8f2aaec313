// SPDX-License-Identifier: GPL-3.0-or-later

#include "DesktopFixture.h"
#include "UserInput.h"
#include "app/CAbout.h"
#include "app/CMainDlg.h"
#include "app/CMainMenu.h"
#include "app/CommandIds.h"
#include "app/Globals.h"
#include "controls/CSortListCtrl.h"
#include "pages/CDBControl.h"
#include "pages/CDBSearch.h"
#include "pages/CResult.h"
#include "scan/ScanJob.h"

#include <QAction>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSettings>
#include <QShowEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

namespace {

using MainWindowTest = DesktopTest;

// Counts the show and hide events a page gets.
class ShowCounter : public QObject {
public:
    explicit ShowCounter(QWidget& widget) { widget.installEventFilter(this); }
    int nShows = 0, nHides = 0;

protected:
    bool eventFilter(QObject*, QEvent* pEvent) override {
        nShows += pEvent->type() == QEvent::Show;
        nHides += pEvent->type() == QEvent::Hide;
        return false;
    }
};

} // namespace

TEST_F(MainWindowTest, FreshStartShowsTheSearchPageWithTheListLoaded) {
    MakeCatalog("Photos", m_tree.Root());
    Start();
    EXPECT_EQ(Main().windowTitle(), "Kestrel");
    EXPECT_FALSE(Main().windowIcon().isNull());
    EXPECT_EQ(g_hMainWnd, &Main());
    EXPECT_EQ(g_strAppPath, m_strData);
    const QTabWidget& tab = Main().Tab();
    ASSERT_EQ(tab.count(), 3);
    EXPECT_EQ(tab.tabText(0), " Search  ");
    EXPECT_EQ(tab.tabText(1), " Result  ");
    EXPECT_EQ(tab.tabText(2), " Create database  ");
    EXPECT_EQ(CurrentTab(), 0);
    EXPECT_TRUE(SearchPage().isVisible());
    EXPECT_FALSE(ResultPage().isVisible());
    EXPECT_FALSE(CreatePage().isVisible());
    EXPECT_FALSE(g_pMainMenu->IsEnabled(ID_RESULT_CHECK));
    EXPECT_TRUE(g_pMainMenu->IsEnabled(ID_FILE_ADD_DATABASE));
    EXPECT_EQ(ListedEntries(), std::vector<std::string>{"Photos"});
    EXPECT_EQ(SearchPage().m_comboWhere->currentText(), "Directories and files");
    EXPECT_FALSE(g_bReloadDatabaseList);
    EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(MainWindowTest, MenuHasTheCommandsTextsAndKeys) {
    Start();
    struct Item {
        int nId;
        const char* pszText;
        const char* pszKey;
    };
    const Item items[] = {
        {ID_FILE_ADD_DATABASE, "Add database...\tCtrl+O", "Ctrl+O"},
        {ID_FILE_EXIT, "E&xit\tAlt+F4", ""},
        {ID_VIEW_SEARCH, "Search\tCtrl+S", "Ctrl+S"},
        {ID_VIEW_RESULT, "Result\tCtrl+R", "Ctrl+R"},
        {ID_VIEW_CREATE_DATABASE, "Create Database\tCtrl+D", "Ctrl+D"},
        {ID_RESULT_CHECK, "Check\tCtrl+E", "Ctrl+E"},
        {ID_HELP_HELP, "Help\tF1", "F1"},
        {ID_HELP_ABOUT, "&About...", ""},
    };
    for (const Item& item : items) {
        const QAction* pAction = Main().Menu().Action(item.nId);
        ASSERT_NE(pAction, nullptr) << item.nId;
        EXPECT_EQ(pAction->text(), item.pszText);
        EXPECT_EQ(pAction->shortcut(), QKeySequence(item.pszKey)) << item.pszText;
    }
}

TEST_F(MainWindowTest, PageRequestsShowHideAndHandOutPages) {
    Start();
    ShowCounter result(ResultPage()), search(SearchPage());
    // View > Result by its key.
    Key(Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(CurrentTab(), 1);
    EXPECT_EQ(search.nHides, 1);
    EXPECT_EQ(result.nShows, 1);
    EXPECT_TRUE(g_pMainMenu->IsEnabled(ID_RESULT_CHECK));
    EXPECT_FALSE(g_pMainMenu->IsEnabled(ID_FILE_ADD_DATABASE));

    // The visible page asked for again is hidden and shown again.
    Key(Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(result.nHides, 1);
    EXPECT_EQ(result.nShows, 2);
    EXPECT_EQ(CurrentTab(), 1);
    EXPECT_TRUE(ResultPage().isVisible());
    EXPECT_TRUE(g_pMainMenu->IsEnabled(ID_RESULT_CHECK));

    // 10 to 12 only hand out a page.
    EXPECT_EQ(Main().OnMainPage(10), &SearchPage());
    EXPECT_EQ(Main().OnMainPage(12), static_cast<QDialog*>(&CreatePage()));
    EXPECT_EQ(Main().OnMainPage(11), &ResultPage());
    EXPECT_EQ(CurrentTab(), 1);
    EXPECT_EQ(result.nShows, 2);
    EXPECT_EQ(Main().OnMainPage(7), nullptr);

    // View > Create Database by its key.
    Key(Qt::Key_D, Qt::ControlModifier);
    EXPECT_EQ(CurrentTab(), 2);
    EXPECT_TRUE(CreatePage().isVisible());
    EXPECT_FALSE(ResultPage().isVisible());
    EXPECT_FALSE(g_pMainMenu->IsEnabled(ID_RESULT_CHECK));
    EXPECT_FALSE(g_pMainMenu->IsEnabled(ID_FILE_ADD_DATABASE));

    // A show request, as the pages make it, also hands out the page it shows.
    EXPECT_EQ(Main().OnMainPage(1), &ResultPage());
    EXPECT_EQ(CurrentTab(), 1);
}

TEST_F(MainWindowTest, SwitchingTabsKeepsTheSearchTextModeAndSelection) {
    MakeCatalog("One", m_tree.Root());
    MakeCatalog("Two", m_tree.Root());
    Start();
    Type(*SearchPage().m_editSearch, "*.txt");
    ChooseWhere(2);
    SelectEntries({"Two"});
    ClickTab(1);
    EXPECT_EQ(CurrentTab(), 1);
    EXPECT_TRUE(ResultPage().isVisible());
    EXPECT_FALSE(SearchPage().isVisible());
    EXPECT_TRUE(g_pMainMenu->IsEnabled(ID_RESULT_CHECK));
    ClickTab(0);
    EXPECT_TRUE(SearchPage().isVisible());
    EXPECT_FALSE(ResultPage().isVisible());
    EXPECT_FALSE(g_pMainMenu->IsEnabled(ID_RESULT_CHECK));
    EXPECT_EQ(SearchPage().m_editSearch->text(), "*.txt");
    EXPECT_EQ(SearchPage().m_comboWhere->currentIndex(), 2);
    const QList<QListWidgetItem*> selected = SearchPage().m_listDatabases->selectedItems();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected[0]->text(), "Two");
}

TEST_F(MainWindowTest, AcceleratorsReachTheirCommands) {
    Start();
    // Whichever page and field has the focus.
    EXPECT_EQ(KeyTarget(), SearchPage().m_editSearch);
    Key(Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(CurrentTab(), 1);
    EXPECT_EQ(KeyTarget(), &ResultPage());
    Key(Qt::Key_D, Qt::ControlModifier);
    EXPECT_EQ(CurrentTab(), 2);
    EXPECT_EQ(KeyTarget(), CreatePage().m_editStartDir);
    Key(Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(CurrentTab(), 0);
    // Ctrl+O runs "Add database..." of the Search page: the picker is asked.
    int nPicks = 0;
    g_desktopHooks.fnPickCatalogFile = [&] {
        ++nPicks;
        return std::optional<std::string>();
    };
    Key(Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(nPicks, 1);
    // Check is greyed on the Search page: Ctrl+E does nothing.
    Key(Qt::Key_E, Qt::ControlModifier);
    EXPECT_TRUE(TakeMessages().empty());
    // F1 asks for help.
    m_app.m_strHelpFile = m_tree.Path("missing.htm");
    Key(Qt::Key_F1);
    EXPECT_EQ(TakeMessageTexts(),
              std::vector<std::string>{"Help file not found. Reinstall application"});
}

TEST_F(MainWindowTest, AddDatabaseFromTheMenuWorksWhileTheSearchPageShows) {
    MakeCatalog("Elsewhere", m_tree.Root());
    Start();
    m_tree.MakeDir("other");
    ::rename((m_strData + "Elsewhere.mdb").c_str(), m_tree.Path("other/e.mdb").c_str());
    m_pickedFile = m_tree.Path("other/e.mdb");
    // Greyed on another page: its key does nothing there.
    ClickTab(1);
    Key(Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(CurrentTab(), 1);
    EXPECT_EQ(ListedEntries(), std::vector<std::string>{"Elsewhere"});
    // File > Add database... by the keys: Alt+F opens the menu on its first item.
    ClickTab(0);
    Key(Qt::Key_F, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([] { return ShownPopup() != nullptr; }, 2000));
    Key(Qt::Key_Return);
    EXPECT_EQ(CurrentTab(), 0);
    EXPECT_EQ(ListedEntries(), (std::vector<std::string>{"Elsewhere", m_tree.Path("other/e.mdb")}));
}

TEST_F(MainWindowTest, HelpOpensThePageOrSaysItIsMissing) {
    Start();
    m_tree.WriteFile("kestrel.htm", "<html></html>");
    m_app.m_strHelpFile = m_tree.Path("kestrel.htm");
    Key(Qt::Key_F1);
    EXPECT_EQ(m_opened, std::vector<std::string>{m_tree.Path("kestrel.htm")});
    EXPECT_TRUE(TakeMessages().empty());

    // Missing: Help > Help by the menu's keys says so. There, but the desktop
    // cannot open it (F1): the page and the reason are named.
    m_app.m_strHelpFile = m_tree.Path("gone.htm");
    Key(Qt::Key_H, Qt::AltModifier);
    Key(Qt::Key_Return);
    m_app.m_strHelpFile = m_tree.Path("kestrel.htm");
    m_bOpenSucceeds = false;
    Key(Qt::Key_F1);
    const std::vector<MessageRequest> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].strText, "Help file not found. Reinstall application");
    EXPECT_EQ(messages[1].strText, "Can't open the help page '" + m_tree.Path("kestrel.htm") +
                                       "': no application for this kind of file");
    for (const MessageRequest& message : messages) {
        EXPECT_EQ(message.strCaption, "Error");
        EXPECT_EQ(message.icon, MessageIcon::Critical);
    }
    EXPECT_EQ(CurrentTab(), 0);
}

TEST_F(MainWindowTest, TheHelpPageIsFoundInTheBuildTreeOrTheInstallation) {
    m_tree.MakeDir("build/help");
    m_tree.MakeDir("usr/bin");
    m_tree.MakeDir("usr/share/kestrel/help");
    m_tree.WriteFile("build/help/kestrel.htm", "x");
    m_tree.WriteFile("usr/share/kestrel/help/kestrel.htm", "x");
    EXPECT_EQ(CMainApp::FindHelpFile(m_tree.Path("build")), m_tree.Path("build/help/kestrel.htm"));
    EXPECT_EQ(CMainApp::FindHelpFile(m_tree.Path("usr/bin")),
              m_tree.Path("usr/bin/../share/kestrel/help/kestrel.htm"));
    EXPECT_EQ(CMainApp::FindHelpFile(m_tree.Path("none")), m_tree.Path("none/help/kestrel.htm"));
}

TEST_F(MainWindowTest, AboutShowsTheNameAndEndsWithEnterOrEscape) {
    Start();
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        bool bChecked = false;
        WhenModalShows([&](QWidget& modal) {
            auto* pAbout = qobject_cast<CAbout*>(&modal);
            ASSERT_NE(pAbout, nullptr);
            EXPECT_EQ(pAbout->windowTitle(), "About");
            bool bHasText = false;
            for (const QLabel* pLabel : pAbout->findChildren<QLabel*>())
                bHasText |= pLabel->text() == "Kestrel Version 1.0";
            EXPECT_TRUE(bHasText);
            bChecked = true;
            PressKey(key);
        });
        // Help > About... by the keys: Alt+H, then its letter.
        Key(Qt::Key_H, Qt::AltModifier);
        Key(Qt::Key_A);
        EXPECT_TRUE(bChecked);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
}

TEST_F(MainWindowTest, ExitClosesTheWindowAndTheListKeepsItsWidths) {
    Start();
    ClickTab(1);
    CSortListCtrl& list = *ResultPage().m_list;
    const int nWidth = list.header()->sectionSize(0) + 21;
    DragColumnBorder(list, 0, 21);
    ASSERT_EQ(list.header()->sectionSize(0), nWidth);
    // File > Exit by the keys: Alt+F, then its letter.
    Key(Qt::Key_F, Qt::AltModifier);
    Key(Qt::Key_X);
    EXPECT_FALSE(Main().isVisible());
    // The window's end destroys the pages; the result list stores its widths then.
    Stop();
    QSettings settings("Kestrel", "kestrel");
    const QByteArray stored = settings.value("ListCtrls/1022").toByteArray();
    ASSERT_EQ(stored.size(), 20);
    EXPECT_EQ(static_cast<uint8_t>(stored[4]) | static_cast<uint8_t>(stored[5]) << 8, nWidth);
    Start();
    EXPECT_EQ(ResultPage().m_list->header()->sectionSize(0), nWidth);
}

TEST_F(MainWindowTest, TheWindowComesBackAsItWasLeftButNeverSmallerThanDesigned) {
    Start();
    const QSize designed = Main().minimumSize();
    EXPECT_EQ(Main().size(), designed);
    // The window manager moves and resizes the window as the user drags it.
    const QRect dragged(QPoint(140, 90), designed + QSize(120, 80));
    Main().setGeometry(dragged);
    Settle();
    ASSERT_EQ(Main().geometry(), dragged);
    // File > Exit by the keys; the next start finds it where it was.
    Key(Qt::Key_F, Qt::AltModifier);
    Key(Qt::Key_X);
    Stop();
    Start();
    EXPECT_EQ(Main().geometry(), dragged);
    EXPECT_FALSE(Main().isMaximized());

    // Maximised, it comes back maximised, and unmaximised, where it was.
    Main().showMaximized();
    Settle();
    Stop();
    Start();
    EXPECT_TRUE(Main().isMaximized());
    Main().showNormal();
    Settle();
    EXPECT_EQ(Main().geometry(), dragged);

    // A size kept smaller than designed (a profile of an older version, a
    // larger font since) still opens at the designed size.
    Main().setMinimumSize(0, 0);
    Main().resize(designed - QSize(100, 100));
    Settle();
    Stop();
    Start();
    EXPECT_EQ(Main().size(), designed);
}
