// SPDX-License-Identifier: GPL-3.0-or-later

#include "controls/MenuKeys.h"

#include <QAbstractItemView>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QRect>

bool IsMenuKey(const QEvent& event) {
    // The window system's own request points at the middle of the current
    // cell, over its text; it is answered at the same place as the keys.
    if (event.type() == QEvent::ContextMenu)
        return static_cast<const QContextMenuEvent&>(event).reason() == QContextMenuEvent::Keyboard;
    if (event.type() != QEvent::KeyPress)
        return false;
    const auto& key = static_cast<const QKeyEvent&>(event);
    const Qt::KeyboardModifiers modifiers = key.modifiers() & ~Qt::KeypadModifier;
    return (key.key() == Qt::Key_Menu && modifiers == Qt::NoModifier) ||
           (key.key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier);
}

QPoint MenuPointOfCurrentRow(QAbstractItemView& view) {
    const QModelIndex current = view.currentIndex();
    if (!current.isValid())
        return {-1, -1};
    const QModelIndex first = current.siblingAtColumn(0);
    view.scrollTo(first);
    // Just inside the row's lower edge: the menu opens below the row it acts
    // on, which stays readable.
    const QRect row = view.visualRect(first);
    return {row.left() + row.height(), row.bottom()};
}
