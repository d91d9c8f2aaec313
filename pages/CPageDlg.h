// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QDialog>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

// What the three pages of the main window share: a dialog shown inside the
// tab control, whose OnShowWindow runs each time the page itself is shown
// or hidden (not when the whole window is minimised or restored), on which
// Escape does nothing, and whose controls are placed in dialog units.
class CPageDlg : public QDialog {
    Q_OBJECT

public:
    explicit CPageDlg(QWidget* pParent = nullptr);

protected:
    virtual void OnShowWindow(bool bShow) = 0;
    void showEvent(QShowEvent* pEvent) override;
    void hideEvent(QHideEvent* pEvent) override;
    void reject() override {}

    // Gives the keyboard focus back to the control that had it last, or to
    // pFirst the first time.
    void RestoreFocus(QWidget* pFirst);

    // Controls at their place in dialog units. A push button never becomes
    // the default by taking the focus: the main window, a dialog too, would
    // otherwise hand its Enter to the first such button.
    QLabel* AddLabel(const char* pszText, int x, int y, int cx, int cy);
    QLineEdit* AddEdit(const char* pszName, int x, int y, int cx, int cy);
    QPushButton* AddButton(const char* pszText, const char* pszName, int x, int y, int cx, int cy);
    // Runs fnCommand as a command of this page (see RunCommand) each time
    // the button is clicked.
    void RunOnClick(QPushButton* pButton, std::function<void()> fnCommand);
};
