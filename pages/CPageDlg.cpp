// SPDX-License-Identifier: GPL-3.0-or-later

#include "pages/CPageDlg.h"

#include "app/Desktop.h"
#include "controls/DialogUnits.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

CPageDlg::CPageDlg(QWidget* pParent) : QDialog(pParent) {
    // A child of the tab control, not a window of its own: QDialog makes
    // itself a window whatever flags it is given.
    setWindowFlags(windowFlags() & ~Qt::WindowType_Mask);
}

void CPageDlg::showEvent(QShowEvent* pEvent) {
    QDialog::showEvent(pEvent);
    if (!pEvent->spontaneous())
        OnShowWindow(true);
}

void CPageDlg::hideEvent(QHideEvent* pEvent) {
    QDialog::hideEvent(pEvent);
    if (!pEvent->spontaneous())
        OnShowWindow(false);
}

void CPageDlg::RestoreFocus(QWidget* pFirst) {
    QWidget* pLast = focusWidget();
    (pLast && pLast != this ? pLast : pFirst)->setFocus();
}

QLabel* CPageDlg::AddLabel(const char* pszText, int x, int y, int cx, int cy) {
    auto* pLabel = new QLabel(pszText, this);
    pLabel->setGeometry(DialogUnits(font()).Rect(x, y, cx, cy));
    pLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return pLabel;
}

QLineEdit* CPageDlg::AddEdit(const char* pszName, int x, int y, int cx, int cy) {
    auto* pEdit = new QLineEdit(this);
    pEdit->setObjectName(pszName);
    pEdit->setGeometry(DialogUnits(font()).Rect(x, y, cx, cy));
    return pEdit;
}

QPushButton* CPageDlg::AddButton(const char* pszText, const char* pszName, int x, int y, int cx,
                                 int cy) {
    auto* pButton = new QPushButton(pszText, this);
    pButton->setObjectName(pszName);
    pButton->setGeometry(DialogUnits(font()).Rect(x, y, cx, cy));
    pButton->setAutoDefault(false);
    return pButton;
}

void CPageDlg::RunOnClick(QPushButton* pButton, std::function<void()> fnCommand) {
    connect(pButton, &QPushButton::clicked, this,
            [this, fnCommand = std::move(fnCommand)] { RunCommand(this, fnCommand); });
}
