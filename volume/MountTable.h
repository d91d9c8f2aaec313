// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// One line of the mount table: a file system mounted at strMountPoint,
// showing its folder strRoot there (not "/" for a bind mount of a folder).
struct MountEntry {
    dev_t nDevice = 0;         // the st_dev of every entry below the mount point
    std::string strRoot;       // the folder of the file system shown at the mount point
    std::string strMountPoint; // where it is mounted
    std::string strFsType;     // "ext4", "vfat", "tmpfs"
    std::string strSource;     // "/dev/sdb1", "tmpfs", "server:/export"
};

// The mount table of this process, as /proc/self/mountinfo tells it, in its
// order (a later mount over an earlier one comes after it); empty when it
// cannot be read. strTable reads another file of that form.
std::vector<MountEntry> ReadMountTable(const std::string& strTable = "/proc/self/mountinfo");

// The mount that holds the path strRealPath (links resolved): the deepest
// of those on device nDevice whose mount point lies above it; null when none
// does. Points into mounts.
const MountEntry* MountHolding(const std::vector<MountEntry>& mounts, dev_t nDevice,
                               const std::string& strRealPath);

// True when strPath is strFolder or lies below it ("/" holds every path).
bool IsPathUnder(const std::string& strPath, const std::string& strFolder);
