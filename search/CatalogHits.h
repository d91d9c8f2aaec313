// SPDX-License-Identifier: GPL-3.0-or-later

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
// passes are seen; the name index is used where it helps. A search of files
// (or of both) gives the members of archives after the files, in member id
// order: a member (never a folder inside an archive) is a hit by its name,
// or for both by the path of the folder it lies in (AssignMemberFolder); the
// filter reads its own size and time. The catalog must stay open while this
// lives.
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
    void SettleMembers();
    // The files have all been read: the members of archives follow, for a
    // search of files in a catalog that has them.
    void EndOfFiles();
    // Puts a row's stored size (a negative one is unknown) and time on the
    // hit; false when the filter turns them down.
    bool TakeSizeAndTime(std::optional<int64_t> nSize, std::optional<int64_t> nMtimeNs);

    Database& m_database;
    const SearchQuery& m_query;
    std::unique_ptr<ResultSet> m_rows;
    // A search of files, where it runs as passes of its own.
    struct FilePass;
    std::unique_ptr<FilePass> m_pass;
    struct MemberPass;
    std::unique_ptr<MemberPass> m_members;
    std::string m_strPath;
    SearchHit m_hit;
    bool m_bEOF = false;
};
