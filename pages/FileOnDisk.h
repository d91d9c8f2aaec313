// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <optional>
#include <string>

class QWidget;

// Where a path the catalog strEntry stores is on the disk now: below the
// mount point its volume has now (see LocateCataloguedPath). When the volume
// is not mounted, a warning captioned strCaption says which disk to fetch
// (its label or UUID, the catalog and its note), and the result is empty. A
// catalog that names no volume, or cannot be read, gives the path as stored.
std::optional<std::string> FileOnDisk(QWidget* pOwner, const std::string& strEntry,
                                      const std::string& strStoredPath,
                                      const std::string& strCaption);
