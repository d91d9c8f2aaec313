// SPDX-License-Identifier: GPL-3.0-or-later

#include "pages/CBrowseWnd.h"

#include "app/Desktop.h"
#include "app/Globals.h"
#include "browse/ArchiveFolders.h"
#include "browse/CatalogTree.h"
#include "catalog/CaseFold.h"
#include "catalog/CatalogInfo.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "catalog/LikeMatcher.h"
#include "catalog/PathExists.h"
#include "controls/CPathBar.h"
#include "controls/CTreemapView.h"
#include "controls/FolderListModel.h"
#include "controls/FolderTreeModel.h"
#include "controls/MenuKeys.h"
#include "pages/BrowseLoader.h"
#include "pages/FileOnDisk.h"
#include "pages/ResultCheck.h"
#include "scan/Paths.h"
#include "search/SearchDriver.h"
#include "volume/CatalogVolumes.h"

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <map>
#include <tuple>
#include <unordered_map>

namespace {

// The hits of a search of the whole catalog the window shows at most.
constexpr size_t kMaxHits = 100000;
// The rectangles the treemap draws inside the folders of the folder shown, at most.
constexpr size_t kInnerItems = 3000;

std::map<std::string, QPointer<CBrowseWnd>>& OpenWindows() {
    static std::map<std::string, QPointer<CBrowseWnd>> windows;
    return windows;
}

// The key a name sorts by: its folded text; empty when that is the name itself
// (plain lower-case ASCII, the most common), which spares a copy per file.
void SetSortKey(BrowseRow& row) {
    bool bPlain = true;
    for (const char c : row.strName)
        if (static_cast<unsigned char>(c) >= 0x80 || (c >= 'A' && c <= 'Z')) {
            bPlain = false;
            break;
        }
    if (!bPlain)
        AppendFoldedText(row.strName, row.strKey);
}

BrowseRow FolderRow(const TreeDir& dir, const TreeDir* pParent) {
    BrowseRow row;
    row.bFolder = true;
    row.nId = dir.nId;
    row.strName = pParent ? NameBelow(dir, *pParent) : dir.strPath;
    SetSortKey(row);
    row.nSize = static_cast<uint64_t>(std::min<ByteTotal>(dir.totals.nBytes, UINT64_MAX));
    row.nMtimeNs = dir.nMtimeNs ? dir.nMtimeNs : dir.totals.nNewestMtimeNs;
    row.nMode = dir.nMode;
    row.nFiles = dir.totals.nFiles;
    row.nDirs = dir.totals.nDirs;
    row.kind = FileKind::Folder;
    return row;
}

// A folder's row for the folder tree, which knows whether archives lie in it.
BrowseRow TreeFolderRow(const CatalogTree& tree, const TreeDir& dir, const TreeDir* pParent) {
    BrowseRow row = FolderRow(dir, pParent);
    row.bHoldsArchives = tree.HoldsArchives(dir.nId);
    return row;
}

BrowseRow FileRow(TreeFile&& file) {
    BrowseRow row;
    row.nId = file.nId;
    row.strName = std::move(file.strName);
    SetSortKey(row);
    if (file.nSize)
        row.nSize = static_cast<uint64_t>(*file.nSize);
    row.nMtimeNs = file.nMtimeNs;
    row.nMode = file.nMode;
    if (file.checksum)
        row.strChecksum = std::move(*file.checksum);
    row.kind = KindOfFile(row.strName, file.nMode);
    row.nOpensAs = file.nFolderId;
    return row;
}

// The folders right below dir, by name; for the folder tree (bArchives)
// with the archives that open as folders among its files too.
std::vector<BrowseRow> SubfolderRows(const CatalogTree& tree, const TreeDir& dir,
                                     bool bArchives = false) {
    std::vector<BrowseRow> rows;
    for (const TreeDir* pSub : tree.Subdirectories(dir.nId))
        rows.push_back(bArchives ? TreeFolderRow(tree, *pSub, &dir) : FolderRow(*pSub, &dir));
    if (bArchives)
        for (const TreeDir* pArchive : tree.Archives(dir.nId))
            rows.push_back(TreeFolderRow(tree, *pArchive, &dir));
    std::sort(rows.begin(), rows.end(),
              [](const BrowseRow& a, const BrowseRow& b) { return a.SortKey() < b.SortKey(); });
    return rows;
}

// A catalog time (UTC, ISO 8601) as local time; the text itself when it is no such time.
QString LocalCatalogTime(const std::string& strTime) {
    const QDateTime time = QDateTime::fromString(QString::fromStdString(strTime), Qt::ISODate);
    return time.isValid() ? time.toLocalTime().toString("yyyy-MM-dd HH:mm")
                          : QString::fromStdString(strTime);
}

// The status line's part about the catalog's disk.
QString DiskText(const CatalogInfo& info) {
    QStringList parts;
    QString strDisk = "Disk";
    if (!info.volume.strLabel.empty())
        strDisk += " '" + DisplayText(info.volume.strLabel) + "'";
    if (!info.volume.strFsType.empty())
        strDisk += " (" + DisplayText(info.volume.strFsType) + ")";
    if (info.volume.nSize)
        strDisk += ": " + ReadableSize(*info.volume.nSize);
    if (info.volume.nFree)
        strDisk += ", " + ReadableSize(*info.volume.nFree) + " free";
    if (strDisk != "Disk") // a catalog of another program tells nothing of it
        parts << strDisk;
    if (info.strFinished)
        parts << "catalogued " + LocalCatalogTime(*info.strFinished);
    else if (info.strStarted)
        parts << "catalogued " + LocalCatalogTime(*info.strStarted);
    if (info.bComplete)
        parts << (*info.bComplete ? "complete" : "incomplete");
    return parts.join(" · ");
}

// A path short enough for a message box: a long one keeps its end.
std::string ShortText(const std::string& strText) {
    constexpr size_t kMax = 200;
    if (strText.size() <= kMax)
        return strText;
    size_t nFrom = strText.size() - kMax;
    while (nFrom < strText.size() && (static_cast<unsigned char>(strText[nFrom]) & 0xC0) == 0x80)
        ++nFrom; // not inside a character
    return "…" + strText.substr(nFrom);
}

// The design's wildcards as typed; plain text finds the names holding it.
std::string PatternOf(const QString& strText) {
    const std::string strBytes = BytesOf(strText);
    return strBytes.find_first_of("*?#[") == std::string::npos ? "*" + strBytes + "*" : strBytes;
}

} // namespace

CBrowseWnd* CBrowseWnd::Open(QWidget* pOwner, const std::string& strEntry,
                             const std::optional<std::string>& strFolder,
                             const std::optional<std::string>& strSelect) {
    QPointer<CBrowseWnd>& pWindow = OpenWindows()[strEntry];
    if (!pWindow) {
        pWindow = new CBrowseWnd(pOwner ? pOwner->window() : nullptr, strEntry);
        pWindow->Start(strFolder, strSelect);
    } else if (strFolder) {
        pWindow->GoToPath(*strFolder, strSelect.value_or(std::string()));
    }
    pWindow->show();
    pWindow->raise();
    pWindow->activateWindow();
    return pWindow;
}

CBrowseWnd::CBrowseWnd(QWidget* pOwner, std::string strEntry)
    : QWidget(pOwner, Qt::Window), m_strEntry(std::move(strEntry)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName("BrowseWindow");
    setWindowTitle(DisplayText(m_strEntry) + " - Browse");
    resize(1000, 680);

    m_back = new QToolButton(this);
    m_back->setObjectName("BrowseBack");
    m_back->setIcon(style()->standardIcon(QStyle::SP_ArrowBack));
    m_back->setToolTip("Back (Alt+Left, Backspace)");
    m_back->setEnabled(false);
    m_up = new QToolButton(this);
    m_up->setObjectName("BrowseUp");
    m_up->setIcon(style()->standardIcon(QStyle::SP_ArrowUp));
    m_up->setToolTip("Up (Alt+Up)");
    m_up->setEnabled(false);
    m_pathBar = new CPathBar(this);
    m_filter = new QLineEdit(this);
    m_filter->setObjectName("BrowseFilter");
    m_filter->setPlaceholderText("Filter (Ctrl+F), Enter searches the catalog");
    m_filter->setClearButtonEnabled(true);
    m_filter->setMinimumWidth(260);
    m_showTreemap = new QToolButton(this);
    m_showTreemap->setObjectName("BrowseShowTreemap");
    m_showTreemap->setText("Treemap");
    m_showTreemap->setCheckable(true);
    m_showTreemap->setChecked(true);
    m_showTreemap->setToolTip("Show or hide the treemap");

    m_treeModel = new FolderTreeModel(
        [this](int64_t nId) {
            Read([this, nId](Database&, CatalogTree& tree) -> std::function<void()> {
                const TreeDir* pDir = tree.DirById(nId);
                if (!pDir)
                    return {};
                return [this, nId, rows = SubfolderRows(tree, *pDir, true)] {
                    m_treeModel->AddSubfolders(nId, rows);
                };
            });
        },
        this);
    m_listModel = new FolderListModel(this);

    m_tree = new QTreeView(this);
    m_tree->setObjectName("BrowseTree");
    m_tree->setModel(m_treeModel);
    m_tree->setHeaderHidden(true);
    m_tree->setUniformRowHeights(true);
    m_list = new QTableView(this);
    m_list->setObjectName("BrowseList");
    m_list->setModel(m_listModel);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setShowGrid(false);
    m_list->setWordWrap(false);
    m_list->setSortingEnabled(true);
    m_list->sortByColumn(FolderListModel::kName, Qt::AscendingOrder);
    m_list->verticalHeader()->hide();
    m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_list->verticalHeader()->setDefaultSectionSize(m_list->fontMetrics().height() + 6);
    m_list->horizontalHeader()->setStretchLastSection(true);
    m_list->horizontalHeader()->setSectionsMovable(false);
    m_list->horizontalHeader()->setHighlightSections(false);
    m_list->setColumnWidth(FolderListModel::kName, 300);
    m_list->setColumnWidth(FolderListModel::kSize, 90);
    m_list->setColumnWidth(FolderListModel::kModified, 140);
    m_list->setColumnWidth(FolderListModel::kKind, 90);
    m_list->setColumnWidth(FolderListModel::kChecksum, 250);
    m_list->setColumnHidden(FolderListModel::kFolder, true);
    // A hit's folder shows next to its name.
    m_list->horizontalHeader()->moveSection(FolderListModel::kFolder, FolderListModel::kSize);
    m_list->setColumnWidth(FolderListModel::kFolder, 300);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->installEventFilter(this);
    m_treemap = new CTreemapView(this);
    m_treemap->setObjectName("BrowseTreemap");

    auto* pRight = new QSplitter(Qt::Vertical, this);
    pRight->addWidget(m_list);
    pRight->addWidget(m_treemap);
    pRight->setStretchFactor(0, 1);
    pRight->setStretchFactor(1, 1);
    auto* pSplitter = new QSplitter(Qt::Horizontal, this);
    pSplitter->addWidget(m_tree);
    pSplitter->addWidget(pRight);
    pSplitter->setStretchFactor(0, 1);
    pSplitter->setStretchFactor(1, 3);
    m_status = new QLabel(this);
    m_status->setObjectName("BrowseStatus");
    m_disk = new QLabel(this);
    m_disk->setObjectName("BrowseDisk");
    m_disk->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto* pTop = new QHBoxLayout;
    pTop->addWidget(m_back);
    pTop->addWidget(m_up);
    pTop->addWidget(m_pathBar, 1);
    pTop->addWidget(m_filter);
    pTop->addWidget(m_showTreemap);
    auto* pBottom = new QHBoxLayout;
    pBottom->addWidget(m_status, 1);
    pBottom->addWidget(m_disk);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(6, 6, 6, 4);
    pLayout->addLayout(pTop);
    pLayout->addWidget(pSplitter, 1);
    pLayout->addLayout(pBottom);

    connect(m_back, &QToolButton::clicked, this, &CBrowseWnd::GoBack);
    connect(m_up, &QToolButton::clicked, this, &CBrowseWnd::GoUp);
    connect(m_showTreemap, &QToolButton::toggled, m_treemap, &QWidget::setVisible);
    connect(m_pathBar, &CPathBar::folderClicked, this, [this](int64_t nId) { GoTo(nId); });
    connect(m_pathBar, &CPathBar::pathEntered, this,
            [this](const QString& strPath) { GoToPath(BytesOf(strPath)); });
    connect(m_filter, &QLineEdit::textChanged, this, &CBrowseWnd::ApplyFilter);
    connect(m_filter, &QLineEdit::returnPressed, this, &CBrowseWnd::SearchCatalog);
    m_filter->installEventFilter(this);
    connect(m_list, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { OpenRow(index.row()); });
    connect(m_list, &QWidget::customContextMenuRequested, this, &CBrowseWnd::ShowMenu);
    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& index) {
                if (!m_bSyncingTree && index.isValid())
                    GoTo(m_treeModel->IdOf(index));
            });
    connect(m_treemap, &CTreemapView::itemClicked, this, [this](const TreemapItem& item) {
        if (item.bFolder && m_strSearched.empty()) {
            GoTo(item.nId);
            return;
        }
        const int nRow = m_listModel->FindRow(item.bFolder, item.nId);
        if (nRow >= 0) {
            m_list->selectRow(nRow);
            m_list->scrollTo(m_listModel->index(nRow, 0));
            m_list->setFocus();
        }
    });
    auto shortcut = [this](const QKeySequence& keys, auto fn) {
        auto* pShortcut = new QShortcut(keys, this);
        pShortcut->setContext(Qt::WindowShortcut);
        connect(pShortcut, &QShortcut::activated, this, fn);
    };
    shortcut(QKeySequence(Qt::ALT | Qt::Key_Left), [this] { GoBack(); });
    shortcut(QKeySequence(Qt::ALT | Qt::Key_Up), [this] { GoUp(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_F), [this] {
        m_filter->setFocus(Qt::ShortcutFocusReason);
        m_filter->selectAll();
    });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_L), [this] { m_pathBar->StartTyping(); });

    m_status->setText("Reading the catalog...");
    m_pLoader = std::make_unique<BrowseLoader>(
        this, g_strAppPath, m_strEntry, [this](const std::string& strText) { Failed(strText); },
        [this](int nDropped, bool bOpen) { Reopened(nDropped, bOpen); });
}

CBrowseWnd::~CBrowseWnd() {
    m_pLoader.reset(); // joins the thread before the widgets its answers touch go
}

void CBrowseWnd::Read(std::function<std::function<void()>(Database&, CatalogTree&)> read) {
    ++m_nPending;
    m_pLoader->Post([this, read = std::move(read)](Database& database, CatalogTree& tree) {
        std::function<void()> fnAnswer;
        try {
            fnAnswer = read(database, tree);
        } catch (...) {
            // The count goes down whatever the read did.
            QMetaObject::invokeMethod(
                this, [this] { --m_nPending; }, Qt::QueuedConnection);
            throw;
        }
        return [this, fnAnswer = std::move(fnAnswer)] {
            --m_nPending;
            if (fnAnswer)
                fnAnswer();
        };
    });
}

void CBrowseWnd::Reopened(int nDropped, bool bOpen) {
    m_nPending -= nDropped;
    if (!bOpen)
        return; // the failure was told; the last catalog read stays in view
    // Ids of the catalog that was mean nothing now: the folder shown is
    // found again by its path, in the catalog as it is now.
    m_history.clear();
    m_back->setEnabled(false);
    m_inner.clear();
    m_nFolder = 0;
    const std::string strFolder = m_strFolderPath;
    Start(strFolder.empty() ? std::nullopt : std::optional<std::string>(strFolder), std::nullopt);
}

void CBrowseWnd::DiscardLater(std::vector<BrowseRow> rows) {
    // Freeing a folder of 100 000 rows takes a while: the loader does it.
    if (rows.size() > 1000)
        m_pLoader->Post(
            [pRows = std::make_shared<std::vector<BrowseRow>>(std::move(rows))](
                Database&, CatalogTree&) mutable -> std::function<void()> {
                pRows.reset();
                return {};
            },
            false);
}

void CBrowseWnd::Failed(const std::string& strText) {
    m_status->setText(DisplayText(strText));
    ShowMessage(this, strText, "Browse", MessageIcon::Warning);
}

namespace {

// What a read of a folder gives: its rows, its path, the folders from the
// top down to it, and each of their subfolders for the tree.
struct FolderRead {
    int64_t nId = 0;
    std::vector<BrowseRow> rows;
    std::string strPath;
    std::vector<std::pair<QString, int64_t>> parts;
    std::optional<int64_t> nParent;
    std::vector<std::pair<int64_t, std::vector<BrowseRow>>> ancestry;
    std::unordered_map<int64_t, std::vector<TreemapItem>> inner;
};

TreemapItem FolderItem(const TreeDir& dir, const TreeDir& parent) {
    TreemapItem item;
    item.strName = NameBelow(dir, parent);
    const uint64_t nBytes =
        static_cast<uint64_t>(std::min<ByteTotal>(dir.totals.nBytes, UINT64_MAX));
    item.nBytes = nBytes;
    item.tip = DisplayText(dir.strPath) + "\n" + ReadableSize(nBytes) + " in " +
               QString::number(dir.totals.nFiles) + (dir.totals.nFiles == 1 ? " file" : " files");
    item.colour = KindColour(FileKind::Folder);
    item.bFolder = true;
    item.nId = dir.nId;
    return item;
}

// What the treemap draws inside each subfolder of dir: the folders below,
// level by level while a whole level fits in kInnerItems, and with them each
// folder's own files as one rectangle (a click on it enters that folder).
std::unordered_map<int64_t, std::vector<TreemapItem>> InnerItems(const CatalogTree& tree,
                                                                 const TreeDir& dir) {
    std::unordered_map<int64_t, std::vector<TreemapItem>> inner;
    std::vector<std::pair<const TreeDir*, std::vector<TreemapItem>*>> frontier;
    for (const TreeDir* pSub : tree.Subdirectories(dir.nId))
        frontier.emplace_back(pSub, &inner[pSub->nId]);
    size_t nItems = 0;
    for (int nLevel = 0; nLevel < 4 && !frontier.empty(); ++nLevel) {
        // A level is shown whole or not at all; reading it stops as soon as
        // it cannot fit, so a wide one costs little more than the budget.
        std::vector<std::vector<const TreeDir*>> below;
        size_t nLevelItems = 0;
        bool bFits = true;
        for (const auto& [pDir, pItems] : frontier) {
            below.emplace_back();
            if (pDir->totals.nDirs == 0)
                continue;
            below.back() = tree.Subdirectories(pDir->nId);
            nLevelItems += below.back().empty() ? 0 : below.back().size() + 1;
            if (nItems + nLevelItems > kInnerItems) {
                bFits = false;
                break;
            }
        }
        if (!bFits)
            break;
        nItems += nLevelItems;
        std::vector<std::pair<const TreeDir*, std::vector<TreemapItem>*>> next;
        for (size_t i = 0; i < frontier.size(); ++i) {
            const TreeDir& folder = *frontier[i].first;
            std::vector<TreemapItem>& items = *frontier[i].second;
            if (below[i].empty())
                continue;
            items.reserve(below[i].size() + 1); // the next level points into it
            ByteTotal nSubBytes = 0;
            for (const TreeDir* pSub : below[i]) {
                items.push_back(FolderItem(*pSub, folder));
                nSubBytes += pSub->totals.nBytes;
            }
            if (folder.totals.nBytes > nSubBytes) {
                TreemapItem& files = items.emplace_back();
                files.nBytes = static_cast<uint64_t>(
                    std::min<ByteTotal>(folder.totals.nBytes - nSubBytes, UINT64_MAX));
                files.strName = "files";
                files.tip = DisplayText(folder.strPath) + "\n" + ReadableSize(files.nBytes) +
                            " in its own files";
                files.colour = KindColour(FileKind::Other);
                files.bFolder = true;
                files.nId = folder.nId;
            }
            for (size_t j = 0; j < below[i].size(); ++j)
                next.emplace_back(below[i][j], &items[j].inner);
        }
        frontier = std::move(next);
    }
    return inner;
}

FolderRead ReadFolder(const CatalogTree& tree, const TreeDir& dir, bool bAncestry) {
    FolderRead read;
    read.nId = dir.nId;
    read.strPath = dir.strPath;
    read.nParent = dir.nParentId;
    std::vector<const TreeDir*> chain;
    for (const TreeDir* pAt = &dir; pAt;
         pAt = pAt->nParentId ? tree.DirById(*pAt->nParentId) : nullptr)
        chain.push_back(pAt);
    std::reverse(chain.begin(), chain.end());
    for (size_t i = 0; i < chain.size(); ++i) {
        const BrowseRow row = FolderRow(*chain[i], i > 0 ? chain[i - 1] : nullptr);
        read.parts.emplace_back(DisplayText(row.strName), row.nId);
        if (bAncestry && i + 1 < chain.size())
            read.ancestry.emplace_back(chain[i]->nId, SubfolderRows(tree, *chain[i], true));
    }
    read.rows = SubfolderRows(tree, dir);
    if (bAncestry)
        read.ancestry.emplace_back(dir.nId, SubfolderRows(tree, dir, true));
    std::vector<TreeFile> files = tree.Files(dir.nId);
    read.rows.reserve(read.rows.size() + files.size());
    for (TreeFile& file : files)
        read.rows.push_back(FileRow(std::move(file)));
    read.inner = InnerItems(tree, dir);
    // In the order the list shows first, so it need not sort them again.
    std::stable_sort(read.rows.begin(), read.rows.end(),
                     [](const BrowseRow& a, const BrowseRow& b) {
                         if (a.bFolder != b.bFolder)
                             return a.bFolder;
                         const int nOrder = a.SortKey().compare(b.SortKey());
                         return nOrder != 0 ? nOrder < 0 : a.strName < b.strName;
                     });
    return read;
}

// The folder of a path as typed: as stored, below the folder shown, or with
// its . and .. taken as a shell takes them.
const TreeDir* FindFolder(const CatalogTree& tree, const std::string& strPath,
                          const std::string& strBase) {
    const std::string strWhole =
        !strPath.empty() && strPath[0] == '/' ? strPath : EntryPath(strBase, strPath);
    const TreeDir* pDir = tree.DirByPath(strWhole);
    return pDir ? pDir : tree.DirByPath(LexicalPath(strWhole));
}

} // namespace

void CBrowseWnd::Start(const std::optional<std::string>& strFolder,
                       const std::optional<std::string>& strSelect) {
    Read([this, strFolder, strSelect](Database& database,
                                      CatalogTree& tree) -> std::function<void()> {
        const CatalogInfo info = ReadCatalogInfo(database, false);
        std::vector<BrowseRow> tops;
        for (const int64_t nTop : tree.Tops())
            tops.push_back(TreeFolderRow(tree, *tree.DirById(nTop), nullptr));
        const TreeDir* pStart = info.strStartDir ? tree.DirByPath(*info.strStartDir) : nullptr;
        if (!pStart && !tree.Tops().empty())
            pStart = tree.DirById(tree.Tops()[0]);
        return [this, tops = std::move(tops), nStart = pStart ? pStart->nId : 0,
                strDisk = DiskText(info), strFolder, strSelect] {
            m_treeModel->SetTops(tops);
            m_disk->setText(strDisk);
            if (strFolder)
                GoToPath(*strFolder, strSelect.value_or(std::string()));
            else if (nStart != 0)
                GoTo(nStart, false);
            else
                m_status->setText("The catalog holds no folder");
        };
    });
}

void CBrowseWnd::GoTo(int64_t nId, bool bRemember, const std::string& strSelect) {
    if (bRemember && m_nFolder != 0 && nId != m_nFolder) {
        m_history.push_back(m_nFolder);
        m_back->setEnabled(true);
    }
    Read([this, nId, strSelect](Database&, CatalogTree& tree) -> std::function<void()> {
        const TreeDir* pDir = tree.DirById(nId);
        if (!pDir)
            return {};
        auto pRead = std::make_shared<FolderRead>(ReadFolder(tree, *pDir, true));
        return [this, pRead, strSelect] {
            for (const auto& [nAncestor, subfolders] : pRead->ancestry)
                m_treeModel->AddSubfolders(nAncestor, subfolders);
            m_inner = std::move(pRead->inner);
            ShowFolder(pRead->nId, std::move(pRead->rows), pRead->strPath, pRead->parts,
                       pRead->nParent, strSelect);
        };
    });
}

void CBrowseWnd::GoToPath(const std::string& strPath, const std::string& strSelect) {
    Read([this, strPath, strSelect,
          strBase = m_strFolderPath](Database&, CatalogTree& tree) -> std::function<void()> {
        const TreeDir* pDir = FindFolder(tree, strPath, strBase);
        std::string strName = strSelect;
        if (!pDir && !strSelect.empty()) // a hit that is itself the top of the tree
            if ((pDir = FindFolder(tree, JoinPath(strPath, strSelect), strBase)))
                strName.clear();
        const std::optional<int64_t> nId = pDir ? std::optional<int64_t>(pDir->nId) : std::nullopt;
        return [this, nId, strPath, strName] {
            if (nId)
                GoTo(*nId, true, strName);
            else
                ShowMessage(this,
                            "'" + ShortText(strPath) + "' is no folder of the catalog '" +
                                m_strEntry + "'",
                            "Browse", MessageIcon::Warning);
        };
    });
}

void CBrowseWnd::GoBack() {
    if (!m_strSearched.empty()) { // Back from the hits of a search: the folder again
        m_filter->clear();
        GoTo(m_nFolder, false);
        return;
    }
    if (m_history.empty())
        return;
    const int64_t nId = m_history.back();
    m_history.pop_back();
    m_back->setEnabled(!m_history.empty());
    GoTo(nId, false);
}

void CBrowseWnd::GoUp() {
    if (m_nParent)
        GoTo(*m_nParent, true, std::string()); // the folder left is selected below
}

void CBrowseWnd::ShowFolder(int64_t nId, std::vector<BrowseRow> rows, const std::string& strPath,
                            const std::vector<std::pair<QString, int64_t>>& parts,
                            std::optional<int64_t> nParent, const std::string& strSelect) {
    const int64_t nLeft = m_nFolder;
    m_nFolder = nId;
    m_nParent = nParent;
    m_strFolderPath = strPath;
    m_strSearched.clear();
    m_up->setEnabled(nParent.has_value());
    m_back->setEnabled(!m_history.empty());
    m_list->setColumnHidden(FolderListModel::kFolder, true);
    // A filter narrows the folder it was typed in; another folder shows whole.
    if (!m_filter->text().isEmpty() && nId != nLeft) {
        const QSignalBlocker quiet(m_filter);
        m_filter->clear();
    }
    DiscardLater(m_listModel->SetRows(std::move(rows), CurrentFilter()));
    ShowTreemap();
    ShowCounts();
    m_pathBar->SetPath(parts, DisplayText(strPath));
    setWindowTitle(DisplayText(strPath) + " - " + DisplayText(m_strEntry) + " - Browse");
    // The tree follows: the folder's node chosen, the nodes above it open.
    m_bSyncingTree = true;
    const QModelIndex node = m_treeModel->IndexOf(nId);
    for (QModelIndex above = node; above.isValid(); above = above.parent())
        m_tree->expand(above);
    m_tree->setCurrentIndex(node);
    m_tree->scrollTo(node);
    m_bSyncingTree = false;
    // The entry asked for, else the folder just left (after Up), else the first.
    int nRow = -1;
    if (!strSelect.empty()) {
        for (int i = 0; i < m_listModel->rowCount() && nRow < 0; ++i)
            if (m_listModel->Row(i).strName == strSelect)
                nRow = i;
    } else if (nLeft != 0) {
        nRow = m_listModel->FindRow(true, nLeft);
        // An archive left is a file of this folder.
        for (int i = 0; i < m_listModel->rowCount() && nRow < 0; ++i)
            if (m_listModel->Row(i).nOpensAs == nLeft)
                nRow = i;
    }
    m_list->clearSelection();
    if (nRow >= 0) {
        m_list->selectRow(nRow);
        m_list->scrollTo(m_listModel->index(nRow, 0), QAbstractItemView::PositionAtCenter);
    } else if (m_listModel->rowCount() > 0) {
        m_list->selectionModel()->setCurrentIndex(m_listModel->index(0, 0),
                                                  QItemSelectionModel::NoUpdate);
    }
    if (!strSelect.empty() || !m_filter->hasFocus())
        m_list->setFocus();
}

std::function<bool(const std::string&)> CBrowseWnd::CurrentFilter() {
    const QString strText = m_filter->text();
    if (strText.isEmpty())
        return {};
    try {
        auto pMatcher = std::make_shared<LikeMatcher>(PatternOf(strText));
        m_filter->setToolTip(QString());
        return [pMatcher](const std::string& strName) { return pMatcher->Matches(strName); };
    } catch (const EngineError& error) {
        // A pattern not yet whole (an open '[') narrows nothing; the tip says why.
        m_filter->setToolTip(DisplayText(error.what()));
        return {};
    }
}

void CBrowseWnd::ApplyFilter() {
    if (!m_strSearched.empty())
        return; // the hits stay until Back or Enter
    m_listModel->SetFilter(CurrentFilter());
    ShowTreemap();
    ShowCounts();
}

void CBrowseWnd::SearchCatalog() {
    const QString strText = m_filter->text();
    if (strText.isEmpty())
        return;
    const std::string strPattern = PatternOf(strText);
    m_status->setText("Searching the catalog...");
    Read([this, strPattern](Database&, CatalogTree&) -> std::function<void()> {
        SearchQuery query;
        query.mode = kSearchFiles;
        query.strPattern = strPattern;
        query.bWithTimes = true;
        auto pRows = std::make_shared<std::vector<BrowseRow>>();
        bool bMore = false;
        RunSearch(g_strAppPath, {m_strEntry}, query, [&](size_t, std::unique_ptr<HitStream> pHits) {
            for (; !pHits->IsEOF(); pHits->MoveNext()) {
                if (pRows->size() == kMaxHits) {
                    bMore = true;
                    break;
                }
                const SearchHit& hit = pHits->Hit();
                BrowseRow& row = pRows->emplace_back();
                row.nId = static_cast<int64_t>(pRows->size());
                std::tie(row.strFolder, row.strName) = SplitFolderAndName(hit.path);
                SetSortKey(row);
                if (hit.nSize)
                    row.nSize = static_cast<uint64_t>(*hit.nSize);
                row.nMtimeNs = hit.nMtimeNs;
                if (hit.checksum)
                    row.strChecksum = std::string(*hit.checksum);
                row.kind = KindOfFile(row.strName, std::nullopt);
            }
        });
        return [this, pRows, bMore, strPattern] {
            m_strSearched = strPattern;
            m_inner.clear();
            DiscardLater(m_listModel->SetRows(std::move(*pRows)));
            m_list->setColumnHidden(FolderListModel::kFolder, false);
            m_back->setEnabled(true);
            ShowTreemap();
            ShowCounts();
            if (bMore)
                m_status->setText(m_status->text() + " (the first " + QString::number(kMaxHits) +
                                  " shown)");
        };
    });
}

void CBrowseWnd::ShowTreemap() {
    std::vector<TreemapItem> items;
    items.reserve(static_cast<size_t>(m_listModel->rowCount()));
    for (int i = 0; i < m_listModel->rowCount(); ++i) {
        const BrowseRow& row = m_listModel->Row(i);
        TreemapItem& item = items.emplace_back();
        item.strName = row.strName;
        item.nBytes = row.nSize.value_or(0);
        item.colour = KindColour(row.kind);
        item.bFolder = row.bFolder;
        item.nId = row.nId;
        if (const auto it = m_inner.find(row.nId); row.bFolder && it != m_inner.end())
            item.inner = it->second;
        if (row.bFolder)
            item.nFiles = row.nFiles;
        else if (!row.strFolder.empty()) // a hit: its own folder
            item.tip = DisplayText(PathOfRow(row)) + "\n" +
                       (row.nSize ? ReadableSize(*row.nSize) : QString("size unknown"));
    }
    m_treemap->SetItems(std::move(items),
                        m_strSearched.empty() ? DisplayText(m_strFolderPath) : QString());
}

void CBrowseWnd::ShowCounts() {
    uint64_t nFolders = 0, nFiles = 0, nBytes = 0;
    for (int i = 0; i < m_listModel->rowCount(); ++i) {
        const BrowseRow& row = m_listModel->Row(i);
        ++(row.bFolder ? nFolders : nFiles);
        nBytes += row.nSize.value_or(0);
    }
    QString strText =
        m_strSearched.empty()
            ? QString::number(nFolders) + (nFolders == 1 ? " folder, " : " folders, ") +
                  QString::number(nFiles) + (nFiles == 1 ? " file, " : " files, ")
            : QString::number(nFiles) +
                  (nFiles == 1 ? " hit in the catalog for '" : " hits in the catalog for '") +
                  DisplayText(m_strSearched) + "', ";
    strText += ReadableSize(nBytes);
    if (m_listModel->AllRowCount() != static_cast<size_t>(m_listModel->rowCount()))
        strText += " (of " + QString::number(m_listModel->AllRowCount()) + " entries)";
    m_status->setText(strText);
}

std::string CBrowseWnd::PathOfRow(const BrowseRow& row) const {
    return EntryPath(row.strFolder.empty() ? m_strFolderPath : row.strFolder, row.strName);
}

void CBrowseWnd::OpenRow(int nRow) {
    if (nRow < 0 || nRow >= m_listModel->rowCount())
        return;
    const BrowseRow& row = m_listModel->Row(nRow);
    if (row.bFolder || row.nOpensAs) {
        GoTo(row.bFolder ? row.nId : *row.nOpensAs);
    } else if (!row.strFolder.empty()) {
        GoToPath(row.strFolder, row.strName); // a hit: its folder, with it chosen
    } else if (IsInsideArchive(m_strFolderPath)) {
        // A member lies on the disk only inside its archive, which Kestrel does not unpack.
        ShowMessage(this,
                    "'" + ShortText(PathOfRow(row)) +
                        "' is a member of an archive: open the archive to reach it",
                    "Warning", MessageIcon::Warning);
    } else if (const std::optional<std::string> path =
                   FileOnDisk(this, m_strEntry, PathOfRow(row), "Warning")) {
        OpenOrWarn(this, *path);
    }
}

void CBrowseWnd::ShowMenu(QPoint pt) {
    const QModelIndex index = m_list->indexAt(pt);
    if (!index.isValid())
        return;
    if (!m_list->selectionModel()->isRowSelected(index.row(), QModelIndex()))
        m_list->selectRow(index.row());
    const BrowseRow row = m_listModel->Row(index.row());
    const std::string strPath = PathOfRow(row);
    // A member of an archive is on no disk by itself: only Open (of a folder
    // or an archive inside) and Copy path serve.
    const bool bMember = row.strFolder.empty() && IsInsideArchive(m_strFolderPath);
    const PathOnDisk onDisk =
        bMember ? PathOnDisk() : LocateCataloguedPath(g_strAppPath, m_strEntry, strPath);
    const bool bDiskAbsent = !onDisk.strAbsent.empty();
    QMenu menu(this);
    QAction* pOpen = menu.addAction(
        row.bFolder || row.nOpensAs || !row.strFolder.empty() ? "Open" : "Open file");
    QAction* pOpenFolder = menu.addAction("Open containing folder");
    QAction* pCopy = menu.addAction("Copy path");
    menu.addSeparator();
    QAction* pCheck = menu.addAction("Check");
    pOpen->setShortcut(Qt::Key_Return);
    // What lies on the disk now is there only while it is plugged in; of a
    // disk that is not, Open and Check say which one to fetch.
    if (!row.bFolder && !row.nOpensAs && row.strFolder.empty())
        pOpen->setEnabled(!bMember && (bDiskAbsent || PathExists(onDisk.strPathNow)));
    pOpenFolder->setEnabled(
        !bMember && (bDiskAbsent || PathExists(SplitFolderAndName(onDisk.strPathNow).first, true)));
    pCheck->setEnabled(!row.bFolder && !bMember);
    QAction* pChosen = menu.exec(m_list->viewport()->mapToGlobal(pt));
    if (pChosen == pOpen) {
        RunCommand(this, [this, nRow = index.row()] { OpenRow(nRow); });
    } else if (pChosen == pOpenFolder) {
        if (const std::optional<std::string> path =
                FileOnDisk(this, m_strEntry, strPath, "Warning"))
            OpenOrWarn(this, SplitFolderAndName(*path).first);
    } else if (pChosen == pCopy) {
        std::string strPaths;
        for (const QModelIndex& selected : m_list->selectionModel()->selectedRows())
            strPaths += PathOfRow(m_listModel->Row(selected.row())) + "\n";
        QGuiApplication::clipboard()->setText(DisplayText(strPaths));
    } else if (pChosen == pCheck) {
        if (const std::optional<std::string> path =
                FileOnDisk(this, m_strEntry, strPath, "File check"))
            ShowFileCheck(*path, row.strChecksum,
                          row.nSize ? std::optional<int64_t>(static_cast<int64_t>(*row.nSize))
                                    : std::nullopt);
    }
}

bool CBrowseWnd::eventFilter(QObject* pWatched, QEvent* pEvent) {
    if (pWatched == m_list && IsMenuKey(*pEvent)) {
        ShowMenu(MenuPointOfCurrentRow(*m_list));
        return true;
    }
    if (pEvent->type() != QEvent::KeyPress)
        return QWidget::eventFilter(pWatched, pEvent);
    const auto* pKey = static_cast<QKeyEvent*>(pEvent);
    if (pWatched == m_list) {
        const int nRow = m_list->currentIndex().row();
        switch (pKey->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            OpenRow(nRow);
            return true;
        case Qt::Key_Backspace:
            GoBack();
            return true;
        default:
            break;
        }
    } else if (pWatched == m_filter && pKey->key() == Qt::Key_Escape) {
        m_filter->clear();
        if (!m_strSearched.empty())
            GoBack();
        m_list->setFocus();
        return true;
    } else if (pWatched == m_filter && pKey->key() == Qt::Key_Down) {
        m_list->setFocus();
        return true;
    }
    return QWidget::eventFilter(pWatched, pEvent);
}
