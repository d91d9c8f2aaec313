#include "audit/Duplicates.h"

#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/ResultSet.h"
#include "scan/Md5.h"
#include "search/Search.h"

#include <algorithm>

namespace {

// One file with a checksum, small enough to hold millions: the path is read
// only for the files found in a group.
struct Candidate {
    int64_t nSize;
    Md5Digest digest;
    uint32_t nCatalog;
    int64_t nFileId;
};

} // namespace

std::vector<DuplicateGroup> FindDuplicates(const std::vector<std::unique_ptr<Database>>& catalogs,
                                           int64_t nMinSize) {
    std::vector<Candidate> candidates;
    for (size_t k = 0; k < catalogs.size(); ++k) {
        Statement statement = catalogs[k]->Prepare(CatalogSql::kFilesWithChecksums);
        statement.BindInt64(1, std::max<int64_t>(nMinSize, 1));
        for (ResultSet rows(std::move(statement)); !rows.IsEOF(); rows.MoveNext()) {
            Candidate candidate{rows.GetInt64(1), {}, static_cast<uint32_t>(k), rows.GetInt64(0)};
            if (HexToDigest(rows.GetTextView(2), candidate.digest))
                candidates.push_back(candidate);
        }
    }
    auto sameContent = [](const Candidate& a, const Candidate& b) {
        return a.nSize == b.nSize && a.digest == b.digest;
    };
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        if (a.nSize != b.nSize)
            return a.nSize < b.nSize;
        if (a.digest != b.digest)
            return a.digest < b.digest;
        return a.nCatalog != b.nCatalog ? a.nCatalog < b.nCatalog : a.nFileId < b.nFileId;
    });

    // The groups, by the candidates they hold; the paths are read after.
    std::vector<std::pair<size_t, size_t>> spans;
    for (size_t i = 0; i < candidates.size();) {
        size_t nEnd = i + 1;
        while (nEnd < candidates.size() && sameContent(candidates[i], candidates[nEnd]))
            ++nEnd;
        if (nEnd - i > 1)
            spans.emplace_back(i, nEnd);
        i = nEnd;
    }
    // One pass over each catalog's files in their order picks the paths of
    // the members: far cheaper than a lookup each when there are many.
    std::vector<std::vector<std::pair<int64_t, size_t>>> wanted(catalogs.size());
    for (const auto& [nBegin, nEnd] : spans)
        for (size_t m = nBegin; m < nEnd; ++m)
            wanted[candidates[m].nCatalog].emplace_back(candidates[m].nFileId, m);
    std::vector<std::string> paths(candidates.size());
    for (size_t k = 0; k < catalogs.size(); ++k) {
        std::vector<std::pair<int64_t, size_t>>& ids = wanted[k];
        if (ids.empty())
            continue;
        std::sort(ids.begin(), ids.end());
        auto next = ids.begin();
        for (ResultSet rows(catalogs[k]->Prepare(CatalogSql::kPathsByFileId));
             !rows.IsEOF() && next != ids.end(); rows.MoveNext()) {
            const int64_t nId = rows.GetInt64(0);
            while (next != ids.end() && next->first < nId)
                ++next;
            for (; next != ids.end() && next->first == nId; ++next)
                paths[next->second] = FilePath(rows.GetTextView(1), rows.GetTextView(2));
        }
    }
    std::vector<DuplicateGroup> groups;
    groups.reserve(spans.size());
    for (const auto& [nBegin, nEnd] : spans) {
        DuplicateGroup group;
        group.nSize = candidates[nBegin].nSize;
        group.strChecksum = DigestToHex(candidates[nBegin].digest);
        for (size_t m = nBegin; m < nEnd; ++m)
            group.members.push_back({candidates[m].nCatalog, std::move(paths[m])});
        groups.push_back(std::move(group));
    }
    std::stable_sort(
        groups.begin(), groups.end(), [](const DuplicateGroup& a, const DuplicateGroup& b) {
            if (a.Waste() != b.Waste())
                return a.Waste() > b.Waste();
            return a.nSize != b.nSize ? a.nSize > b.nSize : a.strChecksum < b.strChecksum;
        });
    return groups;
}
