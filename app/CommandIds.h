// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Identifiers of the menu commands, the main window's parts and the
// resources, as the pages and the menu address them.

inline constexpr int ID_HELP_HELP = 32772;
inline constexpr int ID_HELP_ABOUT = 32773;
inline constexpr int ID_FILE_ADD_DATABASE = 32774;
inline constexpr int ID_FILE_EXIT = 32775;
inline constexpr int ID_VIEW_SEARCH = 32776;
inline constexpr int ID_VIEW_RESULT = 32777;
inline constexpr int ID_VIEW_CREATE_DATABASE = 32778;
inline constexpr int ID_RESULT_CHECK = 32781;

inline constexpr int IDD_MAIN = 102;
inline constexpr int IDC_TAB = 1005;
inline constexpr int IDI_MAIN = 128;
inline constexpr int IDR_MAINMENU = 131;
inline constexpr int IDR_ACCEL = 135;

// The request to the main window to show a page or hand one out: 0, 1, 2
// show the Search, Result or Create database page; 10, 11, 12 only return it.
inline constexpr int WM_MAIN_PAGE = 0x500;
inline constexpr int kPageSearch = 0;
inline constexpr int kPageResult = 1;
inline constexpr int kPageCreateDatabase = 2;
inline constexpr int kGetPageBase = 10;
