// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "catalog/CatalogInfo.h"
#include "pages/CPageDlg.h"

#include <map>
#include <string>
#include <vector>

class QComboBox;
class QLineEdit;
class QListWidget;
struct ResultRow;
struct VolumeLocation;

// The Search page: the search text, where to search, the list of catalogs
// with the buttons that manage it, and "Search". List entries keep the
// bytes of their catalog names and paths; the list shows them as text.
class CDBSearch : public CPageDlg {
    Q_OBJECT

public:
    static constexpr int IDD = 107;
    static constexpr int IDC_SEARCH_TEXT = 1001;
    static constexpr int IDC_ADD_DATABASE = 1002;
    static constexpr int IDC_WHERE = 1021;
    static constexpr int IDC_DATABASES = 1022;
    static constexpr int IDC_SEARCH = 1023;
    static constexpr int IDC_UPDATE_LIST = 1024;
    static constexpr int IDC_DELETE = 1025;

    explicit CDBSearch(QWidget* pParent = nullptr);
    // Drops the last search's result set.
    ~CDBSearch() override;

    // "Add database...": picks a catalog file, tests it and lists it.
    void OnAddDatabase();
    // "Delete": asks (No is the default answer), then deletes the current
    // entry's catalog and unlists it; afterwards no entry is current until
    // one is clicked. Does nothing while no entry is current.
    void OnDeleteDatabase();
    // "Update list": loads the list again.
    void OnUpdateList();
    // "Search": searches the selected catalogs in list order; each
    // catalog's hits go to the Result page as soon as its query is open.
    void OnSearch();

    // The right-click menu of an entry: "Update" brings its catalog up to date
    // (on the worker thread, with the "Please wait..." window) and loads the
    // list again; "Properties..." shows what the catalog records of itself;
    // "Compare with..." asks for a second catalog and shows the files that
    // differ on the Result page, each row with its kind of difference and
    // the counts of each kind under the list; "Find duplicates" shows the
    // duplicate files of the selected catalogs there (of the one at nRow
    // when none is selected), each group's rows together with its number,
    // and under the list the space deleting all copies but one would free.
    // Catalogs without checksums are named: nothing is found in them.
    void OnUpdateCatalog(int nRow);
    // The Update of OnUpdateCatalog, of the catalog of strEntry (the notice
    // of a disk plugged in runs it too).
    void UpdateCatalog(const std::string& strEntry);
    void OnCatalogProperties(int nRow);
    void OnCompareWith(int nRow);
    void OnFindDuplicates(int nRow);
    // "Remove from list", offered for an entry listed by its full path: the
    // entry leaves the list and dblist.txt; its catalog file stays.
    void OnRemoveFromList(int nRow);

    // Appends the catalog list's entries to the list box.
    void LoadDatabaseList();
    // The entries, in list order; those selected.
    std::vector<std::string> Entries() const;
    std::vector<std::string> SelectedEntries() const;

    QComboBox* m_comboWhere;
    std::string m_strSearch;
    QListWidget* m_listDatabases;
    QLineEdit* m_editSearch;

protected:
    void OnShowWindow(bool bShow) override;
    // Tooltips of the entries; on the list, Delete does what the Delete
    // button does, the Menu key and Shift+F10 open the menu of the current
    // entry.
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void OnListContextMenu(const QPoint& pt);

private:
    std::string EntryAt(int nRow) const;
    // The tooltip of an entry: where and when its catalog was made, its
    // files, whether it is complete, its volume's label, UUID and file
    // system, whether that volume is mounted now, and the catalog's note.
    // What the catalog records is kept and read again only when its file
    // has changed.
    QString EntryToolTip(int nRow) const;
    // What the entry's catalog records of itself; raises EngineError.
    CatalogInfo ReadEntryInfo(int nRow) const;
    static QString ToolTipText(const CatalogInfo& info, const VolumeLocation& location);
    // Puts rows that answer a question on the Result page and shows it (see
    // CResult::ShowRows).
    void ShowResultRows(const std::vector<ResultRow>& rows, const std::string& strHeading,
                        const std::string& strSummary, const std::string& strExportName,
                        bool bGroupBands);
    void AddEntry(const std::string& strEntry);

    // What each entry's catalog recorded when its tooltip was last read.
    mutable std::map<std::string, CatalogInfo> m_tipInfos;
};
