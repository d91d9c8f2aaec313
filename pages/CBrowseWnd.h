// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "controls/CTreemapView.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class BrowseLoader;
class CPathBar;
class CTreemapView;
class FolderListModel;
class FolderTreeModel;
class QLabel;
class QLineEdit;
class QSplitter;
class QTableView;
class QToolButton;
class QTreeView;
struct BrowseRow;

// The Browse window of one catalog: its folders as a tree on the left, the
// chosen folder's entries on the right with a treemap of where its bytes
// went, a path bar, a filter and a search of the whole catalog, all read
// from the catalog alone (the disk need not be there). One window per
// catalog entry; it reads the catalog on a thread of its own.
class CBrowseWnd : public QWidget {
    Q_OBJECT
public:
    // Opens the window of the entry (or raises the one open), at the folder
    // strFolder (a stored path) with its entry strSelect selected when
    // given, else at the start directory. The window belongs to pOwner's
    // window and deletes itself when closed.
    static CBrowseWnd* Open(QWidget* pOwner, const std::string& strEntry,
                            const std::optional<std::string>& strFolder = {},
                            const std::optional<std::string>& strSelect = {});
    ~CBrowseWnd() override;

    // Whether every read asked for has been answered.
    bool IsIdle() const { return m_nPending == 0; }
    // The id of the folder shown; 0 before the first is.
    int64_t CurrentFolder() const { return m_nFolder; }

    QTreeView* m_tree;
    QTableView* m_list;
    CTreemapView* m_treemap;
    CPathBar* m_pathBar;
    QLineEdit* m_filter;
    QToolButton* m_back;
    QToolButton* m_up;
    QToolButton* m_showTreemap;
    QLabel* m_status;
    QLabel* m_disk;

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    CBrowseWnd(QWidget* pOwner, std::string strEntry);

    // Reads on the loader's thread; what answers runs here.
    void Read(std::function<std::function<void()>(class Database&, class CatalogTree&)> read);
    void Start(const std::optional<std::string>& strFolder,
               const std::optional<std::string>& strSelect);
    // Shows a folder; bRemember puts the one shown on the Back list.
    void GoTo(int64_t nId, bool bRemember = true, const std::string& strSelect = {});
    void GoToPath(const std::string& strPath, const std::string& strSelect = {});
    void GoBack();
    void GoUp();
    void ShowFolder(int64_t nId, std::vector<BrowseRow> rows, const std::string& strPath,
                    const std::vector<std::pair<QString, int64_t>>& parts,
                    std::optional<int64_t> nParent, const std::string& strSelect);
    std::function<bool(const std::string&)> CurrentFilter();
    void ApplyFilter();
    void SearchCatalog();
    void ShowTreemap();
    void ShowCounts();
    void OpenRow(int nRow);
    void ShowMenu(QPoint pt);
    std::string PathOfRow(const BrowseRow& row) const;
    void Failed(const std::string& strText);
    // The catalog's file was replaced (or went): see BrowseLoader.
    void Reopened(int nDropped, bool bOpen);
    // Gives rows no longer shown to the loader's thread to free.
    void DiscardLater(std::vector<BrowseRow> rows);

    std::string m_strEntry;
    std::unique_ptr<BrowseLoader> m_pLoader;
    FolderTreeModel* m_treeModel;
    FolderListModel* m_listModel;
    int m_nPending = 0;
    int64_t m_nFolder = 0;
    std::optional<int64_t> m_nParent;
    std::string m_strFolderPath;
    std::vector<int64_t> m_history;
    std::string m_strSearched; // the pattern whose hits are shown, if any
    bool m_bSyncingTree = false;
    // What the treemap draws inside each folder shown, by its id.
    std::unordered_map<int64_t, std::vector<TreemapItem>> m_inner;
};
