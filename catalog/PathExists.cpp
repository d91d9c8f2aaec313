// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalog/PathExists.h"

#include <sys/stat.h>

bool PathExists(const std::string& strPath, bool bFollowLinks) {
    struct stat st {};
    return (bFollowLinks ? ::stat(strPath.c_str(), &st) : ::lstat(strPath.c_str(), &st)) == 0;
}

bool IsRegularFile(const std::string& strPath) {
    struct stat st {};
    return ::stat(strPath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
