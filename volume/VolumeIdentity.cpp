// SPDX-License-Identifier: GPL-3.0-or-later

#include "volume/VolumeIdentity.h"

#include <algorithm>
#include <blkid.h>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>

namespace {

std::string ProbeValue(blkid_probe probe, const char* pszName) {
    const char* pszValue = nullptr;
    size_t nLength = 0;
    if (blkid_probe_lookup_value(probe, pszName, &pszValue, &nLength) != 0 || !pszValue)
        return {};
    // The length counts the closing NUL.
    std::string strValue(pszValue, nLength);
    while (!strValue.empty() && strValue.back() == '\0')
        strValue.pop_back();
    return strValue;
}

std::string RealPath(const std::string& strPath) {
    char szResolved[PATH_MAX];
    return ::realpath(strPath.c_str(), szResolved) ? std::string(szResolved) : std::string();
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

} // namespace

VolumeIdentity ProbeVolumeIdentity(const std::string& strDevice) {
    VolumeIdentity identity;
    blkid_probe probe = blkid_new_probe_from_filename(strDevice.c_str());
    if (!probe)
        return identity;
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(probe,
                                      BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID | BLKID_SUBLKS_TYPE);
    // Only the file system of the device itself, not a partition table.
    blkid_probe_enable_partitions(probe, 0);
    if (blkid_do_safeprobe(probe) == 0) {
        identity.strFsType = ProbeValue(probe, "TYPE");
        identity.strUuid = ProbeValue(probe, "UUID");
        identity.strLabel = ProbeValue(probe, "LABEL");
    }
    if (const blkid_loff_t nBytes = blkid_probe_get_size(probe); nBytes > 0)
        identity.nDeviceBytes = static_cast<uint64_t>(nBytes);
    blkid_free_probe(probe);
    return identity;
}

VolumeIdentity IdentifyMountSource(const std::string& strSource) {
    VolumeIdentity identity;
    if (strSource.empty() || strSource[0] != '/')
        return identity;
    const std::string strDevice = RealPath(strSource);
    struct stat st {};
    // Only a block device is probed: a mount source that names a file or a
    // FIFO (a FUSE file system may give anything) is never opened.
    if (strDevice.empty() || ::stat(strDevice.c_str(), &st) != 0 || !S_ISBLK(st.st_mode))
        return identity;
    identity = ProbeVolumeIdentity(strDevice);
    if (identity.IsKnown())
        return identity;
    identity.strUuid = DecodeHexEscapes(DiskLinkName("/dev/disk/by-uuid", strDevice));
    identity.strLabel = DecodeHexEscapes(DiskLinkName("/dev/disk/by-label", strDevice));
    return identity;
}

bool IsSameUuid(const std::string& strUuid, const std::string& strOther) {
    return strUuid.size() == strOther.size() &&
           std::equal(strUuid.begin(), strUuid.end(), strOther.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}
