#include "app/CMainDlg.h"

#include "app/CMainApp.h"
#include "app/CMainMenu.h"
#include "app/CommandIds.h"
#include "app/Desktop.h"
#include "app/Globals.h"
#include "catalog/DataFolder.h"
#include "controls/DialogUnits.h"
#include "pages/CDBControl.h"
#include "pages/CDBSearch.h"
#include "pages/CResult.h"

#include <QMenuBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <exception>

CMainDlg::CMainDlg(CMainApp& app, QWidget* pParent)
    : QDialog(pParent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                           Qt::WindowCloseButtonHint),
      m_hIcon(":/kestrel.svg") {
    setObjectName("IDD_MAIN");
    setWindowTitle("Kestrel");
    setWindowIcon(m_hIcon);
    try {
        g_strAppPath = DataFolder();
    } catch (const std::exception& error) {
        ReportError(this, error.what());
    }

    m_pMenu = new CMainMenu(this, [&app](int nCommandId) { app.OnCommand(nCommandId); });
    m_tab = new QTabWidget(this);
    m_tab->setObjectName("IDC_TAB");
    m_tab->setUsesScrollButtons(false);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(0, 0, 0, 0);
    pLayout->setSpacing(0);
    pLayout->setMenuBar(m_pMenu->MenuBar());
    pLayout->addWidget(m_tab);
    const DialogUnits dlu(font());
    resize(dlu.Size(252, 246) + QSize(0, m_pMenu->MenuBar()->sizeHint().height()));

    // Made in this order; the tabs hold them by page number.
    auto* pResult = new CResult();
    auto* pCreate = new CDBControl();
    auto* pSearch = new CDBSearch();
    m_tab->addTab(pSearch, " Search  ");
    m_tab->addTab(pResult, " Result  ");
    m_tab->addTab(pCreate, " Create database  ");
    m_tab->setCurrentIndex(kPageSearch);

    g_hMainWnd = this;
    g_pMainMenu = m_pMenu;
}

CMainDlg::~CMainDlg() {
    // Each page's own end (the result list keeps its column widths) runs
    // while the window still stands.
    for (int nPage = kPageCreateDatabase; nPage >= kPageSearch; --nPage)
        delete m_tab->widget(nPage);
    if (g_hMainWnd == this) {
        g_hMainWnd = nullptr;
        g_pMainMenu = nullptr;
    }
}

QDialog* CMainDlg::OnMainPage(int wParam) {
    if (wParam >= kGetPageBase + kPageSearch && wParam <= kGetPageBase + kPageCreateDatabase)
        return static_cast<QDialog*>(m_tab->widget(wParam - kGetPageBase));
    if (wParam < kPageSearch || wParam > kPageCreateDatabase)
        return nullptr;
    // Hidden and shown even when it is the visible page, so its show
    // handling runs on every request (the search hands rows over this way).
    if (QWidget* pVisible = m_tab->currentWidget())
        pVisible->hide();
    m_tab->setCurrentIndex(wParam);
    QWidget* pPage = m_tab->widget(wParam);
    pPage->show();
    return static_cast<QDialog*>(pPage);
}
