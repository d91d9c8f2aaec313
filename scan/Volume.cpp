#include "scan/Volume.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <vector>

namespace {

bool IsOctal(char c) {
    return c >= '0' && c <= '7';
}

// mountinfo writes blanks and the like as octal escapes: "\040".
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

// udev writes unusual characters of a label as hexadecimal escapes: "\x20".
std::string DecodeHexEscapes(const std::string& strText) {
    std::string strDecoded;
    for (size_t i = 0; i < strText.size(); ++i) {
        if (strText[i] == '\\' && i + 3 < strText.size() && strText[i + 1] == 'x' &&
            std::isxdigit(static_cast<unsigned char>(strText[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(strText[i + 3]))) {
            strDecoded += static_cast<char>(std::stoi(strText.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            strDecoded += strText[i];
        }
    }
    return strDecoded;
}

std::string RealPath(const std::string& strPath) {
    char szResolved[PATH_MAX];
    return ::realpath(strPath.c_str(), szResolved) ? std::string(szResolved) : std::string();
}

// The name in a /dev/disk folder whose link leads to strDevice.
std::string DiskLinkName(const char* pszFolder, const std::string& strDevice) {
    std::string strFound;
    DIR* pDir = ::opendir(pszFolder);
    if (!pDir)
        return strFound;
    while (const dirent* pEntry = ::readdir(pDir)) {
        if (pEntry->d_name[0] == '.')
            continue;
        if (RealPath(std::string(pszFolder) + "/" + pEntry->d_name) == strDevice) {
            strFound = pEntry->d_name;
            break;
        }
    }
    ::closedir(pDir);
    return strFound;
}

bool IsUnder(const std::string& strPath, const std::string& strMountPoint) {
    if (strMountPoint == "/")
        return true;
    return strPath.compare(0, strMountPoint.size(), strMountPoint) == 0 &&
           (strPath.size() == strMountPoint.size() || strPath[strMountPoint.size()] == '/');
}

} // namespace

VolumeInfo DescribeVolume(const std::string& strPath) {
    VolumeInfo volume;
    struct stat st {};
    if (::stat(strPath.c_str(), &st) != 0)
        return volume;
    const std::string strDevice =
        std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
    const std::string strReal = RealPath(strPath);
    std::ifstream mountinfo("/proc/self/mountinfo");
    std::string strLine, strSource;
    while (std::getline(mountinfo, strLine)) {
        // ID PARENT MAJOR:MINOR ROOT MOUNTPOINT OPTIONS [OPTIONAL...] - TYPE SOURCE SUPER
        std::istringstream fields(strLine);
        std::string strId, strParent, strMajorMinor, strRoot, strMountPoint;
        fields >> strId >> strParent >> strMajorMinor >> strRoot >> strMountPoint;
        if (strMajorMinor != strDevice)
            continue;
        strMountPoint = DecodeOctalEscapes(strMountPoint);
        // Of the mounts of this device (bind mounts share one), the one
        // deepest above the directory.
        if (!strReal.empty() && !IsUnder(strReal, strMountPoint))
            continue;
        if (strMountPoint.size() < volume.strMountPoint.size())
            continue;
        std::string strField;
        while (fields >> strField && strField != "-") {
        }
        std::string strType, strMountSource;
        fields >> strType >> strMountSource;
        volume.strMountPoint = strMountPoint;
        volume.strFsType = strType;
        strSource = DecodeOctalEscapes(strMountSource);
    }
    if (!strSource.empty() && strSource[0] == '/') {
        const std::string strDev = RealPath(strSource);
        if (!strDev.empty()) {
            volume.strUuid = DecodeHexEscapes(DiskLinkName("/dev/disk/by-uuid", strDev));
            volume.strLabel = DecodeHexEscapes(DiskLinkName("/dev/disk/by-label", strDev));
        }
    }
    struct statvfs fs {};
    if (::statvfs(strPath.c_str(), &fs) == 0) {
        volume.nSize = static_cast<uint64_t>(fs.f_blocks) * fs.f_frsize;
        volume.nFree = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
    }
    return volume;
}
