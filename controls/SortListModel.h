// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "controls/RowData.h"

#include <QAbstractTableModel>
#include <string>
#include <vector>

// The rows and column headings of a sortable list, as a model over a vector.
// Rows are appended either one at a time (each announced to the views) or,
// while deferred, in a burst announced once when deferring ends.
class SortListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit SortListModel(QObject* pParent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int nRole) const override;
    QVariant headerData(int nSection, Qt::Orientation orientation, int nRole) const override;

    // Appends a column with its heading (bytes); returns its index.
    int AppendColumn(std::string strHeading);
    // Removes the columns from nFirst on (the rows keep their texts for them).
    void RemoveColumnsFrom(int nFirst);
    // Rows whose text in nColumn is an even number get a shade of the
    // list's background, so that rows numbered in groups show as bands;
    // -1: none.
    void SetBandColumn(int nColumn);

    // Appends a row; returns its index. Rows appended while deferred are
    // counted here at once and shown when SetDeferred(false) is called.
    int AppendRow(RowData row);
    void SetDeferred(bool bDeferred);
    // All rows, those not yet shown included.
    int RowTotal() const { return static_cast<int>(m_rows.size()); }

    // The row's data, or null once freed.
    const RowData* Row(int nRow) const { return m_rows[nRow] ? &m_rows[nRow] : nullptr; }
    // Frees the row's texts; the row stays, showing empty texts.
    void FreeRow(int nRow);
    void RemoveAllRows();

    // Puts the rows in a new order: place k gets the row that was at
    // order[k]. Selections and other persistent indexes follow their rows.
    void Reorder(const std::vector<uint32_t>& order);
    std::vector<const RowData*> RowPointers() const;

private:
    void ShowPendingRows();

    std::vector<std::string> m_headings;
    int m_nBandColumn = -1;
    std::vector<RowData> m_rows;
    int m_nShownRows = 0; // the rows the views know of
    bool m_bDeferred = false;
};
