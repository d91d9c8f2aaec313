// SPDX-License-Identifier: GPL-3.0-or-later

#include "UserInput.h"

#include "controls/CSortHeaderCtrl.h"
#include "controls/CSortListCtrl.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QMenu>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QToolTip>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

// True when a person could click pt in the widget: it is shown and pt lies in it.
bool CanClick(const QWidget& widget, QPoint pt) {
    if (!widget.isVisible()) {
        ADD_FAILURE() << "not on the screen: " << widget.objectName().toStdString();
        return false;
    }
    if (!widget.rect().contains(pt)) {
        ADD_FAILURE() << "(" << pt.x() << ", " << pt.y()
                      << ") is outside of: " << widget.objectName().toStdString();
        return false;
    }
    return true;
}

QPoint MiddleOfSection(const CSortListCtrl& list, int nColumn) {
    const CSortHeaderCtrl& header = list.Header();
    return {header.sectionViewportPosition(nColumn) + header.sectionSize(nColumn) / 2,
            header.height() / 2};
}

} // namespace

void ClickAt(QWidget& widget, QPoint pt, Qt::KeyboardModifiers modifiers) {
    if (CanClick(widget, pt))
        QTest::mouseClick(&widget, Qt::LeftButton, modifiers, pt);
}

void RightClickAt(QWidget& widget, QPoint pt) {
    if (!CanClick(widget, pt))
        return;
    QWidget* pWindow = widget.window();
    QTest::mouseClick(pWindow->windowHandle(), Qt::RightButton, Qt::NoModifier,
                      widget.mapTo(pWindow, pt));
}

void WhenShows(QObject* pOwner, std::function<QWidget*()> fnFind,
               std::function<void(QWidget*)> fnAct) {
    auto* pPoll = new QTimer(pOwner ? pOwner : qApp);
    const QDeadlineTimer deadline(5000);
    QObject::connect(pPoll, &QTimer::timeout, pPoll,
                     [pPoll, deadline, fnFind = std::move(fnFind), fnAct = std::move(fnAct)] {
                         QWidget* pShown = fnFind();
                         if (!pShown && !deadline.hasExpired())
                             return;
                         pPoll->stop();
                         pPoll->deleteLater();
                         fnAct(pShown);
                     });
    pPoll->start(5);
}

QWidget* ShownPopup() {
    QWidget* pPopup = QApplication::activePopupWidget();
    if (!pPopup || !pPopup->windowHandle() ||
        QGuiApplication::focusWindow() != pPopup->windowHandle())
        return nullptr;
    return pPopup;
}

void WhenMenuShowsChoose(const QString& strText) {
    WhenShows(
        nullptr, [] { return qobject_cast<QMenu*>(ShownPopup()); },
        [strText](QWidget* pShown) {
            auto* pMenu = static_cast<QMenu*>(pShown);
            if (!pMenu) {
                ADD_FAILURE() << "no menu came up";
                return;
            }
            for (QAction* pAction : pMenu->actions()) {
                if (pAction->text() == strText) {
                    EXPECT_TRUE(pAction->isEnabled()) << strText.toStdString();
                    ClickAt(*pMenu, pMenu->actionGeometry(pAction).center());
                    return;
                }
            }
            ADD_FAILURE() << "the menu has no entry " << strText.toStdString();
            pMenu->close();
        });
}

void ClickWidget(QWidget& widget, Qt::KeyboardModifiers modifiers) {
    ClickAt(widget, widget.rect().center(), modifiers);
}

void ClickCheckBox(QWidget& checkBox) {
    QStyleOptionButton option;
    option.initFrom(&checkBox);
    ClickAt(checkBox, checkBox.style()
                          ->subElementRect(QStyle::SE_CheckBoxIndicator, &option, &checkBox)
                          .center());
}

void ClickTab(QTabWidget& tab, int nIndex) {
    QTabBar& bar = *tab.tabBar();
    ClickAt(bar, bar.tabRect(nIndex).center());
}

void ClickHeader(CSortListCtrl& list, int nColumn) {
    ClickAt(*list.Header().viewport(), MiddleOfSection(list, nColumn));
}

void DragColumnBorder(CSortListCtrl& list, int nColumn, int nBy) {
    const CSortHeaderCtrl& header = list.Header();
    QWidget& viewport = *header.viewport();
    // One pixel inside the section, on the grip of its right border.
    const QPoint ptFrom(header.sectionViewportPosition(nColumn) + header.sectionSize(nColumn) - 1,
                        header.height() / 2);
    if (!CanClick(viewport, ptFrom))
        return;
    const QPoint ptTo = ptFrom + QPoint(nBy, 0);
    QTest::mousePress(&viewport, Qt::LeftButton, Qt::NoModifier, ptFrom);
    QTest::mouseMove(&viewport, ptTo);
    QTest::mouseRelease(&viewport, Qt::LeftButton, Qt::NoModifier, ptTo);
}

QPoint MiddleOfRow(const QAbstractItemView& view, int nRow) {
    return MiddleOfCell(view, nRow, 0);
}

QPoint MiddleOfCell(const QAbstractItemView& view, int nRow, int nColumn) {
    return view.visualRect(view.model()->index(nRow, nColumn)).center();
}

QPoint BelowTheRows(const QAbstractItemView& view) {
    const int nRows = view.model()->rowCount();
    const int nTop =
        nRows > 0 ? view.visualRect(view.model()->index(nRows - 1, 0)).bottom() + 1 : 0;
    return {view.viewport()->width() / 2, (nTop + view.viewport()->height()) / 2};
}

void DoubleClickAt(QWidget& widget, QPoint pt, Qt::KeyboardModifiers modifiers) {
    if (!CanClick(widget, pt))
        return;
    // What the window system delivers for a double click.
    QTest::mousePress(&widget, Qt::LeftButton, modifiers, pt);
    QTest::mouseRelease(&widget, Qt::LeftButton, modifiers, pt);
    QTest::mouseDClick(&widget, Qt::LeftButton, modifiers, pt);
    QTest::mouseRelease(&widget, Qt::LeftButton, modifiers, pt);
}

void ClickRow(QAbstractItemView& view, int nRow, Qt::KeyboardModifiers modifiers) {
    ClickAt(*view.viewport(), MiddleOfRow(view, nRow), modifiers);
}

void DoubleClickRow(QAbstractItemView& view, int nRow, Qt::KeyboardModifiers modifiers) {
    DoubleClickAt(*view.viewport(), MiddleOfRow(view, nRow), modifiers);
}

QString ToolTipAt(QWidget& widget, QPoint pt) {
    if (!CanClick(widget, pt))
        return {};
    // Only watches: the request comes from the application's own timer.
    class ToolTipWatch : public QObject {
    public:
        bool bAsked = false;

    protected:
        bool eventFilter(QObject*, QEvent* pEvent) override {
            bAsked |= pEvent->type() == QEvent::ToolTip;
            return false;
        }
    } watch;
    widget.installEventFilter(&watch);
    // The mouse comes from a pixel beside: a move to where the cursor already
    // is (the last test may have left it there) is no move, and asks for no
    // tooltip.
    const QPoint ptBeside =
        widget.rect().contains(pt + QPoint(1, 0)) ? pt + QPoint(1, 0) : pt - QPoint(1, 0);
    QTest::mouseMove(&widget, ptBeside);
    QTest::mouseMove(&widget, pt);
    const bool bAsked = QTest::qWaitFor([&] { return watch.bAsked; }, 5000);
    widget.removeEventFilter(&watch);
    if (!bAsked) {
        ADD_FAILURE() << "no tooltip request came to " << widget.objectName().toStdString();
        return {};
    }
    QApplication::processEvents();
    return QToolTip::isVisible() ? QTextDocumentFragment::fromHtml(QToolTip::text()).toPlainText()
                                 : QString();
}

QWidget* KeyTarget() {
    if (QWidget* pGrabber = QWidget::keyboardGrabber())
        return pGrabber;
    if (QWidget* pPopup = QApplication::activePopupWidget())
        return pPopup->focusWidget() ? pPopup->focusWidget() : pPopup;
    // A window without a focused control gets its keys itself.
    if (QWidget* pFocus = QApplication::focusWidget())
        return pFocus;
    return QApplication::activeWindow();
}

void PressKey(Qt::Key key, Qt::KeyboardModifiers modifiers) {
    QWidget* pTarget = KeyTarget();
    if (!pTarget) {
        ADD_FAILURE() << "no widget has the keyboard focus";
        return;
    }
    QTest::keyClick(pTarget, key, modifiers);
}

void TypeText(const QString& strText) {
    QWidget* pTarget = KeyTarget();
    if (!pTarget) {
        ADD_FAILURE() << "no widget has the keyboard focus";
        return;
    }
    QTest::keyClicks(pTarget, strText);
}

void TypeInto(QLineEdit& field, const QString& strText) {
    ClickWidget(field);
    if (KeyTarget() != &field) {
        ADD_FAILURE() << "a click did not give the focus to " << field.objectName().toStdString();
        return;
    }
    PressKey(Qt::Key_A, Qt::ControlModifier);
    if (strText.isEmpty())
        PressKey(Qt::Key_Backspace);
    else
        TypeText(strText);
}

void ChooseInCombo(QComboBox& combo, int nIndex) {
    ClickWidget(combo);
    if (!QTest::qWaitFor([] { return ShownPopup() != nullptr; }, 2000)) {
        ADD_FAILURE() << "a click did not open the list of " << combo.objectName().toStdString();
        return;
    }
    for (int i = combo.currentIndex(); i < nIndex; ++i)
        PressKey(Qt::Key_Down);
    for (int i = combo.currentIndex(); i > nIndex; --i)
        PressKey(Qt::Key_Up);
    PressKey(Qt::Key_Return);
    EXPECT_EQ(combo.currentIndex(), nIndex) << combo.objectName().toStdString();
}

void PrintTo(const QPoint& pt, std::ostream* pOut) {
    *pOut << "(" << pt.x() << ", " << pt.y() << ")";
}

void PrintTo(const QSize& size, std::ostream* pOut) {
    *pOut << size.width() << " x " << size.height();
}

void PrintTo(const QRect& rc, std::ostream* pOut) {
    *pOut << "(" << rc.x() << ", " << rc.y() << ") " << rc.width() << " x " << rc.height();
}
