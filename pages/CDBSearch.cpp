// SPDX-License-Identifier: GPL-3.0-or-later

#include "pages/CDBSearch.h"

#include "app/CMainMenu.h"
#include "app/CommandIds.h"
#include "app/Desktop.h"
#include "app/Globals.h"
#include "app/SearchHandover.h"
#include "audit/Diff.h"
#include "audit/Duplicates.h"
#include "catalog/Catalog.h"
#include "catalog/CatalogInfo.h"
#include "catalog/Database.h"
#include "catalog/ResultSet.h"
#include "controls/DialogUnits.h"
#include "controls/MenuKeys.h"
#include "pages/CBrowseWnd.h"
#include "pages/CCatalogProperties.h"
#include "pages/CResult.h"
#include "pages/ScanProgress.h"
#include "scan/CatalogUpdate.h"
#include "scan/ScanJob.h"
#include "search/CatalogOpen.h"
#include "search/DatabaseList.h"
#include "search/HitStream.h"
#include "search/ResultRow.h"
#include "search/SearchMessages.h"
#include "volume/VolumeLocator.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QShowEvent>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

namespace {

constexpr int kEntryRole = Qt::UserRole;            // the entry's bytes
constexpr int kToolTipStateRole = Qt::UserRole + 1; // its catalog's file state when last read

} // namespace

CDBSearch::CDBSearch(QWidget* pParent) : CPageDlg(pParent) {
    setObjectName("IDD_SEARCH");
    const DialogUnits dlu(font());
    resize(dlu.Size(254, 232));

    // Made in tab order.
    m_editSearch = AddEdit("IDC_SEARCH_TEXT", 61, 14, 165, 14);
    m_comboWhere = new QComboBox(this);
    m_comboWhere->setObjectName("IDC_WHERE");
    m_comboWhere->setGeometry(dlu.Rect(61, 36, 105, 14));
    m_comboWhere->addItems({"Directories and files", "Files", "Directories"});
    m_comboWhere->setCurrentIndex(-1); // chosen when the page is first shown
    m_listDatabases = new QListWidget(this);
    m_listDatabases->setObjectName("IDC_DATABASES");
    m_listDatabases->setGeometry(dlu.Rect(61, 57, 165, 139));
    m_listDatabases->setSelectionMode(QAbstractItemView::MultiSelection);
    m_listDatabases->setUniformItemSizes(true);
    m_listDatabases->viewport()->installEventFilter(this); // tooltips, read when asked for
    m_listDatabases->installEventFilter(this);             // Delete and the menu keys
    m_listDatabases->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_listDatabases, &QWidget::customContextMenuRequested, this,
            &CDBSearch::OnListContextMenu);
    QPushButton* pAdd = AddButton("Add database...", "IDC_ADD_DATABASE", 7, 201, 62, 16);
    QPushButton* pDelete = AddButton("Delete", "IDC_DELETE", 73, 201, 46, 16);
    QPushButton* pUpdate = AddButton("Update list", "IDC_UPDATE_LIST", 123, 201, 46, 16);
    QPushButton* pSearch = AddButton("Search", "IDC_SEARCH", 173, 201, 54, 16);
    pSearch->setDefault(true); // Enter in the search text searches
    AddLabel("In database:", 14, 56, 43, 9);
    AddLabel("Where search:", 8, 38, 49, 11);
    AddLabel("Search for:", 19, 16, 38, 8);

    RunOnClick(pAdd, [this] { OnAddDatabase(); });
    RunOnClick(pDelete, [this] { OnDeleteDatabase(); });
    RunOnClick(pUpdate, [this] { OnUpdateList(); });
    RunOnClick(pSearch, [this] { OnSearch(); });
}

CDBSearch::~CDBSearch() {
    g_pSearchRecordset.reset();
}

void CDBSearch::OnShowWindow(bool bShow) {
    if (!bShow) {
        if (g_pMainMenu)
            g_pMainMenu->EnableMenuItem(ID_FILE_ADD_DATABASE, false);
        return;
    }
    if (g_bReloadDatabaseList) {
        m_comboWhere->setCurrentIndex(0);
        m_listDatabases->clear();
        RunCommand(this, [this] { LoadDatabaseList(); });
        g_bReloadDatabaseList = false;
    }
    if (g_pMainMenu)
        g_pMainMenu->EnableMenuItem(ID_FILE_ADD_DATABASE, true);
    RestoreFocus(m_editSearch);
}

std::string CDBSearch::EntryAt(int nRow) const {
    const QByteArray bytes = m_listDatabases->item(nRow)->data(kEntryRole).toByteArray();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

std::vector<std::string> CDBSearch::SelectedEntries() const {
    std::vector<std::string> selected;
    for (int i = 0; i < m_listDatabases->count(); ++i)
        if (m_listDatabases->item(i)->isSelected())
            selected.push_back(EntryAt(i));
    return selected;
}

std::vector<std::string> CDBSearch::Entries() const {
    std::vector<std::string> entries;
    for (int i = 0; i < m_listDatabases->count(); ++i)
        entries.push_back(EntryAt(i));
    return entries;
}

void CDBSearch::AddEntry(const std::string& strEntry) {
    auto* pItem = new QListWidgetItem(DisplayText(strEntry));
    pItem->setData(kEntryRole,
                   QByteArray(strEntry.data(), static_cast<qsizetype>(strEntry.size())));
    m_listDatabases->addItem(pItem);
}

void CDBSearch::LoadDatabaseList() {
    for (const std::string& strEntry : ::LoadDatabaseList(g_strAppPath))
        AddEntry(strEntry);
}

void CDBSearch::OnUpdateList() {
    m_listDatabases->clear();
    LoadDatabaseList();
}

void CDBSearch::OnAddDatabase() {
    const std::optional<std::string> path = PickCatalogFile(this);
    if (!path)
        return;
    switch (AddDatabase(g_strAppPath, *path, Entries())) {
    case AddResult::NotValid:
        ShowMessage(this, kMsgNotValidDatabase, "Error", MessageIcon::Critical);
        return;
    case AddResult::AlreadyListed:
        ShowMessage(this, kMsgAlreadyInList, "Warning", MessageIcon::Information);
        return;
    case AddResult::HasLineBreak:
        ShowMessage(this, kMsgPathHasLineBreak, "Error", MessageIcon::Critical);
        return;
    case AddResult::ListNotWritten:
        AddEntry(*path);
        ShowMessage(this,
                    "The database list file could not be written; '" + *path +
                        "' is listed until the list is loaded again",
                    "Warning", MessageIcon::Warning);
        return;
    case AddResult::Added:
        AddEntry(*path);
        return;
    }
}

void CDBSearch::OnDeleteDatabase() {
    // The current entry is the one last clicked; with none, nothing is deleted.
    const int nRow = m_listDatabases->currentRow();
    if (nRow < 0 || nRow >= m_listDatabases->count())
        return;
    const std::string strEntry = EntryAt(nRow);
    // A catalog may describe media long gone: never delete it on one click,
    // nor on Enter.
    if (ShowMessage(this, DeleteQuestion(strEntry), "Database", MessageIcon::Question,
                    MessageButtons::YesNoDefaultNo) != MessageAnswer::Yes)
        return;
    if (const std::string strProblem = DeleteDatabase(g_strAppPath, strEntry);
        !strProblem.empty()) {
        ShowMessage(this, strProblem, "Database", MessageIcon::Critical);
        return;
    }
    delete m_listDatabases->takeItem(nRow);
    // The list would make a neighbour current, which a second Delete would
    // then remove although the user never pointed at it.
    m_listDatabases->setCurrentItem(nullptr);
}

void CDBSearch::OnSearch() {
    m_strSearch = BytesOf(m_editSearch->text());
    if (m_listDatabases->count() == 0) {
        ShowMessage(this, kMsgNoDatabases, "Information", MessageIcon::Information);
        return;
    }
    if (m_strSearch.empty()) {
        ShowMessage(this, kMsgEnterSearchText, "Warning", MessageIcon::Warning);
        return;
    }
    const std::vector<std::string> selected = SelectedEntries();
    if (selected.empty()) {
        ShowMessage(this, kMsgSelectDatabases, "Warning", MessageIcon::Warning);
        return;
    }
    const auto mode = static_cast<SearchMode>(std::clamp(m_comboWhere->currentIndex(), 0, 2));
    SearchCatalogs(g_strAppPath, selected, mode, m_strSearch, [] { SendMainPage(kPageResult); });
}

bool CDBSearch::eventFilter(QObject* pWatched, QEvent* pEvent) {
    if (pWatched == m_listDatabases->viewport() && pEvent->type() == QEvent::ToolTip) {
        const auto* pHelp = static_cast<QHelpEvent*>(pEvent);
        const QModelIndex index = m_listDatabases->indexAt(pHelp->pos());
        if (index.isValid())
            QToolTip::showText(pHelp->globalPos(), EntryToolTip(index.row()),
                               m_listDatabases->viewport(), m_listDatabases->visualRect(index));
        else
            QToolTip::hideText();
        return true;
    }
    if (pWatched == m_listDatabases && IsMenuKey(*pEvent)) {
        OnListContextMenu(MenuPointOfCurrentRow(*m_listDatabases));
        return true;
    }
    if (pWatched == m_listDatabases && pEvent->type() == QEvent::KeyPress) {
        const auto* pKey = static_cast<QKeyEvent*>(pEvent);
        if (pKey->key() == Qt::Key_Delete && pKey->modifiers() == Qt::NoModifier) {
            RunCommand(this, [this] { OnDeleteDatabase(); });
            return true;
        }
    }
    return CPageDlg::eventFilter(pWatched, pEvent);
}

QString CDBSearch::EntryToolTip(int nRow) const {
    // Read again only when the catalog changed: an old catalog without its
    // own record of itself has all its files counted for it. Where its disk
    // is changes without the file: that is looked up at every showing.
    QListWidgetItem* pItem = m_listDatabases->item(nRow);
    const std::string strEntry = EntryAt(nRow);
    const std::string strState = CatalogFileState(CatalogPathOfEntry(g_strAppPath, strEntry));
    const QByteArray state(strState.data(), static_cast<qsizetype>(strState.size()));
    auto cached = m_tipInfos.find(strEntry);
    if (state.isEmpty() || pItem->data(kToolTipStateRole).toByteArray() != state ||
        cached == m_tipInfos.end()) {
        try {
            cached = m_tipInfos.insert_or_assign(strEntry, ReadEntryInfo(nRow)).first;
            pItem->setData(kToolTipStateRole, state);
        } catch (const std::exception& error) {
            // Not kept: a catalog busy now may be readable at the next look.
            pItem->setData(kToolTipStateRole, QByteArray());
            return QString("This catalog cannot be read: ") + DisplayText(error.what());
        }
    }
    return ToolTipText(cached->second, MountedVolumes().Locate(cached->second));
}

CatalogInfo CDBSearch::ReadEntryInfo(int nRow) const {
    Database database;
    OpenCatalogForSearch(database, g_strAppPath, EntryAt(nRow));
    return ReadCatalogInfo(database, false);
}

QString CDBSearch::ToolTipText(const CatalogInfo& info, const VolumeLocation& location) {
    const auto known = [](const std::optional<std::string>& value) {
        return value && !value->empty() ? DisplayText(*value) : QString("unknown");
    };
    QString strTip = "Start directory: " + known(info.strStartDir);
    const std::optional<std::string>& made = info.strFinished ? info.strFinished : info.strStarted;
    strTip += "\nMade: " + (made && !made->empty() ? LocalTimeText(*made) : QString("unknown"));
    strTip += "\nFiles: " + (info.nFiles ? QString::number(*info.nFiles) : QString("unknown"));
    strTip += "\nComplete: " +
              (info.bComplete ? QString(*info.bComplete ? "yes" : "no") : QString("unknown"));
    if (!info.volume.strLabel.empty())
        strTip += "\nVolume label: " + DisplayText(info.volume.strLabel);
    if (!info.volume.strUuid.empty())
        strTip += "\nUUID: " + DisplayText(info.volume.strUuid);
    if (!info.volume.strFsType.empty())
        strTip += "\nFile system: " + DisplayText(info.volume.strFsType);
    strTip += "\nDisk: " + DisplayText(VolumeStateText(location));
    if (info.strNote && !info.strNote->empty())
        strTip += "\nNote: " + DisplayText(*info.strNote);
    return strTip;
}

void CDBSearch::OnListContextMenu(const QPoint& pt) {
    const QModelIndex index = m_listDatabases->indexAt(pt);
    const int nRow = index.isValid() ? index.row() : -1;
    QMenu menu(this);
    QAction* pBrowse = menu.addAction("Browse...");
    menu.addSeparator();
    QAction* pUpdate = menu.addAction("Update");
    QAction* pProperties = menu.addAction("Properties...");
    menu.addSeparator();
    QAction* pCompare = menu.addAction("Compare with...");
    QAction* pDuplicates = menu.addAction("Find duplicates");
    // Only a catalog listed by its path can leave the list and stay on the
    // disk: one in the data folder is listed because it is there.
    QAction* pRemove = nullptr;
    if (nRow >= 0 && IsFullPathEntry(EntryAt(nRow))) {
        menu.addSeparator();
        pRemove = menu.addAction("Remove from list");
    }
    for (QAction* pAction : {pBrowse, pUpdate, pProperties, pCompare})
        pAction->setEnabled(nRow >= 0);
    pCompare->setEnabled(nRow >= 0 && m_listDatabases->count() > 1);
    QAction* pChosen = menu.exec(m_listDatabases->viewport()->mapToGlobal(pt));
    if (pChosen == pBrowse)
        RunCommand(this, [this, nRow] { CBrowseWnd::Open(this, EntryAt(nRow)); });
    else if (pChosen == pUpdate)
        RunCommand(this, [this, nRow] { OnUpdateCatalog(nRow); });
    else if (pChosen == pProperties)
        RunCommand(this, [this, nRow] { OnCatalogProperties(nRow); });
    else if (pChosen == pCompare)
        RunCommand(this, [this, nRow] { OnCompareWith(nRow); });
    else if (pChosen == pDuplicates)
        RunCommand(this, [this, nRow] { OnFindDuplicates(nRow); });
    else if (pChosen && pChosen == pRemove)
        RunCommand(this, [this, nRow] { OnRemoveFromList(nRow); });
}

void CDBSearch::OnRemoveFromList(int nRow) {
    if (nRow < 0 || nRow >= m_listDatabases->count())
        return;
    if (const std::string strProblem = RemoveFromList(g_strAppPath, EntryAt(nRow));
        !strProblem.empty()) {
        ShowMessage(this, strProblem, "Database", MessageIcon::Critical);
        return;
    }
    delete m_listDatabases->takeItem(nRow);
    // As after Delete: no neighbour becomes current behind the user's back.
    m_listDatabases->setCurrentItem(nullptr);
}

void CDBSearch::OnUpdateCatalog(int nRow) {
    if (nRow < 0 || nRow >= m_listDatabases->count())
        return;
    UpdateCatalog(EntryAt(nRow));
}

void CDBSearch::UpdateCatalog(const std::string& strEntry) {
    CatalogUpdate update(CatalogPathOfEntry(g_strAppPath, strEntry), {});
    if (const std::string strProblem = update.StartProblem(); !strProblem.empty()) {
        ShowMessage(this, strProblem, "Update", MessageIcon::Warning);
        return;
    }
    RunScanJobModal(this, update.Job());
    if (const std::string strProblem = update.Finish(); !strProblem.empty()) {
        ShowMessage(this, strProblem + " (the catalog was left as it was)", "Update",
                    MessageIcon::Critical);
        return;
    }
    if (update.Job().outcome.bStopped) {
        ShowMessage(this, "The update was stopped: '" + strEntry + "' was left as it was.",
                    "Update", MessageIcon::Warning);
        return;
    }
    ShowMessage(this, "'" + strEntry + "' is up to date: " + update.ChangesText(), "Update",
                MessageIcon::Information);
    // The list is read again, as after any scan, but what the user selected
    // stays selected, and no second reload waits for the next showing.
    const std::vector<std::string> selected = SelectedEntries();
    OnUpdateList();
    for (int i = 0; i < m_listDatabases->count(); ++i)
        if (std::find(selected.begin(), selected.end(), EntryAt(i)) != selected.end())
            m_listDatabases->item(i)->setSelected(true);
    g_bReloadDatabaseList = false;
}

void CDBSearch::OnCatalogProperties(int nRow) {
    if (nRow < 0 || nRow >= m_listDatabases->count())
        return;
    const std::string strEntry = EntryAt(nRow);
    Database database;
    const std::string strPath = OpenCatalogForSearch(database, g_strAppPath, strEntry);
    const CatalogInfo info = ReadCatalogInfo(database);
    database.Close();
    // The catalog keeps its times in UTC; they are shown in the local zone.
    std::vector<std::pair<std::string, std::string>> lines = InfoLines(info);
    for (auto& [strLabel, strValue] : lines)
        if ((strLabel == "Started" && info.strStarted) ||
            (strLabel == "Finished" && info.strFinished))
            strValue = BytesOf(LocalTimeText(strValue));
    CCatalogProperties properties(strEntry, strPath, lines, info.strNote.value_or(""), this);
    properties.exec();
}

void CDBSearch::OnCompareWith(int nRow) {
    if (nRow < 0 || nRow >= m_listDatabases->count())
        return;
    const std::string strOld = EntryAt(nRow);
    std::vector<std::string> others;
    QDialog dialog(this);
    dialog.setWindowTitle("Compare with");
    auto* pCombo = new QComboBox(&dialog);
    for (int i = 0; i < m_listDatabases->count(); ++i) {
        if (i != nRow) {
            others.push_back(EntryAt(i));
            pCombo->addItem(m_listDatabases->item(i)->text());
        }
    }
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(pButtons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(pButtons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* pLayout = new QVBoxLayout(&dialog);
    pLayout->addWidget(new QLabel("Compare '" + DisplayText(strOld) + "' with:", &dialog));
    pLayout->addWidget(pCombo);
    pLayout->addWidget(pButtons);
    // Wide enough for its title and for catalog names.
    dialog.setMinimumWidth(DialogUnits(font()).X(180));
    // The choice is taken by its place: names that are not UTF-8 may show
    // as the same text.
    if (dialog.exec() != QDialog::Accepted || pCombo->currentIndex() < 0)
        return;
    const std::string strNew = others[static_cast<size_t>(pCombo->currentIndex())];
    Database oldDb, newDb;
    OpenCatalogForSearch(oldDb, g_strAppPath, strOld);
    OpenCatalogForSearch(newDb, g_strAppPath, strNew);
    // Each difference as the rows of the files it is about, with the
    // catalog each comes from: a modified file shows both.
    std::vector<ResultRow> rows;
    uint64_t nFirstOnly = 0, nSecondOnly = 0, nChanged = 0;
    const DiffCounts counts = DiffCatalogs(oldDb, newDb, true, [&](const DiffLine& line) {
        ++(line.cStatus == 'D' ? nFirstOnly : line.cStatus == 'A' ? nSecondOnly : nChanged);
        AddDiffRows(line, strOld, strNew, rows);
    });
    if (counts.Total() == 0) {
        ShowMessage(this, "'" + strOld + "' and '" + strNew + "' hold the same files",
                    "Compare with", MessageIcon::Information);
        return;
    }
    const std::string strSummary = std::to_string(nFirstOnly) + " only in the first ('" + strOld +
                                   "'), " + std::to_string(nSecondOnly) + " only in the second ('" +
                                   strNew + "'), " + std::to_string(nChanged) + " changed";
    ShowResultRows(rows, "Difference", strSummary, strOld + " and " + strNew, false);
}

void CDBSearch::OnFindDuplicates(int nRow) {
    std::vector<std::string> selected = SelectedEntries();
    // Nothing selected: the catalog the menu was opened on.
    if (selected.empty() && nRow >= 0 && nRow < m_listDatabases->count())
        selected.push_back(EntryAt(nRow));
    if (selected.empty()) {
        ShowMessage(this, kMsgSelectDatabases, "Warning", MessageIcon::Warning);
        return;
    }
    const std::vector<std::unique_ptr<Database>> catalogs =
        OpenCatalogsForSearch(g_strAppPath, selected);
    // Catalogs made without checksums can have no duplicates found in them:
    // they are named, so that nothing reads as checked that was not.
    std::vector<std::string> withoutChecksums;
    for (size_t k = 0; k < catalogs.size(); ++k)
        if (!HoldsChecksums(*catalogs[k]))
            withoutChecksums.push_back(selected[k]);
    std::string strWithout;
    for (const std::string& strEntry : withoutChecksums)
        strWithout += (strWithout.empty() ? "'" : ", '") + strEntry + "'";
    strWithout += withoutChecksums.size() == 1 ? " holds" : " hold";
    strWithout += " no checksums to compare";
    if (withoutChecksums.size() == selected.size()) {
        ShowMessage(this, strWithout + ": duplicates are files with the same size and checksum",
                    "Find duplicates", MessageIcon::Information);
        return;
    }
    std::vector<ResultRow> rows;
    ByteTotal nWaste = 0;
    uint64_t nGroup = 0;
    FindDuplicates(catalogs, 1, [&](const DuplicateGroup& group) {
        AddDuplicateRows(group, ++nGroup, selected, rows);
        nWaste += group.Waste();
    });
    if (nGroup == 0) {
        const std::string strWhere =
            selected.size() == 1 ? "'" + selected[0] + "'" : "the selected catalogs";
        ShowMessage(this,
                    "No duplicate files in " + strWhere +
                        (withoutChecksums.empty() ? "" : " (" + strWithout + ")"),
                    "Find duplicates", MessageIcon::Information);
        return;
    }
    auto count = [](uint64_t n, const char* pszOne, const char* pszMany) {
        return std::to_string(n) + " " + (n == 1 ? pszOne : pszMany);
    };
    std::string strSummary = count(nGroup, "group", "groups") + " of duplicates, " +
                             count(rows.size(), "file", "files") +
                             "; deleting all copies but one of each would free " +
                             ByteCountText(nWaste);
    if (!withoutChecksums.empty())
        strSummary += "; " + strWithout;
    ShowResultRows(rows, "Group", strSummary,
                   "duplicates in " + (selected.size() == 1 ? selected[0] : "catalogs"), true);
}

void CDBSearch::ShowResultRows(const std::vector<ResultRow>& rows, const std::string& strHeading,
                               const std::string& strSummary, const std::string& strExportName,
                               bool bGroupBands) {
    // No search hits left pending may be read over these rows when the page shows.
    g_nResultAction = 0;
    auto* pResult = static_cast<CResult*>(SendMainPage(kGetPageBase + kPageResult));
    pResult->ShowRows(rows, strHeading, strSummary, strExportName, bGroupBands);
    SendMainPage(kPageResult);
}
