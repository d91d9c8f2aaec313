#pragma once

#include <QPoint>

class QAbstractItemView;
class QKeyEvent;

// The keys that open a right-click menu from the keyboard: the Menu key, and
// Shift+F10.
bool IsMenuKey(const QKeyEvent& key);

// Where a menu opened from the keyboard points in a list's viewport: the
// middle of the current row's first cell, scrolled into view first; a point
// on no row when no row is current.
QPoint MenuPointOfCurrentRow(QAbstractItemView& view);
