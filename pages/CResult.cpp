// SPDX-License-Identifier: GPL-3.0-or-later

#include "pages/CResult.h"

#include "app/CMainMenu.h"
#include "app/CommandIds.h"
#include "app/Desktop.h"
#include "app/Globals.h"
#include "app/SearchHandover.h"
#include "catalog/EngineError.h"
#include "catalog/MemberPath.h"
#include "controls/CSortListCtrl.h"
#include "controls/DialogUnits.h"
#include "controls/MenuKeys.h"
#include "pages/CBrowseWnd.h"
#include "pages/CDBSearch.h"
#include "pages/FileOnDisk.h"
#include "scan/Paths.h"
#include "search/FileReplacement.h"
#include "search/HitStream.h"
#include "search/RecordWriter.h"
#include "search/ResultRow.h"

#include <QClipboard>
#include <QDate>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QResizeEvent>
#include <QScrollBar>
#include <cstring>

namespace {

// The columns of the list that every kind of rows has; an answer's own
// column follows them.
constexpr int kListedColumns = 4;

} // namespace

CResult::CResult(QWidget* pParent)
    : CPageDlg(pParent), m_list(new CSortListCtrl(this)), m_staticSummary(new QLabel(this)) {
    setObjectName("IDD_RESULT");
    const DialogUnits dlu(font());
    resize(dlu.Size(253, 231));
    m_staticSummary->setObjectName("IDC_RESULT_SUMMARY");
    m_staticSummary->setTextFormat(Qt::PlainText); // catalog names are never markup
    m_staticSummary->setWordWrap(true);
    m_staticSummary->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_staticSummary->hide();
    m_list->setObjectName("IDC_RESULT_LIST");
    m_list->SetDlgCtrlID(IDC_RESULT_LIST);
    m_list->setGeometry(ListRect(size()));
    m_list->SetColumns(kColumns);
    m_list->LoadColumnWidths();
    connect(m_list, &CSortListCtrl::DoubleClicked, this, &CResult::OnDblclkResultList);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this, &CResult::OnListContextMenu);
    m_list->installEventFilter(this); // Enter and the menu keys
}

CResult::~CResult() {
    // The widths kept are those of the columns every kind of rows has.
    m_list->RemoveColumnsFrom(kListedColumns);
    m_list->SaveColumnWidths();
}

QRect CResult::ListRect(const QSize& page) const {
    const DialogUnits dlu(font());
    const int nBelow = dlu.Y(7) + (m_staticSummary->isHidden() ? 0 : dlu.Y(20));
    return {dlu.X(0), dlu.Y(7), std::max(0, page.width() - dlu.X(7)),
            std::max(0, page.height() - dlu.Y(7) - nBelow)};
}

QRect CResult::SummaryRect(const QSize& page) const {
    const DialogUnits dlu(font());
    // Room for two lines: a summary that names catalogs wraps.
    return {dlu.X(0), std::max(0, page.height() - dlu.Y(7) - dlu.Y(18)),
            std::max(0, page.width() - dlu.X(7)), dlu.Y(18)};
}

QString CResult::SummaryText() const {
    return m_staticSummary->isHidden() ? QString() : m_staticSummary->text();
}

void CResult::resizeEvent(QResizeEvent* pEvent) {
    QDialog::resizeEvent(pEvent);
    m_list->setGeometry(ListRect(pEvent->size()));
    m_staticSummary->setGeometry(SummaryRect(pEvent->size()));
}

void CResult::SetAnswer(const std::string& strHeading, const std::string& strSummary, bool bBands) {
    m_list->RemoveColumnsFrom(kListedColumns);
    if (!strHeading.empty())
        m_list->InsertColumn(strHeading, DialogUnits(font()).ScaleX(110));
    m_list->SetBandColumn(bBands ? kListedColumns : -1);
    m_staticSummary->setText(DisplayText(strSummary));
    m_staticSummary->setToolTip(DisplayText(strSummary));
    m_staticSummary->setVisible(!strSummary.empty());
    m_list->setGeometry(ListRect(size()));
    m_staticSummary->setGeometry(SummaryRect(size()));
}

namespace {

// Text made fit to be part of a file name: what a name cannot hold, or
// should not, goes, wildcards of a pattern too; empty when nothing is left.
QString FileNamePart(const std::string& strText) {
    QString strName;
    for (const QChar c : DisplayText(strText)) {
        if (c == '*' || c == '?')
            continue;
        const bool bBad = c == '/' || c == '\\' || c == ':' || c == '"' || c == '<' || c == '>' ||
                          c == '|' || c.category() == QChar::Other_Control;
        strName += bBad ? QChar('_') : c;
    }
    // A name that starts with '.' would be hidden.
    while (!strName.isEmpty() &&
           (strName.front() == '.' || strName.front() == ' ' || strName.front() == '_'))
        strName.remove(0, 1);
    while (!strName.isEmpty() && (strName.back() == '.' || strName.back() == ' '))
        strName.chop(1);
    return strName.left(100);
}

} // namespace

QString CResult::ProposedExportName() const {
    QString strName = FileNamePart(m_strExportName);
    if (strName.isEmpty())
        strName = "results";
    return strName + " " + QDate::currentDate().toString("yyyy-MM-dd") + ".csv";
}

void CResult::OnShowWindow(bool bShow) {
    if (g_pMainMenu)
        g_pMainMenu->EnableMenuItem(ID_RESULT_CHECK, bShow);
    if (!bShow)
        return;
    // A hand-over whose query never opened is dropped; the rows stay.
    if (SearchHitsPending()) {
        // A new search is read from its first row and column, wherever the
        // last one was scrolled to.
        const bool bNewSearch = g_nResultAction == 1;
        m_bDirectoryRows = g_nSearchMode == kSearchDirs;
        if (bNewSearch) {
            SetAnswer({}, {}, false);
            // Named after what was searched for, as the Search page holds it.
            const auto* pSearch =
                static_cast<const CDBSearch*>(SendMainPage(kGetPageBase + kPageSearch));
            m_strExportName = pSearch ? pSearch->m_strSearch : std::string();
            // A pattern of wildcards alone names nothing: the catalog does.
            if (FileNamePart(m_strExportName).isEmpty())
                m_strExportName = g_strSearchDatabase;
        }
        std::string strError;
        FillRows(bNewSearch, [&] {
            try {
                TakeSearchHits([this](ResultRow&& row) { AddRow(row); });
            } catch (const EngineError& error) {
                strError = error.what();
            }
        });
        // The rows read so far stay; the search goes on with its next catalog.
        if (!strError.empty())
            ReportError(this, strError);
        // The keyboard goes on where the hits are: Enter opens the first.
        if (bNewSearch && m_list->GetItemCount() > 0)
            m_list->setCurrentIndex(m_list->model()->index(0, 0));
        m_list->setFocus();
        return;
    }
    g_nResultAction = 0;
    setFocus();
}

bool CResult::eventFilter(QObject* pWatched, QEvent* pEvent) {
    if (pWatched != m_list)
        return CPageDlg::eventFilter(pWatched, pEvent);
    if (IsMenuKey(*pEvent)) {
        OnListContextMenu(MenuPointOfCurrentRow(*m_list));
        return true;
    }
    if (pEvent->type() != QEvent::KeyPress)
        return CPageDlg::eventFilter(pWatched, pEvent);
    const auto* pKey = static_cast<QKeyEvent*>(pEvent);
    if ((pKey->key() == Qt::Key_Return || pKey->key() == Qt::Key_Enter) &&
        (pKey->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        RunCommand(this, [this] { OnDblclkResultList(); });
        return true;
    }
    return CPageDlg::eventFilter(pWatched, pEvent);
}

namespace {

// The file a row's path stands for on the disk: the archive file itself for a
// member of an archive, which the system cannot open.
// A directory of a comparison ends with '/', which is no part of its name.
std::string FileOfRow(std::string strPath) {
    if (strPath.size() > 1 && strPath.back() == '/')
        strPath.pop_back();
    return SplitMemberPath(strPath).front();
}

} // namespace

void CResult::OnDblclkResultList() {
    const int nRow = m_list->GetFirstSelected(0);
    if (nRow < 0)
        return;
    const std::optional<std::string> path = FileOnDisk(
        this, m_list->GetItemText(nRow, 3), FileOfRow(m_list->GetItemText(nRow, 0)), "Warning");
    if (path)
        OpenOrWarn(this, *path);
}

void CResult::ShowRows(const std::vector<ResultRow>& rows, const std::string& strAnswerHeading,
                       const std::string& strSummary, const std::string& strExportName,
                       bool bGroupBands) {
    m_bDirectoryRows = false;
    m_strExportName = strExportName;
    // The rows go first: the answer's column is added to a list without rows.
    m_list->DeleteAllRows();
    SetAnswer(strAnswerHeading, strSummary, bGroupBands);
    FillRows(true, [&] {
        for (const ResultRow& row : rows)
            AddRow(row);
    });
}

void CResult::FillRows(bool bReplace, const std::function<void()>& fnAdd) {
    if (bReplace)
        m_list->DeleteAllRows();
    m_list->SetRedraw(false);
    fnAdd();
    m_list->SetRedraw(true);
    if (bReplace) {
        m_list->scrollToTop();
        m_list->horizontalScrollBar()->setValue(0);
    }
}

void CResult::AddRow(const ResultRow& row) {
    if (m_list->NumColumns() > kListedColumns)
        m_list->AddRow({row.strPath, row.strSize, row.strChecksum, row.strDatabase, row.strAnswer});
    else
        m_list->AddRow({row.strPath, row.strSize, row.strChecksum, row.strDatabase});
}

void CResult::OnListContextMenu(const QPoint& pt) {
    // The row under the mouse joins the selection unless it is in it: the
    // menu acts on what the user points at.
    const QModelIndex index = m_list->indexAt(pt);
    const int nRow = index.isValid() ? index.row() : -1;
    if (nRow >= 0 && !m_list->selectionModel()->isRowSelected(nRow, QModelIndex())) {
        m_list->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect |
                                                    QItemSelectionModel::Rows);
        m_list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    }
    QMenu menu(this);
    QAction* pOpen = menu.addAction("Open containing folder");
    QAction* pCopy = menu.addAction("Copy path");
    QAction* pShow = menu.addAction("Show in catalog");
    menu.addSeparator();
    QAction* pExport = menu.addAction("Export list...");
    pOpen->setEnabled(nRow >= 0);
    pShow->setEnabled(nRow >= 0);
    pCopy->setEnabled(m_list->GetFirstSelected(0) >= 0);
    pExport->setEnabled(m_list->GetItemCount() > 0);
    QAction* pChosen = menu.exec(m_list->viewport()->mapToGlobal(pt));
    if (pChosen == pOpen)
        RunCommand(this, [this, nRow] { OnOpenContainingFolder(nRow); });
    else if (pChosen == pCopy)
        RunCommand(this, [this] { OnCopyPath(); });
    else if (pChosen == pShow)
        RunCommand(this, [this, nRow] { OnShowInCatalog(nRow); });
    else if (pChosen == pExport)
        RunCommand(this, [this] { OnExportList(); });
}

void CResult::OnOpenContainingFolder(int nRow) {
    if (nRow < 0 || nRow >= m_list->GetItemCount())
        return;
    const std::optional<std::string> path = FileOnDisk(
        this, m_list->GetItemText(nRow, 3), FileOfRow(m_list->GetItemText(nRow, 0)), "Warning");
    // A hit in the root (or a path without a folder) has the root as its folder.
    if (path)
        OpenOrWarn(this, SplitFolderAndName(*path).first);
}

void CResult::OnShowInCatalog(int nRow) {
    if (nRow < 0 || nRow >= m_list->GetItemCount())
        return;
    // A hit is shown in its folder, chosen there; its catalog is the row's.
    const auto [strFolder, strName] = SplitFolderAndName(FileOfRow(m_list->GetItemText(nRow, 0)));
    CBrowseWnd::Open(this, m_list->GetItemText(nRow, 3), strFolder, strName);
}

void CResult::OnCopyPath() {
    std::string strPaths;
    for (const int nRow : m_list->SelectedRows()) {
        strPaths += m_list->GetItemTextView(nRow, 0);
        strPaths += '\n';
    }
    if (!strPaths.empty())
        QGuiApplication::clipboard()->setText(DisplayText(strPaths));
}

void CResult::OnExportList() {
    const std::optional<std::string> file = PickSaveFile(this, "Export list", ProposedExportName());
    if (!file)
        return;
    std::string strText;
    RecordWriter records([&strText](std::string_view text) { strText.append(text); },
                         OutputFormat::Csv, {{"path", true}, {"size"}, {"md5"}, {"catalog", true}});
    auto text = [](std::string_view str) -> RecordValue {
        return str.empty() ? RecordValue() : RecordValue(str);
    };
    for (int nRow = 0; nRow < m_list->GetItemCount(); ++nRow)
        records.Write({m_list->GetItemTextView(nRow, 0), text(m_list->GetItemTextView(nRow, 1)),
                       text(m_list->GetItemTextView(nRow, 2)), m_list->GetItemTextView(nRow, 3)});
    // Written whole beside the file, then put in its place: a failure leaves
    // no half list and no file overwritten with one.
    const int nError = ReplaceFileWhole(*file, strText, false);
    if (nError != 0)
        ShowMessage(this, "Cannot write '" + *file + "': " + std::strerror(nError), "Export list",
                    MessageIcon::Critical);
}
