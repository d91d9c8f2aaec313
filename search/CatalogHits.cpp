#include "search/CatalogHits.h"

#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/LikeMatcher.h"
#include "catalog/NameIndex.h"
#include "catalog/ResultSet.h"
#include "scan/Paths.h"

std::optional<std::vector<IdRange>> IndexedCandidates(Database& database, SearchMode mode,
                                                      const std::string& strPattern) {
    const std::vector<uint32_t> trigrams = TrigramsOfRuns(LikeMatcher(strPattern).LiteralRuns());
    if (trigrams.empty())
        return std::nullopt;
    const std::optional<NameIndex> index = NameIndex::Open(database);
    if (!index)
        return std::nullopt;
    if (mode == kSearchDirs)
        return index->DirCandidates(trigrams);
    std::optional<std::vector<IdRange>> files = index->FileCandidates(trigrams);
    if (!files || mode == kSearchFiles)
        return files;
    // Both: a file is a hit by its name or by its directory's path.
    const std::optional<std::vector<IdRange>> dirs = index->DirCandidates(trigrams);
    if (!dirs)
        return std::nullopt;
    std::vector<IdRange> all = index->FilesOfDirs(*dirs);
    all.insert(all.end(), files->begin(), files->end());
    all = MergeRanges(std::move(all));
    if (index->CoversTooManyFiles(all))
        return std::nullopt;
    return all;
}

CatalogHits::CatalogHits(Database& database, const SearchQuery& query, std::string_view catalog)
    : m_query(query) {
    CatalogSql::SearchTimes times = CatalogSql::SearchTimes::None;
    if ((query.bWithTimes || query.filter.NeedsTimes()) && query.mode != kSearchDirs)
        times = database.QueryInt64(CatalogSql::kHasFileTimes) > 0 ? CatalogSql::SearchTimes::Stored
                                                                   : CatalogSql::SearchTimes::Null;
    std::optional<std::vector<IdRange>> ranges =
        IndexedCandidates(database, query.mode, query.strPattern);
    Statement statement =
        database.Prepare(CatalogSql::SearchSql(query.mode, times, ranges.has_value()));
    const int nPattern = ranges ? 3 : 1;
    statement.BindText(nPattern, query.strPattern);
    if (statement.ParameterCount() > nPattern)
        statement.BindText(nPattern + 1, query.strPattern);
    m_rows = ranges ? std::make_unique<ResultSet>(std::move(statement), std::move(*ranges), 1)
                    : std::make_unique<ResultSet>(std::move(statement));
    m_hit.catalog = catalog;
    m_hit.bDirectory = query.mode == kSearchDirs;
    Settle();
}

CatalogHits::~CatalogHits() = default;

void CatalogHits::MoveNext() {
    m_rows->MoveNext();
    Settle();
}

void CatalogHits::Settle() {
    for (ResultSet& rows = *m_rows; !rows.IsEOF(); rows.MoveNext()) {
        if (m_hit.bDirectory) {
            m_hit.path = rows.GetTextView(0);
            return;
        }
        m_hit.nSize.reset();
        if (!rows.IsNull(2) && rows.GetInt64(2) >= 0)
            m_hit.nSize = rows.GetInt64(2);
        m_hit.nMtimeNs.reset();
        if (rows.FieldCount() > 4 && !rows.IsNull(4))
            m_hit.nMtimeNs = rows.GetInt64(4);
        // The filter reads the stored values; the rest is read only for a hit it passes.
        if (m_query.filter.IsActive() && !m_query.filter.Passes(m_hit.nSize, m_hit.nMtimeNs))
            continue;
        AssignFilePath(rows.GetTextView(0), rows.GetTextView(1), m_strPath);
        m_hit.path = m_strPath;
        m_hit.checksum.reset();
        if (!rows.IsNull(3))
            m_hit.checksum = rows.GetTextView(3);
        return;
    }
    m_bEOF = true;
}
