// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "catalog/CatalogInfo.h"

#include <string>

// The volume the directory strPath lies on: its file system type, mount
// point and the folder of it shown there (from the mount table), its UUID
// and label (read from the device itself, else from /dev/disk/by-uuid and
// /dev/disk/by-label where the system keeps them), and its size and free
// space. What cannot be found stays empty.
VolumeInfo DescribeVolume(const std::string& strPath);
