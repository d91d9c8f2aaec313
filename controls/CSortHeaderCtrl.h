// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QHeaderView>
#include <vector>

// The header of the sortable list. It draws the sort mark, a small bevelled
// triangle, at the right end of the sorted column, and reads and writes the
// column widths in their stored form. A column that once had the mark stays
// drawn by this class (its format keeps the owner-draw bit); the others are
// drawn by the style.
class CSortHeaderCtrl : public QHeaderView {
    Q_OBJECT

public:
    // Bits of a header item's format.
    static constexpr int HDF_RIGHT = 0x0001;
    static constexpr int HDF_CENTER = 0x0002;
    static constexpr int HDF_OWNERDRAW = 0x8000;

    explicit CSortHeaderCtrl(QWidget* pParent = nullptr);

    // Puts the mark on column nColumn, pointing up when bAscending, and makes
    // that column drawn by this class; repaints the whole header.
    void SetSortArrow(int nColumn, bool bAscending);
    int SortColumn() const { return m_nSortColumn; }
    bool IsSortAscending() const { return m_bSortAscending; }

    int GetItemFormat(int nItem) const;
    void SetItemFormat(int nItem, int nFormat);

    // Writing: the stored widths of the items now, the count first, each a
    // little-endian 32-bit integer.
    QByteArray SerializeWidths() const;
    // Reading: applies stored widths when their count is the item count now
    // and the value is long enough for it; otherwise changes nothing and
    // returns false.
    bool ApplyWidths(const QByteArray& stored);

protected:
    void paintSection(QPainter* pPainter, const QRect& rect, int nLogicalIndex) const override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;

    // Draws an owner-drawn item: background, text with an ellipsis when it
    // does not fit, and the mark on the sorted column.
    virtual void DrawItem(QPainter& painter, const QRect& rect, int nItem, bool bPressed) const;

private:
    int m_nSortColumn = -1;
    bool m_bSortAscending = true;
    std::vector<int> m_formats; // by item; missing items have format 0
    int m_nPressedItem = -1;
};
