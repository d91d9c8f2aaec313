#include "search/Search.h"

#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "catalog/LikeMatcher.h"
#include "catalog/NameIndex.h"
#include "catalog/ResultSet.h"
#include "scan/Paths.h"
#include "search/DatabaseList.h"

#include <algorithm>
#include <sqlite3.h>
#include <sys/stat.h>

std::unique_ptr<ResultSet> g_pSearchRecordset;
int g_nSearchMode = 0;
int g_nResultAction = 0;
std::string g_strSearchDatabase;

void CheckSearchPattern(const std::string& strSearch) {
    LikeMatcher matcher(strSearch);
}

std::vector<std::unique_ptr<Database>>
OpenCatalogsForSearch(const std::string& strAppPath, const std::vector<std::string>& entries) {
    std::vector<std::unique_ptr<Database>> catalogs;
    for (const std::string& strEntry : entries) {
        catalogs.push_back(std::make_unique<Database>());
        OpenCatalogForSearch(*catalogs.back(), strAppPath, strEntry);
    }
    return catalogs;
}

std::string OpenCatalogForSearch(Database& database, const std::string& strAppPath,
                                 const std::string& strEntry) {
    const std::string strPath = CatalogPathOfKnownEntry(strAppPath, strEntry);
    database.Open(strPath, Database::OpenMode::ReadOnly);
    auto notCatalog = [&](const std::string& strWhy, int nCode) {
        database.Close();
        return EngineError("'" + strPath + "' is not a catalog: " + strWhy, nCode, strPath);
    };
    // The engine takes an empty file for an empty database, and any database
    // opens: only its tables tell a catalog.
    const char* pszMissing = nullptr;
    try {
        for (const char* pszTable : {"dirs", "files"})
            if (!pszMissing && !database.HasTable(pszTable))
                pszMissing = pszTable;
    } catch (const EngineError& error) {
        if ((error.Code() & 0xFF) != SQLITE_NOTADB)
            throw;
        throw notCatalog("it is no SQLite database", error.Code());
    }
    struct stat st {};
    if (pszMissing)
        throw notCatalog(::stat(strPath.c_str(), &st) == 0 && st.st_size == 0
                             ? std::string("the file is empty")
                             : std::string("it has no table ") + pszMissing,
                         SQLITE_NOTADB);
    return strPath;
}

std::optional<std::vector<IdRange>> IndexedCandidates(Database& database, int nMode,
                                                      const std::string& strSearch) {
    const std::vector<uint32_t> trigrams = TrigramsOfRuns(LikeMatcher(strSearch).LiteralRuns());
    if (trigrams.empty())
        return std::nullopt;
    const std::optional<NameIndex> index = NameIndex::Open(database);
    if (!index)
        return std::nullopt;
    if (nMode == kSearchDirs)
        return index->DirCandidates(trigrams);
    std::optional<std::vector<IdRange>> files = index->FileCandidates(trigrams);
    if (!files || nMode == kSearchFiles)
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

std::unique_ptr<ResultSet> OpenSearchHits(Database& database, int nMode,
                                          const std::string& strSearch, bool bWithTimes) {
    CatalogSql::SearchTimes times = CatalogSql::SearchTimes::None;
    if (bWithTimes && nMode != kSearchDirs)
        times = database.QueryInt64(CatalogSql::kHasFileTimes) > 0 ? CatalogSql::SearchTimes::Stored
                                                                   : CatalogSql::SearchTimes::Null;
    std::optional<std::vector<IdRange>> ranges = IndexedCandidates(database, nMode, strSearch);
    Statement statement = database.Prepare(CatalogSql::SearchSql(nMode, times, ranges.has_value()));
    const int nPattern = ranges ? 3 : 1;
    statement.BindText(nPattern, strSearch);
    if (statement.ParameterCount() > nPattern)
        statement.BindText(nPattern + 1, strSearch);
    if (ranges)
        return std::make_unique<ResultSet>(std::move(statement), std::move(*ranges), 1);
    return std::make_unique<ResultSet>(std::move(statement));
}

void RunCatalogQuery(Database& database, int nMode, const std::string& strSearch, bool bWithTimes) {
    g_pSearchRecordset.reset();
    g_nSearchMode = nMode;
    try {
        g_pSearchRecordset = OpenSearchHits(database, nMode, strSearch, bWithTimes);
    } catch (...) {
        // Nothing may read a result set that never opened.
        g_pSearchRecordset.reset();
        g_nResultAction = 0;
        throw;
    }
}

std::string FilePath(std::string_view dir, std::string_view name) {
    std::string strPath;
    strPath.reserve(dir.size() + 1 + name.size());
    strPath.append(dir);
    strPath += '/';
    // The root stored as "/" would give "//": short paths lose a doubled separator.
    if (strPath.size() <= 4)
        strPath = CollapseSeparatorPairs(strPath);
    strPath.append(name);
    return strPath;
}

ResultRow HitToResultRow(const ResultSet& rows, int nMode, const std::string& strDatabase) {
    ResultRow row;
    row.strDatabase = strDatabase;
    if (nMode == kSearchDirs) {
        row.strPath = rows.GetText(0);
        row.bDirectory = true;
        return row;
    }
    row.strPath = FilePath(rows.GetTextView(0), rows.GetTextView(1));
    row.nSize = HitSize(rows, nMode);
    if (row.nSize)
        row.strSize = std::to_string(*row.nSize);
    row.strChecksum = rows.GetText(3);
    row.nMtimeNs = HitMtimeNs(rows, nMode);
    return row;
}

std::optional<int64_t> HitSize(const ResultSet& rows, int nMode) {
    if (nMode == kSearchDirs || rows.IsNull(2) || rows.GetInt64(2) < 0)
        return std::nullopt;
    return rows.GetInt64(2);
}

std::optional<int64_t> HitMtimeNs(const ResultSet& rows, int nMode) {
    if (nMode == kSearchDirs || rows.FieldCount() <= 4 || rows.IsNull(4))
        return std::nullopt;
    return rows.GetInt64(4);
}

bool SearchHitsPending() {
    return g_nResultAction != 0 && g_pSearchRecordset && g_pSearchRecordset->IsOpen();
}

int TakeSearchHits(const std::function<void(ResultRow&&)>& fnAdd) {
    const int nAction = g_nResultAction;
    if (!SearchHitsPending()) {
        g_nResultAction = 0;
        return 0;
    }
    for (ResultSet& rows = *g_pSearchRecordset; !rows.IsEOF(); rows.MoveNext())
        fnAdd(HitToResultRow(rows, g_nSearchMode, g_strSearchDatabase));
    g_nResultAction = 0;
    g_pSearchRecordset->Close();
    return nAction;
}

void SearchCatalogs(const std::string& strAppPath, const std::vector<std::string>& entries,
                    int nMode, const std::string& strSearch, const std::function<void()>& fnDeliver,
                    bool bWithTimes) {
    for (size_t k = 0; k < entries.size(); ++k) {
        Database database;
        g_strSearchDatabase = entries[k];
        OpenCatalogForSearch(database, strAppPath, entries[k]);
        g_nResultAction = k == 0 ? 1 : 2;
        try {
            RunCatalogQuery(database, nMode, strSearch, bWithTimes);
            fnDeliver();
        } catch (...) {
            g_pSearchRecordset.reset(); // it must not outlive its catalog
            g_nResultAction = 0;
            throw;
        }
        g_pSearchRecordset.reset();
    }
}
