// SPDX-License-Identifier: GPL-3.0-or-later

// The desktop program and the disks its catalogs describe, on real
// loop-mounted ext4 images: a hit whose disk is not plugged in names the disk
// and the catalog's note, and is found where the disk is mounted now; a disk
// plugged in while the program runs brings up a notice whose Update updates
// its catalog; the note is written from the catalog's Properties.
#include "DesktopFixture.h"
#include "LoopVolume.h"
#include "UserInput.h"
#include "app/CDiskNotice.h"
#include "app/CMainDlg.h"
#include "app/CMainMenu.h"
#include "app/DiskWatch.h"
#include "catalog/CatalogInfo.h"
#include "catalog/CatalogLock.h"
#include "catalog/Database.h"
#include "catalog/SearchMode.h"
#include "controls/CSortListCtrl.h"
#include "controls/FolderListModel.h"
#include "pages/CBrowseWnd.h"
#include "pages/CDBSearch.h"
#include "pages/CResult.h"
#include "search/SearchMessages.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <optional>

namespace {

class DiskDesktopTest : public DesktopTest {
protected:
    CatalogInfo InfoOf(const std::string& strName) {
        Database database;
        database.Open(m_strData + strName + ".mdb", Database::OpenMode::ReadOnly);
        return ReadCatalogInfo(database, false);
    }

    // Result > Check, chosen with the mouse from the menu bar.
    std::vector<MessageRequest> CheckFromMenuBar() {
        QMenuBar& bar = *Main().Menu().MenuBar();
        QAction* pResult = nullptr;
        for (QAction* pAction : bar.actions())
            if (pAction->text() == "Result")
                pResult = pAction;
        EXPECT_NE(pResult, nullptr);
        if (!pResult)
            return {};
        bool bChosen = false;
        WhenShows(
            nullptr, [] { return ShownPopup(); },
            [&bChosen](QWidget* pMenu) {
                bChosen = true;
                if (!pMenu)
                    return;
                for (QAction* pAction : pMenu->actions())
                    if (pAction->text() == "Check\tCtrl+E")
                        ClickAt(*pMenu,
                                static_cast<QMenu*>(pMenu)->actionGeometry(pAction).center());
            });
        ClickAt(bar, bar.actionGeometry(pResult).center());
        EXPECT_TRUE(QTest::qWaitFor([&] { return bChosen && !QApplication::activePopupWidget(); }));
        Settle();
        return TakeMessages();
    }

    void ResultMenu(int nRow, const char* pszItem) {
        CSortListCtrl& list = *ResultPage().m_list;
        WhenMenuShowsChoose(pszItem);
        RightClickAt(*list.viewport(), MiddleOfRow(list, nRow));
        Settle();
    }

    DiskWatch& Watch() const { return *Main().findChild<DiskWatch*>(); }
    CDiskNotice& Notice() const { return *Main().findChild<CDiskNotice*>(); }

    // Waits until the volumes of the listed catalogs have been located.
    void WaitForTheWatch() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return Watch().IsIdle(); }, 5000));
    }
};

} // namespace

TEST_F(DiskDesktopTest, AHitOnADiskNotPluggedInNamesTheDiskAndIsFoundWhereTheDiskIsNow) {
    SKIP_WITHOUT_LOOP_MOUNTS("ext4");
    LoopVolume volume(m_tree, "ext4", "PHOTOS");
    ASSERT_TRUE(volume.Mount(m_tree.Path("first"))) << volume.Problem();
    m_tree.WriteFile("first/beach.jpg", "a day at the beach");
    MakeCatalog("Photos", m_tree.Path("first"));
    WriteCatalogNote(m_strData + "Photos.mdb", "shelf 3, blue box");
    const std::string strUuid = InfoOf("Photos").volume.strUuid;
    ASSERT_FALSE(strUuid.empty());
    ASSERT_TRUE(volume.Unmount());

    Start();
    Search("Photos", "beach.jpg", kSearchFiles);
    const std::string strStored = m_tree.Path("first/beach.jpg");
    ASSERT_EQ(ResultColumn(0), std::vector<std::string>{strStored});
    CSortListCtrl& list = *ResultPage().m_list;
    const std::string strAbsent = "'" + strStored +
                                  "' is on a disk that is not plugged in: label 'PHOTOS', UUID " +
                                  strUuid + " (catalog 'Photos'). Note: shelf 3, blue box";

    // The hit right-clicked (which selects it), its folder asked to open,
    // then Result > Check, then a double click: each says which disk to fetch.
    ResultMenu(0, "Open containing folder");
    std::vector<MessageRequest> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].strText, strAbsent);
    EXPECT_EQ(messages[0].icon, MessageIcon::Warning);
    messages = CheckFromMenuBar();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].strText, strAbsent);
    EXPECT_EQ(messages[0].strCaption, "File check");
    DoubleClickRow(list, 0);
    EXPECT_EQ(TakeMessageTexts(), std::vector<std::string>{strAbsent});
    EXPECT_TRUE(m_opened.empty());

    // The Browse window's Check on the same hit says the same.
    ResultMenu(0, "Show in catalog");
    CBrowseWnd* pWindow = nullptr;
    for (QWidget* pWidget : QApplication::topLevelWidgets())
        if (auto* pBrowse = qobject_cast<CBrowseWnd*>(pWidget); pBrowse && pBrowse->isVisible())
            pWindow = pBrowse;
    ASSERT_NE(pWindow, nullptr);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return pWindow->IsIdle() && pWindow->CurrentFolder() != 0; }));
    const auto& model = static_cast<const FolderListModel&>(*pWindow->m_list->model());
    int nRow = -1;
    for (int i = 0; i < model.rowCount(); ++i)
        if (model.Row(i).strName == "beach.jpg")
            nRow = i;
    ASSERT_GE(nRow, 0);
    WhenMenuShowsChoose("Check");
    RightClickAt(*pWindow->m_list->viewport(), MiddleOfRow(*pWindow->m_list, nRow));
    Settle();
    EXPECT_EQ(TakeMessageTexts(), std::vector<std::string>{strAbsent});
    pWindow->close();
    Settle();

    // Plugged in at another folder: Open, Open containing folder and Check
    // find the file there.
    ASSERT_TRUE(volume.Mount(m_tree.Path("second"))) << volume.Problem();
    const std::string strNow = m_tree.Path("second/beach.jpg");
    DoubleClickRow(list, 0);
    ResultMenu(0, "Open containing folder");
    EXPECT_EQ(m_opened, (std::vector<std::string>{strNow, m_tree.Path("second")}));
    messages = CheckFromMenuBar();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].strText, "File '" + strNow + "' not changed");
}

TEST_F(DiskDesktopTest, ADiskPluggedInBringsUpANoticeWhoseUpdateUpdatesItsCatalog) {
    SKIP_WITHOUT_LOOP_MOUNTS("ext4");
    LoopVolume volume(m_tree, "ext4", "CARDS");
    const std::string strMount = m_tree.Path("cards");
    ASSERT_TRUE(volume.Mount(strMount)) << volume.Problem();
    m_tree.WriteFile("cards/old.txt", "old");
    MakeCatalog("Cards", strMount);
    ASSERT_TRUE(volume.Unmount());

    Start();
    WaitForTheWatch();
    EXPECT_FALSE(Notice().isVisible());
    // The person is typing a search when the disk comes.
    QLineEdit& search = *SearchPage().m_editSearch;
    ClickWidget(search);
    Settle();
    TypeText("ne");
    ASSERT_EQ(QApplication::focusWidget(), &search);

    ASSERT_TRUE(volume.Mount(strMount)) << volume.Problem();
    m_tree.WriteFile("cards/new.txt", "new");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Notice().isVisible(); }, 5000));
    EXPECT_EQ(Notice().m_text->text().toStdString(),
              "The disk CARDS (catalog Cards) is plugged in.");
    // Inside the main window, at its bottom right; the typing goes on where it was.
    const QRect rcMain(Main().mapToGlobal(QPoint(0, 0)), Main().size());
    const QRect rcNotice = Notice().frameGeometry();
    EXPECT_TRUE(rcMain.contains(rcNotice)) << rcNotice.x() << "," << rcNotice.y();
    EXPECT_GT(rcNotice.center().x(), rcMain.center().x());
    EXPECT_GT(rcNotice.center().y(), rcMain.center().y());
    // It leaves the page's buttons free to click.
    for (const QAbstractButton* pButton : Main().findChildren<QAbstractButton*>()) {
        if (!pButton->isVisible() || pButton->window() != &Main())
            continue;
        const QRect rcButton(pButton->mapToGlobal(QPoint(0, 0)), pButton->size());
        EXPECT_FALSE(rcButton.intersects(rcNotice)) << pButton->text().toStdString();
    }
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return QApplication::activeWindow() == &Main() && search.hasFocus(); }, 1000));
    TypeText("w.txt");
    EXPECT_EQ(search.text(), "new.txt");

    // Update runs the catalog's Update: the new file is found.
    ClickWidget(*Notice().m_update);
    Settle();
    EXPECT_FALSE(Notice().isVisible());
    EXPECT_EQ(TakeMessageTexts(),
              std::vector<std::string>{
                  "'Cards' is up to date: 1 added, 0 removed, 0 changed, 1 unchanged files"});
    Search("Cards", "new.txt", kSearchFiles);
    EXPECT_EQ(ResultColumn(0), std::vector<std::string>{m_tree.Path("cards/new.txt")});

    // A disk that goes before its notice is answered takes the notice along.
    ClickTab(0);
    WaitForTheWatch();
    ASSERT_TRUE(volume.Unmount());
    WaitForTheWatch();
    ASSERT_TRUE(volume.Mount(strMount)) << volume.Problem();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Notice().isVisible(); }, 5000));
    ASSERT_TRUE(volume.Unmount());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Notice().isVisible(); }, 5000));
    EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(DiskDesktopTest, TheNoteIsWrittenFromTheCatalogsProperties) {
    m_tree.MakeDir("disk");
    m_tree.WriteFile("disk/a.txt", "a");
    MakeCatalog("Disk", m_tree.Path("disk"));
    Start();
    QListWidget& list = *SearchPage().m_listDatabases;
    // Another writer holds the catalog when OK is first clicked.
    std::optional<CatalogLock> otherWriter(std::in_place, m_strData + "Disk.mdb",
                                           CatalogLock::Wait{});
    bool bStayed = false;
    WhenModalShows([&](QWidget& dialog) {
        auto* pNote = dialog.findChild<QLineEdit*>("IDC_CATALOG_NOTE");
        auto* pButtons = dialog.findChild<QDialogButtonBox*>();
        ASSERT_NE(pNote, nullptr);
        ASSERT_NE(pButtons, nullptr);
        TypeInto(*pNote, "shelf 3, blue box");
        ClickWidget(*pButtons->button(QDialogButtonBox::Ok));
        // Said why, and still there with the text typed.
        bStayed = dialog.isVisible() && pNote->text() == "shelf 3, blue box";
        otherWriter.reset();
        ClickWidget(*pButtons->button(QDialogButtonBox::Ok));
    });
    WhenMenuShowsChoose("Properties...");
    RightClickAt(*list.viewport(), MiddleOfRow(list, 0));
    Settle();
    EXPECT_TRUE(bStayed);
    const std::vector<MessageRequest> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].icon, MessageIcon::Critical);
    EXPECT_NE(messages[0].strText.find("The note could not be kept"), std::string::npos)
        << messages[0].strText;
    EXPECT_EQ(InfoOf("Disk").strNote, std::optional<std::string>("shelf 3, blue box"));

    // The entry's tooltip shows it, with where the disk is (the mouse comes
    // to the entry from below the rows).
    ToolTipAt(*list.viewport(), BelowTheRows(list));
    const QString strTip = ToolTipAt(*list.viewport(), MiddleOfRow(list, 0));
    EXPECT_TRUE(strTip.contains("Note: shelf 3, blue box")) << strTip.toStdString();
    EXPECT_TRUE(strTip.contains("Disk: online")) << strTip.toStdString();
}
