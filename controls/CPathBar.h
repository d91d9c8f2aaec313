// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <utility>
#include <vector>

class QHBoxLayout;
class QLineEdit;
class QStackedWidget;

// The path of the folder shown, as a button per folder from the top of the
// catalog down: a click on one goes there. A click beside the buttons (or
// Ctrl+L) turns it into a field to type a path in; Enter goes there, Escape
// gives the buttons back.
class CPathBar : public QWidget {
    Q_OBJECT
public:
    explicit CPathBar(QWidget* pParent = nullptr);

    // The folders from the top down, each a label and an id, and the whole
    // path the field starts with.
    void SetPath(const std::vector<std::pair<QString, int64_t>>& parts, const QString& strPath);
    // Turns the bar into the field, its text selected, with the focus.
    void StartTyping();
    QLineEdit* Field() const { return m_pField; }

signals:
    void folderClicked(int64_t nId);
    void pathEntered(const QString& strPath);

protected:
    void mousePressEvent(QMouseEvent* pEvent) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    QStackedWidget* m_pStack;
    QWidget* m_pButtons;
    QHBoxLayout* m_pButtonRow;
    QLineEdit* m_pField;
    QString m_strPath;
};
