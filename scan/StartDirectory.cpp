// SPDX-License-Identifier: GPL-3.0-or-later

#include "scan/StartDirectory.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string StartDirectoryProblem(const std::string& strStartDir) {
    const std::string strQuoted = "The start directory '" + strStartDir + "' ";
    struct stat st {};
    if (::stat(strStartDir.c_str(), &st) != 0) {
        const int nErr = errno;
        if (nErr == ENOENT || nErr == ENOTDIR)
            return strQuoted + "does not exist";
        return strQuoted + "cannot be read: " + std::strerror(nErr);
    }
    if (!S_ISDIR(st.st_mode))
        return strQuoted + "is not a directory";
    const int fd = ::open(strStartDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        const int nErr = errno;
        return strQuoted + "cannot be read: " + std::strerror(nErr);
    }
    ::close(fd);
    if (::access(strStartDir.c_str(), X_OK) != 0) {
        const int nErr = errno;
        return strQuoted + "cannot be entered: " + std::strerror(nErr);
    }
    if (IsRelativeStartDirectory(AbsoluteStartDirectory(strStartDir)))
        return strQuoted + "cannot be told as an absolute path (was the working directory "
                           "removed?)";
    return {};
}

std::string AbsoluteStartDirectory(const std::string& strStartDir) {
    if (strStartDir.empty() || !IsRelativeStartDirectory(strStartDir))
        return strStartDir;
    char* pszResolved = ::realpath(strStartDir.c_str(), nullptr);
    if (!pszResolved)
        return strStartDir;
    std::string strResolved(pszResolved);
    std::free(pszResolved);
    return strResolved;
}

bool IsRelativeStartDirectory(const std::string& strStartDir) {
    return !strStartDir.empty() && strStartDir[0] != '/';
}
