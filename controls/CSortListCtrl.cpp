// SPDX-License-Identifier: GPL-3.0-or-later

#include "controls/CSortListCtrl.h"

#include "controls/CSortHeaderCtrl.h"
#include "controls/DialogUnits.h"
#include "controls/RowCompare.h"
#include "controls/SortListModel.h"

#include <QCollator>
#include <QHelpEvent>
#include <QSettings>
#include <QToolTip>
#include <algorithm>
#include <climits>

namespace {

constexpr const char* kProfileSection = "ListCtrls";

// The user's profile: the settings of organisation "Kestrel", application "kestrel".
struct Profile {
    QSettings settings{"Kestrel", "kestrel"};
    Profile() { settings.beginGroup(kProfileSection); }
};

} // namespace

CSortListCtrl::CSortListCtrl(QWidget* pParent)
    : QTreeView(pParent), m_pModel(new SortListModel(this)), m_header(new CSortHeaderCtrl(this)) {
    setHeader(m_header);
    setModel(m_pModel);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false); // the list sorts itself, by its own comparison
    setTextElideMode(Qt::ElideRight);
    // setHeader and setSortingEnabled(false) each make the sections
    // unclickable (Qt 6.4); a click on a heading is how the user sorts.
    m_header->setSectionsClickable(true);
    connect(m_header, &QHeaderView::sectionClicked, this, &CSortListCtrl::OnColumnClick);
}

CSortListCtrl::~CSortListCtrl() = default;

bool CSortListCtrl::SetColumns(std::string_view spec) {
    const DialogUnits dlu(font());
    size_t nPos = 0;
    for (;;) {
        if (nPos >= spec.size())
            return true;
        const size_t nComma = spec.find(',', nPos);
        if (nComma == std::string_view::npos)
            return true;
        const std::string_view heading = spec.substr(nPos, nComma - nPos);
        size_t nEnd = spec.find(';', nComma + 1);
        if (nEnd == std::string_view::npos)
            nEnd = spec.size();
        const int64_t nWidth = AtoI64(spec.substr(nComma + 1, nEnd - nComma - 1));
        nPos = nEnd + 1;
        ++m_nNumColumns;
        // Clamped so that the scaled width stays an int.
        const int nClassic = static_cast<int>(std::clamp<int64_t>(nWidth, 0, INT_MAX / 64));
        if (InsertColumn(std::string(heading), dlu.ScaleX(nClassic)) < 0)
            return false;
    }
}

int CSortListCtrl::InsertColumn(std::string strHeading, int nWidth) {
    const int nColumn = m_pModel->AppendColumn(std::move(strHeading));
    m_nNumColumns = std::max(m_nNumColumns, nColumn + 1);
    m_header->resizeSection(nColumn, std::max(0, nWidth));
    return nColumn;
}

void CSortListCtrl::RemoveColumnsFrom(int nFirst) {
    if (nFirst < 0 || nFirst >= m_nNumColumns)
        return;
    if (m_nSortColumn >= nFirst) {
        m_nSortColumn = -1;
        m_header->SetSortArrow(-1, true);
    }
    m_pModel->RemoveColumnsFrom(nFirst);
    m_nNumColumns = nFirst;
}

void CSortListCtrl::SetBandColumn(int nColumn) {
    m_pModel->SetBandColumn(nColumn);
}

int CSortListCtrl::AddRow(std::initializer_list<std::string_view> texts) {
    return m_pModel->AppendRow(RowData(texts));
}

void CSortListCtrl::DeleteAllRows() {
    m_pModel->RemoveAllRows();
}

void CSortListCtrl::FreeRowData(int nRow) {
    if (nRow >= 0 && nRow < GetItemCount())
        m_pModel->FreeRow(nRow);
}

int CSortListCtrl::GetItemCount() const {
    return m_pModel->RowTotal();
}

std::string CSortListCtrl::GetItemText(int nRow, int nColumn) const {
    return std::string(GetItemTextView(nRow, nColumn));
}

std::string_view CSortListCtrl::GetItemTextView(int nRow, int nColumn) const {
    if (nRow < 0 || nRow >= GetItemCount())
        return {};
    const RowData* pRow = m_pModel->Row(nRow);
    return pRow ? pRow->Text(nColumn) : std::string_view();
}

int CSortListCtrl::GetFirstSelected(int nStart) const {
    if (nStart < 0 || nStart >= GetItemCount())
        return -1;
    int nFirst = -1;
    // Ranges, not rows: a selection of every row of a long list stays cheap.
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        if (range.bottom() < nStart)
            continue;
        const int nRow = std::max(range.top(), nStart);
        if (nFirst < 0 || nRow < nFirst)
            nFirst = nRow;
    }
    return nFirst;
}

std::vector<int> CSortListCtrl::SelectedRows() const {
    std::vector<int> rows;
    const int nCount = GetItemCount();
    for (const QItemSelectionRange& range : selectionModel()->selection())
        for (int nRow = range.top(); nRow <= range.bottom() && nRow < nCount; ++nRow)
            rows.push_back(nRow);
    // Ranges come in the order they were selected and may overlap.
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void CSortListCtrl::SetRedraw(bool bRedraw) {
    setUpdatesEnabled(bRedraw);
    m_pModel->SetDeferred(!bRedraw);
}

void CSortListCtrl::OnColumnClick(int nColumn) {
    SortColumn(nColumn, nColumn != m_nSortColumn ? true : !m_bSortAscending);
}

void CSortListCtrl::SortColumn(int nColumn, bool bAscending) {
    m_nSortColumn = nColumn;
    m_bSortAscending = bAscending;
    m_header->SetSortArrow(nColumn, bAscending);
    QCollator collator; // the user's locale; letter case counts
    collator.setCaseSensitivity(Qt::CaseSensitive);
    m_pModel->Reorder(SortRowOrder(m_pModel->RowPointers(), nColumn, bAscending, collator));
}

void CSortListCtrl::LoadColumnWidths() {
    Profile profile;
    const QByteArray stored = profile.settings.value(QString::number(m_nCtrlId)).toByteArray();
    if (!stored.isEmpty())
        m_header->ApplyWidths(stored);
}

void CSortListCtrl::SaveColumnWidths() {
    Profile profile;
    profile.settings.setValue(QString::number(m_nCtrlId), m_header->SerializeWidths());
}

bool CSortListCtrl::IsCellCut(const QModelIndex& index) const {
    const QRect rcCell = visualRect(index);
    if (!index.isValid() || rcCell.isEmpty())
        return false;
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = rcCell;
    // The width the text needs with its margins, as the delegate draws it.
    const int nNeeded = itemDelegateForIndex(index)->sizeHint(option, index).width();
    return nNeeded > rcCell.width() || rcCell.left() < 0 ||
           rcCell.left() + nNeeded > viewport()->width();
}

bool CSortListCtrl::viewportEvent(QEvent* pEvent) {
    if (pEvent->type() != QEvent::ToolTip)
        return QTreeView::viewportEvent(pEvent);
    const auto* pHelp = static_cast<QHelpEvent*>(pEvent);
    const QModelIndex index = indexAt(pHelp->pos());
    if (IsCellCut(index)) {
        // As rich text that says exactly the cell's text: a name may hold
        // '<' and line breaks, and a long path must not wrap.
        const QString strTip =
            "<p style='white-space:pre'>" + index.data().toString().toHtmlEscaped() + "</p>";
        QToolTip::showText(pHelp->globalPos(), strTip, viewport(), visualRect(index));
    } else {
        QToolTip::hideText();
    }
    return true;
}

void CSortListCtrl::mouseDoubleClickEvent(QMouseEvent* pEvent) {
    QTreeView::mouseDoubleClickEvent(pEvent);
    emit DoubleClicked();
}
