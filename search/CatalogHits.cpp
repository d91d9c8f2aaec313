// SPDX-License-Identifier: GPL-3.0-or-later

#include "search/CatalogHits.h"

#include "catalog/ArchivePaths.h"
#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/LikeMatcher.h"
#include "catalog/MemberPath.h"
#include "catalog/NameIndex.h"
#include "catalog/ResultSet.h"
#include "catalog/Statement.h"
#include "scan/Paths.h"

#include <algorithm>
#include <bit>
#include <sys/stat.h>

namespace {

// A stored whole number, or nothing for NULL.
std::optional<int64_t> StoredInt(const Statement& row, int nField) {
    return row.IsNull(nField) ? std::nullopt : std::optional<int64_t>(row.Int64(nField));
}

std::optional<int64_t> StoredInt(const ResultSet& row, int nField) {
    return row.IsNull(nField) ? std::nullopt : std::optional<int64_t>(row.GetInt64(nField));
}

// The directories whose paths match, among those whose ids lie in the
// stretches (all directories without them), as stretches of ids; nothing when
// they come to more than nMost stretches, or a directory's id is no whole
// number.
std::optional<std::vector<IdRange>> MatchingDirs(Database& database, const LikeMatcher& matcher,
                                                 std::optional<std::vector<IdRange>> candidates,
                                                 size_t nMost) {
    ResultSet rows = candidates ? ResultSet(database.Prepare(CatalogSql::kSearchDirPathsBetween),
                                            std::move(*candidates), 1)
                                : ResultSet(database.Prepare(CatalogSql::kSearchDirPaths));
    std::vector<IdRange> matched;
    for (; !rows.IsEOF(); rows.MoveNext()) {
        if (!rows.IsInteger(0))
            return std::nullopt;
        if (rows.IsNull(1) || !matcher.Matches(rows.GetTextView(1)))
            continue;
        // Ids come in growing order: only the next id joins a stretch, so
        // no directory that does not match lies within one.
        const int64_t nId = rows.GetInt64(0);
        if (!matched.empty() && matched.back().nHigh == nId - 1) {
            matched.back().nHigh = nId;
            continue;
        }
        if (matched.size() == nMost)
            return std::nullopt;
        matched.push_back({nId, nId});
    }
    return matched;
}

// What the name index narrows a search to: the stretches of rows to read
// (file ids, or directory ids for directories) and, for both, the
// directories whose paths match, as stretches of ids.
struct IndexedRows {
    std::vector<IdRange> rows;
    std::vector<IdRange> matchedDirs;
};

std::optional<IndexedRows> IndexedRowsOf(Database& database, SearchMode mode,
                                         const LikeMatcher& matcher) {
    const std::vector<uint32_t> trigrams = TrigramsOfRuns(matcher.LiteralRuns());
    if (trigrams.empty())
        return std::nullopt;
    const std::optional<NameIndex> index = NameIndex::Open(database);
    if (!index)
        return std::nullopt;
    std::optional<std::vector<IdRange>> rows =
        mode == kSearchDirs ? index->DirCandidates(trigrams) : index->FileCandidates(trigrams);
    if (!rows || mode != kSearchBoth)
        return rows ? std::optional<IndexedRows>(IndexedRows{std::move(*rows), {}}) : std::nullopt;
    // Both: a file is a hit by its name or by its directory's path. The
    // directories are matched first, among the blocks the index names or,
    // where it names too many (a piece of a path common to many folders),
    // among all: only the files of those that match are read then.
    std::optional<std::vector<IdRange>> dirs =
        MatchingDirs(database, matcher, index->DirCandidates(trigrams), index->MostStretches());
    if (!dirs)
        return std::nullopt;
    std::vector<IdRange> all = index->FilesOfDirs(*dirs);
    all.insert(all.end(), rows->begin(), rows->end());
    all = MergeRanges(std::move(all));
    if (index->CoversTooManyFiles(all))
        return std::nullopt;
    return IndexedRows{std::move(all), std::move(*dirs)};
}

} // namespace

std::optional<std::vector<IdRange>> IndexedCandidates(Database& database, SearchMode mode,
                                                      const std::string& strPattern) {
    std::optional<IndexedRows> indexed = IndexedRowsOf(database, mode, LikeMatcher(strPattern));
    if (!indexed)
        return std::nullopt;
    return std::move(indexed->rows);
}

namespace {

// Steps statement on through the stretches of row ids in turn, its first
// two parameters taking each stretch's ends; false after the last.
bool StepThroughRanges(Statement& statement, const std::vector<IdRange>& ranges, size_t& nNextRange,
                       bool& bInRange) {
    for (;;) {
        if (bInRange && statement.Step())
            return true;
        if (nNextRange == ranges.size())
            return false;
        statement.Reset();
        statement.BindInt64(1, ranges[nNextRange].nLow);
        statement.BindInt64(2, ranges[nNextRange].nHigh);
        ++nNextRange;
        bInRange = true;
    }
}

// Whether the engine runs the search statement as a scan of the files in
// table order (or, with bRanges, of the stretches of their row ids) that
// looks each file's directory up by its row id: the rows and the order the
// file pass gives. A catalog made elsewhere (an index on the files'
// directory ids, a directory or file id that is no row id) may be run
// otherwise, and is then searched by the statement itself.
bool PlannedAsFilePass(Database& database, const std::string& strSql, bool bRanges) {
    Statement plan = database.Prepare(CatalogSql::kExplainPlan + strSql);
    for (const char* pszStep :
         bRanges ? CatalogSql::kSearchPlanOfRangedFilePass : CatalogSql::kSearchPlanOfFilePass)
        if (!plan.Step() || plan.Text(3) != pszStep)
            return false;
    return !plan.Step();
}

// Ids added in growing order: a bitmap from the first id while it takes no
// more words than the list of the ids would, that list from then on (the
// ids of another program may lie far apart).
class GrowingIdSet {
public:
    void Add(int64_t nId) {
        if (m_bBitmap) {
            if (m_nCount == 0)
                m_nBase = nId;
            const uint64_t nOffset = Offset(nId);
            if ((nOffset >> 6) <= m_nCount) {
                if ((nOffset >> 6) >= m_words.size())
                    m_words.resize((nOffset >> 6) + 1);
                m_words[nOffset >> 6] |= uint64_t(1) << (nOffset & 63);
                ++m_nCount;
                return;
            }
            ToList();
        }
        m_ids.push_back(nId);
        ++m_nCount;
    }

    bool Contains(int64_t nId) const {
        if (!m_bBitmap)
            return std::binary_search(m_ids.begin(), m_ids.end(), nId);
        const uint64_t nOffset = Offset(nId);
        return (nOffset >> 6) < m_words.size() && ((m_words[nOffset >> 6] >> (nOffset & 63)) & 1);
    }

private:
    // Modulo 2^64, so that no id overflows it; an id below the first lies
    // far beyond the bitmap.
    uint64_t Offset(int64_t nId) const {
        return static_cast<uint64_t>(nId) - static_cast<uint64_t>(m_nBase);
    }

    void ToList() {
        m_ids.reserve(m_nCount + 1);
        for (size_t i = 0; i < m_words.size(); ++i)
            for (uint64_t nBits = m_words[i]; nBits != 0; nBits &= nBits - 1)
                m_ids.push_back(static_cast<int64_t>(static_cast<uint64_t>(m_nBase) + i * 64 +
                                                     std::countr_zero(nBits)));
        m_words.clear();
        m_words.shrink_to_fit();
        m_bBitmap = false;
    }

    bool m_bBitmap = true;
    int64_t m_nBase = 0;
    size_t m_nCount = 0;
    std::vector<uint64_t> m_words;
    std::vector<int64_t> m_ids;
};

} // namespace

// Every file row once, in table order, or those of the stretches the name
// index names, in id order; a hit when its name matches or its directory's
// path does. Each path is matched once, in a pass over the directories
// before the files (the index's own, where it names the stretches), not
// once for every file, and a directory is read only for a hit.
struct CatalogHits::FilePass {
    FilePass(Database& database, const SearchQuery& query, CatalogSql::SearchTimes times,
             LikeMatcher matcherOfQuery, std::optional<IndexedRows> indexed)
        : matcher(std::move(matcherOfQuery)), files(database.Prepare(CatalogSql::SearchFileScanSql(
                                                  query.mode, times, indexed.has_value()))),
          dir(database.Prepare(CatalogSql::kSearchDirOfFile)),
          bTimes(times != CatalogSql::SearchTimes::None), bRanges(indexed.has_value()),
          bNamesMatched(query.mode == kSearchFiles) {
        if (indexed)
            ranges = std::move(indexed->rows);
        if (bNamesMatched) {
            // The names are matched by the statement: a row that fails it
            // costs no more than that, as in the search statement.
            files.BindText(bRanges ? 3 : 1, query.strPattern);
            return;
        }
        if (indexed) {
            for (const IdRange& range : indexed->matchedDirs)
                for (int64_t nId = range.nLow;; ++nId) {
                    matchedDirs.Add(nId);
                    if (nId == range.nHigh)
                        break;
                }
            return;
        }
        Statement dirs = database.Prepare(CatalogSql::kSearchDirPaths);
        while (dirs.Step())
            if (!dirs.IsNull(1) && matcher.Matches(dirs.Text(1)))
                matchedDirs.Add(dirs.Int64(0));
    }

    // Steps files on, through the stretches in turn; false at the end.
    bool NextFile() {
        return bRanges ? StepThroughRanges(files, ranges, nNextRange, bInRange) : files.Step();
    }

    bool DirMatches(int64_t nDirId) {
        if (!bMatchKnown || nDirId != nMatchDirId) {
            bDirMatch = matchedDirs.Contains(nDirId);
            nMatchDirId = nDirId;
            bMatchKnown = true;
        }
        return bDirMatch;
    }

    // Stands dir on the directory of that id; false when there is none.
    bool FindDir(int64_t nDirId) {
        if (bDirRead && nDirId == nDirReadId)
            return bDirFound;
        dir.Reset();
        dir.BindInt64(1, nDirId);
        bDirFound = dir.Step();
        bDirRead = true;
        nDirReadId = nDirId;
        return bDirFound;
    }

    // The same for a file whose directory id is stored as a text or a real
    // number: the engine tells which row id, if any, it stands for, as it
    // does in the search statement.
    bool FindDirOfStoredId() {
        dir.Reset();
        dir.BindFieldOf(1, files, 0);
        bDirFound = bDirRead = dir.Step();
        if (bDirFound)
            nDirReadId = dir.Int64(0);
        return bDirFound;
    }

    LikeMatcher matcher;
    GrowingIdSet matchedDirs;
    Statement files;
    Statement dir; // stands on the directory last read
    bool bTimes;
    bool bRanges;
    bool bNamesMatched; // by the files statement
    std::vector<IdRange> ranges;
    size_t nNextRange = 0;
    bool bInRange = false;
    bool bDirRead = false, bDirFound = false;
    int64_t nDirReadId = 0;
    bool bMatchKnown = false, bDirMatch = false;
    int64_t nMatchDirId = 0;
};

namespace {

// The members the name index narrows a search of files (or both) to, as
// stretches of member ids; nothing when every member must be read.
std::optional<std::vector<IdRange>> IndexedMembersOf(Database& database, SearchMode mode,
                                                     const LikeMatcher& matcher) {
    const std::vector<uint32_t> trigrams = TrigramsOfRuns(matcher.LiteralRuns());
    if (trigrams.empty())
        return std::nullopt;
    const std::optional<NameIndex> index = NameIndex::Open(database);
    if (!index)
        return std::nullopt;
    std::optional<std::vector<IdRange>> names = index->MemberCandidates(trigrams);
    if (!names || mode == kSearchFiles)
        return names;
    std::optional<std::vector<IdRange>> folders = index->MemberDirCandidates(trigrams);
    if (!folders)
        return std::nullopt;
    names->insert(names->end(), folders->begin(), folders->end());
    return MergeRanges(std::move(*names));
}

} // namespace

// The members of archives in id order, or those of the stretches the name
// index names; a hit when its name matches or, for both, the path of its
// folder does (matched once for the members of one folder in a row).
struct CatalogHits::MemberPass {
    MemberPass(Database& database, const SearchQuery& query)
        : matcher(query.strPattern), archives(database),
          indexed(IndexedMembersOf(database, query.mode, matcher)),
          rows(database.Prepare(indexed ? CatalogSql::kSearchMembersBetween
                                        : CatalogSql::kSearchMembers)),
          bTimes(query.bWithTimes || query.filter.NeedsTimes()),
          bFolders(query.mode == kSearchBoth), bRanges(indexed.has_value()) {
        if (indexed)
            ranges = std::move(*indexed);
    }

    bool NextRow() {
        return bRanges ? StepThroughRanges(rows, ranges, nNextRange, bInRange) : rows.Step();
    }

    bool FolderMatches(const std::string& strArchive, std::string_view memberPath) {
        const size_t nSlash = memberPath.rfind('/');
        const std::string_view inside =
            nSlash == std::string_view::npos ? std::string_view() : memberPath.substr(0, nSlash);
        if (!bFolderKnown || &strArchive != pFolderArchive || inside != strFolderInside) {
            AssignMemberFolder(strArchive, memberPath, strFolder);
            bFolderMatch = matcher.Matches(strFolder);
            pFolderArchive = &strArchive;
            strFolderInside.assign(inside);
            bFolderKnown = true;
        }
        return bFolderMatch;
    }

    LikeMatcher matcher;
    ArchivePaths archives;
    std::optional<std::vector<IdRange>> indexed;
    Statement rows;
    bool bTimes;
    bool bFolders; // a member's folder path may make it a hit
    bool bRanges;
    std::vector<IdRange> ranges;
    size_t nNextRange = 0;
    bool bInRange = false;
    // The folder matched last: its archive, its path inside, the answer.
    bool bFolderKnown = false, bFolderMatch = false;
    const std::string* pFolderArchive = nullptr;
    std::string strFolderInside;
    std::string strFolder;
};

CatalogHits::CatalogHits(Database& database, const SearchQuery& query, std::string_view catalog)
    : m_database(database), m_query(query) {
    CatalogSql::SearchTimes times = CatalogSql::SearchTimes::None;
    if ((query.bWithTimes || query.filter.NeedsTimes()) && query.mode != kSearchDirs)
        times = database.QueryInt64(CatalogSql::kHasFileTimes) > 0 ? CatalogSql::SearchTimes::Stored
                                                                   : CatalogSql::SearchTimes::Null;
    LikeMatcher matcher(query.strPattern);
    std::optional<IndexedRows> indexed = IndexedRowsOf(database, query.mode, matcher);
    m_hit.catalog = catalog;
    m_hit.bDirectory = query.mode == kSearchDirs;
    const std::string strSql = CatalogSql::SearchSql(query.mode, times, indexed.has_value());
    if (query.mode != kSearchDirs && PlannedAsFilePass(database, strSql, indexed.has_value())) {
        m_pass = std::make_unique<FilePass>(database, query, times, std::move(matcher),
                                            std::move(indexed));
        Settle();
        return;
    }
    Statement statement = database.Prepare(strSql);
    const int nPattern = indexed ? 3 : 1;
    statement.BindText(nPattern, query.strPattern);
    if (statement.ParameterCount() > nPattern)
        statement.BindText(nPattern + 1, query.strPattern);
    m_rows = indexed
                 ? std::make_unique<ResultSet>(std::move(statement), std::move(indexed->rows), 1)
                 : std::make_unique<ResultSet>(std::move(statement));
    Settle();
}

CatalogHits::~CatalogHits() = default;

void CatalogHits::MoveNext() {
    if (m_bEOF)
        return;
    if (m_members) {
        SettleMembers();
        return;
    }
    if (m_pass) {
        SettleFilePass();
        return;
    }
    m_rows->MoveNext();
    Settle();
}

void CatalogHits::EndOfFiles() {
    if (m_query.mode == kSearchDirs || !m_database.HasTable("archive_members") ||
        !m_database.HasTable("archives")) {
        m_bEOF = true;
        return;
    }
    m_members = std::make_unique<MemberPass>(m_database, m_query);
    SettleMembers();
}

void CatalogHits::SettleMembers() {
    MemberPass& pass = *m_members;
    Statement& rows = pass.rows;
    // Fields: the member id, archive id, path, name, size, time, mode, checksum.
    while (pass.NextRow()) {
        if (!rows.IsNull(6) && S_ISDIR(static_cast<mode_t>(rows.Int64(6))))
            continue; // a folder inside an archive is no hit of its own
        const std::string_view memberPath = rows.IsNull(2) ? std::string_view() : rows.Text(2);
        const std::string* pArchive = nullptr;
        if (rows.IsNull(3) || !pass.matcher.Matches(rows.Text(3))) {
            if (!pass.bFolders)
                continue;
            pArchive = pass.archives.PathOf(rows.Int64(1));
            if (!pArchive || !pass.FolderMatches(*pArchive, memberPath))
                continue;
        }
        if (!TakeSizeAndTime(StoredInt(rows, 4), pass.bTimes ? StoredInt(rows, 5) : std::nullopt))
            continue;
        if (!pArchive)
            pArchive = pass.archives.PathOf(rows.Int64(1));
        if (!pArchive)
            continue; // a member of no archive the catalog names is no hit
        m_strPath.assign(*pArchive).append(kMemberSeparator).append(memberPath);
        m_hit.path = m_strPath;
        m_hit.bMember = true;
        m_hit.nArchiveBytes = pArchive->size();
        m_hit.checksum.reset();
        if (!rows.IsNull(7))
            m_hit.checksum = rows.Text(7);
        return;
    }
    m_bEOF = true;
}

bool CatalogHits::TakeSizeAndTime(std::optional<int64_t> nSize, std::optional<int64_t> nMtimeNs) {
    m_hit.nSize = nSize && *nSize >= 0 ? nSize : std::nullopt;
    m_hit.nMtimeNs = nMtimeNs;
    return !m_query.filter.IsActive() || m_query.filter.Passes(m_hit.nSize, m_hit.nMtimeNs);
}

void CatalogHits::Settle() {
    if (m_pass) {
        SettleFilePass();
        return;
    }
    for (ResultSet& rows = *m_rows; !rows.IsEOF(); rows.MoveNext()) {
        if (m_hit.bDirectory) {
            m_hit.path = rows.GetTextView(0);
            return;
        }
        // The filter reads the stored values; the rest is read only for a hit it passes.
        if (!TakeSizeAndTime(StoredInt(rows, 2),
                             rows.FieldCount() > 4 ? StoredInt(rows, 4) : std::nullopt))
            continue;
        AssignFilePath(rows.GetTextView(0), rows.GetTextView(1), m_strPath);
        m_hit.path = m_strPath;
        m_hit.checksum.reset();
        if (!rows.IsNull(3))
            m_hit.checksum = rows.GetTextView(3);
        return;
    }
    EndOfFiles();
}

void CatalogHits::SettleFilePass() {
    FilePass& pass = *m_pass;
    Statement& files = pass.files;
    // Fields: the directory id, name, size, checksum, and the time when asked.
    while (pass.NextFile()) {
        int64_t nDirId = 0;
        if (files.IsInteger(0)) {
            nDirId = files.Int64(0);
        } else if (files.IsNull(0) || !pass.FindDirOfStoredId()) {
            continue; // a file of no directory is no hit, as the join drops it
        } else {
            nDirId = pass.nDirReadId;
        }
        if (!pass.bNamesMatched && !pass.DirMatches(nDirId) &&
            (files.IsNull(1) || !pass.matcher.Matches(files.Text(1))))
            continue;
        if (!TakeSizeAndTime(StoredInt(files, 2), pass.bTimes ? StoredInt(files, 4) : std::nullopt))
            continue;
        if (!pass.FindDir(nDirId))
            continue;
        AssignFilePath(pass.dir.Text(1), files.Text(1), m_strPath);
        m_hit.path = m_strPath;
        m_hit.checksum.reset();
        if (!files.IsNull(3))
            m_hit.checksum = files.Text(3);
        return;
    }
    EndOfFiles();
}
