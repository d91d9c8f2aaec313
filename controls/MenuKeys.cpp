#include "controls/MenuKeys.h"

#include <QAbstractItemView>
#include <QKeyEvent>

bool IsMenuKey(const QKeyEvent& key) {
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
    return view.visualRect(first).center();
}
