// SPDX-License-Identifier: GPL-3.0-or-later

#include "DesktopFixture.h"
#include "UserInput.h"

#include "app/CMainDlg.h"
#include "app/SearchHandover.h"
#include "catalog/Catalog.h"
#include "catalog/Database.h"
#include "catalog/ResultSet.h"
#include "catalog/Statement.h"
#include "controls/CSortListCtrl.h"
#include "pages/CDBControl.h"
#include "pages/CDBSearch.h"
#include "pages/CResult.h"
#include "scan/ScanJob.h"
#include "search/HitStream.h"
#include "search/SearchMessages.h"

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTest>

DesktopTest::DesktopTest() : m_dataHome("XDG_DATA_HOME", m_tree.Path("home")) {
    m_strData = m_tree.Path("home") + "/kestrel/";
    // Every test starts as the program does.
    g_bReloadDatabaseList = true;
    g_pSearchRecordset.reset();
    g_nResultAction = 0;
    g_nSearchMode = 0;
    g_strSearchDatabase.clear();
    // The window opens at its designed size, whatever an earlier test left.
    QSettings("Kestrel", "kestrel").remove("MainWindow");
    g_desktopHooks.fnMessage = [this](const MessageRequest& request) {
        m_messages.push_back(request);
        if (request.buttons == MessageButtons::Ok)
            return MessageAnswer::Ok;
        if (m_answers.empty())
            return MessageAnswer::No;
        const MessageAnswer answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    };
    g_desktopHooks.fnPickDirectory = [this] { return m_pickedDirectory; };
    g_desktopHooks.fnPickCatalogFile = [this] { return m_pickedFile; };
    g_desktopHooks.fnPickSaveFile = [this](const QString& strProposed) {
        m_proposedSaveNames.push_back(BytesOf(strProposed));
        return m_pickedSaveFile;
    };
    g_desktopHooks.fnOpenPath = [this](const std::string& strPath) {
        m_opened.push_back(strPath);
        return m_bOpenSucceeds ? std::string()
                               : std::string("no application for this kind of file");
    };
}

DesktopTest::~DesktopTest() {
    m_pMain.reset();
    g_desktopHooks = DesktopHooks();
    g_pSearchRecordset.reset();
}

void DesktopTest::Start() {
    m_pMain = std::make_unique<CMainDlg>(m_app);
    m_pMain->show();
    // The window a person works in is the active one, with the keyboard.
    m_pMain->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_pMain.get()));
    Settle();
}

void DesktopTest::Stop() {
    m_pMain.reset();
}

void DesktopTest::Settle() {
    QApplication::processEvents();
    // A window manager gives the keyboard back to the main window when a
    // menu, a drop-down list or a dialog closes; the offscreen platform
    // leaves no window, or the closed one, active then.
    const QWidget* pActive = QApplication::activeWindow();
    if (m_pMain && m_pMain->isVisible() && (!pActive || !pActive->isVisible()) &&
        !QApplication::activePopupWidget() && !QApplication::activeModalWidget()) {
        m_pMain->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(m_pMain.get()));
    }
}

CDBSearch& DesktopTest::SearchPage() const {
    return *m_pMain->findChild<CDBSearch*>();
}

CResult& DesktopTest::ResultPage() const {
    return *m_pMain->findChild<CResult*>();
}

CDBControl& DesktopTest::CreatePage() const {
    return *m_pMain->findChild<CDBControl*>();
}

int DesktopTest::CurrentTab() const {
    return m_pMain->Tab().currentIndex();
}

void DesktopTest::Click(QWidget& page, const char* pszButton) {
    auto* pButton = page.findChild<QPushButton*>(pszButton);
    ASSERT_NE(pButton, nullptr) << pszButton;
    ClickWidget(*pButton);
    Settle();
}

void DesktopTest::ClickTab(int nPage) {
    ::ClickTab(Main().Tab(), nPage);
    Settle();
}

void DesktopTest::ClickEntry(int nRow) {
    ClickRow(*SearchPage().m_listDatabases, nRow);
    Settle();
}

void DesktopTest::Key(Qt::Key key, Qt::KeyboardModifiers modifiers) {
    PressKey(key, modifiers);
    Settle();
}

void DesktopTest::Type(QLineEdit& field, const std::string& strText) {
    TypeInto(field, QString::fromStdString(strText));
    Settle();
}

void DesktopTest::ChooseWhere(int nMode) {
    ChooseInCombo(*SearchPage().m_comboWhere, nMode);
    Settle();
}

void DesktopTest::WhenModalShows(std::function<void(QWidget&)> fnAct) {
    WhenShows(
        m_pMain.get(),
        []() -> QWidget* {
            // Up: active, and holding the keyboard focus.
            QWidget* pModal = QApplication::activeModalWidget();
            const bool bUp = pModal && pModal->isActiveWindow() && KeyTarget() &&
                             pModal->isAncestorOf(KeyTarget());
            return bUp ? pModal : nullptr;
        },
        [fnAct = std::move(fnAct)](QWidget* pModal) {
            if (pModal) {
                fnAct(*pModal);
                return;
            }
            ADD_FAILURE() << "no modal window came up";
            if (QWidget* pStuck = QApplication::activeModalWidget())
                pStuck->close();
        });
}

void DesktopTest::MakeCatalog(const std::string& strName, const std::string& strStartDir,
                              bool bChecksum, bool bArchives) {
    m_tree.MakeDir("home/kestrel");
    ScanJob job;
    job.strCatalogPath = m_strData + strName + ".mdb";
    job.strStartDir = strStartDir;
    job.bChecksum = bChecksum;
    job.bArchives = bArchives;
    job.nMaxFileSizeKb = 0;
    ScanThreadProc(&job);
    ASSERT_FALSE(job.outcome.bFailed) << job.outcome.strError;
}

void DesktopTest::MakeCatalogOfRows(const std::string& strName,
                                    const std::vector<std::string>& dirs,
                                    const std::vector<CatalogFile>& files) {
    m_tree.MakeDir("home/kestrel");
    Database database;
    ASSERT_TRUE(CreateCatalog(database, m_strData + strName + ".mdb"));
    Statement insertDir = database.Prepare("INSERT INTO dirs(dir_name) VALUES (?)");
    for (const std::string& strDir : dirs) {
        insertDir.BindText(1, strDir);
        insertDir.Run();
    }
    Statement insertFile = database.Prepare(
        "INSERT INTO files(dir_id, file_name, file_size, md5_checksum) VALUES (?, ?, ?, ?)");
    for (const CatalogFile& file : files) {
        const auto it = std::find(dirs.begin(), dirs.end(), file.strDir);
        ASSERT_NE(it, dirs.end()) << file.strDir;
        insertFile.BindInt64(1, it - dirs.begin() + 1);
        insertFile.BindText(2, file.strName);
        if (file.nSize)
            insertFile.BindInt64(3, *file.nSize);
        else
            insertFile.BindNull(3);
        if (file.strChecksum.empty())
            insertFile.BindNull(4);
        else
            insertFile.BindText(4, file.strChecksum);
        insertFile.Run();
    }
}

void DesktopTest::Search(const std::string& strEntry, const std::string& strText, int nMode) {
    ClickTab(0);
    SelectEntries({strEntry});
    Type(*SearchPage().m_editSearch, strText);
    ChooseWhere(nMode);
    Click(SearchPage(), "IDC_SEARCH");
}

void DesktopTest::SelectEntries(const std::vector<std::string>& entries) {
    QListWidget& list = *SearchPage().m_listDatabases;
    const std::vector<std::string> listed = ListedEntries();
    for (int i = 0; i < list.count(); ++i) {
        const bool bWanted = std::find(entries.begin(), entries.end(), listed[i]) != entries.end();
        if (list.item(i)->isSelected() != bWanted)
            ClickEntry(i);
        EXPECT_EQ(list.item(i)->isSelected(), bWanted) << listed[i];
    }
}

std::vector<std::string> DesktopTest::ListedEntries() const {
    return SearchPage().Entries();
}

std::vector<std::string> DesktopTest::ResultColumn(int nColumn) const {
    std::vector<std::string> texts;
    const CSortListCtrl& list = *ResultPage().m_list;
    for (int i = 0; i < list.GetItemCount(); ++i)
        texts.push_back(list.GetItemText(i, nColumn));
    return texts;
}

std::vector<MessageRequest> DesktopTest::TakeMessages() {
    std::vector<MessageRequest> messages;
    messages.swap(m_messages);
    return messages;
}

std::vector<std::string> DesktopTest::TakeMessageTexts() {
    std::vector<std::string> texts;
    for (const MessageRequest& request : TakeMessages())
        texts.push_back(request.strText);
    return texts;
}
