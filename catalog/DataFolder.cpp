// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalog/DataFolder.h"

#include "catalog/EngineError.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string HomeFolder() {
    const char* pszHome = std::getenv("HOME");
    if (pszHome && *pszHome)
        return pszHome;
    if (const passwd* pEntry = getpwuid(getuid()); pEntry && pEntry->pw_dir)
        return pEntry->pw_dir;
    return "/";
}

void MakeFolders(const std::string& strPath) {
    // Each prefix ending at a '/' is created in turn, like mkdir -p.
    for (size_t nPos = 1; nPos <= strPath.size(); ++nPos) {
        if (nPos < strPath.size() && strPath[nPos] != '/')
            continue;
        const std::string strPrefix = strPath.substr(0, nPos);
        if (::mkdir(strPrefix.c_str(), 0755) != 0 && errno != EEXIST) {
            const int nErr = errno;
            throw EngineError("Cannot create folder '" + strPrefix + "': " + std::strerror(nErr));
        }
    }
    struct stat st {};
    if (::stat(strPath.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw EngineError("'" + strPath + "' is not a folder");
}

} // namespace

std::string DataFolder() {
    std::string strBase;
    const char* pszDataHome = std::getenv("XDG_DATA_HOME");
    // Relative values are to be ignored, so a stray setting cannot scatter catalogs.
    if (pszDataHome && pszDataHome[0] == '/')
        strBase = pszDataHome;
    else
        strBase = HomeFolder() + "/.local/share";
    while (strBase.size() > 1 && strBase.back() == '/')
        strBase.pop_back();
    std::string strFolder = (strBase == "/" ? std::string() : strBase) + "/kestrel";
    MakeFolders(strFolder);
    return strFolder + "/";
}

std::string CatalogNameProblem(const std::string& strFolder, const std::string& strName) {
    if (strName.empty())
        return kMsgEnterName;
    if (strName.find('/') != std::string::npos)
        return kMsgNameHasSlash;
    long nNameMax = ::pathconf(strFolder.c_str(), _PC_NAME_MAX);
    if (nNameMax <= 0)
        nNameMax = NAME_MAX;
    // The longest name the catalog brings: NAME.mdb-journal.
    if (CatalogPathOf("", strName).size() + std::strlen("-journal") > static_cast<size_t>(nNameMax))
        return kMsgNameTooLong;
    return {};
}

std::string CatalogPathOf(const std::string& strFolder, const std::string& strName) {
    return strFolder + strName + ".mdb";
}
