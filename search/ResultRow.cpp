// SPDX-License-Identifier: GPL-3.0-or-later

#include "search/ResultRow.h"

#include "audit/Diff.h"
#include "audit/Duplicates.h"
#include "search/SearchQuery.h"

namespace {

void AddRow(std::vector<ResultRow>& rows, const std::string& strPath,
            const std::optional<int64_t>& nSize, const std::string& strChecksum,
            const std::string& strCatalog, const std::string& strAnswer) {
    rows.push_back({strPath, nSize ? std::to_string(*nSize) : std::string(), strChecksum,
                    strCatalog, strAnswer});
}

// A directory's path as a difference shows it: ending with '/'.
std::string DirectoryPath(std::string strPath) {
    if (strPath.empty() || strPath.back() != '/')
        strPath += '/';
    return strPath;
}

} // namespace

ResultRow ResultRowOf(const SearchHit& hit) {
    return {std::string(hit.path), hit.nSize ? std::to_string(*hit.nSize) : std::string(),
            std::string(hit.checksum.value_or(std::string_view())), std::string(hit.catalog),
            std::string()};
}

void AddDiffRows(const DiffLine& line, const std::string& strOld, const std::string& strNew,
                 std::vector<ResultRow>& rows) {
    const std::string strKind = line.cStatus == 'D'   ? "only in the first"
                                : line.cStatus == 'A' ? "only in the second"
                                                      : "changed";
    auto path = [&line](const std::string& strPath) {
        return line.bDirectory ? DirectoryPath(strPath) : strPath;
    };
    if (!line.strOldPath.empty())
        AddRow(rows, path(line.strOldPath), line.nOldSize, line.strOldChecksum, strOld, strKind);
    if (!line.strNewPath.empty())
        AddRow(rows, path(line.strNewPath), line.nNewSize, line.strNewChecksum, strNew, strKind);
}

void AddDuplicateRows(const DuplicateGroup& group, uint64_t nGroup,
                      const std::vector<std::string>& entries, std::vector<ResultRow>& rows) {
    const std::string strGroup = std::to_string(nGroup);
    for (const DuplicateGroup::Member& member : group.members)
        AddRow(rows, member.strPath, group.nSize, group.strChecksum, entries[member.nCatalog],
               strGroup);
}
