// SPDX-License-Identifier: GPL-3.0-or-later

#include "pages/FileOnDisk.h"

#include "app/Desktop.h"
#include "app/Globals.h"
#include "volume/CatalogVolumes.h"

std::optional<std::string> FileOnDisk(QWidget* pOwner, const std::string& strEntry,
                                      const std::string& strStoredPath,
                                      const std::string& strCaption) {
    PathOnDisk path = LocateCataloguedPath(g_strAppPath, strEntry, strStoredPath);
    if (!path.strAbsent.empty()) {
        ShowMessage(pOwner, path.strAbsent, strCaption, MessageIcon::Warning);
        return std::nullopt;
    }
    return std::move(path.strPathNow);
}
