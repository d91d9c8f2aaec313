#include "search/ResultRow.h"

#include "audit/Diff.h"
#include "audit/Duplicates.h"
#include "search/SearchQuery.h"

namespace {

void AddRow(std::vector<ResultRow>& rows, const std::string& strPath,
            const std::optional<int64_t>& nSize, const std::string& strChecksum,
            const std::string& strCatalog) {
    rows.push_back(
        {strPath, nSize ? std::to_string(*nSize) : std::string(), strChecksum, strCatalog});
}

} // namespace

ResultRow ResultRowOf(const SearchHit& hit) {
    return {std::string(hit.path), hit.nSize ? std::to_string(*hit.nSize) : std::string(),
            std::string(hit.checksum.value_or(std::string_view())), std::string(hit.catalog)};
}

void AddDiffRows(const DiffLine& line, const std::string& strOld, const std::string& strNew,
                 std::vector<ResultRow>& rows) {
    if (!line.strOldPath.empty())
        AddRow(rows, line.strOldPath, line.nOldSize, line.strOldChecksum, strOld);
    if (!line.strNewPath.empty())
        AddRow(rows, line.strNewPath, line.nNewSize, line.strNewChecksum, strNew);
}

void AddDuplicateRows(const DuplicateGroup& group, const std::vector<std::string>& entries,
                      std::vector<ResultRow>& rows) {
    for (const DuplicateGroup::Member& member : group.members)
        AddRow(rows, member.strPath, group.nSize, group.strChecksum, entries[member.nCatalog]);
}
