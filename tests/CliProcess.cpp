// SPDX-License-Identifier: GPL-3.0-or-later

#include "CliProcess.h"

#include "catalog/Database.h"
#include "catalog/ResultSet.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

CliProcess::CliProcess()
    : m_env{"XDG_DATA_HOME=" + m_home.Path("data"), "XDG_CONFIG_HOME=" + m_home.Path("config"),
            "HOME=" + m_home.Path("home"), "PATH=/usr/bin:/bin"} {
    // Runs dropped to an ordinary user must still reach the test's folders.
    ::chmod(m_home.Root().c_str(), 0777);
    // A sanitized build's settings go along, so a finding in the command
    // ends it with the sanitizer's own status, not one the test expects.
    for (const char* pszName : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (const char* pszValue = std::getenv(pszName))
            m_env.push_back(std::string(pszName) + "=" + pszValue);
    }
}

void CliProcess::SetEnv(const std::string& strName, const std::string& strValue, bool bAppend) {
    for (std::string& strVar : m_env) {
        if (strVar.compare(0, strName.size() + 1, strName + "=") == 0) {
            strVar = bAppend ? strVar + ":" + strValue : strName + "=" + strValue;
            return;
        }
    }
    m_env.push_back(strName + "=" + strValue);
}

void CliProcess::InjectFaults(const std::string& strSettings) {
    SetEnv("LD_PRELOAD", KESTREL_FAULT_LIBRARY);
    // A sanitizer's runtime wants to be loaded first; the test library
    // changes nothing it watches.
    SetEnv("ASAN_OPTIONS", "verify_asan_link_order=0", true);
    const size_t nEqual = strSettings.find('=');
    SetEnv(strSettings.substr(0, nEqual), strSettings.substr(nEqual + 1));
}

pid_t CliProcess::Start(const std::vector<std::string>& args, const std::string& strShell) {
    const int nRun = ++m_nRuns;
    std::vector<std::string> argv;
    if (!strShell.empty())
        argv = {"/bin/sh", "-c", strShell, "sh", KESTREL_CLI_PATH};
    else
        argv = {KESTREL_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argp;
    for (std::string& strArg : argv)
        argp.push_back(strArg.data());
    argp.push_back(nullptr);
    std::vector<std::string> env = m_env;
    std::vector<char*> envp;
    for (std::string& strVar : env)
        envp.push_back(strVar.data());
    envp.push_back(nullptr);
    const std::string strOut = m_home.Path("stdout." + std::to_string(nRun));
    const std::string strErr = m_home.Path("stderr." + std::to_string(nRun));
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(strOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const int err = ::open(strErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
            ::dup2(err, 2) < 0)
            ::_exit(120);
        if (m_bDropRoot && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(121);
        ::execve(argp[0], argp.data(), envp.data());
        ::_exit(127);
    }
    m_runOfPid[pid] = nRun;
    return pid;
}

bool CliProcess::Running(pid_t pid) {
    if (m_statusOfEnded.count(pid))
        return false;
    int nStatus = 0;
    if (::waitpid(pid, &nStatus, WNOHANG) != pid)
        return true;
    m_statusOfEnded[pid] = nStatus;
    return false;
}

bool CliProcess::WaitUntil(pid_t pid, const std::function<bool()>& fnDone, int nMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
    while (!fnDone()) {
        if (!Running(pid) || std::chrono::steady_clock::now() > deadline)
            return false;
        ::usleep(1000);
    }
    return true;
}

std::string CliProcess::OutputSoFar(pid_t pid) const {
    const auto it = m_runOfPid.find(pid);
    return it == m_runOfPid.end() ? std::string()
                                  : ReadFile(m_home.Path("stdout." + std::to_string(it->second)));
}

std::string CliProcess::ErrorsSoFar(pid_t pid) const {
    const auto it = m_runOfPid.find(pid);
    return it == m_runOfPid.end() ? std::string()
                                  : ReadFile(m_home.Path("stderr." + std::to_string(it->second)));
}

CliResult CliProcess::Wait(pid_t pid) {
    CliResult result;
    int nStatus = 0;
    if (const auto it = m_statusOfEnded.find(pid); it != m_statusOfEnded.end()) {
        nStatus = it->second;
        m_statusOfEnded.erase(it);
    } else {
        while (::waitpid(pid, &nStatus, 0) < 0 && errno == EINTR) {
        }
    }
    result.nExit = WIFEXITED(nStatus)     ? WEXITSTATUS(nStatus)
                   : WIFSIGNALED(nStatus) ? 128 + WTERMSIG(nStatus)
                                          : -1;
    const std::string strRun = std::to_string(m_runOfPid[pid]);
    m_runOfPid.erase(pid);
    result.strOut = ReadFile(m_home.Path("stdout." + strRun));
    result.strErr = ReadFile(m_home.Path("stderr." + strRun));
    return result;
}

CliResult CliProcess::Run(const std::vector<std::string>& args, const std::string& strShell) {
    return Wait(Start(args, strShell));
}

int64_t QueryNumber(const std::string& strCatalog, const std::string& strSql) {
    Database db;
    db.Open(strCatalog, Database::OpenMode::ReadOnly);
    ResultSet rows(db.Prepare(strSql));
    return rows.GetInt64(0);
}

std::string InfoValue(const std::string& strInfo, const std::string& strKey) {
    const size_t nPos = strInfo.find("\n" + strKey + ": ");
    if (nPos == std::string::npos)
        return "<missing>";
    const size_t nBegin = nPos + strKey.size() + 3;
    return strInfo.substr(nBegin, strInfo.find('\n', nBegin) - nBegin);
}

std::string HitNames(const std::string& strOut) {
    std::vector<std::string> found;
    for (size_t nPos = 0; nPos < strOut.size();) {
        const size_t nEnd = strOut.find('\n', nPos);
        const std::string strPath = strOut.substr(nPos, strOut.find('\t', nPos) - nPos);
        found.push_back(strPath.substr(strPath.rfind('/') + 1));
        nPos = nEnd == std::string::npos ? strOut.size() : nEnd + 1;
    }
    std::sort(found.begin(), found.end());
    std::string strNames;
    for (const std::string& strName : found)
        strNames += (strNames.empty() ? "" : ",") + strName;
    return strNames;
}

CliResult RunPython(const TestTree& tree, const std::string& strProgram,
                    const std::vector<std::string>& args) {
    static int nPrograms = 0;
    const std::string strName = Concat({"program", std::to_string(++nPrograms), ".py"});
    tree.WriteFile(strName, strProgram);
    std::string strCommand = "python3 '" + tree.Path(strName) + "'";
    for (const std::string& strArg : args) {
        strCommand += " '";
        for (const char c : strArg)
            strCommand += c == '\'' ? std::string("'\\''") : std::string(1, c);
        strCommand += "'";
    }
    CliResult result;
    FILE* pPipe = ::popen((strCommand + " 2>&1").c_str(), "r");
    if (!pPipe)
        return result;
    char buffer[4096];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pPipe))
        result.strOut.append(buffer, n);
    const int nStatus = ::pclose(pPipe);
    result.nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    return result;
}
