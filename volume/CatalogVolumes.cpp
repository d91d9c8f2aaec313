// SPDX-License-Identifier: GPL-3.0-or-later

#include "volume/CatalogVolumes.h"

#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "search/CatalogOpen.h"

#include <map>

CatalogVolume LocateCatalogVolume(const std::string& strAppPath, const std::string& strEntry,
                                  const MountedVolumes& mounted) {
    CatalogVolume volume;
    volume.strEntry = strEntry;
    try {
        Database database;
        volume.strPath = OpenCatalogForSearch(database, strAppPath, strEntry);
        volume.info = ReadCatalogInfo(database, false);
    } catch (const EngineError& error) {
        volume.strError = error.Describe();
        return volume;
    }
    volume.location = mounted.Locate(volume.info);
    return volume;
}

std::vector<CatalogVolume> LocateCatalogVolumes(const std::string& strAppPath,
                                                const std::vector<std::string>& entries,
                                                const MountedVolumes& mounted) {
    std::vector<CatalogVolume> volumes;
    volumes.reserve(entries.size());
    for (const std::string& strEntry : entries)
        volumes.push_back(LocateCatalogVolume(strAppPath, strEntry, mounted));
    return volumes;
}

PathOnDisk LocatePath(const CatalogVolume& volume, const std::string& strStoredPath) {
    PathOnDisk path;
    if (!volume.strError.empty() || volume.location.bOnline) {
        path.strPathNow = volume.location.PathNow(strStoredPath);
        return path;
    }
    // A catalog that names no volume cannot tell a missing disk from a
    // missing file: the path is looked at as stored.
    if (volume.info.volume.strUuid.empty() && volume.info.volume.strLabel.empty()) {
        path.strPathNow = strStoredPath;
        return path;
    }
    path.strAbsent = AbsentVolumeText(strStoredPath, volume.strEntry, volume.info);
    return path;
}

PathOnDisk LocateCataloguedPath(const std::string& strAppPath, const std::string& strEntry,
                                const std::string& strStoredPath) {
    return LocatePath(LocateCatalogVolume(strAppPath, strEntry, MountedVolumes()), strStoredPath);
}

VolumeChanges CompareVolumes(const std::vector<CatalogVolume>& before,
                             const std::vector<CatalogVolume>& after) {
    VolumeChanges changes;
    std::map<std::string, const CatalogVolume*> earlier;
    for (const CatalogVolume& volume : before)
        if (volume.strError.empty())
            earlier.emplace(volume.strEntry, &volume);
    std::map<std::string, const CatalogVolume*> later;
    for (const CatalogVolume& volume : after) {
        if (!volume.strError.empty())
            continue;
        later.emplace(volume.strEntry, &volume);
        const auto it = earlier.find(volume.strEntry);
        // A catalog new to the list says nothing of its disk being plugged in.
        if (it == earlier.end() || !volume.location.bOnline)
            continue;
        const VolumeLocation& was = it->second->location;
        if (!was.bOnline || was.strMountPoint != volume.location.strMountPoint)
            changes.appeared.push_back(&volume);
    }
    for (const CatalogVolume& volume : before) {
        if (!volume.strError.empty() || !volume.location.bOnline)
            continue;
        const auto it = later.find(volume.strEntry);
        if (it != later.end() && !it->second->location.bOnline)
            changes.disappeared.push_back(&volume);
    }
    return changes;
}
