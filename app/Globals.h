// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <string>

class CMainDlg;
class CMainMenu;
class QDialog;

// The data folder, where catalogs made by Kestrel and dblist.txt live;
// always ends with '/'. Read once when the main window is made.
extern std::string g_strAppPath;
// The main window and its menu; null until the main window is set up.
extern CMainDlg* g_hMainWnd;
extern CMainMenu* g_pMainMenu;

// Asks the main window to show a page or hand one out (see WM_MAIN_PAGE);
// the page, or null when there is no main window or wParam names none.
QDialog* SendMainPage(int wParam);
