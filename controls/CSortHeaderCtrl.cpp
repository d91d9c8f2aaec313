// SPDX-License-Identifier: GPL-3.0-or-later

#include "controls/CSortHeaderCtrl.h"

#include <QMouseEvent>
#include <QPainter>
#include <cstdint>
#include <cstdlib>

namespace {

// A line as the classic GDI draws it: from the start point up to, not
// including, the end point, one pixel wide.
void DrawLineExcludingEnd(QPainter& painter, int x0, int y0, int x1, int y1) {
    const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int nError = dx + dy;
    while (x0 != x1 || y0 != y1) {
        painter.drawPoint(x0, y0);
        const int e2 = 2 * nError;
        if (e2 >= dy) {
            nError += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            nError += dx;
            y0 += sy;
        }
    }
}

void AppendInt32(QByteArray& bytes, int32_t nValue) {
    const uint32_t u = static_cast<uint32_t>(nValue);
    for (int nShift = 0; nShift < 32; nShift += 8)
        bytes.append(static_cast<char>((u >> nShift) & 0xFF));
}

int32_t ReadInt32(const QByteArray& bytes, qsizetype nOffset) {
    uint32_t u = 0;
    for (int i = 0; i < 4; ++i)
        u |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[nOffset + i])) << (8 * i);
    return static_cast<int32_t>(u);
}

} // namespace

CSortHeaderCtrl::CSortHeaderCtrl(QWidget* pParent) : QHeaderView(Qt::Horizontal, pParent) {
    setSectionsClickable(true);
    setSectionsMovable(false);
    setStretchLastSection(false);
    setSortIndicatorShown(false);
    setHighlightSections(false);
    setMinimumSectionSize(0);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

int CSortHeaderCtrl::GetItemFormat(int nItem) const {
    return nItem >= 0 && nItem < static_cast<int>(m_formats.size()) ? m_formats[nItem] : 0;
}

void CSortHeaderCtrl::SetItemFormat(int nItem, int nFormat) {
    if (nItem < 0)
        return;
    if (nItem >= static_cast<int>(m_formats.size()))
        m_formats.resize(nItem + 1, 0);
    m_formats[nItem] = nFormat;
}

void CSortHeaderCtrl::SetSortArrow(int nColumn, bool bAscending) {
    m_nSortColumn = nColumn;
    m_bSortAscending = bAscending;
    SetItemFormat(nColumn, GetItemFormat(nColumn) | HDF_OWNERDRAW);
    viewport()->update();
}

QByteArray CSortHeaderCtrl::SerializeWidths() const {
    QByteArray bytes;
    const int nCount = count();
    AppendInt32(bytes, nCount);
    for (int i = 0; i < nCount; ++i)
        AppendInt32(bytes, sectionSize(i));
    return bytes;
}

bool CSortHeaderCtrl::ApplyWidths(const QByteArray& stored) {
    if (stored.size() < 4)
        return false;
    const int32_t nCount = ReadInt32(stored, 0);
    if (nCount <= 0 || nCount != count() || stored.size() < 4 * (qsizetype(nCount) + 1))
        return false;
    for (int i = 0; i < nCount; ++i)
        resizeSection(i, std::max(0, ReadInt32(stored, 4 * (qsizetype(i) + 1))));
    viewport()->update();
    return true;
}

void CSortHeaderCtrl::paintSection(QPainter* pPainter, const QRect& rect, int nLogicalIndex) const {
    if (GetItemFormat(nLogicalIndex) & HDF_OWNERDRAW)
        DrawItem(*pPainter, rect, nLogicalIndex, nLogicalIndex == m_nPressedItem);
    else
        QHeaderView::paintSection(pPainter, rect, nLogicalIndex);
}

void CSortHeaderCtrl::DrawItem(QPainter& painter, const QRect& rect, int nItem,
                               bool bPressed) const {
    painter.save();
    painter.setClipRect(rect);
    painter.fillRect(rect, palette().color(QPalette::Button));

    // Edges as the classic rectangle has them: right and bottom exclusive.
    const int nLeft = rect.left(), nTop = rect.top();
    const int nRight = rect.right() + 1, nBottom = rect.bottom() + 1;
    int nTextLeft = nLeft, nTextTop = nTop, nTextRight = nRight;
    if (bPressed) {
        nTextLeft += 1;
        nTextTop += 2;
        nTextRight += 1;
    }
    const int o = (nBottom - nTop) / 4;
    const bool bSorted = nItem == m_nSortColumn;
    nTextLeft += o;
    nTextRight = (bSorted ? nTextRight - 3 * o : nTextRight) - o;
    if (nTextLeft < nTextRight) {
        const int nFormat = GetItemFormat(nItem);
        const Qt::Alignment align = (nFormat & HDF_CENTER)  ? Qt::AlignHCenter
                                    : (nFormat & HDF_RIGHT) ? Qt::AlignRight
                                                            : Qt::AlignLeft;
        const QString strText =
            model() ? model()->headerData(nItem, orientation()).toString() : QString();
        const QString strShown =
            fontMetrics().elidedText(strText, Qt::ElideRight, nTextRight - nTextLeft);
        painter.setPen(palette().color(QPalette::ButtonText));
        painter.drawText(QRect(nTextLeft, nTextTop, nTextRight - nTextLeft, nBottom - nTextTop),
                         int(align) | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip,
                         strShown);
    }

    if (bSorted) {
        // The y coordinates count from the top of the header, as drawn.
        const QPen light(palette().color(QPalette::Light), 1);
        const QPen shadow(palette().color(QPalette::Dark), 1);
        const int r = nRight, b = nBottom;
        if (m_bSortAscending) {
            painter.setPen(light);
            DrawLineExcludingEnd(painter, r - 2 * o, o, r - o, b - o - 1);
            DrawLineExcludingEnd(painter, r - o, b - o - 1, r - 3 * o - 2, b - o - 1);
            painter.setPen(shadow);
            DrawLineExcludingEnd(painter, r - 3 * o - 1, b - o - 1, r - 2 * o, o - 1);
        } else {
            painter.setPen(light);
            DrawLineExcludingEnd(painter, r - o - 1, o, r - 2 * o - 1, b - o);
            painter.setPen(shadow);
            DrawLineExcludingEnd(painter, r - 2 * o - 2, b - o, r - 3 * o - 1, o);
            DrawLineExcludingEnd(painter, r - 3 * o - 1, o, r - o - 1, o);
        }
    }
    painter.restore();
}

void CSortHeaderCtrl::mousePressEvent(QMouseEvent* pEvent) {
    if (pEvent->button() == Qt::LeftButton)
        m_nPressedItem = logicalIndexAt(pEvent->position().toPoint());
    QHeaderView::mousePressEvent(pEvent);
}

void CSortHeaderCtrl::mouseReleaseEvent(QMouseEvent* pEvent) {
    m_nPressedItem = -1;
    QHeaderView::mouseReleaseEvent(pEvent);
    viewport()->update();
}
