// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "controls/FolderListModel.h"

#include <QAbstractItemModel>
#include <QIcon>

#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

// The folders of a catalog as a tree for a view, filled as the view opens
// them: a folder's subfolders are asked for (fnFetch) when it is first
// expanded and come in later through AddSubfolders. Nodes are made only for
// folders that were shown, never for the whole catalog.
class FolderTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    // fnFetch asks for the subfolders of a folder id; they must come back
    // through AddSubfolders.
    explicit FolderTreeModel(std::function<void(int64_t)> fnFetch, QObject* pParent = nullptr);
    ~FolderTreeModel() override;

    // Sets the tops of the tree (the start directory, for a catalog Kestrel made).
    void SetTops(const std::vector<BrowseRow>& tops);
    // Gives a folder its subfolders (rows with bFolder set); once only.
    void AddSubfolders(int64_t nId, const std::vector<BrowseRow>& subfolders);
    // Whether the folder's subfolders are in the tree.
    bool HasSubfolders(int64_t nId) const;
    // The index of a folder that is in the tree; invalid when it is not.
    QModelIndex IndexOf(int64_t nId) const;
    // The folder id of an index.
    int64_t IdOf(const QModelIndex& index) const;

    QModelIndex index(int nRow, int nColumn, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    QVariant data(const QModelIndex& index, int nRole) const override;

private:
    struct Node;
    Node* NodeOf(const QModelIndex& index) const;

    std::function<void(int64_t)> m_fnFetch;
    std::vector<std::unique_ptr<Node>> m_tops;
    std::unordered_map<int64_t, Node*> m_byId;
    QIcon m_folderIcon;
};
