#include "volume/VolumeLocator.h"

#include <sys/stat.h>

namespace {

// The path strPath below strFrom, placed below strTo instead; strPath must
// lie under strFrom.
std::string Rebase(const std::string& strPath, const std::string& strFrom,
                   const std::string& strTo) {
    const std::string strRest = strFrom == "/" ? strPath.substr(1) : strPath.substr(strFrom.size());
    // strRest is empty or, below a folder other than "/", begins with '/'.
    std::string strRelative = !strRest.empty() && strRest[0] == '/' ? strRest.substr(1) : strRest;
    if (strRelative.empty())
        return strTo;
    return strTo == "/" ? "/" + strRelative : strTo + "/" + strRelative;
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

} // namespace

std::string VolumeLocation::FolderNow() const {
    if (!IsPathUnder(strCataloguedRoot, strRoot))
        return strMountPoint;
    return Rebase(strCataloguedRoot, strRoot, strMountPoint);
}

bool VolumeLocation::IsMoved() const {
    return bOnline && match != VolumeMatch::StartDirectory && !strCataloguedMountPoint.empty() &&
           !strMountPoint.empty() && FolderNow() != strCataloguedMountPoint;
}

std::string VolumeLocation::PathNow(const std::string& strStoredPath) const {
    if (!IsMoved() || !IsPathUnder(strStoredPath, strCataloguedMountPoint))
        return strStoredPath;
    return Rebase(strStoredPath, strCataloguedMountPoint, FolderNow());
}

std::string VolumeLocation::StoredPath(const std::string& strPathNow) const {
    const std::string strFolder = FolderNow();
    if (!IsMoved() || !IsPathUnder(strPathNow, strFolder))
        return strPathNow;
    return Rebase(strPathNow, strFolder, strCataloguedMountPoint);
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
    // A catalog made before the folder shown at its mount point was
    // recorded is taken as made through the mount at its catalogued place,
    // whatever folder that shows (the common case: a bind mount still in
    // place), else through a mount of the whole volume.
    const bool bRootKnown = !catalogued.strMountRoot.empty();
    auto atPlace = [&](const MountEntry& mount) {
        return mount.strMountPoint == catalogued.strMountPoint &&
               (!bRootKnown || mount.strRoot == catalogued.strMountRoot);
    };
    auto cataloguedRoot = [&](const MountEntry& mount) {
        return bRootKnown ? catalogued.strMountRoot : atPlace(mount) ? mount.strRoot : "/";
    };
    // A bind mount of a folder shows only what lies below that folder.
    auto shows = [&](const MountEntry& mount) {
        return atPlace(mount) || IsPathUnder(cataloguedRoot(mount), mount.strRoot);
    };
    auto online = [&](const MountEntry& mount, VolumeMatch match) {
        location.bOnline = true;
        location.match = match;
        location.strMountPoint = mount.strMountPoint;
        location.strRoot = mount.strRoot;
        location.strCataloguedRoot = cataloguedRoot(mount);
        location.nDevice = mount.nDevice;
        return location;
    };
    if (catalogued.strUuid.empty() && catalogued.strLabel.empty()) {
        const std::string strStart = info.strStartDir.value_or("");
        if (strStart.empty() || strStart[0] != '/' || !IsDirectory(strStart))
            return location;
        location.bOnline = true;
        location.strMountPoint = catalogued.strMountPoint;
        return location;
    }
    // Of several mounts of the volume, the one at its catalogued place, else
    // the first; a bind mount of one of its folders shows only a part of it.
    const MountEntry* pByUuid = nullptr;
    const MountEntry* pByLabel = nullptr;
    const MountEntry* pUnknownAtPlace = nullptr;
    auto better = [&](const MountEntry* pOld, const MountEntry& mount) {
        return !pOld || (atPlace(mount) && !atPlace(*pOld));
    };
    for (size_t i = 0; i < m_mounts.size(); ++i) {
        const MountEntry& mount = m_mounts[i];
        if (!shows(mount))
            continue;
        const VolumeIdentity& identity = IdentityOf(i);
        const bool bSameFsType =
            catalogued.strFsType.empty() || identity.strFsType == catalogued.strFsType;
        if (!identity.IsKnown()) {
            // Only a volume of the catalogued kind may be the disk that
            // cannot tell itself (a memory file system never is).
            if (atPlace(mount) && bSameFsType && IsShown(mount))
                pUnknownAtPlace = &mount;
            continue;
        }
        if (!catalogued.strUuid.empty() && !identity.strUuid.empty()) {
            if (identity.strUuid == catalogued.strUuid && better(pByUuid, mount) && IsShown(mount))
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
    if (pUnknownAtPlace && IsDirectory(info.strStartDir.value_or("")))
        return online(*pUnknownAtPlace, VolumeMatch::MountPoint);
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
