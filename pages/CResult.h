#pragma once

#include "pages/CPageDlg.h"

class CSortListCtrl;

// The Result page: the hits of the last search in a sortable list with the
// columns Path, File size, CRC and Database. Each time it is shown while a
// search hands over a catalog's hits, it reads them into the list; a double
// click opens the selected hit with the desktop.
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

    // Where the list lies in a page of this size: 7 dialog units down, and
    // 7 free at the right and at the bottom, whatever the page's size.
    QRect ListRect(const QSize& page) const;

    CSortListCtrl* m_list;

protected:
    void resizeEvent(QResizeEvent* pEvent) override;
    void accept() override {} // Enter neither closes nor hides the page
    void OnShowWindow(bool bShow) override;
};
