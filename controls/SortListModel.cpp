// SPDX-License-Identifier: GPL-3.0-or-later

#include "controls/SortListModel.h"

#include <QColor>
#include <QGuiApplication>
#include <QPalette>

namespace {

QString ShownText(std::string_view text) {
    // Only for showing: a name that is not UTF-8 keeps its bytes in the row.
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

SortListModel::SortListModel(QObject* pParent) : QAbstractTableModel(pParent) {}

int SortListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_nShownRows;
}

int SortListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_headings.size());
}

QVariant SortListModel::data(const QModelIndex& index, int nRole) const {
    if (!index.isValid() || index.row() >= m_nShownRows)
        return {};
    if (nRole == Qt::BackgroundRole && m_nBandColumn >= 0) {
        const std::string_view band = m_rows[index.row()].Text(m_nBandColumn);
        // A shade of the list's own background, plain to see in a light or
        // a dark palette (the alternate base of some styles is not).
        const QColor base = QGuiApplication::palette().color(QPalette::Base);
        if (!band.empty() && (band.back() - '0') % 2 == 0)
            return base.lightness() > 128 ? base.darker(112) : base.lighter(160);
        return {};
    }
    if (nRole != Qt::DisplayRole)
        return {};
    return ShownText(m_rows[index.row()].Text(index.column()));
}

QVariant SortListModel::headerData(int nSection, Qt::Orientation orientation, int nRole) const {
    if (orientation != Qt::Horizontal || nSection < 0 || nSection >= columnCount())
        return {};
    if (nRole == Qt::DisplayRole)
        return ShownText(m_headings[nSection]);
    if (nRole == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

int SortListModel::AppendColumn(std::string strHeading) {
    const int nColumn = columnCount();
    beginInsertColumns(QModelIndex(), nColumn, nColumn);
    m_headings.push_back(std::move(strHeading));
    endInsertColumns();
    return nColumn;
}

void SortListModel::RemoveColumnsFrom(int nFirst) {
    if (nFirst < 0 || nFirst >= columnCount())
        return;
    beginRemoveColumns(QModelIndex(), nFirst, columnCount() - 1);
    m_headings.resize(static_cast<size_t>(nFirst));
    if (m_nBandColumn >= nFirst)
        m_nBandColumn = -1;
    endRemoveColumns();
}

void SortListModel::SetBandColumn(int nColumn) {
    m_nBandColumn = nColumn;
    if (m_nShownRows > 0 && columnCount() > 0)
        emit dataChanged(index(0, 0), index(m_nShownRows - 1, columnCount() - 1),
                         {Qt::BackgroundRole});
}

int SortListModel::AppendRow(RowData row) {
    m_rows.push_back(std::move(row));
    if (!m_bDeferred)
        ShowPendingRows();
    return RowTotal() - 1;
}

void SortListModel::SetDeferred(bool bDeferred) {
    m_bDeferred = bDeferred;
    if (!bDeferred)
        ShowPendingRows();
}

void SortListModel::ShowPendingRows() {
    if (m_nShownRows == RowTotal())
        return;
    beginInsertRows(QModelIndex(), m_nShownRows, RowTotal() - 1);
    m_nShownRows = RowTotal();
    endInsertRows();
}

void SortListModel::FreeRow(int nRow) {
    m_rows[nRow] = RowData();
    if (nRow < m_nShownRows)
        emit dataChanged(index(nRow, 0), index(nRow, columnCount() - 1));
}

void SortListModel::RemoveAllRows() {
    beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_nShownRows = 0;
    endResetModel();
}

std::vector<const RowData*> SortListModel::RowPointers() const {
    std::vector<const RowData*> rows;
    rows.reserve(m_rows.size());
    for (int nRow = 0; nRow < RowTotal(); ++nRow)
        rows.push_back(Row(nRow));
    return rows;
}

void SortListModel::Reorder(const std::vector<uint32_t>& order) {
    ShowPendingRows();
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<RowData> rows(m_rows.size());
    std::vector<int> newPlace(m_rows.size());
    for (size_t k = 0; k < order.size(); ++k) {
        rows[k] = std::move(m_rows[order[k]]);
        newPlace[order[k]] = static_cast<int>(k);
    }
    m_rows.swap(rows);
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& index : from)
        to.append(this->index(newPlace[index.row()], index.column()));
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
