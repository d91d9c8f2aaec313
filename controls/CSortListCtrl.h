// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QTreeView>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

class CSortHeaderCtrl;
class SortListModel;

// The report list of search hits: columns set up from one spec string, rows
// that keep their own copies of their texts, sorting by a click on a column
// header (a second click on the same column reverses it), the sort mark, and
// column widths kept in the user's profile. Rows are texts as bytes; they are
// converted only for display.
class CSortListCtrl : public QTreeView {
    Q_OBJECT

public:
    explicit CSortListCtrl(QWidget* pParent = nullptr);
    ~CSortListCtrl() override;

    // The control's identifier, the name of its stored widths.
    void SetDlgCtrlID(int nId) { m_nCtrlId = nId; }

    // Appends the columns of a spec "Heading,width;Heading,width[;]": an
    // entry without ',' ends it, only the first ',' of an entry separates,
    // the width is read as atoi reads it. The widths are pixels of the
    // classic 8-point dialog font and are scaled to the list's font (see
    // DialogUnits::ScaleX). True when the whole spec was used.
    bool SetColumns(std::string_view spec);
    // Appends a left-aligned column nWidth pixels wide; returns its index,
    // -1 on failure.
    int InsertColumn(std::string strHeading, int nWidth);
    // Removes the columns from nFirst on; a sort by one of them is
    // forgotten, the rows staying in their order.
    void RemoveColumnsFrom(int nFirst);
    // Shades the rows whose text in nColumn is an even number, so that rows
    // numbered by group show as bands; -1 shades none.
    void SetBandColumn(int nColumn);

    // Appends a row with one text per column (exactly NumColumns() of them);
    // returns its index. Rows always go to the end, sorted or not.
    int AddRow(std::initializer_list<std::string_view> texts);
    // Frees every row's texts and removes all rows.
    void DeleteAllRows();
    // Frees the texts of one row; the row stays, with empty texts.
    void FreeRowData(int nRow);
    int GetItemCount() const;
    // The row's text in a column, the bytes it was added with.
    std::string GetItemText(int nRow, int nColumn) const;
    // The row's text in a column as a view of the row's own bytes; valid
    // until rows are added, freed or removed. Empty for no such row or column.
    std::string_view GetItemTextView(int nRow, int nColumn) const;
    // The first selected row at or after nStart, or -1.
    int GetFirstSelected(int nStart) const;
    // Every selected row, in ascending order, each once.
    std::vector<int> SelectedRows() const;

    // With false, added rows are held back and shown all at once, with one
    // repaint, when it is called with true.
    void SetRedraw(bool bRedraw);

    // True when a cell's text does not show whole: cut short at its
    // column's edge or at the edge of the visible part of the list. Such a
    // cell shows its whole text as a tooltip.
    bool IsCellCut(const QModelIndex& index) const;

    // Sorts the rows by a column and moves the mark there.
    void SortColumn(int nColumn, bool bAscending);
    int SortColumnIndex() const { return m_nSortColumn; }
    bool IsSortAscending() const { return m_bSortAscending; }
    int NumColumns() const { return m_nNumColumns; }

    // Applies the widths stored for this control, exactly as stored, when
    // their count matches the columns; SaveColumnWidths stores the widths now.
    void LoadColumnWidths();
    void SaveColumnWidths();

    CSortHeaderCtrl& Header() const { return *m_header; }

signals:
    // A double click anywhere in the list.
    void DoubleClicked();

protected:
    void OnColumnClick(int nColumn);
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;
    bool viewportEvent(QEvent* pEvent) override;

private:
    SortListModel* m_pModel;
    CSortHeaderCtrl* m_header;
    int m_nNumColumns = 0;
    int m_nSortColumn = -1;
    bool m_bSortAscending = true;
    int m_nCtrlId = 0;
};
