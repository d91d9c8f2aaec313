// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "catalog/CatalogInfo.h"
#include "volume/MountTable.h"
#include "volume/VolumeIdentity.h"

#include <optional>
#include <string>
#include <vector>

// How a catalogued volume was recognised among the mounted ones, strongest
// first.
enum class VolumeMatch {
    Uuid,           // the same UUID
    Label,          // the same label and file system type (the catalog or the
                    // mount knows no UUID): another volume may share them
    MountPoint,     // the catalogued mount point holds a volume of the catalogued
                    // file system and size that tells
                    // nothing of itself (its device cannot be read)
    StartDirectory, // the catalog knows no volume: its start directory is there
};

// Where a catalogued volume is now. A path on a volume is told by its mount
// point and the folder of the volume shown there (its root: "/", or a bind
// mount's or btrfs subvolume's folder, "/@home").
struct VolumeLocation {
    bool bOnline = false;
    VolumeMatch match = VolumeMatch::StartDirectory; // when online
    std::string strMountPoint;                       // where it is mounted now, when online
    std::string strMountRoot = "/";                  // the volume's folder shown there
    std::string strCataloguedMountPoint;             // where it was when catalogued; may be empty
    std::string strCataloguedMountRoot = "/";
    // The device of the mount it was found at, when recognised by what it
    // says of itself or by its mount point.
    dev_t nDevice = 0;

    // True when it is mounted, at another place (or showing another folder
    // of it) than when it was catalogued.
    bool IsMoved() const;
    // The path a stored path names now: the same place on the volume, below
    // where it is mounted now, when the volume moved; else the path as stored.
    std::string PathNow(const std::string& strStoredPath) const;
    // The stored path of a path as it is now: PathNow undone.
    std::string StoredPath(const std::string& strPathNow) const;
    // True when the volume was recognised by what it says of itself or by
    // its mount point, and strPathNow (links followed) is on another
    // device: a link on its way leads off the volume, or the catalog records
    // a mount point its paths do not lie below. False when it is not there.
    bool LeadsOffVolume(const std::string& strPathNow) const;
};

// "uuid", "label", "mount point", "start directory": how volumes and
// JSON records name a match.
const char* VolumeMatchName(VolumeMatch match);

// The volumes mounted now, read once from the mount table; each device's
// identity is probed the first time a catalog asks for it.
class MountedVolumes {
public:
    // Reads the mount table of this process (strTable: another file of that form).
    explicit MountedVolumes(const std::string& strTable = "/proc/self/mountinfo");

    // Where the volume a catalog describes is now. A catalog that knows its
    // volume's UUID or label is looked for by them wherever it is mounted
    // (not where another volume mounted over it hides it, nor where a bind
    // mount shows only a folder of it that the catalog does not lie in);
    // one that knows neither is online when its start directory is there.
    VolumeLocation Locate(const CatalogInfo& info) const;

    const std::vector<MountEntry>& Mounts() const { return m_mounts; }

private:
    const VolumeIdentity& IdentityOf(size_t nMount) const;

    std::vector<MountEntry> m_mounts;
    mutable std::vector<std::optional<VolumeIdentity>> m_identities;
};

// "online at /mnt/backup", "offline", with how weakly the volume was
// recognised when not by UUID: "online at /mnt/backup (by label and file
// system: it may be another volume)".
std::string VolumeStateText(const VolumeLocation& location);

// How people are told a volume: "label 'BACKUP', UUID 1234-ABCD", or empty
// when the catalog knows neither.
std::string VolumeName(const VolumeInfo& volume);

// What to say of a path on a volume that is not mounted: which disk to
// fetch, and the catalog's note. "'/media/BACKUP/a.jpg' is on a disk that is
// not plugged in: label 'BACKUP', UUID 1234-ABCD (catalog 'Photos'). Note:
// shelf 3, blue box".
std::string AbsentVolumeText(const std::string& strPath, const std::string& strCatalog,
                             const CatalogInfo& info);

// What to say of a start directory that leads off its volume (see
// LeadsOffVolume): "'/home/anna/disk/photos' does not lie on the volume of
// catalog 'Photos' (label 'BACKUP', UUID 1234-ABCD), which is mounted on
// '/mnt/backup' now: a link on its way, or the mount point the catalog
// records ('/media/anna/BACKUP'), leads elsewhere".
std::string OffVolumeText(const std::string& strStartDir, const std::string& strCatalog,
                          const CatalogInfo& info, const VolumeLocation& location);
