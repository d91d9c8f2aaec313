#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class Database;
class ResultSet;
struct IdRange;

// Where a search looks: the index of the "Where search:" choice.
enum SearchMode : int {
    kSearchBoth = 0,  // "Directories and files": file names and directory paths
    kSearchFiles = 1, // "Files": file names
    kSearchDirs = 2,  // "Directories": directory paths; rows are directories
};

inline constexpr const char* kMsgNoDatabases =
    "There are no any database to search. Create new database or add existing database manually";
inline constexpr const char* kMsgEnterSearchText = "Enter text to search";
inline constexpr const char* kMsgSelectDatabases = "Select one or more database files to search";

// The hand-over of one catalog's open hits from the search to their reader.
// g_pSearchRecordset is null or an open result set whose catalog is still
// open; g_nResultAction is 0 (nothing pending), 1 (clear, then add) or 2
// (add); g_strSearchDatabase is the entry being searched.
extern std::unique_ptr<ResultSet> g_pSearchRecordset;
extern int g_nSearchMode;
extern int g_nResultAction;
extern std::string g_strSearchDatabase;

// Opens the catalogs of the entries read-only, in order; raises EngineError
// at the first that cannot be opened.
std::vector<std::unique_ptr<Database>>
OpenCatalogsForSearch(const std::string& strAppPath, const std::vector<std::string>& entries);

// Raises EngineError with the matcher's message when strSearch is no valid
// pattern, so a search can refuse it before it opens any catalog.
void CheckSearchPattern(const std::string& strSearch);

// Opens the catalog of an entry read-only and returns its file's path.
// Raises EngineError: for an entry whose file is missing and that is not in
// the catalog list ("'NAME' is not in the catalog list"), for a file that is
// no catalog ("'PATH' is not a catalog: ..."; an empty file or a database
// without the tables dirs and files), and for what the engine reports.
std::string OpenCatalogForSearch(Database& database, const std::string& strAppPath,
                                 const std::string& strEntry);

// The rows a search of nMode for strSearch need read, found through the
// catalog's name index (file ids, or directory ids for nMode 2); nothing when
// every row must be read: the pattern has no run of plain characters long
// enough, the catalog has no index covering it, or so many rows may match
// that reading them all is as quick. Raises EngineError for a bad pattern.
std::optional<std::vector<IdRange>> IndexedCandidates(Database& database, int nMode,
                                                      const std::string& strSearch);

// The hits of a search of nMode for strSearch in the open catalog, as a
// read-only pass of their own (nothing process-wide is touched, so searches
// of several catalogs may run at once, each on its own connection). With
// bWithTimes file hits carry their modification times as a fifth field. The
// name index is used where it helps. Raises EngineError.
std::unique_ptr<ResultSet> OpenSearchHits(Database& database, int nMode,
                                          const std::string& strSearch, bool bWithTimes = false);

// Builds the statement of nMode with strSearch bound as the pattern and opens
// it on the catalog into g_pSearchRecordset (the previous one is destroyed
// first); sets g_nSearchMode. With bWithTimes the hits of files also carry
// their modification times, where the catalog records them. On an engine
// error the hand-over is left with no result set and action 0, and the error
// is raised again.
void RunCatalogQuery(Database& database, int nMode, const std::string& strSearch,
                     bool bWithTimes = false);

// The texts of one result row, and the values they were made from.
struct ResultRow {
    std::string strPath;
    std::string strSize;     // empty for a directory, a negative or an unknown size
    std::string strChecksum; // empty when the catalog holds none
    std::string strDatabase;
    bool bDirectory = false;         // a hit of a search of directories
    std::optional<int64_t> nSize;    // the stored size, when known and not negative
    std::optional<int64_t> nMtimeNs; // the modification time, when searched with times and known
};

// A file's path as a result row shows it, from its directory's stored path
// and its name: the directory, '/', the name; a short directory path such as
// the root "/" loses the doubled separator this makes, a longer one ending in
// '/' keeps it. Paths are compared in their normal form instead (NormalPath).
std::string FilePath(std::string_view dir, std::string_view name);

// The row for the current hit of rows, from a query of nMode.
ResultRow HitToResultRow(const ResultSet& rows, int nMode, const std::string& strDatabase);

// The stored size of the current hit of rows, from a query of nMode; absent
// for a directory, a negative and an unknown size.
std::optional<int64_t> HitSize(const ResultSet& rows, int nMode);
// Its modification time; absent for a directory, and when the query carried
// no times or the catalog records none.
std::optional<int64_t> HitMtimeNs(const ResultSet& rows, int nMode);

// True when a hand-over is pending (action 1 or 2) and its result set is open.
bool SearchHitsPending();

// When a hand-over is pending and open: passes each hit to fnAdd as a row,
// then sets g_nResultAction to 0 and closes the result set. Returns the
// action that was pending (0 when nothing was read). Raises EngineError when
// reading fails part way; the rows given so far stand.
int TakeSearchHits(const std::function<void(ResultRow&&)>& fnAdd);

// Searches the entries in order: for each one, opens its catalog, sets the
// action (1 for the first, 2 after), runs the query and calls fnDeliver,
// which must take the hits (TakeSearchHits) before it returns; then closes
// the catalog. The first engine error ends the search and is raised.
void SearchCatalogs(const std::string& strAppPath, const std::vector<std::string>& entries,
                    int nMode, const std::string& strSearch, const std::function<void()>& fnDeliver,
                    bool bWithTimes = false);
