// SPDX-License-Identifier: GPL-3.0-or-later

#include "controls/FolderListModel.h"

#include "app/Desktop.h"

#include <QApplication>
#include <QLocale>
#include <QStyle>

#include <algorithm>
#include <unordered_map>

FolderListModel::FolderListModel(QObject* pParent) : QAbstractTableModel(pParent) {
    m_folderIcon = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    m_fileIcon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
}

std::vector<BrowseRow> FolderListModel::SetRows(std::vector<BrowseRow> rows,
                                                std::function<bool(const std::string&)> fnKeep) {
    beginResetModel();
    std::swap(m_rows, rows);
    m_fnKeep = std::move(fnKeep);
    Arrange();
    endResetModel();
    return rows;
}

void FolderListModel::SetFilter(std::function<bool(const std::string&)> fnKeep) {
    beginResetModel();
    m_fnKeep = std::move(fnKeep);
    Arrange();
    endResetModel();
}

int FolderListModel::FindRow(bool bFolder, int64_t nId) const {
    for (size_t i = 0; i < m_shown.size(); ++i)
        if (m_rows[m_shown[i]].bFolder == bFolder && m_rows[m_shown[i]].nId == nId)
            return static_cast<int>(i);
    return -1;
}

void FolderListModel::Arrange() {
    m_shown.clear();
    m_shown.reserve(m_rows.size());
    for (size_t i = 0; i < m_rows.size(); ++i)
        if (!m_fnKeep || m_fnKeep(m_rows[i].strName))
            m_shown.push_back(i);
    // Folders first whatever the order; within each, the column's order and
    // then the name's, so equal values keep a steady order.
    auto byName = [this](size_t a, size_t b) {
        const int nOrder = m_rows[a].SortKey().compare(m_rows[b].SortKey());
        return nOrder != 0 ? nOrder < 0 : m_rows[a].strName < m_rows[b].strName;
    };
    auto less = [&](size_t a, size_t b) {
        const BrowseRow &x = m_rows[a], &y = m_rows[b];
        switch (m_nSortColumn) {
        case kSize:
            if (x.nSize != y.nSize)
                return x.nSize < y.nSize;
            break;
        case kModified:
            if (x.nMtimeNs != y.nMtimeNs)
                return x.nMtimeNs < y.nMtimeNs;
            break;
        case kKind:
            if (x.kind != y.kind)
                return KindText(x.kind, x.nMode) < KindText(y.kind, y.nMode);
            break;
        case kChecksum:
            if (x.strChecksum != y.strChecksum)
                return x.strChecksum < y.strChecksum;
            break;
        case kFolder:
            if (x.strFolder != y.strFolder)
                return x.strFolder < y.strFolder;
            break;
        default:
            break;
        }
        return byName(a, b);
    };
    const bool bDescending = m_order == Qt::DescendingOrder;
    auto before = [&](size_t a, size_t b) {
        if (m_rows[a].bFolder != m_rows[b].bFolder)
            return m_rows[a].bFolder;
        return bDescending ? less(b, a) : less(a, b);
    };
    // Rows often come in the order shown (a folder read is sorted by name):
    // one pass tells.
    if (!std::is_sorted(m_shown.begin(), m_shown.end(), before))
        std::sort(m_shown.begin(), m_shown.end(), before);
}

int FolderListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_shown.size());
}

int FolderListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant FolderListModel::data(const QModelIndex& index, int nRole) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const BrowseRow& row = Row(index.row());
    switch (nRole) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case kName:
            return DisplayText(row.strName); // made for the rows shown only
        case kSize:
            return row.nSize ? ReadableSize(*row.nSize) : QString();
        case kModified:
            return row.nMtimeNs ? LocalTimeText(*row.nMtimeNs) : QString();
        case kKind:
            return KindText(row.kind, row.nMode);
        case kChecksum:
            return QString::fromLatin1(row.strChecksum);
        case kFolder:
            return DisplayText(row.strFolder);
        }
        break;
    case Qt::ToolTipRole:
        if (index.column() == kSize && row.nSize) {
            QString strTip = QLocale(QLocale::English, QLocale::UnitedStates)
                                 .toString(static_cast<qulonglong>(*row.nSize));
            strTip += *row.nSize == 1 ? " byte" : " bytes";
            if (row.bFolder)
                strTip +=
                    " in " + QString::number(row.nFiles) + (row.nFiles == 1 ? " file" : " files");
            return strTip;
        }
        if (index.column() == kName || index.column() == kFolder)
            return data(index, Qt::DisplayRole);
        break;
    case Qt::DecorationRole:
        if (index.column() == kName)
            return row.bFolder ? m_folderIcon : m_fileIcon;
        break;
    case Qt::TextAlignmentRole:
        if (index.column() == kSize)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        break;
    default:
        break;
    }
    return {};
}

QVariant FolderListModel::headerData(int nSection, Qt::Orientation orientation, int nRole) const {
    if (orientation != Qt::Horizontal || nRole != Qt::DisplayRole)
        return {};
    static const char* const kTitles[kColumns] = {"Name", "Size",     "Modified",
                                                  "Kind", "Checksum", "Folder"};
    return nSection >= 0 && nSection < kColumns ? QString(kTitles[nSection]) : QVariant();
}

void FolderListModel::sort(int nColumn, Qt::SortOrder order) {
    emit layoutAboutToBeChanged();
    const QModelIndexList before = persistentIndexList();
    std::vector<std::pair<bool, int64_t>> kept;
    for (const QModelIndex& index : before)
        kept.emplace_back(Row(index.row()).bFolder, Row(index.row()).nId);
    m_nSortColumn = nColumn;
    m_order = order;
    Arrange();
    // Where each row went, for the selection and the current row to follow it.
    std::unordered_map<int64_t, int> folders, files;
    if (!kept.empty())
        for (size_t i = 0; i < m_shown.size(); ++i)
            (m_rows[m_shown[i]].bFolder ? folders : files)[m_rows[m_shown[i]].nId] =
                static_cast<int>(i);
    QModelIndexList after;
    for (size_t i = 0; i < kept.size(); ++i) {
        const auto& where = kept[i].first ? folders : files;
        const auto it = where.find(kept[i].second);
        after.push_back(it == where.end()
                            ? QModelIndex()
                            : index(it->second, before[static_cast<int>(i)].column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged();
}
