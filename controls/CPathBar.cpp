// SPDX-License-Identifier: GPL-3.0-or-later

#include "controls/CPathBar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStackedWidget>
#include <QToolButton>

CPathBar::CPathBar(QWidget* pParent) : QWidget(pParent) {
    auto* pLayout = new QHBoxLayout(this);
    pLayout->setContentsMargins(0, 0, 0, 0);
    m_pStack = new QStackedWidget(this);
    pLayout->addWidget(m_pStack);
    m_pButtons = new QWidget(m_pStack);
    m_pButtons->setObjectName("PathButtons");
    m_pButtons->installEventFilter(this);
    m_pButtonRow = new QHBoxLayout(m_pButtons);
    m_pButtonRow->setContentsMargins(0, 0, 0, 0);
    m_pButtonRow->setSpacing(0);
    m_pButtonRow->addStretch(1);
    m_pField = new QLineEdit(m_pStack);
    m_pField->setObjectName("PathField");
    m_pField->installEventFilter(this);
    m_pStack->addWidget(m_pButtons);
    m_pStack->addWidget(m_pField);
    m_pStack->setFixedHeight(m_pField->sizeHint().height());
    connect(m_pField, &QLineEdit::returnPressed, this, [this] {
        const QString strPath = m_pField->text();
        m_pStack->setCurrentWidget(m_pButtons);
        emit pathEntered(strPath);
    });
}

void CPathBar::SetPath(const std::vector<std::pair<QString, int64_t>>& parts,
                       const QString& strPath) {
    m_strPath = strPath;
    while (m_pButtonRow->count() > 1) {
        QLayoutItem* pItem = m_pButtonRow->takeAt(0);
        delete pItem->widget();
        delete pItem;
    }
    int nAt = 0;
    for (const auto& [label, nId] : parts) {
        auto* pButton = new QToolButton(m_pButtons);
        pButton->setText((nAt > 0 ? "› " : "") + QString(label).replace('&', "&&"));
        pButton->setAutoRaise(true);
        pButton->setFocusPolicy(Qt::NoFocus);
        pButton->setCheckable(nAt + 1 == static_cast<int>(parts.size()));
        pButton->setChecked(pButton->isCheckable());
        connect(pButton, &QToolButton::clicked, this,
                [this, nId = nId] { emit folderClicked(nId); });
        m_pButtonRow->insertWidget(nAt++, pButton);
    }
    if (m_pStack->currentWidget() == m_pField && !m_pField->hasFocus())
        m_pStack->setCurrentWidget(m_pButtons);
}

void CPathBar::StartTyping() {
    m_pField->setText(m_strPath);
    m_pStack->setCurrentWidget(m_pField);
    m_pField->setFocus(Qt::ShortcutFocusReason);
    m_pField->selectAll();
}

void CPathBar::mousePressEvent(QMouseEvent* pEvent) {
    StartTyping();
    QWidget::mousePressEvent(pEvent);
}

bool CPathBar::eventFilter(QObject* pWatched, QEvent* pEvent) {
    if (pWatched == m_pButtons && pEvent->type() == QEvent::MouseButtonPress) {
        StartTyping(); // a click beside the buttons
        return true;
    }
    if (pWatched == m_pField) {
        if (pEvent->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(pEvent)->key() == Qt::Key_Escape) {
            m_pStack->setCurrentWidget(m_pButtons);
            return true;
        }
        if (pEvent->type() == QEvent::FocusOut)
            m_pStack->setCurrentWidget(m_pButtons);
    }
    return QWidget::eventFilter(pWatched, pEvent);
}
