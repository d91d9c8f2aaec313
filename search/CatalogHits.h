#pragma once

#include "catalog/Ranges.h"
#include "search/SearchQuery.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class Database;
class ResultSet;

// The rows a search of mode for strPattern needs read, found through the
// catalog's name index (file ids, or directory ids for directories); nothing
// when every row must be read: the pattern has no run of plain characters
// long enough, the catalog has no index covering it, or so many rows may
// match that reading them all is as quick. Raises EngineError for a bad pattern.
std::optional<std::vector<IdRange>> IndexedCandidates(Database& database, SearchMode mode,
                                                      const std::string& strPattern);

// The hits of a query in one open catalog, as a read-only pass of their own
// (nothing process-wide is touched, so several catalogs may be searched at
// once, each on its own connection and thread). Only hits the query's filter
// passes are seen; the name index is used where it helps. The catalog must
// stay open while this lives.
class CatalogHits {
public:
    // Opens the query and stands on its first hit; raises EngineError.
    CatalogHits(Database& database, const SearchQuery& query, std::string_view catalog);
    ~CatalogHits();

    bool IsEOF() const { return m_bEOF; }
    // The current hit; valid until the next move.
    const SearchHit& Hit() const { return m_hit; }
    // Moves to the next hit; raises EngineError when reading fails.
    void MoveNext();

private:
    // Reads hits until one passes the filter, or the end.
    void Settle();
    void SettleFilePass();

    const SearchQuery& m_query;
    std::unique_ptr<ResultSet> m_rows;
    // A search of files, where it runs as passes of its own.
    struct FilePass;
    std::unique_ptr<FilePass> m_pass;
    std::string m_strPath;
    SearchHit m_hit;
    bool m_bEOF = false;
};
