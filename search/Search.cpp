#include "search/Search.h"

#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/LikeMatcher.h"
#include "catalog/ResultSet.h"
#include "scan/Paths.h"
#include "search/DatabaseList.h"

std::unique_ptr<ResultSet> g_pSearchRecordset;
int g_nSearchMode = 0;
int g_nResultAction = 0;
std::string g_strSearchDatabase;

void CheckSearchPattern(const std::string& strSearch) {
    LikeMatcher matcher(strSearch);
}

void OpenCatalogForSearch(Database& database, const std::string& strAppPath,
                          const std::string& strEntry) {
    database.Open(CatalogPathOfEntry(strAppPath, strEntry), Database::OpenMode::ReadOnly);
}

namespace {

const char* StatementOf(Database& database, int nMode, bool bWithTimes) {
    if (nMode == kSearchDirs)
        return CatalogSql::kSearchDirs;
    if (!bWithTimes)
        return nMode == kSearchFiles ? CatalogSql::kSearchFiles : CatalogSql::kSearchBoth;
    const bool bHasTimes = ResultSet(database.Prepare(CatalogSql::kHasFileTimes)).GetInt64(0) > 0;
    if (nMode == kSearchFiles)
        return bHasTimes ? CatalogSql::kSearchFilesWithTimes : CatalogSql::kSearchFilesNoTimes;
    return bHasTimes ? CatalogSql::kSearchBothWithTimes : CatalogSql::kSearchBothNoTimes;
}

} // namespace

void RunCatalogQuery(Database& database, int nMode, const std::string& strSearch, bool bWithTimes) {
    g_pSearchRecordset.reset();
    g_nSearchMode = nMode;
    try {
        Statement statement = database.Prepare(StatementOf(database, nMode, bWithTimes));
        statement.BindText(1, strSearch);
        if (statement.ParameterCount() == 2)
            statement.BindText(2, strSearch);
        g_pSearchRecordset = std::make_unique<ResultSet>(std::move(statement));
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
    if (!rows.IsNull(2) && rows.GetInt64(2) >= 0) {
        row.nSize = rows.GetInt64(2);
        row.strSize = std::to_string(*row.nSize);
    }
    row.strChecksum = rows.GetText(3);
    if (rows.FieldCount() > 4 && !rows.IsNull(4))
        row.nMtimeNs = rows.GetInt64(4);
    return row;
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
