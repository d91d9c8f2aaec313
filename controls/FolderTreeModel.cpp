// SPDX-License-Identifier: GPL-3.0-or-later

#include "controls/FolderTreeModel.h"

#include "app/Desktop.h"

#include <QApplication>
#include <QStyle>

struct FolderTreeModel::Node {
    int64_t nId = 0;
    QString name;
    QString tip;
    Node* pParent = nullptr;
    int nRow = 0;
    bool bHasSubfolders = false;
    bool bFetched = false; // asked for or given
    bool bGiven = false;
    std::vector<std::unique_ptr<Node>> children;
};

FolderTreeModel::FolderTreeModel(std::function<void(int64_t)> fnFetch, QObject* pParent)
    : QAbstractItemModel(pParent), m_fnFetch(std::move(fnFetch)) {
    m_folderIcon = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
}

FolderTreeModel::~FolderTreeModel() = default;

namespace {

QString TipOf(const BrowseRow& row) {
    return DisplayText(row.strName) + "\n" +
           (row.nSize ? ReadableSize(*row.nSize) : QString("size unknown")) + " in " +
           QString::number(row.nFiles) + (row.nFiles == 1 ? " file" : " files");
}

} // namespace

void FolderTreeModel::SetTops(const std::vector<BrowseRow>& tops) {
    beginResetModel();
    m_tops.clear();
    m_byId.clear();
    for (const BrowseRow& row : tops) {
        auto pNode = std::make_unique<Node>();
        pNode->nId = row.nId;
        pNode->name = DisplayText(row.strName);
        pNode->tip = TipOf(row);
        pNode->nRow = static_cast<int>(m_tops.size());
        pNode->bHasSubfolders = row.nDirs > 0 || row.bHoldsArchives;
        m_byId[row.nId] = pNode.get();
        m_tops.push_back(std::move(pNode));
    }
    endResetModel();
}

void FolderTreeModel::AddSubfolders(int64_t nId, const std::vector<BrowseRow>& subfolders) {
    const auto it = m_byId.find(nId);
    if (it == m_byId.end() || it->second->bGiven)
        return;
    Node* pNode = it->second;
    pNode->bFetched = pNode->bGiven = true;
    if (subfolders.empty()) {
        // A folder thought to hold folders may hold none: its arrow goes.
        if (pNode->bHasSubfolders) {
            pNode->bHasSubfolders = false;
            const QModelIndex index = IndexOf(nId);
            emit dataChanged(index, index);
        }
        return;
    }
    beginInsertRows(IndexOf(nId), 0, static_cast<int>(subfolders.size()) - 1);
    for (const BrowseRow& row : subfolders) {
        auto pChild = std::make_unique<Node>();
        pChild->nId = row.nId;
        pChild->name = DisplayText(row.strName);
        pChild->tip = TipOf(row);
        pChild->pParent = pNode;
        pChild->nRow = static_cast<int>(pNode->children.size());
        pChild->bHasSubfolders = row.nDirs > 0 || row.bHoldsArchives;
        m_byId.emplace(row.nId, pChild.get());
        pNode->children.push_back(std::move(pChild));
    }
    endInsertRows();
}

bool FolderTreeModel::HasSubfolders(int64_t nId) const {
    const auto it = m_byId.find(nId);
    return it != m_byId.end() && it->second->bGiven;
}

QModelIndex FolderTreeModel::IndexOf(int64_t nId) const {
    const auto it = m_byId.find(nId);
    return it == m_byId.end() ? QModelIndex() : createIndex(it->second->nRow, 0, it->second);
}

int64_t FolderTreeModel::IdOf(const QModelIndex& index) const {
    const Node* pNode = NodeOf(index);
    return pNode ? pNode->nId : 0;
}

FolderTreeModel::Node* FolderTreeModel::NodeOf(const QModelIndex& index) const {
    return index.isValid() ? static_cast<Node*>(index.internalPointer()) : nullptr;
}

QModelIndex FolderTreeModel::index(int nRow, int nColumn, const QModelIndex& parent) const {
    if (nColumn != 0 || nRow < 0)
        return {};
    const Node* pParent = NodeOf(parent);
    const auto& nodes = pParent ? pParent->children : m_tops;
    if (nRow >= static_cast<int>(nodes.size()))
        return {};
    return createIndex(nRow, 0, nodes[static_cast<size_t>(nRow)].get());
}

QModelIndex FolderTreeModel::parent(const QModelIndex& index) const {
    const Node* pNode = NodeOf(index);
    if (!pNode || !pNode->pParent)
        return {};
    return createIndex(pNode->pParent->nRow, 0, pNode->pParent);
}

int FolderTreeModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0)
        return 0;
    const Node* pNode = NodeOf(parent);
    return static_cast<int>(pNode ? pNode->children.size() : m_tops.size());
}

int FolderTreeModel::columnCount(const QModelIndex&) const {
    return 1;
}

bool FolderTreeModel::hasChildren(const QModelIndex& parent) const {
    const Node* pNode = NodeOf(parent);
    return pNode ? (pNode->bGiven ? !pNode->children.empty() : pNode->bHasSubfolders)
                 : !m_tops.empty();
}

bool FolderTreeModel::canFetchMore(const QModelIndex& parent) const {
    const Node* pNode = NodeOf(parent);
    return pNode && pNode->bHasSubfolders && !pNode->bFetched;
}

void FolderTreeModel::fetchMore(const QModelIndex& parent) {
    Node* pNode = NodeOf(parent);
    if (!pNode || pNode->bFetched)
        return;
    pNode->bFetched = true;
    m_fnFetch(pNode->nId);
}

QVariant FolderTreeModel::data(const QModelIndex& index, int nRole) const {
    const Node* pNode = NodeOf(index);
    if (!pNode)
        return {};
    switch (nRole) {
    case Qt::DisplayRole:
        return pNode->name;
    case Qt::ToolTipRole:
        return pNode->tip;
    case Qt::DecorationRole:
        return m_folderIcon;
    default:
        return {};
    }
}
