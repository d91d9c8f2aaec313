// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/CMainDlg.h"

#include "app/CDiskNotice.h"
#include "app/CMainApp.h"
#include "app/CMainMenu.h"
#include "app/CommandIds.h"
#include "app/Desktop.h"
#include "app/DiskWatch.h"
#include "app/Globals.h"
#include "catalog/DataFolder.h"
#include "controls/DialogUnits.h"
#include "pages/CDBControl.h"
#include "pages/CDBSearch.h"
#include "pages/CResult.h"

#include <QEvent>
#include <QListWidget>
#include <QMenuBar>
#include <QSettings>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

namespace {

// The user's profile keeps the window's size, place and state under this key.
constexpr const char* kGeometryKey = "MainWindow/geometry";

} // namespace

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
    // The pages' controls are placed for the designed size: smaller would
    // cut them off. Larger is allowed, so that the window can be maximised.
    const DialogUnits dlu(font());
    const QSize designed = dlu.Size(252, 246) + QSize(0, m_pMenu->MenuBar()->sizeHint().height());
    setMinimumSize(designed);
    resize(designed);
    // Where the user left it last time, as large and where it was, maximised
    // or not; never smaller than designed, since the minimum holds.
    const QByteArray geometry = QSettings("Kestrel", "kestrel").value(kGeometryKey).toByteArray();
    if (!geometry.isEmpty())
        restoreGeometry(geometry);

    // The tab items carry no widget of their own: the pages lie over the
    // tab control where PageRect puts them, and the tab items hold them.
    for (const char* pszText : {" Search  ", " Result  ", " Create database  "})
        m_tab->addTab(new QWidget(), pszText);
    // Made in this order; the tab items hold them by page number.
    AddPage(kPageResult, new CResult(m_tab));
    AddPage(kPageCreateDatabase, new CDBControl(m_tab));
    AddPage(kPageSearch, new CDBSearch(m_tab));
    // Where a page reaches into the row of tabs, the tabs take the clicks.
    m_tab->tabBar()->raise();
    m_tab->setCurrentIndex(kPageSearch);
    Page(kPageSearch)->show();
    m_tab->installEventFilter(this);
    connect(m_tab, &QTabWidget::currentChanged, this, &CMainDlg::OnSelChange);

    // The listed catalogs are the ones watched: the volumes are read again
    // whenever the list changes, so that a catalog listed later is known
    // offline before its disk comes.
    auto* pSearch = static_cast<CDBSearch*>(Page(kPageSearch));
    m_pDiskNotice = new CDiskNotice(
        this, [this](const std::vector<std::string>& entries) { UpdateCatalogs(entries); });
    m_pDiskWatch =
        new DiskWatch([pSearch] { return pSearch->Entries(); },
                      [this](const VolumeChanges& changes) { OnVolumesChanged(changes); }, this);
    const QAbstractItemModel* pList = pSearch->m_listDatabases->model();
    connect(pList, &QAbstractItemModel::rowsInserted, m_pDiskWatch, &DiskWatch::ReadSoon);
    connect(pList, &QAbstractItemModel::rowsRemoved, m_pDiskWatch, &DiskWatch::ReadSoon);
    connect(pList, &QAbstractItemModel::modelReset, m_pDiskWatch, &DiskWatch::ReadSoon);

    g_hMainWnd = this;
    g_pMainMenu = m_pMenu;
}

CMainDlg::~CMainDlg() {
    QSettings("Kestrel", "kestrel").setValue(kGeometryKey, saveGeometry());
    // The watch reads the Search page's list: it goes first, after the
    // reading it may have on its way.
    delete m_pDiskWatch;
    // Each page's own end (the result list keeps its column widths) runs
    // while the window still stands.
    for (int nPage = kPageCreateDatabase; nPage >= kPageSearch; --nPage)
        delete Page(nPage);
    if (g_hMainWnd == this) {
        g_hMainWnd = nullptr;
        g_pMainMenu = nullptr;
    }
}

QRect CMainDlg::PageRect(const QRect& rcTab) {
    return {rcTab.left() + 5, rcTab.top() + 25, std::max(0, rcTab.width() - 10),
            std::max(0, rcTab.height() - 30)};
}

QDialog* CMainDlg::Page(int nPage) const {
    return qobject_cast<QDialog*>(m_tab->tabBar()->tabData(nPage).value<QObject*>());
}

void CMainDlg::AddPage(int nPage, QDialog* pPage) {
    m_tab->tabBar()->setTabData(nPage, QVariant::fromValue<QObject*>(pPage));
    pPage->setGeometry(PageRect(m_tab->rect()));
    pPage->hide();
}

void CMainDlg::PlacePages() {
    const QRect rcPage = PageRect(m_tab->rect());
    for (int nPage = kPageSearch; nPage <= kPageCreateDatabase; ++nPage)
        Page(nPage)->setGeometry(rcPage);
}

bool CMainDlg::eventFilter(QObject* pWatched, QEvent* pEvent) {
    // Also after maximise and restore: the pages follow the tab control.
    if (pWatched == m_tab && pEvent->type() == QEvent::Resize)
        PlacePages();
    return QDialog::eventFilter(pWatched, pEvent);
}

void CMainDlg::OnSelChange(int nPage) {
    for (int nOther = kPageSearch; nOther <= kPageCreateDatabase; ++nOther)
        if (nOther != nPage)
            Page(nOther)->hide();
    if (QDialog* pPage = Page(nPage))
        pPage->show();
}

QDialog* CMainDlg::OnMainPage(int wParam) {
    if (wParam >= kGetPageBase + kPageSearch && wParam <= kGetPageBase + kPageCreateDatabase)
        return Page(wParam - kGetPageBase);
    if (wParam < kPageSearch || wParam > kPageCreateDatabase)
        return nullptr;
    // Hidden and shown even when it is the visible page, so its show
    // handling runs on every request (the search hands rows over this way).
    Page(m_tab->currentIndex())->hide();
    {
        // Selecting a tab here is no tab click: the pages are switched below.
        const QSignalBlocker noSelChange(m_tab);
        m_tab->setCurrentIndex(wParam);
    }
    QDialog* pPage = Page(wParam);
    pPage->show();
    return pPage;
}

void CMainDlg::OnVolumesChanged(const VolumeChanges& changes) {
    if (!changes.disappeared.empty())
        m_pDiskNotice->RemoveDisks(changes.disappeared);
    if (!changes.appeared.empty())
        m_pDiskNotice->AddDisks(changes.appeared);
}

void CMainDlg::UpdateCatalogs(const std::vector<std::string>& entries) {
    auto* pSearch = static_cast<CDBSearch*>(Page(kPageSearch));
    for (const std::string& strEntry : entries)
        RunCommand(pSearch, [&] { pSearch->UpdateCatalog(strEntry); });
}
