// SPDX-License-Identifier: GPL-3.0-or-later

#include "audit/Duplicates.h"

#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/MemberPath.h"
#include "catalog/ResultSet.h"
#include "scan/Md5.h"
#include "scan/Paths.h"

#include <algorithm>
#include <numeric>
#include <string_view>

namespace {

// One file or member of an archive with a checksum, small enough to hold
// millions: the path is read only for those found in a group.
struct Candidate {
    int64_t nSize;
    Md5Digest digest;
    uint32_t nCatalog;
    bool bMember; // nFileId is a member's id
    int64_t nFileId;
};

// The paths of a batch of members, one after another in one buffer.
struct BatchPaths {
    std::string strText;
    std::vector<std::pair<size_t, size_t>> spans; // begin and length, by slot

    // suffix: the rest of a member's path after its archive file's.
    void Set(size_t nSlot, std::string_view dir, std::string_view name,
             std::string_view suffix = {}) {
        std::string strPath = FilePath(dir, name);
        strPath.append(suffix);
        spans[nSlot] = {strText.size(), strPath.size()};
        strText.append(strPath);
    }
    std::string Take(size_t nSlot) const {
        return strText.substr(spans[nSlot].first, spans[nSlot].second);
    }
};

// The paths of a batch of groups take about this much memory: the members
// in a batch are as many as fit, by the length of the paths read before.
constexpr size_t kBatchBytes = 32 << 20;
constexpr size_t kFirstBatchMembers = 1 << 18;
// Looking up one file by its id costs about as much as reading this many
// rows in a pass over the catalog.
constexpr size_t kLookupRows = 32;

using WantedIds = std::vector<std::pair<int64_t, size_t>>; // (id, slot), sorted by id

// Looks each wanted id up with lookup (the id bound as its first parameter)
// and hands the slot and the row found to take.
template <typename Take> void LookUpEach(Statement& lookup, const WantedIds& wanted, Take take) {
    for (const auto& [nId, nSlot] : wanted) {
        lookup.BindInt64(1, nId);
        if (lookup.Step())
            take(nSlot, lookup);
        lookup.Reset();
    }
}

// Walks rows, which come in the order of the id in their first field, along
// the wanted ids, and hands each slot whose id the rows hold to take with
// its row.
template <typename Take> void TakeFromPass(ResultSet rows, const WantedIds& wanted, Take take) {
    auto next = wanted.begin();
    for (; !rows.IsEOF() && next != wanted.end(); rows.MoveNext()) {
        const int64_t nId = rows.GetInt64(0);
        while (next != wanted.end() && next->first < nId)
            ++next;
        for (; next != wanted.end() && next->first == nId; ++next)
            take(next->second, rows);
    }
}

// Reads the paths of the wanted files of one catalog ((file id, slot) pairs,
// sorted by id) into paths: each looked up by its id when they are few and
// the id is the row id, else in one pass over the catalog.
void ReadPaths(Database& database, bool bById, uint64_t nRows, const WantedIds& wanted,
               BatchPaths& paths) {
    if (bById && wanted.size() * kLookupRows < nRows) {
        // The ids come in order, so the lookups walk the table forward.
        Statement lookup = database.Prepare(CatalogSql::kPathOfFileId);
        LookUpEach(lookup, wanted, [&](size_t nSlot, const Statement& row) {
            paths.Set(nSlot, row.Text(0), row.Text(1));
        });
        return;
    }
    Statement statement = database.Prepare(CatalogSql::kPathsOfFileIds);
    statement.BindInt64(1, wanted.front().first);
    statement.BindInt64(2, wanted.back().first);
    TakeFromPass(ResultSet(std::move(statement)), wanted, [&](size_t nSlot, const ResultSet& row) {
        paths.Set(nSlot, row.GetTextView(1), row.GetTextView(2));
    });
}

// Reads the paths of the wanted members of one catalog ((member id, slot)
// pairs, sorted by id) into paths: each looked up through its archives when
// they are few, else in one pass over the members.
void ReadMemberPaths(Database& database, uint64_t nMembers, const WantedIds& wanted,
                     BatchPaths& paths) {
    if (wanted.size() * kLookupRows >= nMembers) {
        Statement statement = database.Prepare(CatalogSql::kPathsOfMembers);
        statement.BindText(1, kMemberSeparator);
        TakeFromPass(
            ResultSet(std::move(statement)), wanted, [&](size_t nSlot, const ResultSet& row) {
                paths.Set(nSlot, row.GetTextView(1), row.GetTextView(2), row.GetTextView(3));
            });
        return;
    }
    Statement lookup = database.Prepare(CatalogSql::kPathOfMemberId);
    lookup.BindText(2, kMemberSeparator);
    LookUpEach(lookup, wanted, [&](size_t nSlot, const Statement& row) {
        paths.Set(nSlot, row.Text(0), row.Text(1), row.Text(2));
    });
}

bool HasMembers(Database& database) {
    return database.HasTable("archives") && database.HasTable("archive_members");
}

} // namespace

uint64_t FindDuplicates(const std::vector<std::unique_ptr<Database>>& catalogs, int64_t nMinSize,
                        const std::function<void(const DuplicateGroup&)>& fnGroup) {
    // Room for every file at once: pages that stay unused are never touched.
    std::vector<uint64_t> rowCounts;
    std::vector<bool> withMembers;
    std::vector<uint64_t> memberCounts;
    for (const auto& pCatalog : catalogs) {
        rowCounts.push_back(static_cast<uint64_t>(pCatalog->QueryInt64(CatalogSql::kCountFiles)));
        withMembers.push_back(HasMembers(*pCatalog));
        memberCounts.push_back(withMembers.back() ? static_cast<uint64_t>(pCatalog->QueryInt64(
                                                        CatalogSql::kCountMembers))
                                                  : 0);
    }
    std::vector<Candidate> candidates;
    candidates.reserve(std::accumulate(rowCounts.begin(), rowCounts.end(), uint64_t{0}) +
                       std::accumulate(memberCounts.begin(), memberCounts.end(), uint64_t{0}));
    for (size_t k = 0; k < catalogs.size(); ++k) {
        for (const bool bMember : {false, true}) {
            if (bMember && !withMembers[k])
                break;
            Statement statement = catalogs[k]->Prepare(bMember ? CatalogSql::kMembersWithChecksums
                                                               : CatalogSql::kFilesWithChecksums);
            statement.BindInt64(1, std::max<int64_t>(nMinSize, 1));
            for (ResultSet rows(std::move(statement)); !rows.IsEOF(); rows.MoveNext()) {
                Candidate candidate{
                    rows.GetInt64(1), {}, static_cast<uint32_t>(k), bMember, rows.GetInt64(0)};
                if (HexToDigest(rows.GetTextView(2), candidate.digest))
                    candidates.push_back(candidate);
            }
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
        if (a.nCatalog != b.nCatalog)
            return a.nCatalog < b.nCatalog;
        // A catalog's files come before its members.
        return a.bMember != b.bMember ? b.bMember : a.nFileId < b.nFileId;
    });

    // Only the members of groups stay, each group as a stretch of them.
    struct Span {
        size_t nBegin, nEnd;
        uint64_t Waste(const std::vector<Candidate>& members) const {
            return static_cast<uint64_t>(members[nBegin].nSize) * (nEnd - nBegin - 1);
        }
    };
    std::vector<Span> spans;
    size_t nKept = 0;
    for (size_t i = 0; i < candidates.size();) {
        size_t nEnd = i + 1;
        while (nEnd < candidates.size() && sameContent(candidates[i], candidates[nEnd]))
            ++nEnd;
        if (nEnd - i > 1) {
            spans.push_back({nKept, nKept + (nEnd - i)});
            for (size_t m = i; m < nEnd; ++m)
                candidates[nKept++] = candidates[m];
        }
        i = nEnd;
    }
    candidates.resize(nKept);
    // By waste, then by size; a stable sort keeps the checksums in order.
    std::stable_sort(spans.begin(), spans.end(), [&](const Span& a, const Span& b) {
        const uint64_t nWasteA = a.Waste(candidates), nWasteB = b.Waste(candidates);
        if (nWasteA != nWasteB)
            return nWasteA > nWasteB;
        return candidates[a.nBegin].nSize > candidates[b.nBegin].nSize;
    });

    std::vector<bool> byId(catalogs.size());
    for (size_t k = 0; k < catalogs.size(); ++k)
        byId[k] = catalogs[k]->QueryInt64(CatalogSql::kFileIdIsRowId) > 0;
    std::vector<WantedIds> wanted(catalogs.size()), wantedMembers(catalogs.size());
    BatchPaths paths;
    size_t nBatchMembers = kFirstBatchMembers;
    DuplicateGroup group;
    for (size_t nFirst = 0; nFirst < spans.size();) {
        // A batch of groups, their paths read one catalog at a time.
        size_t nLast = nFirst, nMembers = 0;
        while (nLast < spans.size() && (nMembers == 0 || nMembers < nBatchMembers)) {
            nMembers += spans[nLast].nEnd - spans[nLast].nBegin;
            ++nLast;
        }
        paths.strText.clear();
        paths.spans.assign(nMembers, {0, 0});
        size_t nSlot = 0;
        for (size_t g = nFirst; g < nLast; ++g)
            for (size_t m = spans[g].nBegin; m < spans[g].nEnd; ++m)
                (candidates[m].bMember ? wantedMembers : wanted)[candidates[m].nCatalog]
                    .emplace_back(candidates[m].nFileId, nSlot++);
        for (size_t k = 0; k < catalogs.size(); ++k) {
            if (!wantedMembers[k].empty()) {
                std::sort(wantedMembers[k].begin(), wantedMembers[k].end());
                ReadMemberPaths(*catalogs[k], memberCounts[k], wantedMembers[k], paths);
                wantedMembers[k].clear();
            }
            if (wanted[k].empty())
                continue;
            std::sort(wanted[k].begin(), wanted[k].end());
            ReadPaths(*catalogs[k], byId[k], rowCounts[k], wanted[k], paths);
            wanted[k].clear();
        }
        nSlot = 0;
        for (size_t g = nFirst; g < nLast; ++g) {
            const Span& span = spans[g];
            group.nSize = candidates[span.nBegin].nSize;
            group.strChecksum = DigestToHex(candidates[span.nBegin].digest);
            group.members.clear();
            for (size_t m = span.nBegin; m < span.nEnd; ++m)
                group.members.push_back({candidates[m].nCatalog, paths.Take(nSlot++)});
            fnGroup(group);
        }
        // The next batch by the length of these paths, its buffer made once
        // (grown by appending, it could take twice what it holds).
        const size_t nPathBytes = std::max<size_t>(paths.strText.size() / nMembers, 1);
        nBatchMembers = std::max<size_t>(kBatchBytes / nPathBytes, 1024);
        paths.strText.reserve(kBatchBytes + kBatchBytes / 8);
        nFirst = nLast;
    }
    return spans.size();
}

bool HoldsChecksums(Database& database) {
    return database.QueryInt64(CatalogSql::kAnyFileChecksum) != 0 ||
           (HasMembers(database) && database.QueryInt64(CatalogSql::kAnyMemberChecksum) != 0);
}
