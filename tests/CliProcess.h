// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "TestTree.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

// What a finished kestrel-cli run left.
struct CliResult {
    int nExit = -1; // the exit status; 128 + n when killed by signal n
    std::string strOut;
    std::string strErr;
};

// Runs the real kestrel-cli executable as its own process, with its data
// folder and home below a test folder, never the user's.
class CliProcess {
public:
    CliProcess();

    // Runs to the end. strShell, when given, is a /bin/sh command line run in
    // front: "$@" there is kestrel-cli with args (for ulimit, traps, pipes).
    CliResult Run(const std::vector<std::string>& args, const std::string& strShell = "");

    // Starts a run in the background; Wait collects it.
    pid_t Start(const std::vector<std::string>& args, const std::string& strShell = "");
    CliResult Wait(pid_t pid);
    // Whether a started run is still going (one that ended stays for Wait).
    bool Running(pid_t pid);
    // Waits until fnDone holds, at most nMs, while the run goes on; false
    // when the run ended (or the time ran out) first.
    bool WaitUntil(pid_t pid, const std::function<bool()>& fnDone, int nMs = 60000);
    // What a started run has written so far on standard output, and on
    // standard error.
    std::string OutputSoFar(pid_t pid) const;
    std::string ErrorsSoFar(pid_t pid) const;

    // Sets a variable for the runs to come; with bAppend a value it has
    // already is kept and strValue added after a ':'.
    void SetEnv(const std::string& strName, const std::string& strValue, bool bAppend = false);
    // Loads the test library that makes directory listings slow or fail;
    // strSettings is its "NAME=value".
    void InjectFaults(const std::string& strSettings);
    // Runs as an ordinary user (uid/gid 65534) when the tests run as root.
    void DropRoot(bool bDrop) { m_bDropRoot = bDrop; }

    std::string DataFolder() const { return m_home.Path("data") + "/kestrel/"; }
    std::string CatalogPath(const std::string& strName) const {
        return DataFolder() + strName + ".mdb";
    }
    const TestTree& Home() const { return m_home; }

private:
    TestTree m_home;
    std::vector<std::string> m_env;
    bool m_bDropRoot = false;
    int m_nRuns = 0;
    std::map<pid_t, int> m_runOfPid;
    std::map<pid_t, int> m_statusOfEnded;
};

// Rows of a catalog file: the value of one SQL query of a single number.
int64_t QueryNumber(const std::string& strCatalog, const std::string& strSql);

// The file names of the hits a search printed (tsv), sorted, separated by
// commas: "a.txt,b.txt".
std::string HitNames(const std::string& strOut);

// The value `kestrel-cli info` printed for strKey ("Complete" of
// "Complete: yes"), or "<missing>".
std::string InfoValue(const std::string& strInfo, const std::string& strKey);

// Runs strProgram with python3, as another program reading or editing the
// catalogs, with args as its arguments; the program is written to a file in
// tree. nExit is its exit status (-1 when it did not run), strOut what it
// wrote on standard output and standard error.
CliResult RunPython(const TestTree& tree, const std::string& strProgram,
                    const std::vector<std::string>& args = {});
