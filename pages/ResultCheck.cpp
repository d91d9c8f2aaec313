// SPDX-License-Identifier: GPL-3.0-or-later

#include "pages/ResultCheck.h"

#include "app/Desktop.h"
#include "app/Globals.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "catalog/MemberPath.h"
#include "controls/CSortListCtrl.h"
#include "controls/RowCompare.h"
#include "pages/CResult.h"
#include "pages/FileOnDisk.h"
#include "search/CatalogOpen.h"
#include "search/FileCheck.h"

namespace {

constexpr const char* kCaption = "File check";

void ShowCheckResult(FileCheckResult result, const std::string& strPath) {
    switch (result) {
    case FileCheckResult::NotFound:
        ShowMessage(nullptr, "File not found", kCaption, MessageIcon::Warning);
        break;
    case FileCheckResult::NoChecksum:
        ShowMessage(nullptr, "Checksum not found in database for this file", kCaption,
                    MessageIcon::Information);
        break;
    case FileCheckResult::Unreadable:
        ShowMessage(nullptr, "File '" + strPath + "' cannot be read", kCaption,
                    MessageIcon::Warning);
        break;
    case FileCheckResult::Changed:
        ShowMessage(nullptr, "File '" + strPath + "' was changed", kCaption,
                    MessageIcon::Information);
        break;
    case FileCheckResult::Unchanged:
        ShowMessage(nullptr, "File '" + strPath + "' not changed", kCaption,
                    MessageIcon::Information);
        break;
    }
}

// A member of an archive: its archive file where its disk is now, checked
// against the size and time the catalog stores for it, then the member's
// data read from it.
void CheckMemberRow(CResult& page, const std::string& strEntry,
                    const std::vector<std::string>& parts, const std::string& strChecksum) {
    const std::optional<std::string> archive = FileOnDisk(&page, strEntry, parts[0], kCaption);
    if (!archive)
        return;
    StoredFile stored;
    try {
        Database database;
        OpenCatalogForSearch(database, g_strAppPath, strEntry);
        stored = FindStoredFile(database, parts[0]).value_or(StoredFile());
    } catch (const EngineError& error) {
        ReportError(&page, error.what());
        return;
    }
    const std::vector<std::string> inside(parts.begin() + 1, parts.end());
    std::string strShown = *archive;
    for (const std::string& strPart : inside)
        strShown = JoinMemberPath(strShown, strPart);
    ShowCheckResult(CheckMember(*archive, inside, stored, strChecksum), strShown);
}

} // namespace

void CheckSelectedResult(CResult& page) {
    const CSortListCtrl& list = *page.m_list;
    const int nRow = list.GetFirstSelected(0);
    if (nRow < 0 || page.HasDirectoryRows())
        return;
    if (const std::vector<std::string> parts = SplitMemberPath(list.GetItemText(nRow, 0));
        parts.size() > 1) {
        CheckMemberRow(page, list.GetItemText(nRow, 3), parts, list.GetItemText(nRow, 2));
        return;
    }
    const std::optional<std::string> path =
        FileOnDisk(&page, list.GetItemText(nRow, 3), list.GetItemText(nRow, 0), kCaption);
    if (!path)
        return;
    const std::string strSize = list.GetItemText(nRow, 1);
    // A file whose size differs from the stored one has changed: no need to read it.
    std::optional<int64_t> nStoredSize;
    if (!strSize.empty() && IsNumberText(strSize))
        nStoredSize = AtoI64(strSize);
    ShowFileCheck(*path, list.GetItemText(nRow, 2), nStoredSize);
}

void ShowFileCheck(const std::string& strPath, const std::string& strChecksum,
                   std::optional<int64_t> nStoredSize) {
    ShowCheckResult(CheckFile(strPath, strChecksum, nStoredSize), strPath);
}
