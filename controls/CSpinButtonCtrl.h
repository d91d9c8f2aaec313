// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QWidget>

class QToolButton;

// An up-down control: two small arrow buttons beside a buddy field. It keeps
// no value of its own; it proposes a change, -1 for the up arrow and +1 for
// the down arrow (the classic control's reversed default range), repeated
// while an arrow is held. The Up and Down keys in the buddy propose the same.
class CSpinButtonCtrl : public QWidget {
    Q_OBJECT

public:
    explicit CSpinButtonCtrl(QWidget* pParent = nullptr);

    // Sets the buddy and places the control inside the buddy's right edge,
    // narrowing the buddy by the control's width.
    void SetBuddy(QWidget* pBuddy, int nWidth);

    QToolButton* UpButton() const { return m_pUp; }
    QToolButton* DownButton() const { return m_pDown; }

signals:
    // The change the control proposes.
    void DeltaPos(int nDelta);

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;

private:
    QToolButton* m_pUp;
    QToolButton* m_pDown;
    QWidget* m_pBuddy = nullptr;
};
