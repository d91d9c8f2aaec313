#include "controls/CTreemapView.h"

#include "browse/Treemap.h"

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

void CTreemapView::SetItems(std::vector<TreemapItem> items) {
    std::stable_sort(items.begin(), items.end(), [](const TreemapItem& a, const TreemapItem& b) {
        return a.nBytes > b.nBytes;
    });
    m_items = std::move(items);
    StartLayout();
}

void CTreemapView::StartLayout() {
    const uint64_t nGeneration = ++m_nGeneration;
    const QSize size = this->size();
    const qreal dRatio = devicePixelRatioF();
    auto weights = std::make_shared<std::vector<uint64_t>>();
    auto looks = std::make_shared<std::vector<std::pair<QString, QColor>>>();
    weights->reserve(m_items.size());
    for (const TreemapItem& item : m_items) {
        weights->push_back(item.nBytes);
        looks->emplace_back(item.name, item.colour);
    }
    const QFont font = this->font();
    m_pool.clear(); // a layout not begun is not needed any more
    m_pool.start([this, nGeneration, size, dRatio, weights, looks, font] {
        const std::vector<TreemapRect> layout =
            SquarifiedLayout(*weights, 0, 0, size.width(), size.height());
        std::vector<QRect> rects(layout.size());
        QImage picture(size * dRatio, QImage::Format_ARGB32_Premultiplied);
        picture.setDevicePixelRatio(dRatio);
        picture.fill(Qt::white);
        QPainter painter(&picture);
        painter.setFont(font);
        const QFontMetrics metrics(font);
        for (size_t i = 0; i < layout.size(); ++i) {
            const TreemapRect& r = layout[i];
            const QRect rect(QPoint(static_cast<int>(r.dX + 0.5), static_cast<int>(r.dY + 0.5)),
                             QPoint(static_cast<int>(r.dX + r.dWidth + 0.5) - 1,
                                    static_cast<int>(r.dY + r.dHeight + 0.5) - 1));
            if (rect.width() < 1 || rect.height() < 1)
                continue; // too small to see or to click
            rects[i] = rect;
            const QColor colour = (*looks)[i].second;
            // A light top left and a dark bottom right make neighbours of one
            // colour tell apart.
            QLinearGradient gradient(rect.topLeft(), rect.bottomRight());
            gradient.setColorAt(0, colour.lighter(125));
            gradient.setColorAt(1, colour.darker(125));
            painter.fillRect(rect, gradient);
            painter.setPen(colour.darker(170));
            painter.drawRect(rect.adjusted(0, 0, -1, -1));
            if (rect.width() > 30 && rect.height() > metrics.height() + 2) {
                painter.setPen(Qt::black);
                painter.drawText(
                    rect.adjusted(3, 1, -3, -1), Qt::AlignLeft | Qt::AlignTop,
                    metrics.elidedText((*looks)[i].first, Qt::ElideRight, rect.width() - 6));
            }
        }
        painter.end();
        QMetaObject::invokeMethod(
            this,
            [this, nGeneration, picture = std::move(picture), rects = std::move(rects)]() mutable {
                if (nGeneration != m_nGeneration)
                    return; // the entries or the size changed meanwhile
                m_picture = std::move(picture);
                m_rects = std::move(rects);
                m_nShown = nGeneration;
                update();
            },
            Qt::QueuedConnection);
    });
}

QRect CTreemapView::ItemRect(size_t nItem) const {
    return IsLaidOut() && nItem < m_rects.size() ? m_rects[nItem] : QRect();
}

int CTreemapView::ItemAt(QPoint pt) const {
    if (!IsLaidOut())
        return -1;
    for (size_t i = 0; i < m_rects.size(); ++i)
        if (m_rects[i].contains(pt))
            return static_cast<int>(i);
    return -1;
}

void CTreemapView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (m_picture.isNull()) {
        painter.fillRect(rect(), palette().base());
        return;
    }
    painter.drawImage(QPoint(0, 0), m_picture);
    if (m_items.empty() && IsLaidOut()) {
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(rect(), Qt::AlignCenter, "Nothing to show");
    }
}

void CTreemapView::resizeEvent(QResizeEvent* pEvent) {
    QWidget::resizeEvent(pEvent);
    StartLayout();
}

void CTreemapView::mouseMoveEvent(QMouseEvent* pEvent) {
    const int nItem = ItemAt(pEvent->position().toPoint());
    setCursor(nItem >= 0 && m_items[static_cast<size_t>(nItem)].bFolder ? Qt::PointingHandCursor
                                                                        : Qt::ArrowCursor);
    QWidget::mouseMoveEvent(pEvent);
}

bool CTreemapView::event(QEvent* pEvent) {
    if (pEvent->type() == QEvent::ToolTip) {
        const auto* pHelp = static_cast<QHelpEvent*>(pEvent);
        const int nItem = ItemAt(pHelp->pos());
        if (nItem >= 0)
            QToolTip::showText(pHelp->globalPos(), m_items[static_cast<size_t>(nItem)].tip, this,
                               m_rects[static_cast<size_t>(nItem)]);
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(pEvent);
}

void CTreemapView::mouseReleaseEvent(QMouseEvent* pEvent) {
    if (pEvent->button() == Qt::LeftButton) {
        const int nItem = ItemAt(pEvent->position().toPoint());
        if (nItem >= 0) {
            const TreemapItem item = m_items[static_cast<size_t>(nItem)];
            emit itemClicked(item);
            return;
        }
    }
    QWidget::mouseReleaseEvent(pEvent);
}
