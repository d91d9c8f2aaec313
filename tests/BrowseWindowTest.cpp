// SPDX-License-Identifier: GPL-3.0-or-later

// The Browse window, through real clicks and keys: opened from a catalog's
// menu, walked by the folder tree, the list, the treemap, the path bar, Back
// and Up, narrowed and searched from the filter box, and opened at a hit by
// the Result page's "Show in catalog".
#include "DesktopFixture.h"
#include "UserInput.h"
#include "controls/CPathBar.h"
#include "controls/CSortListCtrl.h"
#include "controls/CTreemapView.h"
#include "controls/FolderListModel.h"
#include "controls/FolderTreeModel.h"
#include "pages/CBrowseWnd.h"
#include "pages/CDBSearch.h"
#include "pages/CResult.h"
#include "scan/CatalogUpdate.h"
#include "scan/ScanJob.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <QTreeView>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

// What the tests of a Browse window share: opening it, waiting for it, and
// reading its list.
class BrowseFixture : public DesktopTest {
protected:
    // The Browse windows open now.
    static std::vector<CBrowseWnd*> Windows() {
        std::vector<CBrowseWnd*> windows;
        for (QWidget* pWidget : QApplication::topLevelWidgets())
            if (auto* pWindow = qobject_cast<CBrowseWnd*>(pWidget); pWindow && pWindow->isVisible())
                windows.push_back(pWindow);
        return windows;
    }

    // Right-clicks the catalog's entry and chooses "Browse...": the window.
    CBrowseWnd& OpenFromEntry() {
        QListWidget& list = *SearchPage().m_listDatabases;
        WhenMenuShowsChoose("Browse...");
        RightClickAt(*list.viewport(), MiddleOfRow(list, 0));
        Settle();
        EXPECT_EQ(Windows().size(), 1u);
        CBrowseWnd& window = *Windows().at(0);
        WaitFor(window);
        return window;
    }

    // Waits until every read of the window is answered and its treemap drawn.
    void WaitFor(CBrowseWnd& window) {
        for (int i = 0; i < 500 && !(window.IsIdle() && window.m_treemap->IsLaidOut() &&
                                     window.CurrentFolder() != 0);
             ++i)
            QTest::qWait(10);
        ASSERT_TRUE(window.IsIdle());
        QApplication::processEvents();
    }

    static std::vector<std::string> Names(const CBrowseWnd& window) {
        std::vector<std::string> names;
        const auto& model = static_cast<const FolderListModel&>(*window.m_list->model());
        for (int i = 0; i < model.rowCount(); ++i)
            names.push_back(model.Row(i).strName);
        return names;
    }

    static int RowNamed(const CBrowseWnd& window, const std::string& strName) {
        const std::vector<std::string> names = Names(window);
        const auto it = std::find(names.begin(), names.end(), strName);
        return it == names.end() ? -1 : static_cast<int>(it - names.begin());
    }

    static std::string Selected(const CBrowseWnd& window) {
        const QModelIndexList rows = window.m_list->selectionModel()->selectedRows();
        const auto& model = static_cast<const FolderListModel&>(*window.m_list->model());
        return rows.size() == 1 ? model.Row(rows[0].row()).strName : std::string("(none)");
    }

    static std::string Cell(const CBrowseWnd& window, int nRow, int nColumn, int nRole) {
        return window.m_list->model()
            ->data(window.m_list->model()->index(nRow, nColumn), nRole)
            .toString()
            .toStdString();
    }
};

class BrowseWindowTest : public BrowseFixture {
protected:
    BrowseWindowTest() {
        m_tree.MakeDir("disk/photos/2023");
        m_tree.WriteFile("disk/photos/2023/beach.jpg", std::string(6000, 'b'));
        m_tree.WriteFile("disk/photos/cover.png", std::string(900, 'c'));
        m_tree.MakeDir("disk/music");
        m_tree.WriteFile("disk/music/song.mp3", std::string(3000, 's'));
        m_tree.WriteFile("disk/readme.txt", "read me");
        MakeCatalog("Disk", m_tree.Path("disk"));
        Start();
    }
};

// A disk with a zip archive, catalogued with the members of its archives.
class BrowseArchiveTest : public BrowseFixture {
protected:
    BrowseArchiveTest() {
        m_tree.MakeDir("zdisk");
        m_tree.WriteFile("zdisk/readme.txt", "read me");
        m_tree.WriteFile("make_zip.py", R"py(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr("photos/img1.jpg", b"p" * 100)
    z.writestr("photos/2019/img2.jpg", b"q" * 200)
    z.writestr("notes.txt", b"n" * 10)
)py");
        const std::string strCommand =
            "python3 '" + m_tree.Path("make_zip.py") + "' '" + m_tree.Path("zdisk/x.zip") + "'";
        EXPECT_EQ(std::system(strCommand.c_str()), 0);
        m_tree.MakeDir("home/kestrel");
        ScanJob job;
        job.strCatalogPath = m_strData + "Zips.mdb";
        job.strStartDir = m_tree.Path("zdisk");
        job.bChecksum = true;
        job.bArchives = true;
        job.nMaxFileSizeKb = 0;
        ScanThreadProc(&job);
        EXPECT_FALSE(job.outcome.bFailed) << job.outcome.strError;
        EXPECT_EQ(job.outcome.nArchives, 1u);
        Start();
    }
};

} // namespace

TEST_F(BrowseWindowTest, FoldersAreWalkedByTreeListTreemapPathBarBackAndUp) {
    CBrowseWnd& window = OpenFromEntry();
    // The start directory: folders first, then files, each by name; sizes
    // readable, exact in the tooltip, totals below the list.
    EXPECT_EQ(Names(window), (std::vector<std::string>{"music", "photos", "readme.txt"}));
    EXPECT_EQ(Cell(window, 1, FolderListModel::kSize, Qt::DisplayRole), "6.7 KiB");
    EXPECT_EQ(Cell(window, 1, FolderListModel::kSize, Qt::ToolTipRole), "6,900 bytes in 2 files");
    EXPECT_EQ(Cell(window, 1, FolderListModel::kKind, Qt::DisplayRole), "Folder");
    EXPECT_EQ(window.m_status->text().toStdString(), "2 folders, 1 file, 9.7 KiB");
    EXPECT_FALSE(window.m_up->isEnabled());

    // The tree opens a folder lazily with a click on its arrow, and a click
    // on a node shows that folder.
    const auto& treeModel = static_cast<const FolderTreeModel&>(*window.m_tree->model());
    const QModelIndex top = treeModel.index(0, 0);
    ASSERT_EQ(treeModel.rowCount(top), 2);
    const QModelIndex photos = treeModel.index(1, 0, top);
    EXPECT_EQ(photos.data().toString().toStdString(), "photos");
    EXPECT_EQ(treeModel.rowCount(photos), 0) << "not read before it is opened";
    const QRect node = window.m_tree->visualRect(photos);
    ClickAt(*window.m_tree->viewport(),
            QPoint(node.left() - window.m_tree->indentation() / 2, node.center().y()));
    WaitFor(window);
    ASSERT_EQ(treeModel.rowCount(photos), 1);
    ClickAt(*window.m_tree->viewport(),
            window.m_tree->visualRect(treeModel.index(0, 0, photos)).center());
    WaitFor(window);
    EXPECT_EQ(Names(window), (std::vector<std::string>{"beach.jpg"}));
    PressKey(Qt::Key_Left, Qt::AltModifier); // back
    WaitFor(window);
    EXPECT_EQ(Names(window).size(), 3u);
    EXPECT_FALSE(window.m_back->isEnabled());

    // A double-click on a folder enters it.
    DoubleClickRow(*window.m_list, RowNamed(window, "photos"));
    WaitFor(window);
    EXPECT_EQ(Names(window), (std::vector<std::string>{"2023", "cover.png"}));
    EXPECT_EQ(Cell(window, 1, FolderListModel::kKind, Qt::DisplayRole), "Image");

    // Alt+Up goes up, with the folder left chosen; Backspace goes back.
    window.m_list->setFocus();
    PressKey(Qt::Key_Up, Qt::AltModifier);
    WaitFor(window);
    EXPECT_EQ(Names(window).size(), 3u);
    EXPECT_EQ(Selected(window), "photos");
    PressKey(Qt::Key_Backspace);
    WaitFor(window);
    EXPECT_EQ(Names(window), (std::vector<std::string>{"2023", "cover.png"}));

    // Enter on the chosen folder opens it too.
    ClickRow(*window.m_list, RowNamed(window, "2023"));
    PressKey(Qt::Key_Return);
    WaitFor(window);
    EXPECT_EQ(Names(window), (std::vector<std::string>{"beach.jpg"}));

    // A part of the path bar goes to that folder.
    QToolButton* pTop = nullptr;
    for (QToolButton* pButton : window.m_pathBar->findChildren<QToolButton*>())
        if (pButton->text().toStdString() == m_tree.Path("disk"))
            pTop = pButton;
    ASSERT_NE(pTop, nullptr);
    ClickWidget(*pTop);
    WaitFor(window);
    EXPECT_EQ(Names(window).size(), 3u);

    // A click on a folder's rectangle in the treemap enters it; the largest
    // entry has the largest rectangle.
    const std::vector<TreemapItem>& items = window.m_treemap->Items();
    ASSERT_EQ(items.size(), 3u);
    ASSERT_EQ(items[0].strName, "music"); // in the list's order
    ASSERT_EQ(items[1].strName, "photos");
    const QRect photosRect = window.m_treemap->ItemRect(1),
                musicRect = window.m_treemap->ItemRect(0);
    EXPECT_GT(photosRect.width() * photosRect.height(), musicRect.width() * musicRect.height());
    ClickAt(*window.m_treemap, musicRect.center());
    WaitFor(window);
    EXPECT_EQ(Names(window), (std::vector<std::string>{"song.mp3"}));
    // Clicking the treemap again, on a file, chooses it in the list.
    ClickAt(*window.m_treemap, window.m_treemap->ItemRect(0).center());
    EXPECT_EQ(Selected(window), "song.mp3");

    // Opening the catalog again raises the same window.
    OpenFromEntry();
    EXPECT_EQ(Windows().size(), 1u);
}

TEST_F(BrowseWindowTest, TheFilterNarrowsTheFolderAndEnterSearchesTheWholeCatalog) {
    CBrowseWnd& window = OpenFromEntry();
    PressKey(Qt::Key_F, Qt::ControlModifier);
    ASSERT_EQ(QApplication::focusWidget(), window.m_filter);
    TypeText("mu");
    QApplication::processEvents();
    EXPECT_EQ(Names(window), (std::vector<std::string>{"music"}));
    EXPECT_EQ(window.m_treemap->Items().size(), 1u);
    TypeInto(*window.m_filter, "*.txt");
    EXPECT_EQ(Names(window), (std::vector<std::string>{"readme.txt"}));
    PressKey(Qt::Key_Escape);
    EXPECT_EQ(Names(window).size(), 3u);

    // Enter: every file of the catalog whose name matches, with its folder.
    TypeInto(*window.m_filter, "beach");
    PressKey(Qt::Key_Return);
    WaitFor(window);
    ASSERT_EQ(Names(window), (std::vector<std::string>{"beach.jpg"}));
    EXPECT_EQ(Cell(window, 0, FolderListModel::kFolder, Qt::DisplayRole),
              m_tree.Path("disk/photos/2023"));
    EXPECT_FALSE(window.m_list->isColumnHidden(FolderListModel::kFolder));
    // Enter on a hit shows it in its folder.
    window.m_list->setFocus();
    ClickRow(*window.m_list, 0);
    PressKey(Qt::Key_Return);
    WaitFor(window);
    EXPECT_EQ(Names(window), (std::vector<std::string>{"beach.jpg"}));
    EXPECT_EQ(Selected(window), "beach.jpg");
    EXPECT_TRUE(window.m_list->isColumnHidden(FolderListModel::kFolder));
}

TEST_F(BrowseWindowTest, ShowInCatalogOpensTheHitsFolderWithTheHitChosen) {
    Search("Disk", "cover.png", 1);
    ASSERT_EQ(ResultColumn(0), (std::vector<std::string>{m_tree.Path("disk/photos/cover.png")}));
    CSortListCtrl& list = *ResultPage().m_list;
    WhenMenuShowsChoose("Show in catalog");
    RightClickAt(*list.viewport(), MiddleOfRow(list, 0));
    Settle();
    ASSERT_EQ(Windows().size(), 1u);
    CBrowseWnd& window = *Windows()[0];
    WaitFor(window);
    EXPECT_EQ(Names(window), (std::vector<std::string>{"2023", "cover.png"}));
    EXPECT_EQ(Selected(window), "cover.png");

    // The file's menu: Check compares it with the catalog; Copy path copies it.
    const int nRow = RowNamed(window, "cover.png");
    WhenMenuShowsChoose("Check");
    RightClickAt(*window.m_list->viewport(), MiddleOfRow(*window.m_list, nRow));
    Settle();
    EXPECT_EQ(TakeMessageTexts(),
              (std::vector<std::string>{"File '" + m_tree.Path("disk/photos/cover.png") +
                                        "' not changed"}));
    WhenMenuShowsChoose("Copy path");
    RightClickAt(*window.m_list->viewport(), MiddleOfRow(*window.m_list, nRow));
    Settle();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
              m_tree.Path("disk/photos/cover.png") + "\n");
}

TEST_F(BrowseWindowTest, AnUpdateWhileTheWindowIsOpenIsShownAtTheNextStep) {
    CBrowseWnd& window = OpenFromEntry();
    DoubleClickRow(*window.m_list, RowNamed(window, "photos"));
    WaitFor(window);
    ASSERT_EQ(Names(window), (std::vector<std::string>{"2023", "cover.png"}));

    // The disk changes and the catalog is updated: a new file takes its place.
    fs::remove(m_tree.Path("disk/photos/cover.png"));
    m_tree.WriteFile("disk/photos/new.txt", "new");
    m_tree.MakeDir("disk/photos/2024");
    CatalogUpdate update(m_strData + "Disk.mdb", {});
    ScanThreadProc(&update.Job());
    ASSERT_EQ(update.Finish(), "");

    // The next step reads the catalog as it is now, at the folder shown.
    window.m_list->setFocus();
    PressKey(Qt::Key_Up, Qt::AltModifier);
    WaitFor(window);
    EXPECT_EQ(Names(window), (std::vector<std::string>{"2023", "2024", "new.txt"}));
    EXPECT_FALSE(window.m_back->isEnabled())
        << "the old catalog's folders are no place to go back to";
    PressKey(Qt::Key_Up, Qt::AltModifier);
    WaitFor(window);
    EXPECT_EQ(Names(window), (std::vector<std::string>{"music", "photos", "readme.txt"}));
    EXPECT_EQ(Cell(window, RowNamed(window, "photos"), FolderListModel::kSize, Qt::ToolTipRole),
              "6,003 bytes in 2 files");
}

// An archive is a folder that opens: a node of the folder tree, and a row of
// the list (still a file of its size, also in the treemap) that a
// double-click enters, showing its members with their sizes and checksums;
// the path bar reads the member's path.
TEST_F(BrowseArchiveTest, ADoubleClickOnAnArchiveShowsItsMembers) {
    CBrowseWnd& window = OpenFromEntry();
    ASSERT_EQ(Names(window), (std::vector<std::string>{"readme.txt", "x.zip"}));
    const int nZip = RowNamed(window, "x.zip");
    const uint64_t nZipSize = fs::file_size(m_tree.Path("zdisk/x.zip"));
    EXPECT_EQ(Cell(window, nZip, FolderListModel::kKind, Qt::DisplayRole), "Archive");
    EXPECT_EQ(window.m_status->text().toStdString().substr(0, 18), "0 folders, 2 files");
    const std::vector<TreemapItem>& items = window.m_treemap->Items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_FALSE(items[1].bFolder) << "the treemap counts the archive as one file";
    EXPECT_EQ(items[1].nBytes, nZipSize);
    // The tree holds it below its folder, with the folders inside it.
    const auto& treeModel = static_cast<const FolderTreeModel&>(*window.m_tree->model());
    const QModelIndex top = treeModel.index(0, 0);
    ASSERT_EQ(treeModel.rowCount(top), 1);
    EXPECT_EQ(treeModel.index(0, 0, top).data().toString().toStdString(), "x.zip//");
    EXPECT_TRUE(treeModel.hasChildren(treeModel.index(0, 0, top)));

    DoubleClickRow(*window.m_list, nZip);
    WaitFor(window);
    EXPECT_EQ(Names(window), (std::vector<std::string>{"photos", "notes.txt"}));
    EXPECT_EQ(Cell(window, 0, FolderListModel::kSize, Qt::ToolTipRole), "300 bytes in 2 files");
    DoubleClickRow(*window.m_list, RowNamed(window, "photos"));
    WaitFor(window);
    ASSERT_EQ(Names(window), (std::vector<std::string>{"2019", "img1.jpg"}));
    EXPECT_EQ(Cell(window, 1, FolderListModel::kSize, Qt::ToolTipRole), "100 bytes");
    EXPECT_EQ(Cell(window, 1, FolderListModel::kChecksum, Qt::DisplayRole),
              "f0b1b06c4c48a35d5a79a666e5377235");
    // The path bar: a part for the archive, and the member's path to edit.
    std::vector<std::string> parts;
    for (QToolButton* pButton : window.m_pathBar->findChildren<QToolButton*>())
        parts.push_back(pButton->text().toStdString());
    EXPECT_EQ(parts, (std::vector<std::string>{m_tree.Path("zdisk"), "› x.zip//", "› photos"}));
    PressKey(Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(window.m_pathBar->Field()->text().toStdString(),
              m_tree.Path("zdisk") + "/x.zip//photos");
    PressKey(Qt::Key_Escape);
    // The folder node inside the archive is chosen in the tree.
    EXPECT_EQ(window.m_tree->currentIndex().data().toString().toStdString(), "photos");

    // A member is on no disk by itself: opening it says so.
    window.m_list->setFocus();
    DoubleClickRow(*window.m_list, RowNamed(window, "img1.jpg"));
    Settle();
    EXPECT_EQ(TakeMessageTexts(),
              (std::vector<std::string>{"'" + m_tree.Path("zdisk") +
                                        "/x.zip//photos/img1.jpg' is a member of an archive: "
                                        "open the archive to reach it"}));

    // Up twice: the archive's top, then its folder with the archive chosen.
    PressKey(Qt::Key_Up, Qt::AltModifier);
    WaitFor(window);
    EXPECT_EQ(Selected(window), "photos");
    PressKey(Qt::Key_Up, Qt::AltModifier);
    WaitFor(window);
    EXPECT_EQ(Names(window), (std::vector<std::string>{"readme.txt", "x.zip"}));
    EXPECT_EQ(Selected(window), "x.zip");
}

TEST_F(BrowseWindowTest, TheMenuKeysOpenTheMenusOfTheCurrentEntryAndRow) {
    // The catalog's entry current, the Menu key opens its menu: Browse...
    QListWidget& entries = *SearchPage().m_listDatabases;
    ClickEntry(0);
    WhenMenuShowsChoose("Browse...");
    Key(Qt::Key_Menu);
    ASSERT_EQ(Windows().size(), 1u);
    CBrowseWnd& window = *Windows().at(0);
    WaitFor(window);
    EXPECT_EQ(entries.currentRow(), 0);

    // In the window's list, the menu of the current row, by either key.
    const int nReadme = RowNamed(window, "readme.txt");
    ClickRow(*window.m_list, 0);
    for (int i = 0; i < nReadme; ++i)
        PressKey(Qt::Key_Down);
    ASSERT_EQ(window.m_list->currentIndex().row(), nReadme);
    WhenMenuShowsChoose("Copy path");
    PressKey(Qt::Key_Menu);
    QApplication::processEvents();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
              m_tree.Path("disk/readme.txt") + "\n");
    QGuiApplication::clipboard()->clear();
    PressKey(Qt::Key_Up);
    WhenMenuShowsChoose("Copy path");
    PressKey(Qt::Key_F10, Qt::ShiftModifier);
    QApplication::processEvents();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
              m_tree.Path("disk/") + Names(window)[nReadme - 1] + "\n");
    window.close();
}
