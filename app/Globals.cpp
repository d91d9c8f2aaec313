// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/Globals.h"

#include "app/CMainDlg.h"

std::string g_strAppPath;
CMainDlg* g_hMainWnd = nullptr;
CMainMenu* g_pMainMenu = nullptr;

QDialog* SendMainPage(int wParam) {
    return g_hMainWnd ? g_hMainWnd->OnMainPage(wParam) : nullptr;
}
