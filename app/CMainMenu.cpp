// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/CMainMenu.h"

#include "app/CommandIds.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

CMainMenu::CMainMenu(QWidget* pWindow, std::function<void(int)> fnCommand)
    : QObject(pWindow), m_pMenuBar(new QMenuBar(pWindow)), m_fnCommand(std::move(fnCommand)) {
    m_pMenuBar->setObjectName("IDR_MAINMENU");
    // The text after a tab is the key shown; the shortcut itself is set apart,
    // so "Alt+F4" stays the window's own Close.
    QMenu* pFile = m_pMenuBar->addMenu("&File");
    AddItem(pFile, "Add database...\tCtrl+O", ID_FILE_ADD_DATABASE, "Ctrl+O");
    pFile->addSeparator();
    AddItem(pFile, "E&xit\tAlt+F4", ID_FILE_EXIT, nullptr);
    QMenu* pView = m_pMenuBar->addMenu("View");
    AddItem(pView, "Search\tCtrl+S", ID_VIEW_SEARCH, "Ctrl+S");
    AddItem(pView, "Result\tCtrl+R", ID_VIEW_RESULT, "Ctrl+R");
    AddItem(pView, "Create Database\tCtrl+D", ID_VIEW_CREATE_DATABASE, "Ctrl+D");
    QMenu* pResult = m_pMenuBar->addMenu("Result");
    AddItem(pResult, "Check\tCtrl+E", ID_RESULT_CHECK, "Ctrl+E")->setEnabled(false);
    QMenu* pHelp = m_pMenuBar->addMenu("&Help");
    AddItem(pHelp, "Help\tF1", ID_HELP_HELP, "F1");
    pHelp->addSeparator();
    AddItem(pHelp, "&About...", ID_HELP_ABOUT, nullptr);
}

QAction* CMainMenu::AddItem(QMenu* pMenu, const char* pszText, int nCommandId,
                            const char* pszShortcut) {
    QAction* pAction = pMenu->addAction(QString::fromUtf8(pszText));
    if (pszShortcut) {
        pAction->setShortcut(QKeySequence(QString::fromUtf8(pszShortcut)));
        pAction->setShortcutContext(Qt::WindowShortcut);
        // The window holds it too, so the key works while no menu is open.
        pMenu->parentWidget()->window()->addAction(pAction);
    }
    connect(pAction, &QAction::triggered, this, [this, nCommandId] { m_fnCommand(nCommandId); });
    m_actions[nCommandId] = pAction;
    return pAction;
}

QAction* CMainMenu::Action(int nCommandId) const {
    const auto it = m_actions.find(nCommandId);
    return it == m_actions.end() ? nullptr : it->second;
}

void CMainMenu::EnableMenuItem(int nCommandId, bool bEnable) {
    if (QAction* pAction = Action(nCommandId))
        pAction->setEnabled(bEnable);
}

bool CMainMenu::IsEnabled(int nCommandId) const {
    const QAction* pAction = Action(nCommandId);
    return pAction && pAction->isEnabled();
}
