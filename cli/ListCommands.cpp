// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalog/DataFolder.h"
#include "catalog/EngineError.h"
#include "cli/CommandLine.h"
#include "cli/CommandTable.h"
#include "cli/JobRunner.h"
#include "cli/Output.h"
#include "search/DatabaseList.h"
#include "search/RecordWriter.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

bool AskYes(const std::string& strQuestion) {
    std::fprintf(stderr, "%s [y/N] ", strQuestion.c_str());
    std::fflush(stderr);
    char answer[16] = {};
    if (!std::fgets(answer, sizeof answer, stdin))
        return false;
    return answer[0] == 'y' || answer[0] == 'Y';
}

} // namespace

int RunListCommand(const CommandLine& cmd) {
    if (!cmd.operands.empty())
        return Fail(kExitUsage, "list takes no arguments");
    OutputWriter out;
    std::string strLine;
    for (const std::string& strEntry : LoadDatabaseList(DataFolder())) {
        strLine.clear();
        AppendTsvField(strLine, strEntry);
        strLine += '\n';
        out.Write(strLine);
    }
    out.Flush();
    return kExitOk;
}

int RunAddCommand(const CommandLine& cmd) {
    if (cmd.operands.size() != 1 || cmd.operands[0].empty())
        return Fail(kExitUsage, "add takes one PATH");
    std::string strPath = cmd.operands[0];
    if (strPath[0] != '/') {
        char szCwd[4096];
        if (!::getcwd(szCwd, sizeof szCwd))
            return Fail(kExitFailed, "cannot tell the current folder");
        strPath = std::string(szCwd) + "/" + strPath;
    }
    const std::string strApp = DataFolder();
    switch (AddDatabase(strApp, strPath, LoadDatabaseList(strApp))) {
    case AddResult::Added:
        return kExitOk;
    case AddResult::NotValid:
        PrintError(kMsgNotValidDatabase);
        break;
    case AddResult::AlreadyListed:
        PrintError(kMsgAlreadyInList);
        break;
    case AddResult::HasLineBreak:
        PrintError(kMsgPathHasLineBreak);
        break;
    case AddResult::ListNotWritten:
        PrintError("Cannot write " + strApp + kListFileName);
        break;
    }
    return kExitFailed;
}

int RunDeleteCommand(const CommandLine& cmd) {
    if (cmd.operands.size() != 1)
        return Fail(kExitUsage, "delete takes one ENTRY");
    const std::string& strEntry = cmd.operands[0];
    const std::string strApp = DataFolder();
    const std::vector<std::string> entries = LoadDatabaseList(strApp);
    if (std::find(entries.begin(), entries.end(), strEntry) == entries.end())
        return Fail(kExitFailed, "No database '" + strEntry + "' in the list");
    if (!cmd.Has("--yes")) {
        const std::string strQuestion = DeleteQuestion(strEntry);
        if (!::isatty(STDIN_FILENO))
            return Fail(kExitFailed, strQuestion + " Not asked without a terminal: add --yes");
        if (!AskYes(strQuestion))
            return kExitFailed;
    }
    if (const std::string strProblem = DeleteDatabase(
            strApp, strEntry, WaitForOtherWriter(CatalogPathOfEntry(strApp, strEntry)));
        !strProblem.empty())
        return Fail(kExitFailed, strProblem);
    return kExitOk;
}
