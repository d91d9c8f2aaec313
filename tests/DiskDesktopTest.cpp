// The desktop program and the disks its catalogs describe, on real
// loop-mounted ext4 images: a hit whose disk is not plugged in names the disk
// and the catalog's note, and is found where the disk is mounted now; the
// note is written from the catalog's Properties.
#include "DesktopFixture.h"
#include "LoopVolume.h"
#include "UserInput.h"
#include "app/CMainDlg.h"
#include "app/CMainMenu.h"
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
            nullptr, [] { return QApplication::activePopupWidget(); },
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
