// SPDX-License-Identifier: GPL-3.0-or-later

#include "controls/CSpinButtonCtrl.h"

#include <QKeyEvent>
#include <QToolButton>

namespace {

QToolButton* MakeArrow(QWidget* pParent, Qt::ArrowType arrow) {
    auto* pButton = new QToolButton(pParent);
    pButton->setArrowType(arrow);
    pButton->setAutoRepeat(true);
    pButton->setAutoRepeatDelay(400);
    pButton->setAutoRepeatInterval(50);
    pButton->setFocusPolicy(Qt::NoFocus);
    return pButton;
}

} // namespace

CSpinButtonCtrl::CSpinButtonCtrl(QWidget* pParent)
    : QWidget(pParent), m_pUp(MakeArrow(this, Qt::UpArrow)),
      m_pDown(MakeArrow(this, Qt::DownArrow)) {
    connect(m_pUp, &QToolButton::clicked, this, [this] { emit DeltaPos(-1); });
    connect(m_pDown, &QToolButton::clicked, this, [this] { emit DeltaPos(1); });
}

void CSpinButtonCtrl::SetBuddy(QWidget* pBuddy, int nWidth) {
    m_pBuddy = pBuddy;
    pBuddy->installEventFilter(this);
    const QRect rcBuddy = pBuddy->geometry();
    pBuddy->resize(std::max(0, rcBuddy.width() - nWidth), rcBuddy.height());
    setGeometry(rcBuddy.right() + 1 - nWidth, rcBuddy.top(), nWidth, rcBuddy.height());
}

bool CSpinButtonCtrl::eventFilter(QObject* pWatched, QEvent* pEvent) {
    if (pWatched == m_pBuddy && pEvent->type() == QEvent::KeyPress) {
        const int nKey = static_cast<QKeyEvent*>(pEvent)->key();
        if (nKey == Qt::Key_Up || nKey == Qt::Key_Down) {
            emit DeltaPos(nKey == Qt::Key_Up ? -1 : 1);
            return true;
        }
    }
    return QWidget::eventFilter(pWatched, pEvent);
}

void CSpinButtonCtrl::resizeEvent(QResizeEvent* pEvent) {
    QWidget::resizeEvent(pEvent);
    const int nHalf = height() / 2;
    m_pUp->setGeometry(0, 0, width(), nHalf);
    m_pDown->setGeometry(0, nHalf, width(), height() - nHalf);
}
