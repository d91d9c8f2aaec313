#include "pages/ResultCheck.h"

#include "app/Desktop.h"
#include "controls/CSortListCtrl.h"
#include "controls/RowCompare.h"
#include "pages/CResult.h"
#include "pages/FileOnDisk.h"
#include "search/FileCheck.h"

namespace {

constexpr const char* kCaption = "File check";

} // namespace

void CheckSelectedResult(CResult& page) {
    const CSortListCtrl& list = *page.m_list;
    const int nRow = list.GetFirstSelected(0);
    if (nRow < 0 || page.HasDirectoryRows())
        return;
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
    switch (CheckFile(strPath, strChecksum, nStoredSize)) {
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
