// SPDX-License-Identifier: GPL-3.0-or-later

#include "DesktopFixture.h"
#include "UserInput.h"
#include "app/CMainDlg.h"
#include "app/CMainMenu.h"
#include "app/Globals.h"
#include "catalog/Database.h"
#include "catalog/ResultSet.h"
#include "controls/CProgressDlg.h"
#include "controls/CSpinButtonCtrl.h"
#include "controls/CTextProgressCtrl.h"
#include "controls/DialogUnits.h"
#include "pages/CDBControl.h"
#include "pages/CDBSearch.h"
#include "scan/ScanJob.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <sys/stat.h>

namespace {

class CreatePageTest : public DesktopTest {
protected:
    void SetUp() override {
        m_tree.MakeDir("src/deep");
        m_tree.WriteFile("src/a.txt", "alpha");
        m_tree.WriteFile("src/deep/b.bin", std::string(3000, 'b'));
        Start();
        ClickTab(2);
    }

    void Fill(const std::string& strStartDir, const std::string& strName) {
        Type(*CreatePage().m_editStartDir, strStartDir);
        Type(*CreatePage().m_editDatabaseName, strName);
    }

    // Presses Create; true when a progress window ran meanwhile. Its place
    // on the screen is kept in m_rcProgress.
    bool Create() {
        bool bProgressShown = false;
        m_progressWatch = [&] {
            if (g_pProgressDlg && g_pProgressDlg->isVisible()) {
                bProgressShown = true;
                m_rcProgress = g_pProgressDlg->geometry();
            }
        };
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] { m_progressWatch(); });
        timer.start(0);
        Click(CreatePage(), "IDOK");
        return bProgressShown;
    }

    // Rows of a catalog file.
    int64_t CountRows(const std::string& strPath, const char* pszTable) {
        Database database;
        database.Open(strPath, Database::OpenMode::ReadOnly);
        ResultSet rows(database.Prepare(std::string("SELECT count(*) FROM ") + pszTable));
        return rows.GetInt64(0);
    }

    std::function<void()> m_progressWatch;
    QRect m_rcProgress;
};

} // namespace

TEST_F(CreatePageTest, CreateBuildsTheCatalogAndTheSearchPageListsIt) {
    ClickTab(0);
    ChooseWhere(2);
    ClickTab(2);
    Fill(m_tree.Path("src"), "Source files");
    ClickCheckBox(*CreatePage().m_checkChecksum);
    EXPECT_TRUE(Create());
    // The page tells what was made.
    const std::vector<MessageRequest> told = TakeMessages();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].strText.rfind("The catalog 'Source files' was created: 2 directories, 2 "
                                    "files, 2 checksums, ",
                                    0),
              0u)
        << told[0].strText;
    EXPECT_EQ(told[0].icon, MessageIcon::Information);
    // The "Please wait..." strip lay at the top left of the window's client
    // area, below the menu bar, 266 x 12 dialog units, but never wider than
    // the window.
    const QPoint ptClient(0, Main().Menu().MenuBar()->geometry().bottom() + 1);
    EXPECT_EQ(m_rcProgress.topLeft(), Main().mapToGlobal(ptClient));
    const QSize design = DialogUnits(Main().font()).Size(266, 12);
    EXPECT_EQ(m_rcProgress.size(),
              QSize(std::min(design.width(), Main().width()), design.height()));
    const std::string strCatalog = m_strData + "Source files.mdb";
    EXPECT_EQ(CountRows(strCatalog, "dirs"), 2);
    EXPECT_EQ(CountRows(strCatalog, "files"), 2);
    // The 3000-byte file is within the 100 KB limit: both have checksums.
    Database database;
    database.Open(strCatalog, Database::OpenMode::ReadOnly);
    ResultSet rows(database.Prepare("SELECT count(md5_checksum) FROM files"));
    EXPECT_EQ(rows.GetInt64(0), 2);
    // The fields keep their values; the progress window is gone.
    EXPECT_EQ(CreatePage().m_editDatabaseName->text(), "Source files");
    EXPECT_EQ(g_pProgressDlg, nullptr);

    // Back on the Search page the list is loaded again and the mode reset.
    ClickTab(0);
    EXPECT_EQ(ListedEntries(), std::vector<std::string>{"Source files"});
    EXPECT_EQ(SearchPage().m_comboWhere->currentIndex(), 0);
}

// Escape on the strip asks whether to stop: No goes on, Yes stops the build,
// which keeps what was walked in a catalog that says it is incomplete and
// searches. The strip counts folders and files as it goes, and lies inside
// the window.
TEST_F(CreatePageTest, EscapeAsksAndYesStopsTheBuildKeepingAnIncompleteCatalog) {
    for (int d = 0; d < 800; ++d) {
        m_tree.MakeDir("big/d" + std::to_string(d));
        for (int f = 0; f < 50; ++f)
            m_tree.WriteFile("big/d" + std::to_string(d) + "/f" + std::to_string(f) + ".txt", "x");
    }
    Fill(m_tree.Path("big"), "Big");
    ClickCheckBox(*CreatePage().m_checkChecksum);
    m_answers = {MessageAnswer::No, MessageAnswer::Yes};
    int nEscapes = 0;
    std::string strLabel;
    QRect rcStrip;
    m_progressWatch = [&] {
        if (!g_pProgressDlg || !g_pProgressDlg->isVisible() || nEscapes >= 2)
            return;
        rcStrip = g_pProgressDlg->frameGeometry();
        strLabel = g_pProgressDlg->Progress().CurrentLabel().toStdString();
        if (strLabel.find(" folders, ") == std::string::npos)
            return; // the counts come with the strip's first step
        QTest::keyClick(g_pProgressDlg, Qt::Key_Escape);
        ++nEscapes;
    };
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { m_progressWatch(); });
    timer.start(5);
    Click(CreatePage(), "IDOK");
    timer.stop();
    ASSERT_EQ(nEscapes, 2);
    EXPECT_EQ(strLabel.rfind("Please wait... ", 0), 0u) << strLabel;
    EXPECT_NE(strLabel.find(" folders, "), std::string::npos) << strLabel;
    EXPECT_TRUE(Main().frameGeometry().contains(rcStrip));
    const std::vector<MessageRequest> told = TakeMessages();
    ASSERT_EQ(told.size(), 3u);
    EXPECT_EQ(told[0].strText, "Stop building the catalog?");
    EXPECT_EQ(told[1].strText, "Stop building the catalog?");
    EXPECT_EQ(told[2].strText.rfind("The build was stopped: the catalog 'Big' holds what was "
                                    "walked until then",
                                    0),
              0u)
        << told[2].strText;
    const std::string strCatalog = m_strData + "Big.mdb";
    EXPECT_LT(CountRows(strCatalog, "files"), 40000);
    Database database;
    database.Open(strCatalog, Database::OpenMode::ReadOnly);
    ResultSet complete(database.Prepare("SELECT value FROM catalog_info WHERE key = 'complete'"));
    EXPECT_EQ(complete.GetText(0), "no");
    // It is listed and searches.
    ClickTab(0);
    EXPECT_EQ(ListedEntries(), std::vector<std::string>{"Big"});
}

TEST_F(CreatePageTest, EmptyFieldsAreRefusedInOrder) {
    struct Case {
        const char* pszStartDir;
        const char* pszName;
        const char* pszMessage;
    };
    const Case cases[] = {
        {"", "", CDBControl::kMsgEnterStartDir},
        {"", "Name", CDBControl::kMsgEnterStartDir},
        {"/tmp", "", CDBControl::kMsgEnterName},
        {"/tmp", "../escape", CDBControl::kMsgNameHasSlash},
        {"/tmp", "a/b", CDBControl::kMsgNameHasSlash},
    };
    for (const Case& c : cases) {
        Fill(c.pszStartDir, c.pszName);
        Click(CreatePage(), "IDOK");
        const std::vector<MessageRequest> messages = TakeMessages();
        ASSERT_EQ(messages.size(), 1u) << c.pszName;
        EXPECT_EQ(messages[0].strText, c.pszMessage);
        EXPECT_EQ(messages[0].strCaption, "Error");
        EXPECT_EQ(messages[0].icon, MessageIcon::Warning);
    }
    // Nothing was made anywhere.
    struct stat st {};
    EXPECT_NE(::stat((m_tree.Path("home") + "/escape.mdb").c_str(), &st), 0);
    EXPECT_NE(::stat((m_strData + "a").c_str(), &st), 0);
}

TEST_F(CreatePageTest, AnExistingCatalogIsReplacedOnlyAfterYes) {
    MakeCatalog("Old", m_tree.Path("src/deep"));
    const std::string strCatalog = m_strData + "Old.mdb";
    Fill(m_tree.Path("src"), "Old");
    m_answers = {MessageAnswer::No};
    Click(CreatePage(), "IDOK");
    std::vector<MessageRequest> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].strText, CDBControl::kMsgOverwrite);
    EXPECT_EQ(messages[0].strCaption, "Database");
    EXPECT_EQ(messages[0].icon, MessageIcon::Question);
    EXPECT_EQ(messages[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(CountRows(strCatalog, "dirs"), 1); // untouched

    m_answers = {MessageAnswer::Yes};
    EXPECT_TRUE(Create());
    const std::vector<std::string> texts = TakeMessageTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], CDBControl::kMsgOverwrite);
    EXPECT_EQ(texts[1].rfind("The catalog 'Old' was created: 2 directories, 2 files", 0), 0u);
    EXPECT_EQ(CountRows(strCatalog, "dirs"), 2);

    // A start directory that cannot be read replaces nothing: the old
    // catalog stays, and the user is told. Under a new name, the catalog
    // holds its row only and does not say it is complete.
    const std::string strMissing = m_tree.Path("no such dir");
    for (const char* pszName : {"Old", "Fresh"}) {
        Type(*CreatePage().m_editStartDir, strMissing);
        Type(*CreatePage().m_editDatabaseName, pszName);
        m_answers = {MessageAnswer::Yes};
        Create();
        const std::vector<std::string> texts = TakeMessageTexts();
        ASSERT_FALSE(texts.empty());
        EXPECT_NE(texts.back().find("'" + strMissing + "' could not be read"), std::string::npos)
            << texts.back();
        EXPECT_EQ(texts.back().find("left as it was") != std::string::npos,
                  std::string(pszName) == "Old")
            << texts.back();
    }
    EXPECT_EQ(CountRows(strCatalog, "dirs"), 2);
    EXPECT_EQ(CountRows(m_strData + "Fresh.mdb", "dirs"), 1);
    {
        Database database;
        database.Open(m_strData + "Fresh.mdb", Database::OpenMode::ReadOnly);
        ResultSet complete(database.Prepare("SELECT value FROM catalog_info WHERE key='complete'"));
        ASSERT_FALSE(complete.IsEOF());
        EXPECT_EQ(complete.GetText(0), "no");
    }

    // Also a file that cannot be read is asked about before it is deleted.
    ::chmod(strCatalog.c_str(), 0);
    m_answers = {MessageAnswer::No};
    Click(CreatePage(), "IDOK");
    EXPECT_EQ(TakeMessageTexts(), std::vector<std::string>{CDBControl::kMsgOverwrite});
    struct stat st {};
    EXPECT_EQ(::stat(strCatalog.c_str(), &st), 0);
}

TEST_F(CreatePageTest, AFailedJobIsReported) {
    // A folder stands where the catalog file would go.
    m_tree.MakeDir("home/kestrel/Blocked.mdb/inside");
    Fill(m_tree.Path("src"), "Blocked");
    m_answers = {MessageAnswer::Yes};
    Create();
    const std::vector<MessageRequest> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].strText, CDBControl::kMsgOverwrite);
    EXPECT_EQ(messages[1].strCaption, "Database");
    EXPECT_EQ(messages[1].icon, MessageIcon::Critical);
    EXPECT_FALSE(messages[1].strText.empty());
}

TEST_F(CreatePageTest, MaxFileSizeFieldCheckBoxAndArrows) {
    CDBControl& page = CreatePage();
    EXPECT_EQ(page.m_editMaxFileSize->text(), "100");
    EXPECT_FALSE(page.m_editMaxFileSize->isEnabled());
    ClickCheckBox(*page.m_checkChecksum);
    EXPECT_TRUE(page.m_editMaxFileSize->isEnabled());
    ClickCheckBox(*page.m_checkChecksum);
    EXPECT_FALSE(page.m_editMaxFileSize->isEnabled());
    EXPECT_EQ(page.m_editMaxFileSize->text(), "100");
    EXPECT_TRUE(page.m_spinMaxFileSize->isEnabled());

    // The arrows work on the greyed field too.
    ClickWidget(*page.m_spinMaxFileSize->UpButton());
    EXPECT_EQ(page.m_editMaxFileSize->text(), "101");
    ClickCheckBox(*page.m_checkChecksum);
    Type(*page.m_editMaxFileSize, "0");
    ClickWidget(*page.m_spinMaxFileSize->DownButton());
    EXPECT_EQ(page.m_editMaxFileSize->text(), "0");
    Type(*page.m_editMaxFileSize, "2147483647");
    ClickWidget(*page.m_spinMaxFileSize->UpButton());
    EXPECT_EQ(page.m_editMaxFileSize->text(), "2147483647");
    // The Up and Down keys in the field are the arrows.
    Type(*page.m_editMaxFileSize, "7");
    Key(Qt::Key_Up);
    Key(Qt::Key_Up);
    Key(Qt::Key_Down);
    EXPECT_EQ(page.m_editMaxFileSize->text(), "8");

    // Only digits can be typed; an empty field is no integer: Create stops.
    Type(*page.m_editMaxFileSize, "1x2");
    EXPECT_EQ(page.m_editMaxFileSize->text(), "12");
    Type(*page.m_editMaxFileSize, "");
    Fill(m_tree.Path("src"), "NoLimit");
    Click(page, "IDOK");
    EXPECT_EQ(TakeMessageTexts(), std::vector<std::string>{CDBControl::kMsgEnterInteger});
    struct stat st {};
    EXPECT_NE(::stat((m_strData + "NoLimit.mdb").c_str(), &st), 0);
}

TEST_F(CreatePageTest, BrowseFillsOnlyTheStartDirectoryAndEnterCreates) {
    CDBControl& page = CreatePage();
    Type(*page.m_editDatabaseName, "Typed");
    m_pickedDirectory.reset();
    Click(page, "IDC_BROWSE");
    EXPECT_EQ(page.m_editStartDir->text(), "");
    m_pickedDirectory = m_tree.Path("src");
    Click(page, "IDC_BROWSE");
    EXPECT_EQ(page.m_editStartDir->text().toStdString(), m_tree.Path("src"));
    EXPECT_EQ(page.m_editDatabaseName->text(), "Typed");

    // Escape does nothing; Enter in a field is Create.
    ClickWidget(*page.m_editDatabaseName);
    Key(Qt::Key_Escape);
    EXPECT_TRUE(page.isVisible());
    Key(Qt::Key_Return);
    EXPECT_EQ(CountRows(m_strData + "Typed.mdb", "files"), 2);
}
