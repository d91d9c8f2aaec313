// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "pages/CPageDlg.h"

#include <functional>
#include <string>
#include <vector>

class CSortListCtrl;
class QLabel;
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
    // stays; the rows stand in the order given. strAnswerHeading heads a
    // column after the others that shows each row's strAnswer, strSummary
    // is the line shown under the list, and strExportName the name "Export
    // list..." proposes (without date and extension); with bGroupBands the
    // column holds group numbers and each group's rows are shaded apart
    // from the next group's. A search's rows drop the column and the line.
    void ShowRows(const std::vector<ResultRow>& rows, const std::string& strAnswerHeading,
                  const std::string& strSummary, const std::string& strExportName,
                  bool bGroupBands);
    // The line under the list; empty while none shows.
    QString SummaryText() const;
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
    // 7 free at the right and at the bottom, whatever the page's size; while
    // a summary line shows, it lies between the list and those 7.
    QRect ListRect(const QSize& page) const;
    // The name "Export list..." proposes: the search text (or the question's
    // name), today's date and ".csv".
    QString ProposedExportName() const;

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
    // Drops the answer's column and summary line, and adds them again when
    // strHeading (strSummary) is not empty.
    void SetAnswer(const std::string& strHeading, const std::string& strSummary, bool bBands);
    QRect SummaryRect(const QSize& page) const;

    bool m_bDirectoryRows = false;
    QLabel* m_staticSummary;
    std::string m_strExportName;
};
