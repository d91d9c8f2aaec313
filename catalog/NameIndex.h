// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "catalog/CatalogSql.h"
#include "catalog/Ranges.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class Database;

// A name index: for file names and for directory paths, which blocks of 32
// consecutive rows hold a text containing a given run of three bytes (a
// trigram) of the text folded as the pattern matcher folds it. A search
// asks it for the blocks holding every trigram of its pattern's plain runs
// and matches only their rows, instead of every row of the catalog. It lives
// in tables of its own beside the catalog's (name_index_files,
// name_index_dirs, name_index_dir_files, name_index_meta); a catalog without
// them is searched row by row, as any catalog can be. A catalog with members
// of archives has two more kinds of text, by blocks of member ids: member
// names (name_index_members) and the paths of the folders members lie in
// (name_index_member_dirs, AssignMemberFolder).

// The trigrams every text matching the runs holds (LikeMatcher::LiteralRuns),
// sorted and distinct; empty when the runs are too short to have any.
std::vector<uint32_t> TrigramsOfRuns(const std::vector<std::vector<uint32_t>>& runs);

// Gathers the rows of a catalog, in row id order, and writes their index.
class NameIndexBuilder {
public:
    NameIndexBuilder();
    ~NameIndexBuilder();
    NameIndexBuilder(const NameIndexBuilder&) = delete;
    NameIndexBuilder& operator=(const NameIndexBuilder&) = delete;

    // Each file and directory once, ids growing (files and directories
    // each in their own order; the two may interleave).
    void AddFile(int64_t nFileId, int64_t nDirId, std::string_view name);
    void AddDirectory(int64_t nDirId, std::string_view path);
    // The members of archives the catalog holds, read back from it (none
    // without the member tables, and then no member index is written):
    // called once they are all stored. Raises EngineError.
    void AddMembersOf(Database& database);

    // Replaces the catalog's index with the one gathered, and makes the
    // triggers that count later changes to the rows (in the caller's
    // transaction). Raises EngineError.
    void Write(Database& database);

private:
    struct Side;
    std::unique_ptr<Side> m_files;
    std::unique_ptr<Side> m_dirs;
    struct DirFiles;
    std::unique_ptr<DirFiles> m_dirFiles;
    std::unique_ptr<Side> m_members;    // names; null without member tables
    std::unique_ptr<Side> m_memberDirs; // the paths of their folders
};

// What tells tables kept beside a catalog's (this index, the folder tables)
// that its rows may have changed since they were made.
// Whether the trigger is in place exactly as made.
bool HasTriggerAsMade(Database& database, const CatalogSql::NameIndexTrigger& trigger);
// Whether the smallest and largest file and directory ids are still those
// recorded: a connection running with triggers switched off may have added
// rows at either end.
bool HasIdBounds(Database& database, int64_t nMinFileId, int64_t nMaxFileId, int64_t nMinDirId,
                 int64_t nMaxDirId);

// Builds (or builds anew) the index of an open catalog from its rows, and
// the triggers that count later changes to them. Raises EngineError, also
// when the ids of a table are not distinct whole numbers.
void RebuildNameIndex(Database& database);

// The index of an open catalog, when it has one that covers all its rows.
class NameIndex {
public:
    // Nothing when the catalog has no index, or its rows may have changed
    // since it was built: a change counted by its triggers, a trigger
    // missing (an index of an earlier Kestrel, or dropped), rows beyond the
    // ids it covers. Raises EngineError.
    static std::optional<NameIndex> Open(Database& database);

    // The rows whose file names, or directory paths, may hold every trigram:
    // sorted, disjoint stretches of ids. Nothing when too many rows would
    // (a pass over every row is then as quick).
    std::optional<std::vector<IdRange>> FileCandidates(const std::vector<uint32_t>& trigrams) const;
    std::optional<std::vector<IdRange>> DirCandidates(const std::vector<uint32_t>& trigrams) const;
    // The same for members of archives, by member ids: those whose names, or
    // the paths of whose folders, may hold every trigram. Nothing also when
    // the index does not cover the catalog's members (it has none, or the
    // index was made without them).
    std::optional<std::vector<IdRange>>
    MemberCandidates(const std::vector<uint32_t>& trigrams) const;
    std::optional<std::vector<IdRange>>
    MemberDirCandidates(const std::vector<uint32_t>& trigrams) const;
    // The files of the directories in the stretches, as stretches of file ids.
    std::vector<IdRange> FilesOfDirs(const std::vector<IdRange>& dirs) const;
    // True when stretches of file ids cover so many rows, or are so many,
    // that a pass over every row is as quick.
    bool CoversTooManyFiles(const std::vector<IdRange>& files) const;
    // The most stretches of ids worth reading one by one.
    size_t MostStretches() const;

private:
    explicit NameIndex(Database& database) : m_pDatabase(&database) {}
    std::optional<std::vector<IdRange>>
    Candidates(const char* pszSql, const std::vector<uint32_t>& trigrams, int64_t nBlocks) const;

    Database* m_pDatabase;
    int64_t m_nFiles = 0;      // file rows
    int64_t m_nFileBlocks = 0; // blocks holding at least one file row
    int64_t m_nDirBlocks = 0;
    bool m_bMembers = false; // the member postings cover the members
    int64_t m_nMemberBlocks = 0;
    int64_t m_nMemberDirBlocks = 0;
};
