#include "pages/CDBSearch.h"

#include "app/CMainMenu.h"
#include "app/CommandIds.h"
#include "app/Desktop.h"
#include "app/Globals.h"
#include "catalog/ResultSet.h"
#include "controls/DialogUnits.h"
#include "scan/ScanJob.h"
#include "search/DatabaseList.h"
#include "search/Search.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>

namespace {

constexpr int kEntryRole = Qt::UserRole; // the entry's bytes

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
    QPushButton* pAdd = AddButton("Add database...", "IDC_ADD_DATABASE", 7, 201, 62, 16);
    QPushButton* pDelete = AddButton("Delete", "IDC_DELETE", 73, 201, 46, 16);
    QPushButton* pUpdate = AddButton("Update list", "IDC_UPDATE_LIST", 123, 201, 46, 16);
    QPushButton* pSearch = AddButton("Search", "IDC_SEARCH", 173, 201, 54, 16);
    pSearch->setDefault(true); // Enter in the search text searches
    AddLabel("In database:", 14, 56, 43, 9);
    AddLabel("Where search:", 8, 38, 49, 11);
    AddLabel("Search for:", 19, 16, 38, 8);

    connect(pAdd, &QPushButton::clicked, this,
            [this] { RunCommand(this, [this] { OnAddDatabase(); }); });
    connect(pDelete, &QPushButton::clicked, this,
            [this] { RunCommand(this, [this] { OnDeleteDatabase(); }); });
    connect(pUpdate, &QPushButton::clicked, this,
            [this] { RunCommand(this, [this] { OnUpdateList(); }); });
    connect(pSearch, &QPushButton::clicked, this,
            [this] { RunCommand(this, [this] { OnSearch(); }); });
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
    std::vector<std::string> selected;
    for (int i = 0; i < m_listDatabases->count(); ++i)
        if (m_listDatabases->item(i)->isSelected())
            selected.push_back(EntryAt(i));
    if (selected.empty()) {
        ShowMessage(this, kMsgSelectDatabases, "Warning", MessageIcon::Warning);
        return;
    }
    const int nMode = std::max(0, m_comboWhere->currentIndex());
    SearchCatalogs(g_strAppPath, selected, nMode, m_strSearch, [] { SendMainPage(kPageResult); });
}
