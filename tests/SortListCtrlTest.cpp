// SPDX-License-Identifier: GPL-3.0-or-later

#include "UserInput.h"
#include "controls/CSortHeaderCtrl.h"
#include "controls/CSortListCtrl.h"
#include "controls/DialogUnits.h"
#include "controls/RowCompare.h"

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QLocale>
#include <QSettings>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct Column {
    std::string strHeading;
    int nWidth;
    bool operator==(const Column&) const = default;
};

std::vector<Column> ColumnsOf(const CSortListCtrl& list) {
    std::vector<Column> columns;
    for (int i = 0; i < list.model()->columnCount(); ++i)
        columns.push_back({list.model()->headerData(i, Qt::Horizontal).toString().toStdString(),
                           list.Header().sectionSize(i)});
    return columns;
}

std::vector<std::string> ColumnTexts(const CSortListCtrl& list, int nColumn) {
    std::vector<std::string> texts;
    for (int i = 0; i < list.GetItemCount(); ++i)
        texts.push_back(list.GetItemText(i, nColumn));
    return texts;
}

// The columns as SetColumns makes them from classic widths: scaled to the
// list's font.
std::vector<Column> Scaled(const CSortListCtrl& list, std::vector<Column> columns) {
    const DialogUnits dlu(list.font());
    for (Column& column : columns)
        column.nWidth = dlu.ScaleX(column.nWidth);
    return columns;
}

std::vector<int> ScaledWidths(const CSortListCtrl& list, const std::vector<int>& widths) {
    std::vector<int> scaled;
    for (int nWidth : widths)
        scaled.push_back(DialogUnits(list.font()).ScaleX(nWidth));
    return scaled;
}

// Shows the list on the screen, large enough for its columns and rows to
// be clicked.
void ShowList(CSortListCtrl& list) {
    list.resize(900, 400);
    list.show();
    QApplication::processEvents();
}

QByteArray StoredWidths() {
    QSettings settings("Kestrel", "kestrel");
    return settings.value("ListCtrls/1022").toByteArray();
}

void StoreWidths(const QByteArray& bytes) {
    QSettings settings("Kestrel", "kestrel");
    settings.setValue("ListCtrls/1022", bytes);
}

QByteArray Int32s(std::initializer_list<int32_t> values) {
    QByteArray bytes;
    for (int32_t n : values)
        for (int i = 0; i < 4; ++i)
            bytes.append(static_cast<char>((static_cast<uint32_t>(n) >> (8 * i)) & 0xFF));
    return bytes;
}

const char* const kResultColumns = "Path,200;File size,75;CRC,230;Database,100";

} // namespace

TEST(SortListCtrlTest, SetColumnsParsesTheSpecString) {
    struct Case {
        const char* pszSpec;
        std::vector<Column> expected;
    };
    const Case cases[] = {
        {kResultColumns, {{"Path", 200}, {"File size", 75}, {"CRC", 230}, {"Database", 100}}},
        {"A,10;B", {{"A", 10}}},
        {"A;B,10", {{"A;B", 10}}},
        {"A,10,20;B,5", {{"A", 10}, {"B", 5}}},
        {",50", {{"", 50}}},
        {"A,x", {{"A", 0}}},
        {"A, 12px;", {{"A", 12}}},
        {"A,-7", {{"A", 0}}},
        {"", {}},
    };
    for (const Case& c : cases) {
        CSortListCtrl list;
        EXPECT_TRUE(list.SetColumns(c.pszSpec)) << c.pszSpec;
        EXPECT_EQ(ColumnsOf(list), Scaled(list, c.expected)) << c.pszSpec;
        EXPECT_EQ(list.NumColumns(), static_cast<int>(c.expected.size())) << c.pszSpec;
    }
    // A second call appends after the columns there are.
    CSortListCtrl list;
    list.SetColumns("A,10");
    list.SetColumns("B,20");
    EXPECT_EQ(ColumnsOf(list), Scaled(list, {{"A", 10}, {"B", 20}}));
    // The widths grow with the font as the dialog units do: here by the
    // factor of the x unit, 2 pixels where the classic font had 1.5.
    QFont font = list.font();
    font.setPixelSize(30);
    CSortListCtrl large;
    large.setFont(font);
    large.SetColumns("A,60");
    const QFontMetrics metrics(font);
    const int nBaseX =
        (metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") + 51) /
        52;
    EXPECT_EQ(large.Header().sectionSize(0), 10 * nBaseX);
}

TEST(SortListCtrlTest, ComparisonKindComesFromTheFirstText) {
    EXPECT_TRUE(IsNumberText(""));
    EXPECT_TRUE(IsNumberText("0123"));
    EXPECT_FALSE(IsNumberText("-1"));
    EXPECT_FALSE(IsNumberText("1 "));
    EXPECT_FALSE(IsNumberText("\xd9\xa1")); // an Arabic-Indic digit is no ASCII digit
    EXPECT_TRUE(IsDateText("05/03/2004"));
    EXPECT_FALSE(IsDateText("1/04/2004"));
    EXPECT_FALSE(IsDateText("05-03-2004"));
    EXPECT_FALSE(IsDateText("05/03/2004 "));
    EXPECT_EQ(AtoI64("  -42abc"), -42);
    EXPECT_EQ(AtoI64("abc"), 0);
    EXPECT_EQ(AtoI64("5000000000"), 5000000000);
    EXPECT_EQ(AtoI64("99999999999999999999"), INT64_MAX);
    EXPECT_EQ(AtoI64("-99999999999999999999"), INT64_MIN);
    EXPECT_EQ(CompareNumberTexts("12", "abc"), 1);
    EXPECT_EQ(CompareDateTexts("05/03/2004", "01/04/2004"), -1);
    EXPECT_EQ(CompareDateTexts("31/12/2003", "01/01/2004"), -1);
    EXPECT_EQ(CompareDateTexts("01/01/2004", "01/01/2004"), 0);
}

TEST(SortListCtrlTest, SortsByTheKindOfTheFirstComparedText) {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    struct Case {
        std::vector<std::string> rows;
        int nClicks;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        // The empty text counts as 0.
        {{"10", "", "9"}, 1, {"", "9", "10"}},
        {{"10", "", "9"}, 2, {"10", "9", ""}},
        {{"10", "", "9"}, 3, {"", "9", "10"}},
        // 'abc' read as a number is 0 when '12' is compared first.
        {{"12", "abc"}, 1, {"abc", "12"}},
        // Sizes past 32 bits.
        {{"5000000000", "4294967297", "3"}, 1, {"3", "4294967297", "5000000000"}},
        // Day-first dates: the same year, then the month.
        {{"01/04/2004", "05/03/2004"}, 1, {"05/03/2004", "01/04/2004"}},
        {{"01/04/2004", "05/03/2004", "28/02/2003"}, 2, {"01/04/2004", "05/03/2004", "28/02/2003"}},
        // A nine-byte text is no date: the locale's order, '0' before '1'.
        {{"1/04/2004", "05/03/2004"}, 1, {"05/03/2004", "1/04/2004"}},
        // The locale's collation, letter case counting: not byte order.
        {{"b", "B", "a", "A"}, 1, {"a", "A", "b", "B"}},
        {{"b", "B", "a", "A"}, 2, {"B", "b", "A", "a"}},
        {{"/data/é", "/data/f", "/data/e"}, 1, {"/data/e", "/data/é", "/data/f"}},
    };
    for (const Case& c : cases) {
        CSortListCtrl list;
        list.SetColumns("Text,100");
        for (const std::string& strText : c.rows)
            list.AddRow({strText});
        ShowList(list);
        for (int i = 0; i < c.nClicks; ++i)
            ClickHeader(list, 0);
        EXPECT_EQ(ColumnTexts(list, 0), c.expected) << c.rows[0] << " clicks " << c.nClicks;
        EXPECT_EQ(list.IsSortAscending(), c.nClicks % 2 == 1);
    }
    QLocale::setDefault(QLocale::system());
}

TEST(SortListCtrlTest, SortsWholeRowsAndKeepsTheirSelection) {
    CSortListCtrl list;
    list.SetColumns(kResultColumns);
    list.AddRow({"/b", "20", "", "one"});
    list.AddRow({"/a", "300", "", "two"});
    list.AddRow({"/c", "1", "", "three"});
    ShowList(list);
    ClickRow(list, 1);
    ClickHeader(list, 1);
    EXPECT_EQ(ColumnTexts(list, 0), (std::vector<std::string>{"/c", "/b", "/a"}));
    EXPECT_EQ(ColumnTexts(list, 3), (std::vector<std::string>{"three", "one", "two"}));
    // The selected row "/a" moved to the end, and its selection with it.
    EXPECT_EQ(list.GetFirstSelected(0), 2);
}

TEST(SortListCtrlTest, ClicksMoveTheMarkAndColumnsStayOwnerDrawn) {
    CSortListCtrl list;
    list.SetColumns(kResultColumns);
    ShowList(list);
    CSortHeaderCtrl& header = list.Header();
    EXPECT_EQ(list.SortColumnIndex(), -1);
    EXPECT_EQ(header.GetItemFormat(0) & CSortHeaderCtrl::HDF_OWNERDRAW, 0);

    ClickHeader(list, 0);
    ClickHeader(list, 0);
    EXPECT_EQ(header.SortColumn(), 0);
    EXPECT_FALSE(header.IsSortAscending());

    // Another column starts ascending; the first keeps being drawn here.
    ClickHeader(list, 2);
    EXPECT_EQ(list.SortColumnIndex(), 2);
    EXPECT_TRUE(list.IsSortAscending());
    EXPECT_EQ(header.SortColumn(), 2);
    EXPECT_TRUE(header.IsSortAscending());
    EXPECT_NE(header.GetItemFormat(0) & CSortHeaderCtrl::HDF_OWNERDRAW, 0);
    EXPECT_NE(header.GetItemFormat(2) & CSortHeaderCtrl::HDF_OWNERDRAW, 0);
    EXPECT_EQ(header.GetItemFormat(1) & CSortHeaderCtrl::HDF_OWNERDRAW, 0);
}

TEST(SortListCtrlTest, RowsAddedAfterASortGoToTheEnd) {
    CSortListCtrl list;
    list.SetColumns("Size,50");
    list.AddRow({"3"});
    list.AddRow({"1"});
    ShowList(list);
    ClickHeader(list, 0);
    list.AddRow({"2"});
    list.AddRow({"0"});
    EXPECT_EQ(ColumnTexts(list, 0), (std::vector<std::string>{"1", "3", "2", "0"}));
    EXPECT_EQ(list.Header().SortColumn(), 0);
    // So does a refill after DeleteAllRows; the mark stays.
    list.DeleteAllRows();
    EXPECT_EQ(list.GetItemCount(), 0);
    list.AddRow({"9"});
    list.AddRow({"8"});
    EXPECT_EQ(ColumnTexts(list, 0), (std::vector<std::string>{"9", "8"}));
    EXPECT_EQ(list.Header().SortColumn(), 0);
    EXPECT_TRUE(list.Header().IsSortAscending());
}

TEST(SortListCtrlTest, RowsKeepTheirBytesAndHeldBackRowsShowAtOnce) {
    CSortListCtrl list;
    list.SetColumns("Path,100;Size,50");
    const std::string strOdd = "/data/\xff\xfe name's \"x\"";
    list.SetRedraw(false);
    EXPECT_EQ(list.AddRow({strOdd, "1"}), 0);
    EXPECT_EQ(list.AddRow({"/b", ""}), 1);
    EXPECT_EQ(list.GetItemCount(), 2);
    EXPECT_EQ(list.model()->rowCount(), 0); // not shown yet
    list.SetRedraw(true);
    EXPECT_EQ(list.model()->rowCount(), 2);
    EXPECT_EQ(list.GetItemText(0, 0), strOdd);
    EXPECT_EQ(list.GetItemText(0, 1), "1");
    EXPECT_EQ(list.GetItemText(1, 1), "");
    EXPECT_EQ(list.GetItemText(5, 0), "");
    list.FreeRowData(0);
    EXPECT_EQ(list.GetItemText(0, 0), "");
    EXPECT_EQ(list.GetItemCount(), 2);
}

TEST(SortListCtrlTest, GetFirstSelectedFindsTheLowestSelectedRowFromAStart) {
    CSortListCtrl list;
    list.SetColumns("A,50");
    EXPECT_EQ(list.GetFirstSelected(0), -1); // empty list
    for (int i = 0; i < 10; ++i)
        list.AddRow({std::to_string(i)});
    EXPECT_EQ(list.GetFirstSelected(0), -1); // nothing selected
    ShowList(list);
    ClickRow(list, 7);
    ClickRow(list, 3, Qt::ControlModifier);
    EXPECT_EQ(list.GetFirstSelected(0), 3);
    EXPECT_EQ(list.GetFirstSelected(3), 3);
    EXPECT_EQ(list.GetFirstSelected(4), 7);
    EXPECT_EQ(list.GetFirstSelected(8), -1);
    EXPECT_EQ(list.GetFirstSelected(10), -1);
}

TEST(SortListCtrlTest, SelectedRowsListsEverySelectedRowOnceInOrder) {
    CSortListCtrl list;
    list.SetColumns("A,50");
    for (int i = 0; i < 10; ++i)
        list.AddRow({std::to_string(9 - i)});
    ShowList(list);
    EXPECT_TRUE(list.SelectedRows().empty());
    // A run by Shift+click, a row taken out of it and one added by Ctrl+click.
    ClickRow(list, 6);
    ClickRow(list, 2, Qt::ShiftModifier);
    ClickRow(list, 4, Qt::ControlModifier);
    ClickRow(list, 9, Qt::ControlModifier);
    EXPECT_EQ(list.SelectedRows(), (std::vector<int>{2, 3, 5, 6, 9}));
    // After a sort the selection follows its rows, as GetFirstSelected sees it.
    ClickHeader(list, 0);
    std::vector<int> walked;
    for (int nRow = list.GetFirstSelected(0); nRow >= 0; nRow = list.GetFirstSelected(nRow + 1))
        walked.push_back(nRow);
    EXPECT_EQ(list.SelectedRows(), walked);
    EXPECT_EQ(list.SelectedRows(), (std::vector<int>{0, 3, 4, 6, 7}));
    EXPECT_EQ(list.GetItemTextView(3, 0), "3");
    EXPECT_EQ(list.GetItemTextView(10, 0), "");
}

TEST(SortListCtrlTest, ColumnWidthsAreStoredAsCountAndWidths) {
    {
        CSortListCtrl list;
        list.SetDlgCtrlID(1022);
        list.SetColumns(kResultColumns);
        ShowList(list);
        const std::vector<int> widths = ScaledWidths(list, {200, 75, 230, 100});
        DragColumnBorder(list, 1, 15);
        list.SaveColumnWidths();
        EXPECT_EQ(StoredWidths(), Int32s({4, widths[0], widths[1] + 15, widths[2], widths[3]}));
    }
    EXPECT_EQ(StoredWidths().size(), 20);

    // Stored widths apply exactly as stored; else the column string's,
    // scaled.
    struct Case {
        QByteArray stored;
        const char* pszSpec;
        std::vector<int> expected;
        bool bScaled;
    };
    const Case cases[] = {
        {Int32s({4, 11, 22, 33, 44}), kResultColumns, {11, 22, 33, 44}, false},
        // A changed column set keeps the widths of the column string.
        {Int32s({4, 11, 22, 33, 44}), "A,1;B,2;C,3", {1, 2, 3}, true},
        // Too short for its count, a count of 0 or below: nothing applies.
        {Int32s({4, 11, 22, 33}), kResultColumns, {200, 75, 230, 100}, true},
        {Int32s({0}), kResultColumns, {200, 75, 230, 100}, true},
        {Int32s({-4, 1, 2, 3, 4}), kResultColumns, {200, 75, 230, 100}, true},
        {QByteArray("\x04", 1), kResultColumns, {200, 75, 230, 100}, true},
    };
    for (const Case& c : cases) {
        StoreWidths(c.stored);
        CSortListCtrl list;
        list.SetDlgCtrlID(1022);
        list.SetColumns(c.pszSpec);
        list.LoadColumnWidths();
        std::vector<int> widths;
        for (const Column& column : ColumnsOf(list))
            widths.push_back(column.nWidth);
        EXPECT_EQ(widths, c.bScaled ? ScaledWidths(list, c.expected) : c.expected)
            << c.stored.toHex().toStdString();
    }
}

TEST(SortListCtrlTest, TheMarkIsDrawnWithTheLightAndShadowPens) {
    CSortListCtrl list;
    QPalette palette = list.palette();
    palette.setColor(QPalette::Button, Qt::white);
    palette.setColor(QPalette::Light, QColor(255, 0, 0));
    palette.setColor(QPalette::Dark, QColor(0, 160, 0));
    list.Header().setPalette(palette);
    list.SetColumns("Name,120;Size,80");
    list.resize(400, 200);
    list.show();
    QApplication::processEvents();

    const int nBottom = list.Header().height();
    const int o = nBottom / 4;
    const int r = list.Header().sectionSize(0);
    ASSERT_GT(o, 1);

    ClickHeader(list, 0); // ascending: the base is a light line
    QImage image = list.Header().viewport()->grab().toImage();
    EXPECT_EQ(image.pixelColor(r - 2 * o, nBottom - o - 1), QColor(255, 0, 0));
    EXPECT_EQ(image.pixelColor(r - 2 * o, nBottom - o + 1), QColor(Qt::white));

    ClickHeader(list, 0); // descending: the top is a shadow line
    image = list.Header().viewport()->grab().toImage();
    EXPECT_EQ(image.pixelColor(r - 2 * o, o), QColor(0, 160, 0));
    // The shadow line stops short of its end point, where the light one begins.
    EXPECT_EQ(image.pixelColor(r - o - 1, o), QColor(255, 0, 0));
}
