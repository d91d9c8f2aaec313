// SPDX-License-Identifier: GPL-3.0-or-later

#include "volume/MountTable.h"

#include <fstream>
#include <sstream>
#include <sys/sysmacros.h>

namespace {

bool IsOctal(char c) {
    return c >= '0' && c <= '7';
}

// mountinfo writes blanks, tabs, newlines and backslashes of its fields as
// octal escapes: "\040".
std::string DecodeOctalEscapes(const std::string& strText) {
    std::string strDecoded;
    for (size_t i = 0; i < strText.size(); ++i) {
        if (strText[i] == '\\' && i + 3 < strText.size() && IsOctal(strText[i + 1]) &&
            IsOctal(strText[i + 2]) && IsOctal(strText[i + 3])) {
            strDecoded += static_cast<char>((strText[i + 1] - '0') * 64 +
                                            (strText[i + 2] - '0') * 8 + (strText[i + 3] - '0'));
            i += 3;
        } else {
            strDecoded += strText[i];
        }
    }
    return strDecoded;
}

bool ParseDevice(const std::string& strText, dev_t& nDevice) {
    unsigned nMajor = 0, nMinor = 0;
    char cColon = 0;
    std::istringstream in(strText);
    if (!(in >> nMajor >> cColon >> nMinor) || cColon != ':')
        return false;
    nDevice = makedev(nMajor, nMinor);
    return true;
}

} // namespace

std::vector<MountEntry> ReadMountTable(const std::string& strTable) {
    std::vector<MountEntry> mounts;
    std::ifstream table(strTable);
    std::string strLine;
    while (std::getline(table, strLine)) {
        // ID PARENT MAJOR:MINOR ROOT MOUNTPOINT OPTIONS [OPTIONAL...] - TYPE SOURCE SUPER
        std::istringstream fields(strLine);
        std::string strId, strParent, strDevice, strRoot, strMountPoint, strField;
        if (!(fields >> strId >> strParent >> strDevice >> strRoot >> strMountPoint))
            continue;
        MountEntry mount;
        if (!ParseDevice(strDevice, mount.nDevice))
            continue;
        while (fields >> strField && strField != "-") {
        }
        std::string strType, strSource;
        if (!(fields >> strType >> strSource))
            continue;
        mount.strRoot = DecodeOctalEscapes(strRoot);
        mount.strMountPoint = DecodeOctalEscapes(strMountPoint);
        mount.strFsType = DecodeOctalEscapes(strType);
        mount.strSource = DecodeOctalEscapes(strSource);
        mounts.push_back(std::move(mount));
    }
    return mounts;
}

bool IsPathUnder(const std::string& strPath, const std::string& strFolder) {
    if (strFolder == "/")
        return !strPath.empty() && strPath[0] == '/';
    return strPath.compare(0, strFolder.size(), strFolder) == 0 &&
           (strPath.size() == strFolder.size() || strPath[strFolder.size()] == '/');
}

const MountEntry* MountHolding(const std::vector<MountEntry>& mounts, dev_t nDevice,
                               const std::string& strRealPath) {
    const MountEntry* pFound = nullptr;
    for (const MountEntry& mount : mounts) {
        if (mount.nDevice != nDevice)
            continue;
        // Of the mounts of this device (bind mounts share one), the one
        // deepest above the path; of equal ones the later, which hides the
        // earlier.
        if (!strRealPath.empty() && !IsPathUnder(strRealPath, mount.strMountPoint))
            continue;
        if (pFound && mount.strMountPoint.size() < pFound->strMountPoint.size())
            continue;
        pFound = &mount;
    }
    return pFound;
}
