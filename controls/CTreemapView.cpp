// SPDX-License-Identifier: GPL-3.0-or-later

#include "controls/CTreemapView.h"

#include "browse/Treemap.h"
#include "controls/FileKind.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>
#include <memory>

CTreemapView::CTreemapView(QWidget* pParent) : QWidget(pParent) {
    m_pool.setMaxThreadCount(1);
    setMouseTracking(true);
    setMinimumSize(120, 80);
}

CTreemapView::~CTreemapView() {
    m_pool.clear();
    m_pool.waitForDone();
}

void CTreemapView::SetItems(std::vector<TreemapItem> items, const QString& strFolder) {
    m_strFolder = strFolder;
    m_pItems = std::make_shared<const std::vector<TreemapItem>>(std::move(items));
    StartLayout();
}

namespace {

struct Picture {
    QImage image;
    std::vector<std::pair<QRect, const TreemapItem*>> shown;
    std::vector<QRect> outer;
};

// Lays out items in rect and paints them; a folder's inner items go inside
// its frame, below its name, while there is room.
void Paint(QPainter& painter, const QFontMetrics& metrics, const std::vector<TreemapItem>& items,
           QRect area, Picture& picture, bool bOuter) {
    // The layout takes the largest first.
    std::vector<size_t> order(items.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return items[a].nBytes > items[b].nBytes; });
    std::vector<uint64_t> weights;
    weights.reserve(items.size());
    for (const size_t i : order)
        weights.push_back(items[i].nBytes);
    const std::vector<TreemapRect> layout =
        SquarifiedLayout(weights, area.x(), area.y(), area.width(), area.height());
    if (bOuter)
        picture.outer.assign(items.size(), QRect());
    for (size_t k = 0; k < layout.size(); ++k) {
        const TreemapRect& r = layout[k];
        const QRect rect(QPoint(static_cast<int>(r.dX + 0.5), static_cast<int>(r.dY + 0.5)),
                         QPoint(static_cast<int>(r.dX + r.dWidth + 0.5) - 1,
                                static_cast<int>(r.dY + r.dHeight + 0.5) - 1));
        const size_t i = order[k];
        if (bOuter && rect.width() >= 1 && rect.height() >= 1)
            picture.outer[i] = rect;
        if (rect.width() < 1 || rect.height() < 1)
            continue; // too small to see or to click
        const TreemapItem& item = items[i];
        picture.shown.emplace_back(rect, &item);
        if (rect.width() < 4 || rect.height() < 4) {
            // Too small for shading and a frame: its colour only.
            painter.fillRect(rect, item.colour);
            continue;
        }
        // A light top left and a dark bottom right tell neighbours of one
        // colour apart.
        QLinearGradient gradient(rect.topLeft(), rect.bottomRight());
        gradient.setColorAt(0, item.colour.lighter(125));
        gradient.setColorAt(1, item.colour.darker(125));
        painter.fillRect(rect, gradient);
        painter.setPen(item.colour.darker(170));
        painter.drawRect(rect.adjusted(0, 0, -1, -1));
        const int nText = metrics.height();
        const bool bName = rect.width() > 30 && rect.height() > nText + 2;
        if (bName) {
            painter.setPen(Qt::black);
            painter.drawText(rect.adjusted(3, 1, -3, -1), Qt::AlignLeft | Qt::AlignTop,
                             metrics.elidedText(QString::fromUtf8(item.strName), Qt::ElideRight,
                                                rect.width() - 6));
        }
        const QRect inner = rect.adjusted(2, bName ? nText + 1 : 2, -2, -2);
        if (!item.inner.empty() && inner.width() >= 8 && inner.height() >= 8)
            Paint(painter, metrics, item.inner, inner, picture, false);
    }
}

} // namespace

void CTreemapView::StartLayout() {
    const uint64_t nGeneration = ++m_nGeneration;
    const QSize size = this->size();
    const qreal dRatio = devicePixelRatioF();
    const std::shared_ptr<const std::vector<TreemapItem>> pItems = m_pItems;
    const QFont font = this->font();
    m_pool.clear(); // a layout not begun is not needed any more
    m_pool.start([this, nGeneration, size, dRatio, pItems, font] {
        auto pPicture = std::make_shared<Picture>();
        pPicture->image = QImage(size * dRatio, QImage::Format_ARGB32_Premultiplied);
        pPicture->image.setDevicePixelRatio(dRatio);
        pPicture->image.fill(Qt::white);
        {
            QPainter painter(&pPicture->image);
            painter.setFont(font);
            Paint(painter, QFontMetrics(font), *pItems, QRect(QPoint(0, 0), size), *pPicture, true);
        }
        QMetaObject::invokeMethod(
            this,
            [this, nGeneration, pItems, pPicture] {
                if (nGeneration != m_nGeneration)
                    return; // the entries or the size changed meanwhile
                m_picture = std::move(pPicture->image);
                m_pLaidOut = pItems;
                m_shown.clear();
                for (const auto& [rect, pItem] : pPicture->shown)
                    m_shown.push_back({rect, pItem});
                m_rects = std::move(pPicture->outer);
                m_nShown = nGeneration;
                update();
            },
            Qt::QueuedConnection);
    });
}

QRect CTreemapView::ItemRect(size_t nItem) const {
    return IsLaidOut() && nItem < m_rects.size() ? m_rects[nItem] : QRect();
}

const TreemapItem* CTreemapView::ItemAt(QPoint pt) const {
    if (!IsLaidOut())
        return nullptr;
    // The innermost: inner rectangles come after the one they lie in.
    for (auto it = m_shown.rbegin(); it != m_shown.rend(); ++it)
        if (it->rect.contains(pt))
            return it->pItem;
    return nullptr;
}

QRect CTreemapView::ShownRect(const TreemapItem* pItem) const {
    for (const Shown& shown : m_shown)
        if (shown.pItem == pItem)
            return shown.rect;
    return {};
}

QString CTreemapView::TipOf(const TreemapItem& item) const {
    if (!item.tip.isEmpty())
        return item.tip;
    const QString name = QString::fromUtf8(item.strName);
    QString strTip = m_strFolder.isEmpty()       ? name
                     : m_strFolder.endsWith('/') ? m_strFolder + name
                                                 : m_strFolder + "/" + name;
    strTip += "\n" + ReadableSize(item.nBytes);
    if (item.nFiles)
        strTip += " in " + QString::number(*item.nFiles) + (*item.nFiles == 1 ? " file" : " files");
    return strTip;
}

void CTreemapView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (m_picture.isNull()) {
        painter.fillRect(rect(), palette().base());
        return;
    }
    painter.drawImage(QPoint(0, 0), m_picture);
    if (m_pItems->empty() && IsLaidOut()) {
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(rect(), Qt::AlignCenter, "Nothing to show");
    }
}

void CTreemapView::resizeEvent(QResizeEvent* pEvent) {
    QWidget::resizeEvent(pEvent);
    StartLayout();
}

void CTreemapView::mouseMoveEvent(QMouseEvent* pEvent) {
    const TreemapItem* pItem = ItemAt(pEvent->position().toPoint());
    setCursor(pItem && pItem->bFolder ? Qt::PointingHandCursor : Qt::ArrowCursor);
    QWidget::mouseMoveEvent(pEvent);
}

bool CTreemapView::event(QEvent* pEvent) {
    if (pEvent->type() == QEvent::ToolTip) {
        const auto* pHelp = static_cast<QHelpEvent*>(pEvent);
        const TreemapItem* pItem = ItemAt(pHelp->pos());
        if (pItem)
            QToolTip::showText(pHelp->globalPos(), TipOf(*pItem), this, ShownRect(pItem));
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(pEvent);
}

void CTreemapView::mouseReleaseEvent(QMouseEvent* pEvent) {
    if (pEvent->button() == Qt::LeftButton) {
        if (const TreemapItem* pItem = ItemAt(pEvent->position().toPoint())) {
            const TreemapItem item = *pItem; // the slot may lay out anew
            emit itemClicked(item);
            return;
        }
    }
    QWidget::mouseReleaseEvent(pEvent);
}
