// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "controls/FileKind.h"

#include <QAbstractTableModel>
#include <QIcon>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// One entry of a browsed folder (or a hit of a search of its catalog).
struct BrowseRow {
    bool bFolder = false;
    int64_t nId = 0;               // the folder's or the file's row id
    std::string strName;           // as stored
    std::string strKey;            // folded, for the order by name; empty: strName itself
    std::optional<uint64_t> nSize; // a folder's: the bytes below it
    std::optional<int64_t> nMtimeNs;
    std::optional<uint32_t> nMode;
    std::string strChecksum;
    uint64_t nFiles = 0;             // a folder's: the files below it
    uint64_t nDirs = 0;              // a folder's: the folders below it
    bool bHoldsArchives = false;     // a folder's: archives that open as folders lie right in it
    std::optional<int64_t> nOpensAs; // a file's: the folder it opens as (an archive with members)
    std::string strFolder;           // the stored path of the folder it lies in
    FileKind kind = FileKind::Other;

    // What the order by name compares.
    const std::string& SortKey() const { return strKey.empty() ? strName : strKey; }
};

// The rows of the folder a Browse window shows: a model over a vector, its
// columns Name, Size, Modified, Kind, Checksum and (for the hits of a
// search) Folder; sorted by any column with the folders first, and narrowed
// by a filter of names. The view asks only for the rows it shows.
class FolderListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { kName, kSize, kModified, kKind, kChecksum, kFolder, kColumns };

    explicit FolderListModel(QObject* pParent = nullptr);

    // Replaces the rows and the filter (see SetFilter), kept in the chosen
    // order; gives back the rows replaced.
    std::vector<BrowseRow> SetRows(std::vector<BrowseRow> rows,
                                   std::function<bool(const std::string&)> fnKeep = {});
    // Shows only the rows whose name fnKeep keeps; all with an empty one.
    void SetFilter(std::function<bool(const std::string&)> fnKeep);
    // The row shown at nRow; nRow must be in range.
    const BrowseRow& Row(int nRow) const { return m_rows[m_shown[nRow]]; }
    // The shown row of that id and kind, or -1.
    int FindRow(bool bFolder, int64_t nId) const;
    // The rows before the filter, and those it shows.
    size_t AllRowCount() const { return m_rows.size(); }
    int SortColumn() const { return m_nSortColumn; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int nRole) const override;
    QVariant headerData(int nSection, Qt::Orientation orientation, int nRole) const override;
    void sort(int nColumn, Qt::SortOrder order) override;

private:
    void Arrange();

    std::vector<BrowseRow> m_rows;
    std::vector<size_t> m_shown; // indices into m_rows, in order
    std::function<bool(const std::string&)> m_fnKeep;
    int m_nSortColumn = kName;
    Qt::SortOrder m_order = Qt::AscendingOrder;
    QIcon m_folderIcon, m_fileIcon;
};
