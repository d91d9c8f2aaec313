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

std::vector<DuplicateGroup> FindDuplicates(const std::vector<Database*>& catalogs,
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

    std::vector<Statement> pathOf;
    for (Database* pCatalog : catalogs)
        pathOf.push_back(pCatalog->Prepare(CatalogSql::kPathOfFile));
    std::vector<DuplicateGroup> groups;
    for (size_t i = 0; i < candidates.size();) {
        size_t nEnd = i + 1;
        while (nEnd < candidates.size() && sameContent(candidates[i], candidates[nEnd]))
            ++nEnd;
        if (nEnd - i > 1) {
            DuplicateGroup group;
            group.nSize = candidates[i].nSize;
            group.strChecksum = DigestToHex(candidates[i].digest);
            for (size_t m = i; m < nEnd; ++m) {
                Statement& statement = pathOf[candidates[m].nCatalog];
                statement.BindInt64(1, candidates[m].nFileId);
                if (statement.Step())
                    group.members.push_back(
                        {candidates[m].nCatalog, FilePath(statement.Text(0), statement.Text(1))});
                statement.Reset();
            }
            groups.push_back(std::move(group));
        }
        i = nEnd;
    }
    std::stable_sort(
        groups.begin(), groups.end(), [](const DuplicateGroup& a, const DuplicateGroup& b) {
            if (a.Waste() != b.Waste())
                return a.Waste() > b.Waste();
            return a.nSize != b.nSize ? a.nSize > b.nSize : a.strChecksum < b.strChecksum;
        });
    return groups;
}
