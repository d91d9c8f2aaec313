// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/CMainApp.h"

#include "app/CAbout.h"
#include "app/CMainDlg.h"
#include "app/CommandIds.h"
#include "app/Desktop.h"
#include "app/Globals.h"
#include "catalog/PathExists.h"
#include "pages/CDBSearch.h"
#include "pages/CResult.h"
#include "pages/ResultCheck.h"

#include <QCoreApplication>

CMainApp::CMainApp() {
    m_strHelpFile = FindHelpFile(BytesOf(QCoreApplication::applicationDirPath()));
}

std::string CMainApp::FindHelpFile(const std::string& strProgramDir) {
    const std::string strBuilt = strProgramDir + "/help/kestrel.htm";
    const std::string strInstalled = strProgramDir + "/../share/kestrel/help/kestrel.htm";
    return !IsRegularFile(strBuilt) && IsRegularFile(strInstalled) ? strInstalled : strBuilt;
}

int CMainApp::InitInstance() {
    CMainDlg dlg(*this);
    dlg.exec();
    return 0;
}

void CMainApp::OnCommand(int nCommandId) {
    RunCommand(g_hMainWnd, [&] {
        switch (nCommandId) {
        case ID_HELP_HELP:
            OnHelpHelp();
            break;
        case ID_HELP_ABOUT:
            OnHelpAbout();
            break;
        case ID_FILE_ADD_DATABASE:
            OnFileAddDatabase();
            break;
        case ID_FILE_EXIT:
            OnFileExit();
            break;
        case ID_VIEW_SEARCH:
            OnViewSearch();
            break;
        case ID_VIEW_RESULT:
            OnViewResult();
            break;
        case ID_VIEW_CREATE_DATABASE:
            OnViewCreateDatabase();
            break;
        case ID_RESULT_CHECK:
            OnResultCheck();
            break;
        default:
            break;
        }
    });
}

void CMainApp::OnHelpHelp() {
    if (!IsRegularFile(m_strHelpFile)) {
        ShowMessage(g_hMainWnd, "Help file not found. Reinstall application", "Error",
                    MessageIcon::Critical);
        return;
    }
    if (const std::string strReason = OpenWithDesktop(m_strHelpFile); !strReason.empty())
        ShowMessage(g_hMainWnd, "Can't open the help page '" + m_strHelpFile + "': " + strReason,
                    "Error", MessageIcon::Critical);
}

void CMainApp::OnHelpAbout() {
    CAbout about(g_hMainWnd);
    about.exec();
}

void CMainApp::OnFileAddDatabase() {
    if (auto* pSearch = static_cast<CDBSearch*>(SendMainPage(kGetPageBase + kPageSearch)))
        pSearch->OnAddDatabase();
}

void CMainApp::OnFileExit() {
    // Closed like the window's own Close, so every page's end runs.
    if (g_hMainWnd)
        g_hMainWnd->close();
}

void CMainApp::OnViewSearch() {
    SendMainPage(kPageSearch);
}

void CMainApp::OnViewResult() {
    SendMainPage(kPageResult);
}

void CMainApp::OnViewCreateDatabase() {
    SendMainPage(kPageCreateDatabase);
}

void CMainApp::OnResultCheck() {
    if (auto* pResult = static_cast<CResult*>(SendMainPage(kGetPageBase + kPageResult)))
        CheckSelectedResult(*pResult);
}
