// SPDX-License-Identifier: GPL-3.0-or-later

#include "DesktopFixture.h"
#include "TestTree.h"
#include "UserInput.h"
#include "app/CMainDlg.h"
#include "app/CMainMenu.h"
#include "app/CommandIds.h"
#include "app/Globals.h"
#include "app/SearchHandover.h"
#include "catalog/ResultSet.h"
#include "controls/CSortListCtrl.h"
#include "controls/DialogUnits.h"
#include "pages/CDBControl.h"
#include "pages/CDBSearch.h"
#include "pages/CResult.h"
#include "search/HitStream.h"
#include "search/SearchMessages.h"

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QLineEdit>
#include <QMenuBar>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

class ResultPageTest : public DesktopTest {
protected:
    // Selects rows with the mouse: a click on the first, Ctrl+click on the
    // others; no rows: a click where there is no row.
    void Select(const std::vector<int>& rows) {
        CSortListCtrl& list = *ResultPage().m_list;
        if (rows.empty())
            ClickAt(*list.viewport(), BelowTheRows(list));
        for (size_t i = 0; i < rows.size(); ++i)
            ClickRow(list, rows[i], i == 0 ? Qt::NoModifier : Qt::ControlModifier);
        Settle();
        std::vector<int> selected;
        for (int nRow = list.GetFirstSelected(0); nRow >= 0; nRow = list.GetFirstSelected(nRow + 1))
            selected.push_back(nRow);
        std::vector<int> wanted = rows;
        std::sort(wanted.begin(), wanted.end());
        EXPECT_EQ(selected, wanted);
    }

    // Result > Check by its key.
    std::vector<MessageRequest> CheckSelected() {
        Key(Qt::Key_E, Qt::ControlModifier);
        return TakeMessages();
    }

    int RowOf(const std::string& strPath) {
        const std::vector<std::string> paths = ResultColumn(0);
        const auto it = std::find(paths.begin(), paths.end(), strPath);
        return it == paths.end() ? -1 : static_cast<int>(it - paths.begin());
    }

    // Runs Result > Check on one row; the messages it showed.
    std::vector<MessageRequest> Check(const std::string& strPath) {
        const int nRow = RowOf(strPath);
        EXPECT_GE(nRow, 0) << strPath;
        Select({nRow});
        return CheckSelected();
    }
};

} // namespace

TEST_F(ResultPageTest, RowsShowPathSizeChecksumAndCatalog) {
    const std::string strDigest(32, 'a');
    MakeCatalogOfRows("Disk", {"/", "/win", "/data/x"},
                      {{"/", "boot.ini", 5, strDigest},
                       {"/win", "a.txt", 0, ""},
                       {"/data/x", "neg", -5, ""},
                       {"/data/x", "unknown", std::nullopt, ""},
                       {"/data/x", "big", 5000000000, ""}});
    Start();
    Search("Disk", "*", kSearchFiles);
    EXPECT_EQ(ResultColumn(0), (std::vector<std::string>{"/boot.ini", "/win/a.txt", "/data/x/neg",
                                                         "/data/x/unknown", "/data/x/big"}));
    EXPECT_EQ(ResultColumn(1), (std::vector<std::string>{"5", "0", "", "", "5000000000"}));
    EXPECT_EQ(ResultColumn(2), (std::vector<std::string>{strDigest, "", "", "", ""}));
    EXPECT_EQ(ResultColumn(3), (std::vector<std::string>(5, "Disk")));

    Search("Disk", "*", kSearchDirs);
    EXPECT_EQ(ResultColumn(0), (std::vector<std::string>{"/", "/win", "/data/x"}));
    EXPECT_EQ(ResultColumn(1), (std::vector<std::string>(3, "")));
    EXPECT_EQ(ResultColumn(2), (std::vector<std::string>(3, "")));
}

TEST_F(ResultPageTest, ShowingWithoutAHandOverKeepsTheRows) {
    MakeCatalogOfRows("Disk", {"/d"}, {{"/d", "x", 1, ""}, {"/d", "y", 2, ""}});
    Start();
    Search("Disk", "*", kSearchFiles);
    ClickHeader(*ResultPage().m_list, 0);
    ClickHeader(*ResultPage().m_list, 0);
    ClickTab(2);
    EXPECT_FALSE(g_pMainMenu->IsEnabled(ID_RESULT_CHECK));
    ClickTab(1);
    EXPECT_TRUE(g_pMainMenu->IsEnabled(ID_RESULT_CHECK));
    EXPECT_EQ(ResultColumn(0), (std::vector<std::string>{"/d/y", "/d/x"}));
    // Enter on the page, or on its list, neither closes nor hides it.
    Key(Qt::Key_Return);
    Select({0});
    Key(Qt::Key_Return);
    EXPECT_TRUE(ResultPage().isVisible());
    // A new search refills the list in the catalog's order; the mark stays.
    Search("Disk", "*", kSearchFiles);
    EXPECT_EQ(ResultColumn(0), (std::vector<std::string>{"/d/x", "/d/y"}));
    EXPECT_EQ(ResultPage().m_list->SortColumnIndex(), 0);
}

TEST_F(ResultPageTest, DoubleClickOpensTheLowestSelectedRow) {
    std::vector<CatalogFile> files;
    for (int i = 0; i < 10; ++i)
        files.push_back({"/d", Concat({"f", std::to_string(i)}), i, ""});
    MakeCatalogOfRows("Disk", {"/d"}, files);
    Start();
    Search("Disk", "*", kSearchFiles);
    CSortListCtrl& list = *ResultPage().m_list;
    ASSERT_EQ(list.GetItemCount(), 10);

    // Where there is no row: nothing is selected, nothing opens.
    DoubleClickAt(*list.viewport(), BelowTheRows(list));
    EXPECT_EQ(list.GetFirstSelected(0), -1);
    EXPECT_TRUE(m_opened.empty());

    // Rows 3 and 7 selected, a Ctrl+double click on row 7: row 3 opens.
    Select({3, 7});
    DoubleClickRow(list, 7, Qt::ControlModifier);
    EXPECT_EQ(m_opened, std::vector<std::string>{"/d/f3"});
    EXPECT_TRUE(TakeMessages().empty());

    // A double click on a row selects and opens it.
    m_opened.clear();
    DoubleClickRow(list, 2);
    EXPECT_EQ(m_opened, std::vector<std::string>{"/d/f2"});

    m_bOpenSucceeds = false;
    DoubleClickRow(list, 2);
    const std::vector<MessageRequest> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].strText, "Can't open selected file or directory '/d/f2': no "
                                   "application for this kind of file");
    EXPECT_EQ(messages[0].strCaption, "Warning");
    EXPECT_EQ(messages[0].icon, MessageIcon::Warning);
}

TEST_F(ResultPageTest, FileCheckGivesTheFourAnswers) {
    m_tree.MakeDir("t");
    m_tree.WriteFile("t/same.txt", "unchanged content");
    m_tree.WriteFile("t/edited.txt", "content A");
    m_tree.WriteFile("t/grown.txt", "short");
    m_tree.WriteFile("t/gone.txt", "bye");
    MakeCatalog("T", m_tree.Path("t"));
    m_tree.WriteFile("t/edited.txt", "content B"); // one byte, same size
    m_tree.WriteFile("t/grown.txt", "longer now");
    ::unlink(m_tree.Path("t/gone.txt").c_str());
    Start();
    Search("T", "*", kSearchFiles);

    const std::string strCaption = "File check";
    std::vector<MessageRequest> messages = Check(m_tree.Path("t/same.txt"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].strText, "File '" + m_tree.Path("t/same.txt") + "' not changed");
    EXPECT_EQ(messages[0].strCaption, strCaption);
    EXPECT_EQ(messages[0].icon, MessageIcon::Information);

    for (const char* pszChanged : {"t/edited.txt", "t/grown.txt"}) {
        messages = Check(m_tree.Path(pszChanged));
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].strText, "File '" + m_tree.Path(pszChanged) + "' was changed");
        EXPECT_EQ(messages[0].icon, MessageIcon::Information);
    }

    messages = Check(m_tree.Path("t/gone.txt"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].strText, "File not found");
    EXPECT_EQ(messages[0].strCaption, strCaption);
    EXPECT_EQ(messages[0].icon, MessageIcon::Warning);

    // Nothing selected: nothing at all.
    Select({});
    EXPECT_TRUE(CheckSelected().empty());
}

TEST_F(ResultPageTest, AMemberOfAnArchiveIsListedOpensAsItsArchiveAndIsCheckedInIt) {
    // A zip whose members are stored as they are: the same data of another
    // content keeps its size.
    m_tree.MakeDir("t/b");
    m_tree.WriteFile("zip.py", "import sys, zipfile\n"
                               "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                               "    for name, data in (('photos/img.jpg', sys.argv[2]),\n"
                               "                       ('notes.txt', 'some notes')):\n"
                               "        z.writestr(zipfile.ZipInfo(name, (2019, 6, 30, 12, 0, 0)),"
                               " data)\n");
    const std::string strZip = m_tree.Path("t/b/2019.zip");
    const auto writeZip = [&](const char* pszData) {
        ASSERT_EQ(std::system(Concat({"python3 '", m_tree.Path("zip.py"), "' '", strZip, "' '",
                                      pszData, "'"})
                                  .c_str()),
                  0);
    };
    writeZip("jpeg data");
    m_tree.WriteFile("t/img.txt", "a file");
    MakeCatalog("Z", m_tree.Path("t"), true, true);
    Start();
    Search("Z", "*img*", kSearchBoth);
    const std::string strMember = strZip + "//photos/img.jpg";
    // The file first, then the member, each with its own size and checksum.
    EXPECT_EQ(ResultColumn(0), (std::vector<std::string>{m_tree.Path("t/img.txt"), strMember}));
    EXPECT_EQ(ResultColumn(1), (std::vector<std::string>{"6", "9"}));
    EXPECT_EQ(ResultColumn(2)[1], "3c2af4a748ce22f8eb1db184738614c6");
    EXPECT_EQ(ResultColumn(3), (std::vector<std::string>(2, "Z")));

    // A member cannot be opened by the system: its archive is.
    CSortListCtrl& list = *ResultPage().m_list;
    DoubleClickRow(list, RowOf(strMember));
    EXPECT_EQ(m_opened, std::vector<std::string>{strZip});
    EXPECT_TRUE(TakeMessages().empty());

    std::vector<MessageRequest> messages = Check(strMember);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].strText, "File '" + strMember + "' not changed");
    EXPECT_EQ(messages[0].strCaption, "File check");

    // Other data of the same size, the archive's time put back as stored:
    // only reading the member tells.
    struct stat before {};
    ASSERT_EQ(::stat(strZip.c_str(), &before), 0);
    writeZip("jpeg dat4");
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, strZip.c_str(), times, 0), 0);
    messages = Check(strMember);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].strText, "File '" + strMember + "' was changed");

    ::unlink(strZip.c_str());
    messages = Check(strMember);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].strText, "File not found");
    EXPECT_EQ(messages[0].icon, MessageIcon::Warning);
}

TEST_F(ResultPageTest, FileCheckReadsTheStoredChecksumCell) {
    m_tree.MakeDir("t");
    m_tree.WriteFile("t/a.txt", "alpha");
    m_tree.WriteFile("t/b.txt", "beta");
    m_tree.MakeFifo("t/pipe");
    std::string strUpper = Md5OfText("alpha");
    std::transform(strUpper.begin(), strUpper.end(), strUpper.begin(), ::toupper);
    // An upper-case digest with blanks around it; a file without a digest.
    MakeCatalogOfRows("Rows", {m_tree.Path("t")},
                      {{m_tree.Path("t"), "a.txt", 5, " " + strUpper + " \t"},
                       {m_tree.Path("t"), "b.txt", 4, ""},
                       {m_tree.Path("t"), "b.txt", 4, "   "},
                       {m_tree.Path("t"), "pipe", 0, Md5OfText("")}});
    Start();
    Search("Rows", "*", kSearchFiles);
    EXPECT_EQ(Check(m_tree.Path("t/a.txt"))[0].strText,
              "File '" + m_tree.Path("t/a.txt") + "' not changed");

    // Rows 1 and 2 selected: row 1 is checked, whose cell is empty.
    Select({2, 1});
    std::vector<MessageRequest> messages = CheckSelected();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].strText, "Checksum not found in database for this file");
    EXPECT_EQ(messages[0].icon, MessageIcon::Information);
    // A cell of blanks only is no checksum either.
    Select({2});
    messages = CheckSelected();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].strText, "Checksum not found in database for this file");
    // A file that opens but cannot be read is not compared.
    Select({3});
    messages = CheckSelected();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].strText, "File '" + m_tree.Path("t/pipe") + "' cannot be read");
    EXPECT_EQ(messages[0].icon, MessageIcon::Warning);
    // A deleted file is not found, whatever its cell holds.
    ::unlink(m_tree.Path("t/b.txt").c_str());
    Select({1});
    messages = CheckSelected();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].strText, "File not found");

    // After a search of directories the rows are directories: no check.
    Search("Rows", "*", kSearchDirs);
    Select({0});
    EXPECT_TRUE(CheckSelected().empty());
}

TEST_F(ResultPageTest, ChecksumsShowWholeCutTextsShowAsTooltipsAndANewSearchStartsTopLeft) {
    const std::string strDir = Concat({"/archive/", std::string(120, 'x')});
    std::vector<CatalogFile> files;
    for (int i = 0; i < 80; ++i)
        files.push_back(
            {strDir, Concat({"f", std::to_string(i)}), i, Md5OfText(std::to_string(i))});
    // The first checksum is the widest a checksum can be in this font.
    const QFontMetrics metrics(QApplication::font());
    char cWidest = '0';
    for (const char c : std::string("0123456789abcdef"))
        if (metrics.horizontalAdvance(QChar(c)) > metrics.horizontalAdvance(QChar(cWidest)))
            cWidest = c;
    files[0].strChecksum = std::string(32, cWidest);
    MakeCatalogOfRows("Disk", {strDir}, files);
    Start();
    Search("Disk", "*", kSearchFiles);
    CSortListCtrl& list = *ResultPage().m_list;
    QScrollBar& vertical = *list.verticalScrollBar();
    QScrollBar& horizontal = *list.horizontalScrollBar();

    // Scrolled to the last row and the far right, as a person does it: End
    // on the list, then clicks on the scroll bar right of its handle.
    Select({0});
    Key(Qt::Key_End);
    ASSERT_GT(horizontal.maximum(), 0);
    const QPoint ptRightOfHandle(horizontal.width() - horizontal.height() - 2,
                                 horizontal.height() / 2);
    for (int i = 0; i < 20 && horizontal.value() < horizontal.maximum(); ++i)
        ClickAt(horizontal, ptRightOfHandle);
    ASSERT_GT(vertical.value(), 0);
    ASSERT_EQ(horizontal.value(), horizontal.maximum());
    // A new search is shown from its first row and column.
    Search("Disk", "*", kSearchFiles);
    EXPECT_EQ(vertical.value(), 0);
    EXPECT_EQ(horizontal.value(), 0);

    // Widened so that every column shows whole: a checksum fits its column
    // at the default width (no tooltip), a long path is cut and shows whole
    // as a tooltip.
    Main().resize(Main().size() + QSize(600, 0));
    Settle();
    ASSERT_EQ(horizontal.maximum(), 0);
    EXPECT_EQ(ToolTipAt(*list.viewport(), MiddleOfCell(list, 0, 2)).toStdString(), "");
    EXPECT_EQ(ToolTipAt(*list.viewport(), MiddleOfCell(list, 0, 0)).toStdString(), strDir + "/f0");
}

TEST_F(ResultPageTest, TheWindowKeepsItsDesignAndTheListItsPlaceAtAnySize) {
    Start();
    ClickTab(1);
    const DialogUnits dlu(Main().font());
    const QSize designed =
        dlu.Size(252, 246) + QSize(0, Main().Menu().MenuBar()->sizeHint().height());
    EXPECT_EQ(Main().size(), designed);
    // The list lies where the layout puts it, also after maximise and
    // restore: the page 5 pixels in and 25 down in the tab control, the
    // list 7 dialog units down in the page, with 7 free at its right and
    // bottom.
    auto expectInPlace = [&](const char* pszWhen) {
        const QTabWidget& tab = Main().Tab();
        const QRect rcPage(ResultPage().mapTo(&tab, QPoint(0, 0)), ResultPage().size());
        EXPECT_EQ(rcPage, QRect(5, 25, tab.width() - 10, tab.height() - 30)) << pszWhen;
        EXPECT_EQ(ResultPage().m_list->geometry(), QRect(0, dlu.Y(7), rcPage.width() - dlu.X(7),
                                                         rcPage.height() - dlu.Y(7) - dlu.Y(7)))
            << pszWhen;
        // The other pages lie in the same place.
        for (const QWidget* pPage :
             {static_cast<QWidget*>(&SearchPage()), static_cast<QWidget*>(&CreatePage())})
            EXPECT_EQ(QRect(pPage->mapTo(&tab, QPoint(0, 0)), pPage->size()), rcPage) << pszWhen;
    };
    expectInPlace("designed size");
    // Dragged smaller, the window stops at its designed size.
    Main().resize(designed / 2);
    Settle();
    EXPECT_EQ(Main().size(), designed);
    Main().resize(designed + QSize(120, 80));
    Settle();
    expectInPlace("larger");
    Main().showMaximized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Main().isMaximized(); }));
    Settle();
    EXPECT_GT(Main().width(), designed.width() + 120);
    expectInPlace("maximised");
    Main().showNormal();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Main().isMaximized(); }));
    Settle();
    EXPECT_EQ(Main().size(), designed + QSize(120, 80));
    expectInPlace("restored");

    // Without a main window (no menu yet) the page still takes a show; a
    // hand-over whose query never opened is dropped and the rows stay.
    Stop();
    ASSERT_EQ(g_pMainMenu, nullptr);
    CResult page;
    page.m_list->AddRow({"/kept", "1", "", "X"});
    g_nResultAction = 1;
    g_pSearchRecordset.reset();
    page.show();
    EXPECT_EQ(g_nResultAction, 0);
    EXPECT_EQ(page.m_list->GetItemCount(), 1);
    page.hide();
}
