// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "catalog/CatalogInfo.h"
#include "volume/VolumeLocator.h"

#include <string>
#include <vector>

// A listed catalog and where its volume is now.
struct CatalogVolume {
    std::string strEntry;    // the catalog list entry
    std::string strPath;     // its catalog file
    CatalogInfo info;        // what it records of itself (no totals derived)
    VolumeLocation location; // where its volume is now
    std::string strError;    // why it could not be read; then the rest is empty
};

// Reads each entry's catalog (read-only) and locates its volume among
// mounted. A catalog that cannot be read has its reason in strError.
std::vector<CatalogVolume> LocateCatalogVolumes(const std::string& strAppPath,
                                                const std::vector<std::string>& entries,
                                                const MountedVolumes& mounted);

// Where one catalog's volume is now, read from its open database.
CatalogVolume LocateCatalogVolume(const std::string& strAppPath, const std::string& strEntry,
                                  const MountedVolumes& mounted);

// Where a path the catalog stores is on the disk now: strPathNow is empty
// when the catalog's volume is offline, and strAbsent then says which disk
// to fetch (see AbsentVolumeText). A catalog that could not be read, or
// names no volume, gives the stored path as it is.
struct PathOnDisk {
    std::string strPathNow;
    std::string strAbsent;
};
PathOnDisk LocatePath(const CatalogVolume& volume, const std::string& strStoredPath);

// LocatePath of the entry's catalog, with the mount table as it is now.
PathOnDisk LocateCataloguedPath(const std::string& strAppPath, const std::string& strEntry,
                                const std::string& strStoredPath);

// What changed between two readings of the same entries: the catalogs whose
// volume came online (or moved to another mount point) and those whose
// volume went away, each in list order. Catalogs that could not be read in
// either reading are left out.
struct VolumeChanges {
    std::vector<const CatalogVolume*> appeared;
    std::vector<const CatalogVolume*> disappeared; // point into before
};
VolumeChanges CompareVolumes(const std::vector<CatalogVolume>& before,
                             const std::vector<CatalogVolume>& after);
