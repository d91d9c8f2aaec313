// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QObject>
#include <string>

// The application: starts the main window and carries out the menu commands.
class CMainApp : public QObject {
    Q_OBJECT

public:
    // Needs the QApplication to exist. Finds the help page next to the program.
    CMainApp();

    // Runs the main window modally; returns when it is closed (also by
    // File > Exit). The result is the program's exit status.
    int InitInstance();

    // Carries out a menu command; an engine error it raises is shown.
    void OnCommand(int nCommandId);

    void OnHelpHelp();
    void OnHelpAbout();
    void OnFileAddDatabase();
    void OnFileExit();
    void OnViewSearch();
    void OnViewResult();
    void OnViewCreateDatabase();
    void OnResultCheck();

    // The help page: help/kestrel.htm next to the program (the build tree),
    // else share/kestrel/help/kestrel.htm beside the program's bin folder (an
    // installation). The first of them when neither exists.
    static std::string FindHelpFile(const std::string& strProgramDir);

    std::string m_strHelpFile;
};
