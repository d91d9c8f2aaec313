// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <Qt>
#include <functional>
#include <ostream>

class CSortListCtrl;
class QAbstractItemView;
class QComboBox;
class QLineEdit;
class QTabWidget;
class QObject;
class QWidget;

// Input as a person gives it: mouse clicks where a person clicks, keys on the
// widget that has the keyboard focus. A helper records a test failure, and
// gives no input, when its target is not on the screen.

// Clicks the middle of a widget.
void ClickWidget(QWidget& widget, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

// Clicks a check box on its box.
void ClickCheckBox(QWidget& checkBox);

// Clicks a tab of a tab control.
void ClickTab(QTabWidget& tab, int nIndex);

// Clicks a column heading in the middle of its section.
void ClickHeader(CSortListCtrl& list, int nColumn);
// Drags the right border of a column heading nBy pixels to the right.
void DragColumnBorder(CSortListCtrl& list, int nColumn, int nBy);

// Clicks, or double-clicks, a point of a widget.
void ClickAt(QWidget& widget, QPoint pt, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
void DoubleClickAt(QWidget& widget, QPoint pt, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

// Points of a list's viewport: the middle of a row's first cell, of a cell;
// a point below the last row, where there is no row.
QPoint MiddleOfRow(const QAbstractItemView& view, int nRow);
QPoint MiddleOfCell(const QAbstractItemView& view, int nRow, int nColumn);
QPoint BelowTheRows(const QAbstractItemView& view);
// Clicks, or double-clicks, a row of a list in the middle of its first cell.
void ClickRow(QAbstractItemView& view, int nRow, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
void DoubleClickRow(QAbstractItemView& view, int nRow,
                    Qt::KeyboardModifiers modifiers = Qt::NoModifier);

// Right-clicks a point of a widget as the window system delivers it: a press
// and release of the right button on the window, which also brings up the
// widget's context menu.
void RightClickAt(QWidget& widget, QPoint pt);

// Clicks the entry of the open menu whose text is strText (the menu comes up
// from a click or key given after this call, and may run its own loop).
// A test failure when no menu opens or it has no such entry.
void WhenMenuShowsChoose(const QString& strText);

// The open menu or drop-down list once it is up: the window system has made
// its window the one with the focus, as a person sees it come up before
// clicking in it. Until then a click or close could come before the
// activation, which would then go to a popup already gone and leave no
// window active. Null while none is up.
QWidget* ShownPopup();

// For what a click opens and runs modally: polls every 5 ms until fnFind
// gives a widget, then runs fnAct on it; after 5 s without one, fnAct gets
// nullptr (it reports the failure). The polling ends with pOwner, if given.
void WhenShows(QObject* pOwner, std::function<QWidget*()> fnFind,
               std::function<void(QWidget*)> fnAct);

// Rests the mouse on a point of a widget until the tooltip's time has come
// (the widget gets its tooltip request); the text of the tooltip then
// shown, as plain text, or an empty text when none shows.
QString ToolTipAt(QWidget& widget, QPoint pt);

// The widget a key goes to now, as the window system sends it: the open
// menu or drop-down list, else the widget with the keyboard focus, else the
// active window itself. Null when no window is active.
QWidget* KeyTarget();
// Presses and releases a key on the widget that has the focus.
void PressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
// Types a text, key by key, on the widget that has the focus.
void TypeText(const QString& strText);

// Replaces the text of a field as a person does: a click into it, Ctrl+A,
// then the new text typed (or Backspace for none).
void TypeInto(QLineEdit& field, const QString& strText);
// Chooses an entry of a drop-down list: a click opens it, the arrow keys
// move to the entry, Enter takes it.
void ChooseInCombo(QComboBox& combo, int nIndex);

// Places and sizes as test failures print them.
void PrintTo(const QPoint& pt, std::ostream* pOut);
void PrintTo(const QSize& size, std::ostream* pOut);
void PrintTo(const QRect& rc, std::ostream* pOut);
