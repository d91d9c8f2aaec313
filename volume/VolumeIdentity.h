// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What a volume says of itself in its superblock.
struct VolumeIdentity {
    std::string strFsType; // "ext4", "xfs", "vfat"
    std::string strUuid;   // as blkid writes it: "0b3c...-..." or "1A2B-3C4D" on FAT
    std::string strLabel;
    std::optional<uint64_t> nDeviceBytes; // the size of the device or image probed

    bool IsKnown() const { return !strUuid.empty() || !strLabel.empty(); }
};

// Reads the identity of the file system on the block device (or image
// file) strDevice through libblkid, without mounting it. Empty when it
// cannot be opened (no permission), holds no file system libblkid knows,
// or is ambiguous.
VolumeIdentity ProbeVolumeIdentity(const std::string& strDevice);

// The identity of a mount's source: probed when it is a block device this
// process may read, else from the links udev keeps in /dev/disk/by-uuid and
// /dev/disk/by-label (readable by every user where they exist). Empty for a
// source that is no device ("tmpfs", "server:/export") or tells nothing.
VolumeIdentity IdentifyMountSource(const std::string& strSource);

// True when two UUIDs name the same volume: equal but for the case of their
// hexadecimal digits ("1A2B-3C4D" is "1a2b-3c4d"), which programs write
// differently.
bool IsSameUuid(const std::string& strUuid, const std::string& strOther);
