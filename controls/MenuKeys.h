// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QPoint>

class QAbstractItemView;
class QEvent;

// Whether an event sent to a list asks for its right-click menu from the
// keyboard: the Menu key or Shift+F10 pressed, or the context-menu request
// the window system makes of the Menu key itself.
bool IsMenuKey(const QEvent& event);

// Where a menu opened from the keyboard points in a list's viewport: the
// lower left of the current row's first cell, scrolled into view first; a
// point on no row when no row is current.
QPoint MenuPointOfCurrentRow(QAbstractItemView& view);
