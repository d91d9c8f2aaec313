// SPDX-License-Identifier: GPL-3.0-or-later

// The Result page as the answer of Find duplicates and Compare with...: each
// row says what it is, the line under the list sums the answer up, and
// catalogs without checksums are named rather than passed over in silence.
#include "DesktopFixture.h"
#include "UserInput.h"
#include "app/SearchHandover.h"
#include "controls/CSortListCtrl.h"
#include "pages/CDBSearch.h"
#include "pages/CResult.h"
#include "search/SearchMessages.h"

#include <QComboBox>
#include <QDate>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <algorithm>

namespace {

class ResultAnswerTest : public DesktopTest {
protected:
    void EntryMenu(const std::string& strEntry, const char* pszItem) {
        const std::vector<std::string> entries = ListedEntries();
        const int nRow =
            static_cast<int>(std::find(entries.begin(), entries.end(), strEntry) - entries.begin());
        QListWidget& list = *SearchPage().m_listDatabases;
        WhenMenuShowsChoose(pszItem);
        RightClickAt(*list.viewport(), MiddleOfRow(list, nRow));
        Settle();
    }

    // The line under the Result list as a person sees it: shown, below the
    // list, or nothing.
    std::string SummaryLine() {
        auto* pLine = ResultPage().findChild<QLabel*>("IDC_RESULT_SUMMARY");
        if (!pLine || !pLine->isVisible())
            return {};
        EXPECT_GE(pLine->geometry().top(), ResultPage().m_list->geometry().bottom());
        EXPECT_LE(pLine->geometry().bottom(), ResultPage().height());
        return pLine->text().toStdString();
    }

    std::vector<std::string> Headings() {
        std::vector<std::string> headings;
        const CSortListCtrl& list = *ResultPage().m_list;
        for (int i = 0; i < list.header()->count(); ++i)
            headings.push_back(list.model()
                                   ->headerData(i, Qt::Horizontal, Qt::DisplayRole)
                                   .toString()
                                   .toStdString());
        return headings;
    }
};

const std::vector<std::string> kColumns = {"Path", "File size", "CRC", "Database"};

} // namespace

TEST_F(ResultAnswerTest,
       FindDuplicatesNumbersItsGroupsSaysWhatTheyFreeAndNamesCatalogsWithoutChecksums) {
    m_tree.MakeDir("disk/a");
    m_tree.WriteFile("disk/a/big.bin", std::string(4096, 'x'));
    m_tree.WriteFile("disk/a/big copy.bin", std::string(4096, 'x'));
    m_tree.WriteFile("disk/small.txt", "small");
    m_tree.WriteFile("disk/a/small.txt", "small");
    m_tree.WriteFile("disk/unique.txt", "unique");
    MakeCatalog("Disk", m_tree.Path("disk"));
    m_tree.MakeDir("plain");
    m_tree.WriteFile("plain/big.bin", std::string(4096, 'x'));
    MakeCatalog("Plain", m_tree.Path("plain"), false);
    m_tree.MakeDir("bare");
    m_tree.WriteFile("bare/small.txt", "small");
    MakeCatalog("Bare", m_tree.Path("bare"), false);
    m_tree.MakeDir("single");
    m_tree.WriteFile("single/small.txt", "small");
    MakeCatalog("Single", m_tree.Path("single"));
    Start();

    // Only catalogs without checksums: they are named, nothing is shown as
    // "no duplicates", and the Search page stays.
    SelectEntries({"Plain", "Bare"});
    EntryMenu("Plain", "Find duplicates");
    EXPECT_EQ(CurrentTab(), 0);
    std::vector<std::string> texts = TakeMessageTexts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_TRUE(texts[0] == "'Plain', 'Bare' hold no checksums to compare: duplicates are files "
                            "with the same size and checksum" ||
                texts[0] == "'Bare', 'Plain' hold no checksums to compare: duplicates are files "
                            "with the same size and checksum")
        << texts[0];
    SelectEntries({"Bare"});
    EntryMenu("Bare", "Find duplicates");
    EXPECT_EQ(TakeMessageTexts(),
              std::vector<std::string>{"'Bare' holds no checksums to compare: duplicates are "
                                       "files with the same size and checksum"});

    // With checksums: the group that frees most first, each row with its
    // group's number in a column after the usual ones, and the sum under the
    // list, with the catalog that could not take part named.
    SelectEntries({"Disk", "Plain"});
    EntryMenu("Disk", "Find duplicates");
    EXPECT_EQ(CurrentTab(), 1);
    EXPECT_TRUE(TakeMessages().empty());
    std::vector<std::string> headings = kColumns;
    headings.push_back("Group");
    EXPECT_EQ(Headings(), headings);
    EXPECT_EQ(ResultColumn(4), (std::vector<std::string>{"1", "1", "2", "2"}));
    EXPECT_EQ(ResultColumn(1), (std::vector<std::string>{"4096", "4096", "5", "5"}));
    // Each group's rows are shaded alike, and unlike the next group's.
    const QAbstractItemModel& model = *ResultPage().m_list->model();
    auto shade = [&](int nRow) { return model.index(nRow, 0).data(Qt::BackgroundRole); };
    EXPECT_EQ(shade(0), shade(1));
    EXPECT_EQ(shade(2), shade(3));
    EXPECT_NE(shade(1), shade(2));
    EXPECT_EQ(SummaryLine(), "2 groups of duplicates, 4 files; deleting all copies but one of each "
                             "would free 4101 bytes (4.0 KiB); 'Plain' holds no checksums to "
                             "compare");
    // No duplicates where one catalog lacks checksums: said with its name.
    ClickTab(0);
    SelectEntries({"Single", "Bare"});
    EntryMenu("Single", "Find duplicates");
    EXPECT_EQ(TakeMessageTexts(),
              std::vector<std::string>{"No duplicate files in the selected catalogs ('Bare' holds "
                                       "no checksums to compare)"});

    // A search puts the list back as it was: four columns, no line under it,
    // and the list reaching down to its usual place again.
    const QRect answerList = ResultPage().m_list->geometry();
    Search("Disk", "*.txt", kSearchFiles);
    EXPECT_EQ(Headings(), kColumns);
    EXPECT_EQ(SummaryLine(), "");
    EXPECT_FALSE(ResultPage().m_list->model()->index(0, 0).data(Qt::BackgroundRole).isValid());
    EXPECT_GT(ResultPage().m_list->geometry().height(), answerList.height());
    EXPECT_EQ(ResultPage().m_list->geometry(), ResultPage().ListRect(ResultPage().size()));
}

TEST_F(ResultAnswerTest, CompareWithSaysTheKindOfEachDifferenceCountsThemAndMarksDirectories) {
    m_tree.MakeDir("old/docs");
    m_tree.MakeDir("old/gone");
    m_tree.WriteFile("old/docs/report.txt", "the report");
    m_tree.WriteFile("old/docs/same.txt", "same");
    m_tree.WriteFile("old/gone/a.txt", "a");
    MakeCatalog("Old", m_tree.Path("old"));
    m_tree.MakeDir("new/docs");
    m_tree.MakeDir("new/added");
    m_tree.WriteFile("new/docs/report.txt", "the report, longer");
    m_tree.WriteFile("new/docs/same.txt", "same");
    MakeCatalog("New", m_tree.Path("new"));
    Start();

    WhenModalShows([&](QWidget& dialog) {
        auto* pCombo = dialog.findChild<QComboBox*>();
        ASSERT_NE(pCombo, nullptr);
        ChooseInCombo(*pCombo, pCombo->findText("New"));
        PressKey(Qt::Key_Return);
    });
    EntryMenu("Old", "Compare with...");
    ASSERT_EQ(CurrentTab(), 1);
    std::vector<std::string> headings = kColumns;
    headings.push_back("Difference");
    EXPECT_EQ(Headings(), headings);
    std::vector<std::string> rows;
    const std::vector<std::string> paths = ResultColumn(0), catalogs = ResultColumn(3),
                                   kinds = ResultColumn(4);
    for (size_t i = 0; i < paths.size(); ++i)
        rows.push_back(paths[i] + " | " + catalogs[i] + " | " + kinds[i]);
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<std::string>{
                        m_tree.Path("new/added") + "/ | New | only in the second",
                        m_tree.Path("new/docs/report.txt") + " | New | changed",
                        m_tree.Path("old/docs/report.txt") + " | Old | changed",
                        m_tree.Path("old/gone") + "/ | Old | only in the first",
                        m_tree.Path("old/gone/a.txt") + " | Old | only in the first"}));
    EXPECT_EQ(SummaryLine(),
              "2 only in the first ('Old'), 1 only in the second ('New'), 1 changed");

    // A directory's row opens the folder above it, as a file's does.
    const int nGone = static_cast<int>(
        std::find(paths.begin(), paths.end(), m_tree.Path("old/gone") + "/") - paths.begin());
    WhenMenuShowsChoose("Open containing folder");
    RightClickAt(*ResultPage().m_list->viewport(), MiddleOfRow(*ResultPage().m_list, nGone));
    Settle();
    EXPECT_EQ(m_opened, std::vector<std::string>{m_tree.Path("old")});

    // The list is offered for export under the two catalogs' names.
    m_pickedSaveFile.reset();
    WhenMenuShowsChoose("Export list...");
    RightClickAt(*ResultPage().m_list->viewport(), MiddleOfRow(*ResultPage().m_list, 0));
    Settle();
    EXPECT_EQ(m_proposedSaveNames,
              std::vector<std::string>{"Old and New " +
                                       QDate::currentDate().toString("yyyy-MM-dd").toStdString() +
                                       ".csv"});
}
