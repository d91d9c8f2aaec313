// SPDX-License-Identifier: GPL-3.0-or-later

// The right-click menus of the desktop program, through real right-clicks:
// a catalog entry's Update, Properties..., Compare with... and Find
// duplicates, and the result list's Open containing folder, Copy path and
// Export list...
#include "DesktopFixture.h"
#include "UserInput.h"
#include "app/CMainDlg.h"
#include "app/SearchHandover.h"
#include "catalog/CatalogInfo.h"
#include "catalog/Database.h"
#include "catalog/ResultSet.h"
#include "controls/CSortListCtrl.h"
#include "pages/CDBSearch.h"
#include "pages/CResult.h"
#include "search/HitStream.h"
#include "search/SearchMessages.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

class ContextMenuTest : public DesktopTest {
protected:
    // Right-clicks an entry of the Search page's list and chooses strItem.
    void EntryMenu(int nRow, const char* pszItem) {
        QListWidget& list = *SearchPage().m_listDatabases;
        WhenMenuShowsChoose(pszItem);
        RightClickAt(*list.viewport(), MiddleOfRow(list, nRow));
        Settle();
    }

    void ResultMenu(int nRow, const char* pszItem) {
        CSortListCtrl& list = *ResultPage().m_list;
        WhenMenuShowsChoose(pszItem);
        RightClickAt(*list.viewport(), MiddleOfRow(list, nRow));
        Settle();
    }

    // Compare with... on strEntry, strOther chosen in the dialog it asks with.
    void CompareWith(const std::string& strEntry, const char* pszOther) {
        WhenModalShows([&](QWidget& dialog) {
            auto* pCombo = dialog.findChild<QComboBox*>();
            ASSERT_NE(pCombo, nullptr);
            ChooseInCombo(*pCombo, pCombo->findText(pszOther));
            PressKey(Qt::Key_Return);
        });
        EntryMenu(RowOfEntry(strEntry), "Compare with...");
    }

    // Each row of the Result page as its path and catalog: "/d/a.txt Disk".
    std::vector<std::string> PathsAndCatalogs() {
        std::vector<std::string> rows;
        for (size_t i = 0; i < ResultColumn(0).size(); ++i)
            rows.push_back(ResultColumn(0)[i] + " " + ResultColumn(3)[i]);
        return rows;
    }

    int RowOfEntry(const std::string& strEntry) {
        const std::vector<std::string> entries = ListedEntries();
        return static_cast<int>(std::find(entries.begin(), entries.end(), strEntry) -
                                entries.begin());
    }
};

} // namespace

TEST_F(ContextMenuTest, ACatalogEntryIsUpdatedShownComparedAndSearchedForDuplicates) {
    m_tree.MakeDir("disk/docs");
    m_tree.WriteFile("disk/docs/report.txt", "the report");
    m_tree.WriteFile("disk/docs/copy of report.txt", "the report");
    m_tree.WriteFile("disk/notes.txt", "notes");
    MakeCatalog("Disk", m_tree.Path("disk"));
    m_tree.MakeDir("backup");
    m_tree.WriteFile("backup/report.txt", "the report");
    MakeCatalog("Backup", m_tree.Path("backup"));
    Start();
    QListWidget& list = *SearchPage().m_listDatabases;
    const int nDisk = RowOfEntry("Disk"), nBackup = RowOfEntry("Backup");

    // Resting on an entry tells where and when its catalog was made.
    const QString strTip = ToolTipAt(*list.viewport(), MiddleOfRow(list, nDisk));
    EXPECT_TRUE(strTip.contains("Start directory: " + QString::fromStdString(m_tree.Path("disk"))))
        << strTip.toStdString();
    EXPECT_TRUE(strTip.contains("Files: 3")) << strTip.toStdString();
    EXPECT_TRUE(strTip.contains("Complete: yes")) << strTip.toStdString();

    // Properties... shows what the catalog records; Enter closes it.
    QStringList shown;
    WhenModalShows([&](QWidget& dialog) {
        for (const QLabel* pLabel : dialog.findChildren<QLabel*>())
            shown << pLabel->text();
        PressKey(Qt::Key_Return);
    });
    EntryMenu(nDisk, "Properties...");
    EXPECT_TRUE(shown.contains(QString::fromStdString(m_tree.Path("disk"))))
        << shown.join("|").toStdString();
    EXPECT_TRUE(shown.contains("Kestrel " KESTREL_VERSION)) << shown.join("|").toStdString();
    // A right-click selects nothing: the selection is the user's clicks.
    EXPECT_TRUE(list.selectedItems().isEmpty());

    // Update reads the new file into the catalog and says what changed; the
    // selection stays as the user made it.
    m_tree.WriteFile("disk/docs/new.txt", "new");
    SelectEntries({"Backup"});
    EntryMenu(nDisk, "Update");
    EXPECT_EQ(SearchPage().SelectedEntries(), std::vector<std::string>{"Backup"});
    EXPECT_EQ(TakeMessageTexts(),
              std::vector<std::string>{"'Disk' is up to date: 1 added, 0 removed, 0 changed, 3 "
                                       "unchanged files"});
    {
        Database database;
        database.Open(m_strData + "Disk.mdb", Database::OpenMode::ReadOnly);
        EXPECT_EQ(ResultSet(database.Prepare("SELECT count(*) FROM files")).GetInt64(0), 4);
    }

    // Compare with... asks for the second catalog; the Result page shows the
    // files that differ, with the catalog each row comes from.
    CompareWith("Disk", "Backup");
    EXPECT_EQ(CurrentTab(), 1);
    std::vector<std::string> rows = PathsAndCatalogs();
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<std::string>{m_tree.Path("backup/report.txt") + " Backup",
                                              m_tree.Path("disk/docs") + "/ Disk",
                                              m_tree.Path("disk/docs/copy of report.txt") + " Disk",
                                              m_tree.Path("disk/docs/new.txt") + " Disk",
                                              m_tree.Path("disk/docs/report.txt") + " Disk",
                                              m_tree.Path("disk/notes.txt") + " Disk"}));

    // Find duplicates over the selected catalogs: one group of three.
    ClickTab(0);
    EXPECT_EQ(SearchPage().SelectedEntries(), std::vector<std::string>{"Backup"});
    SelectEntries({"Disk", "Backup"});
    EntryMenu(nBackup, "Find duplicates");
    EXPECT_EQ(CurrentTab(), 1);
    std::vector<std::string> group = ResultColumn(0);
    std::sort(group.begin(), group.end());
    EXPECT_EQ(group, (std::vector<std::string>{m_tree.Path("backup/report.txt"),
                                               m_tree.Path("disk/docs/copy of report.txt"),
                                               m_tree.Path("disk/docs/report.txt")}));
    EXPECT_EQ(ResultColumn(1), std::vector<std::string>(3, "10"));
    EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(ContextMenuTest, FindDuplicatesAndCompareWithListMembersOfArchivesByTheirPaths) {
    // The report, and again inside a zip; a backup whose zip holds another
    // text of the same length.
    const auto writeZip = [&](const std::string& strZip, const char* pszText) {
        ASSERT_EQ(std::system(("python3 -c \"import zipfile, sys; "
                               "zipfile.ZipFile(sys.argv[1], 'w').writestr('saved/report.txt', "
                               "sys.argv[2])\" '" +
                               strZip + "' '" + pszText + "'")
                                  .c_str()),
                  0);
    };
    for (const char* pszRoot : {"disk", "backup"}) {
        m_tree.MakeDir(std::string(pszRoot) + "/docs");
        m_tree.WriteFile(std::string(pszRoot) + "/docs/report.txt", "the report");
    }
    writeZip(m_tree.Path("disk/pack.zip"), "the report");
    writeZip(m_tree.Path("backup/pack.zip"), "the REPORT");
    MakeCatalog("Disk", m_tree.Path("disk"), true, true);
    MakeCatalog("Backup", m_tree.Path("backup"), true, true);
    Start();
    EntryMenu(RowOfEntry("Disk"), "Find duplicates");
    ASSERT_EQ(CurrentTab(), 1);
    EXPECT_EQ(ResultColumn(0),
              (std::vector<std::string>{m_tree.Path("disk/docs/report.txt"),
                                        m_tree.Path("disk/pack.zip//saved/report.txt")}));
    EXPECT_EQ(ResultColumn(1), std::vector<std::string>(2, "10"));

    // The rows of what differs, each member by its full path on its side.
    ClickTab(0);
    CompareWith("Disk", "Backup");
    ASSERT_EQ(CurrentTab(), 1);
    EXPECT_EQ(
        PathsAndCatalogs(),
        (std::vector<std::string>{m_tree.Path("disk/pack.zip") + " Disk",
                                  m_tree.Path("backup/pack.zip") + " Backup",
                                  m_tree.Path("disk/pack.zip//saved/report.txt") + " Disk",
                                  m_tree.Path("backup/pack.zip//saved/report.txt") + " Backup"}));
    EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(ContextMenuTest, AnEntrysTooltipFollowsItsCatalogWhenTheFileChanges) {
    m_tree.MakeDir("disk");
    m_tree.WriteFile("disk/one.txt", "1");
    MakeCatalog("Disk", m_tree.Path("disk"));
    MakeCatalog("Other", m_tree.Path("disk"));
    Start();
    QListWidget& list = *SearchPage().m_listDatabases;
    const int nDisk = RowOfEntry("Disk");
    // Rests on the entry, after the mouse was on the other one.
    auto tip = [&] {
        ToolTipAt(*list.viewport(), MiddleOfRow(list, 1 - nDisk));
        return ToolTipAt(*list.viewport(), MiddleOfRow(list, nDisk)).toStdString();
    };
    std::string strTip = tip();
    EXPECT_NE(strTip.find("Files: 1 "), std::string::npos) << strTip;
    strTip = tip();
    EXPECT_NE(strTip.find("Files: 1 "), std::string::npos) << strTip;

    // Made again with one more file, while the list stays as it was.
    m_tree.WriteFile("disk/two.txt", "2");
    ASSERT_EQ(::unlink((m_strData + "Disk.mdb").c_str()), 0);
    MakeCatalog("Disk", m_tree.Path("disk"));
    strTip = tip();
    EXPECT_NE(strTip.find("Files: 2 "), std::string::npos) << strTip;

    // A file that is no catalog says so, and the catalog is read again once
    // it is back.
    m_tree.WriteFile("garbage", std::string(4096, 'x'));
    ASSERT_EQ(::rename(m_tree.Path("garbage").c_str(), (m_strData + "Disk.mdb").c_str()), 0);
    strTip = tip();
    EXPECT_NE(strTip.find("This catalog cannot be read"), std::string::npos) << strTip;
    ASSERT_EQ(::unlink((m_strData + "Disk.mdb").c_str()), 0);
    MakeCatalog("Disk", m_tree.Path("disk"));
    strTip = tip();
    EXPECT_NE(strTip.find("Files: 2 "), std::string::npos) << strTip;
}

TEST_F(ContextMenuTest, CompareWithTakesTheChosenEntryWhenTwoShowTheSameText) {
    m_tree.MakeDir("disk");
    m_tree.WriteFile("disk/shared.txt", "shared");
    MakeCatalog("Disk", m_tree.Path("disk"));
    // Names that are not UTF-8: both show as the same replacement character.
    const std::string strFirst = "\xff", strSecond = "\xfe";
    m_tree.MakeDir("first");
    m_tree.WriteFile("first/shared.txt", "shared");
    m_tree.WriteFile("first/only in first.txt", "1");
    MakeCatalog(strFirst, m_tree.Path("first"));
    m_tree.MakeDir("second");
    m_tree.WriteFile("second/shared.txt", "shared");
    m_tree.WriteFile("second/only in second.txt", "2");
    MakeCatalog(strSecond, m_tree.Path("second"));
    Start();
    const QListWidget& list = *SearchPage().m_listDatabases;
    ASSERT_EQ(list.item(RowOfEntry(strFirst))->text(), list.item(RowOfEntry(strSecond))->text());

    // The later of the two in the list is chosen: a choice found again by its
    // text would be the earlier one.
    const int nDisk = RowOfEntry("Disk");
    const int nChosenRow = std::max(RowOfEntry(strFirst), RowOfEntry(strSecond));
    const std::string strChosen = ListedEntries()[static_cast<size_t>(nChosenRow)];
    const std::string strOther = strChosen == strFirst ? strSecond : strFirst;
    const int nChoice = nChosenRow - (nDisk < nChosenRow ? 1 : 0);
    WhenModalShows([&](QWidget& dialog) {
        auto* pCombo = dialog.findChild<QComboBox*>();
        ASSERT_NE(pCombo, nullptr);
        ChooseInCombo(*pCombo, nChoice);
        PressKey(Qt::Key_Return);
    });
    EntryMenu(nDisk, "Compare with...");
    EXPECT_EQ(CurrentTab(), 1);
    const std::string strOnly = m_tree.Path(strChosen == strFirst ? "first/only in first.txt"
                                                                  : "second/only in second.txt");
    EXPECT_EQ(ResultColumn(0), std::vector<std::string>{strOnly});
    EXPECT_EQ(ResultColumn(3), std::vector<std::string>{strChosen});
    EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(ContextMenuTest, FileCheckWorksOnDuplicateRowsAfterASearchOfDirectories) {
    m_tree.MakeDir("disk");
    m_tree.WriteFile("disk/a.txt", "same");
    m_tree.WriteFile("disk/b.txt", "same");
    MakeCatalog("Disk", m_tree.Path("disk"));
    Start();
    Search("Disk", "*", kSearchDirs);
    ClickRow(*ResultPage().m_list, 0);
    Key(Qt::Key_E, Qt::ControlModifier);
    EXPECT_TRUE(TakeMessages().empty()); // a directory: no check

    // With no catalog selected, the one clicked is searched.
    ClickTab(0);
    SelectEntries({});
    EntryMenu(RowOfEntry("Disk"), "Find duplicates");
    ASSERT_EQ(CurrentTab(), 1);
    ASSERT_EQ(ResultPage().m_list->GetItemCount(), 2);
    ClickRow(*ResultPage().m_list, 0);
    Key(Qt::Key_E, Qt::ControlModifier);
    EXPECT_EQ(TakeMessageTexts(),
              std::vector<std::string>{"File '" + ResultColumn(0)[0] + "' not changed"});

    // The next search of directories is no file list again.
    Search("Disk", "*", kSearchDirs);
    ClickRow(*ResultPage().m_list, 0);
    Key(Qt::Key_E, Qt::ControlModifier);
    EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(ContextMenuTest, TheResultListOpensFoldersCopiesPathsAndExports) {
    MakeCatalogOfRows("Disk", {"/data", "/data/photos, 2024"},
                      {{"/data", "a.txt", 30, ""},
                       {"/data/photos, 2024", "b \"best\".jpg", 10, std::string(32, 'b')},
                       {"/data/photos, 2024", "c.jpg", 20, ""}});
    Start();
    Search("Disk", "*", kSearchFiles);
    CSortListCtrl& list = *ResultPage().m_list;
    ASSERT_EQ(list.GetItemCount(), 3);

    ResultMenu(1, "Open containing folder");
    EXPECT_EQ(m_opened, std::vector<std::string>{"/data/photos, 2024"});

    // Rows 0 and 2 selected; a right-click on one of them copies both.
    ClickRow(list, 0);
    ClickRow(list, 2, Qt::ControlModifier);
    ResultMenu(2, "Copy path");
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(),
              "/data/a.txt\n/data/photos, 2024/c.jpg\n");

    // Export list... writes every row in the order shown: sorted by size.
    ClickHeader(list, 1);
    m_pickedSaveFile = m_tree.Path("hits.csv");
    ResultMenu(0, "Export list...");
    // The name offered: what was searched for, or the catalog for a pattern
    // of wildcards alone, with today's date.
    EXPECT_EQ(m_proposedSaveNames,
              std::vector<std::string>{
                  "Disk " + QDate::currentDate().toString("yyyy-MM-dd").toStdString() + ".csv"});
    EXPECT_EQ(ReadFile(m_tree.Path("hits.csv")),
              "path,size,md5,catalog,path_bytes,catalog_bytes\r\n"
              "\"/data/photos, 2024/b \"\"best\"\".jpg\",10," +
                  std::string(32, 'b') +
                  ",Disk,,\r\n"
                  "\"/data/photos, 2024/c.jpg\",20,,Disk,,\r\n"
                  "/data/a.txt,30,,Disk,,\r\n");
    // A file that cannot be written is said so, and nothing is left.
    m_pickedSaveFile = m_tree.Path("no such folder/hits.csv");
    ResultMenu(0, "Export list...");
    const std::vector<MessageRequest> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].strCaption, "Export list");
    EXPECT_NE(messages[0].strText.find("No such file or directory"), std::string::npos);
}

TEST_F(ContextMenuTest, ACatalogListedFromElsewhereLeavesTheListAndItsFileStays) {
    MakeCatalog("Home", m_tree.Root());
    MakeCatalog("Away", m_tree.Root());
    m_tree.MakeDir("other");
    const std::string strAway = m_tree.Path("other/away.mdb");
    ::rename((m_strData + "Away.mdb").c_str(), strAway.c_str());
    m_tree.WriteFile("home/kestrel/dblist.txt", "/x/y.mdb\n" + strAway + "\n");
    Start();
    ASSERT_EQ(ListedEntries(), (std::vector<std::string>{"Home", "/x/y.mdb", strAway}));
    QListWidget& list = *SearchPage().m_listDatabases;

    // A catalog of the data folder is there because its file is: no such entry.
    QStringList items;
    WhenShows(
        nullptr, [] { return qobject_cast<QMenu*>(ShownPopup()); },
        [&items](QWidget* pMenu) {
            ASSERT_NE(pMenu, nullptr);
            for (const QAction* pAction : pMenu->actions())
                items << pAction->text();
            pMenu->close();
        });
    RightClickAt(*list.viewport(), MiddleOfRow(list, 0));
    Settle();
    EXPECT_TRUE(items.contains("Find duplicates")) << items.join(",").toStdString();
    EXPECT_FALSE(items.contains("Remove from list")) << items.join(",").toStdString();

    // One listed by its path leaves the list and dblist.txt; its file stays,
    // nothing is asked, and no neighbour becomes current.
    EntryMenu(2, "Remove from list");
    EXPECT_TRUE(TakeMessages().empty());
    EXPECT_EQ(ListedEntries(), (std::vector<std::string>{"Home", "/x/y.mdb"}));
    EXPECT_EQ(ReadFile(m_strData + "dblist.txt"), "/x/y.mdb\n");
    EXPECT_TRUE(Exists(strAway));
    EXPECT_EQ(list.currentRow(), -1);
    // One whose file is gone leaves as well; the list is read again without both.
    EntryMenu(1, "Remove from list");
    EXPECT_EQ(ReadFile(m_strData + "dblist.txt"), "");
    Click(SearchPage(), "IDC_UPDATE_LIST");
    EXPECT_EQ(ListedEntries(), std::vector<std::string>{"Home"});
    EXPECT_TRUE(Exists(m_strData + "Home.mdb"));
}

TEST_F(ContextMenuTest, CatalogTimesShowInTheLocalZoneInTheTooltipAndProperties) {
    // Central European time, spelt out so that no zone database is needed.
    ScopedEnv zone("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    ::tzset();
    m_tree.MakeDir("disk");
    m_tree.WriteFile("disk/a.txt", "a");
    MakeCatalog("Disk", m_tree.Path("disk"));
    {
        Database database;
        database.Open(m_strData + "Disk.mdb", Database::OpenMode::ReadWrite);
        SetCatalogInfo(database, CatalogInfoKey::kStarted, "2026-12-09T15:04:58Z");
        SetCatalogInfo(database, CatalogInfoKey::kFinished, "2026-07-01T10:05:00Z");
    }
    Start();
    QListWidget& list = *SearchPage().m_listDatabases;

    const QString strTip = ToolTipAt(*list.viewport(), MiddleOfRow(list, 0));
    EXPECT_TRUE(strTip.contains("Made: 2026-07-01 12:05:00 CEST Files: 1")) << strTip.toStdString();

    QStringList shown;
    WhenModalShows([&](QWidget& dialog) {
        for (const QLabel* pLabel : dialog.findChildren<QLabel*>())
            shown << pLabel->text();
        PressKey(Qt::Key_Escape);
    });
    EntryMenu(0, "Properties...");
    EXPECT_TRUE(shown.contains("2026-12-09 16:04:58 CET")) << shown.join("|").toStdString();
    EXPECT_TRUE(shown.contains("2026-07-01 12:05:00 CEST")) << shown.join("|").toStdString();
    EXPECT_FALSE(shown.join("|").contains("T15:04:58Z")) << shown.join("|").toStdString();
}
