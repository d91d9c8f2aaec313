#include "pages/CResult.h"

#include "app/CMainMenu.h"
#include "app/CommandIds.h"
#include "app/Desktop.h"
#include "app/Globals.h"
#include "catalog/EngineError.h"
#include "controls/CSortListCtrl.h"
#include "controls/DialogUnits.h"
#include "search/Search.h"

#include <QResizeEvent>
#include <QScrollBar>

CResult::CResult(QWidget* pParent) : CPageDlg(pParent), m_list(new CSortListCtrl(this)) {
    setObjectName("IDD_RESULT");
    const DialogUnits dlu(font());
    resize(dlu.Size(253, 231));
    m_list->setObjectName("IDC_RESULT_LIST");
    m_list->SetDlgCtrlID(IDC_RESULT_LIST);
    m_list->setGeometry(ListRect(size()));
    m_list->SetColumns(kColumns);
    m_list->LoadColumnWidths();
    connect(m_list, &CSortListCtrl::DoubleClicked, this, &CResult::OnDblclkResultList);
}

CResult::~CResult() {
    m_list->SaveColumnWidths();
}

QRect CResult::ListRect(const QSize& page) const {
    const DialogUnits dlu(font());
    return {dlu.X(0), dlu.Y(7), std::max(0, page.width() - dlu.X(7)),
            std::max(0, page.height() - dlu.Y(7) - dlu.Y(7))};
}

void CResult::resizeEvent(QResizeEvent* pEvent) {
    QDialog::resizeEvent(pEvent);
    m_list->setGeometry(ListRect(pEvent->size()));
}

void CResult::OnShowWindow(bool bShow) {
    if (!bShow) {
        if (g_pMainMenu)
            g_pMainMenu->EnableMenuItem(ID_RESULT_CHECK, false);
        return;
    }
    // A hand-over whose query never opened is dropped; the rows stay.
    if (SearchHitsPending()) {
        const bool bNewSearch = g_nResultAction == 1;
        if (bNewSearch)
            m_list->DeleteAllRows();
        m_list->SetRedraw(false);
        std::string strError;
        try {
            TakeSearchHits([this](ResultRow&& row) {
                m_list->AddRow({row.strPath, row.strSize, row.strChecksum, row.strDatabase});
            });
        } catch (const EngineError& error) {
            strError = error.what();
        }
        m_list->SetRedraw(true);
        // A new search is read from its first row and column, wherever the
        // last one was scrolled to.
        if (bNewSearch) {
            m_list->scrollToTop();
            m_list->horizontalScrollBar()->setValue(0);
        }
        // The rows read so far stay; the search goes on with its next catalog.
        if (!strError.empty())
            ReportError(this, strError);
    } else {
        g_nResultAction = 0;
    }
    if (g_pMainMenu)
        g_pMainMenu->EnableMenuItem(ID_RESULT_CHECK, true);
    setFocus();
}

void CResult::OnDblclkResultList() {
    const int nRow = m_list->GetFirstSelected(0);
    if (nRow < 0)
        return;
    if (!OpenWithDesktop(m_list->GetItemText(nRow, 0)))
        ShowMessage(this, "Can't open selected file or directory", "Warning", MessageIcon::Warning);
}
