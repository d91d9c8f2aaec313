#pragma once

#include "catalog/CatalogInfo.h"

#include <string>

// The volume the directory strPath lies on: its file system type and mount
// point (from /proc/self/mountinfo), its UUID and label (from
// /dev/disk/by-uuid and /dev/disk/by-label) where the system knows them, and
// its size and free space. What cannot be found stays empty.
VolumeInfo DescribeVolume(const std::string& strPath);
