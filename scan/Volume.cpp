// SPDX-License-Identifier: GPL-3.0-or-later

#include "scan/Volume.h"

#include "volume/MountTable.h"
#include "volume/VolumeIdentity.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/statvfs.h>

VolumeInfo DescribeVolume(const std::string& strPath) {
    VolumeInfo volume;
    struct stat st {};
    if (::stat(strPath.c_str(), &st) != 0)
        return volume;
    char szReal[PATH_MAX];
    const std::string strReal = ::realpath(strPath.c_str(), szReal) ? szReal : "";
    const std::vector<MountEntry> mounts = ReadMountTable();
    if (const MountEntry* pMount = MountHolding(mounts, st.st_dev, strReal)) {
        volume.strMountPoint = pMount->strMountPoint;
        volume.strMountRoot = pMount->strRoot;
        volume.strFsType = pMount->strFsType;
        const VolumeIdentity identity = IdentifyMountSource(pMount->strSource);
        volume.strUuid = identity.strUuid;
        volume.strLabel = identity.strLabel;
    }
    struct statvfs fs {};
    if (::statvfs(strPath.c_str(), &fs) == 0) {
        volume.nSize = static_cast<uint64_t>(fs.f_blocks) * fs.f_frsize;
        volume.nFree = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
    }
    return volume;
}
