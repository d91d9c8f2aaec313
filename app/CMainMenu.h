// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QObject>
#include <functional>
#include <map>

class QAction;
class QMenuBar;
class QWidget;

// The main window's menu bar with its commands and their shortcuts. Items
// are addressed by command identifier; choosing one calls fnCommand with it.
class CMainMenu : public QObject {
    Q_OBJECT

public:
    CMainMenu(QWidget* pWindow, std::function<void(int)> fnCommand);

    QMenuBar* MenuBar() const { return m_pMenuBar; }
    // The item of a command, or null.
    QAction* Action(int nCommandId) const;
    // Enables or greys an item; a greyed item's shortcut does nothing.
    void EnableMenuItem(int nCommandId, bool bEnable);
    bool IsEnabled(int nCommandId) const;

private:
    QAction* AddItem(class QMenu* pMenu, const char* pszText, int nCommandId,
                     const char* pszShortcut);

    QMenuBar* m_pMenuBar;
    std::function<void(int)> m_fnCommand;
    std::map<int, QAction*> m_actions;
};
