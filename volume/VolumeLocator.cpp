// SPDX-License-Identifier: GPL-3.0-or-later

#include "volume/VolumeLocator.h"

#include "scan/Paths.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

namespace {

// strPath below strFrom (which holds it) as a path below strTo.
std::string Rebase(const std::string& strPath, const std::string& strFrom,
                   const std::string& strTo) {
    const std::string_view relative = PathBelow(strPath, strFrom);
    if (relative.empty())
        return strTo;
    return (strTo == "/" ? std::string("/") : strTo + "/").append(relative);
}

// A path seen at one mount (mount point, root) as seen at another: through
// the folder of the volume it names. Empty when it lies outside the first
// mount, or the second does not show its folder.
std::string Remount(const std::string& strPath, const std::string& strFromPoint,
                    const std::string& strFromRoot, const std::string& strToPoint,
                    const std::string& strToRoot) {
    if (!IsPathUnder(strPath, strFromPoint))
        return {};
    const std::string strOnVolume = Rebase(strPath, strFromPoint, strFromRoot);
    if (!IsPathUnder(strOnVolume, strToRoot))
        return {};
    return Rebase(strOnVolume, strToRoot, strToPoint);
}

bool IsDirectory(const std::string& strPath) {
    struct stat st {};
    return ::stat(strPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A volume mounted later over the mount point (or over a folder above it)
// hides the mount: its place then shows another device.
bool IsShown(const MountEntry& mount) {
    struct stat st {};
    return ::stat(mount.strMountPoint.c_str(), &st) == 0 && st.st_dev == mount.nDevice;
}

// Whether the file system at the mount has the size the catalog recorded
// (any, when it recorded none): what else there is to tell a disk that says
// nothing of itself from whatever is mounted at its place now (the root file
// system of another machine, when the catalog was made on one).
bool HasSize(const MountEntry& mount, const std::optional<uint64_t>& nSize) {
    if (!nSize)
        return true;
    struct statvfs fs {};
    return ::statvfs(mount.strMountPoint.c_str(), &fs) == 0 &&
           static_cast<uint64_t>(fs.f_blocks) * fs.f_frsize == *nSize;
}

std::string RootOrSlash(const std::string& strRoot) {
    return strRoot.empty() || strRoot[0] != '/' ? std::string("/") : strRoot;
}

} // namespace

bool VolumeLocation::IsMoved() const {
    return bOnline && match != VolumeMatch::StartDirectory && !strCataloguedMountPoint.empty() &&
           !strMountPoint.empty() &&
           (strMountPoint != strCataloguedMountPoint || strMountRoot != strCataloguedMountRoot);
}

std::string VolumeLocation::PathNow(const std::string& strStoredPath) const {
    if (!IsMoved())
        return strStoredPath;
    std::string strNow = Remount(strStoredPath, strCataloguedMountPoint, strCataloguedMountRoot,
                                 strMountPoint, strMountRoot);
    return strNow.empty() ? strStoredPath : strNow;
}

std::string VolumeLocation::StoredPath(const std::string& strPathNow) const {
    if (!IsMoved())
        return strPathNow;
    std::string strStored = Remount(strPathNow, strMountPoint, strMountRoot,
                                    strCataloguedMountPoint, strCataloguedMountRoot);
    return strStored.empty() ? strPathNow : strStored;
}

bool VolumeLocation::LeadsOffVolume(const std::string& strPathNow) const {
    if (!bOnline || match == VolumeMatch::StartDirectory)
        return false;
    struct stat st {};
    return ::stat(strPathNow.c_str(), &st) == 0 && st.st_dev != nDevice;
}

const char* VolumeMatchName(VolumeMatch match) {
    switch (match) {
    case VolumeMatch::Uuid:
        return "uuid";
    case VolumeMatch::Label:
        return "label";
    case VolumeMatch::MountPoint:
        return "mount point";
    case VolumeMatch::StartDirectory:
        break;
    }
    return "start directory";
}

MountedVolumes::MountedVolumes(const std::string& strTable)
    : m_mounts(ReadMountTable(strTable)), m_identities(m_mounts.size()) {}

const VolumeIdentity& MountedVolumes::IdentityOf(size_t nMount) const {
    std::optional<VolumeIdentity>& identity = m_identities[nMount];
    if (!identity) {
        // A device mounted in several places is probed once.
        for (size_t i = 0; i < m_mounts.size() && !identity; ++i)
            if (i != nMount && m_identities[i] && m_mounts[i].nDevice == m_mounts[nMount].nDevice &&
                m_mounts[i].strSource == m_mounts[nMount].strSource)
                identity = m_identities[i];
        if (!identity)
            identity = IdentifyMountSource(m_mounts[nMount].strSource);
        if (identity->strFsType.empty())
            identity->strFsType = m_mounts[nMount].strFsType;
    }
    return *identity;
}

VolumeLocation MountedVolumes::Locate(const CatalogInfo& info) const {
    const VolumeInfo& catalogued = info.volume;
    VolumeLocation location;
    location.strCataloguedMountPoint = catalogued.strMountPoint;
    location.strCataloguedMountRoot = RootOrSlash(catalogued.strMountRoot);
    const std::string strStart = info.strStartDir.value_or("");
    auto online = [&](const MountEntry& mount, VolumeMatch match) {
        location.bOnline = true;
        location.match = match;
        location.strMountPoint = mount.strMountPoint;
        location.strMountRoot = RootOrSlash(mount.strRoot);
        location.nDevice = mount.nDevice;
        // A catalog made before the root was recorded showed what the mount
        // at its place shows now.
        if (catalogued.strMountRoot.empty() && mount.strMountPoint == catalogued.strMountPoint)
            location.strCataloguedMountRoot = location.strMountRoot;
        return location;
    };
    if (catalogued.strUuid.empty() && catalogued.strLabel.empty()) {
        if (strStart.empty() || strStart[0] != '/' || !IsDirectory(strStart))
            return location;
        location.bOnline = true;
        location.strMountPoint = catalogued.strMountPoint;
        location.strMountRoot = location.strCataloguedMountRoot;
        return location;
    }
    // The mount at the catalogued place, showing the catalogued folder (any,
    // for a catalog that recorded none).
    auto atPlace = [&](const MountEntry& mount) {
        return mount.strMountPoint == catalogued.strMountPoint &&
               (catalogued.strMountRoot.empty() ||
                RootOrSlash(mount.strRoot) == location.strCataloguedMountRoot);
    };
    // A mount of the volume serves when it shows the folder of the start
    // directory (a bind mount or a subvolume may show another); of several,
    // the one at the catalogued place, else the one showing the most of the
    // volume, else the first.
    auto shows = [&](const MountEntry& mount) {
        if (catalogued.strMountPoint.empty())
            return mount.strRoot == "/";
        if (atPlace(mount))
            return true;
        // It shows the folder shown at the catalogued place, or at least the
        // start directory.
        const std::string strRoot = RootOrSlash(mount.strRoot);
        return IsPathUnder(location.strCataloguedMountRoot, strRoot) ||
               !Remount(strStart, catalogued.strMountPoint, location.strCataloguedMountRoot,
                        mount.strMountPoint, strRoot)
                    .empty();
    };
    auto rank = [&](const MountEntry& mount) {
        if (atPlace(mount))
            return 0;
        return mount.strRoot == "/" ? 1 : 2;
    };
    auto better = [&](const MountEntry* pOld, const MountEntry& mount) {
        return !pOld || rank(mount) < rank(*pOld);
    };
    const MountEntry* pByUuid = nullptr;
    const MountEntry* pByLabel = nullptr;
    const MountEntry* pUnknownAtPlace = nullptr;
    for (size_t i = 0; i < m_mounts.size(); ++i) {
        const MountEntry& mount = m_mounts[i];
        const bool bAtPlace =
            !catalogued.strMountPoint.empty() && mount.strMountPoint == catalogued.strMountPoint;
        const bool bShows = shows(mount);
        // Devices are probed only for mounts that may be the disk.
        if (!bAtPlace && !bShows)
            continue;
        const VolumeIdentity& identity = IdentityOf(i);
        const bool bSameFsType =
            catalogued.strFsType.empty() || identity.strFsType == catalogued.strFsType;
        if (!identity.IsKnown()) {
            // Only a volume of the catalogued kind may be the disk that
            // cannot tell itself (a memory file system never is).
            if (bAtPlace && bSameFsType && IsShown(mount) && HasSize(mount, catalogued.nSize))
                pUnknownAtPlace = &mount;
            continue;
        }
        if (!bShows)
            continue;
        if (!catalogued.strUuid.empty() && !identity.strUuid.empty()) {
            if (IsSameUuid(identity.strUuid, catalogued.strUuid) && better(pByUuid, mount) &&
                IsShown(mount))
                pByUuid = &mount;
            continue;
        }
        if (!catalogued.strLabel.empty() && identity.strLabel == catalogued.strLabel &&
            bSameFsType && better(pByLabel, mount) && IsShown(mount))
            pByLabel = &mount;
    }
    if (pByUuid)
        return online(*pByUuid, VolumeMatch::Uuid);
    if (pByLabel)
        return online(*pByLabel, VolumeMatch::Label);
    if (pUnknownAtPlace && IsDirectory(strStart)) {
        // Nothing tells whether it is the catalogued volume: its paths are
        // taken as stored.
        online(*pUnknownAtPlace, VolumeMatch::MountPoint);
        location.strMountRoot = location.strCataloguedMountRoot;
        return location;
    }
    return location;
}

std::string VolumeStateText(const VolumeLocation& location) {
    if (!location.bOnline)
        return "offline";
    std::string strText = "online";
    if (!location.strMountPoint.empty())
        strText += " at " + location.strMountPoint;
    switch (location.match) {
    case VolumeMatch::Uuid:
        break;
    case VolumeMatch::Label:
        strText += " (by label and file system: it may be another volume)";
        break;
    case VolumeMatch::MountPoint:
        strText += " (by mount point: the volume there tells no UUID or label)";
        break;
    case VolumeMatch::StartDirectory:
        strText += " (its start directory is there; the catalog names no volume)";
        break;
    }
    return strText;
}

std::string VolumeName(const VolumeInfo& volume) {
    std::string strName;
    if (!volume.strLabel.empty())
        strName += "label '" + volume.strLabel + "'";
    if (!volume.strUuid.empty())
        strName += (strName.empty() ? "UUID " : ", UUID ") + volume.strUuid;
    return strName;
}

std::string AbsentVolumeText(const std::string& strPath, const std::string& strCatalog,
                             const CatalogInfo& info) {
    const std::string strVolume = VolumeName(info.volume);
    std::string strText =
        "'" + strPath + "' is on a disk that is not plugged in: " +
        (strVolume.empty() ? std::string("its start directory is not there") : strVolume) +
        " (catalog '" + strCatalog + "')";
    if (info.strNote && !info.strNote->empty())
        strText += ". Note: " + *info.strNote;
    return strText;
}

std::string OffVolumeText(const std::string& strStartDir, const std::string& strCatalog,
                          const CatalogInfo& info, const VolumeLocation& location) {
    const std::string strVolume = VolumeName(info.volume);
    const std::string strWhy =
        location.strCataloguedMountPoint.empty()
            ? "a link on its way leads elsewhere, or the catalog records no mount point"
            : "a link on its way, or the mount point the catalog records ('" +
                  location.strCataloguedMountPoint + "'), leads elsewhere";
    return "'" + strStartDir + "' does not lie on the volume of catalog '" + strCatalog + "'" +
           (strVolume.empty() ? std::string() : " (" + strVolume + ")") +
           ", which is mounted on '" + location.strMountPoint + "' now: " + strWhy;
}
