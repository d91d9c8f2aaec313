#pragma once

#include "pages/CPageDlg.h"

#include <functional>
#include <string>
#include <vector>

class CSortListCtrl;
struct ResultRow;

// The Result page: the hits of the last search in a sortable list with the
// columns Path, File size, CRC and Database. Each time it is shown while a
// search hands over a catalog's hits, it reads them into the list; a double
// click opens the selected hit with the desktop, where its disk is mounted
// now (a disk that is not plugged in is named instead, see FileOnDisk).
class CResult : public CPageDlg {
    Q_OBJECT

public:
    static constexpr int IDD = 108;
    static constexpr int IDC_RESULT_LIST = 1022;
    static constexpr const char* kColumns = "Path,200;File size,75;CRC,230;Database,100";

    explicit CResult(QWidget* pParent = nullptr);
    // Stores the list's column widths.
    ~CResult() override;

    void OnDblclkResultList();

    // Replaces the rows with these, shown from the top: the answer of a
    // question other than a search (a comparison, duplicates). The sort mark
    // stays; the rows stand in the order given.
    void ShowRows(const std::vector<ResultRow>& rows);
    // True while the rows are the hits of a search of directories, which
    // have no file to check.
    bool HasDirectoryRows() const { return m_bDirectoryRows; }

    // The right-click menu's commands: the folder holding the row under the
    // mouse opened by the desktop; every selected row's path, one a line, on
    // the clipboard; every row, in the order shown, written to a CSV file.
    void OnOpenContainingFolder(int nRow);
    void OnShowInCatalog(int nRow);
    void OnCopyPath();
    void OnExportList();

    // Where the list lies in a page of this size: 7 dialog units down, and
    // 7 free at the right and at the bottom, whatever the page's size.
    QRect ListRect(const QSize& page) const;

    CSortListCtrl* m_list;

protected:
    void OnListContextMenu(const QPoint& pt);
    // Enter on the list opens as a double click does; the Menu key and
    // Shift+F10 open the right-click menu at the current row.
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void accept() override {} // Enter neither closes nor hides the page
    void OnShowWindow(bool bShow) override;

private:
    // Runs fnAdd, which adds rows, with repainting held back until it ends;
    // with bReplace the rows replace those listed and show from the top.
    // fnAdd must not throw.
    void FillRows(bool bReplace, const std::function<void()>& fnAdd);
    void AddRow(const ResultRow& row);

    bool m_bDirectoryRows = false;
};
