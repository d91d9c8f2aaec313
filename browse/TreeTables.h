// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "browse/CatalogTree.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class Database;

// The folder tables: what a folder tree of the catalog needs, stored beside
// the catalog's own tables so that a tree can be read one folder at a time
// instead of from every row. For each directory its parent, the directories
// right below it, its totals, its own st_mode and modification time; for
// each file its st_mode. Packed by blocks of 64 consecutive directory ids
// (tree_dirs, tree_file_modes) and described by tree_meta, whose "changes"
// its triggers count, as the name index's. A catalog whose rows the tables
// cannot describe (two rows of one path in any spelling, ids that are not
// distinct whole numbers, sizes or times that are not whole numbers) gets
// none: its tree is computed from its rows.

// One directory as the tables hold it.
struct StoredDir {
    int64_t nId = 0;
    std::optional<int64_t> nParentId;
    std::vector<int64_t> children; // growing ids
    TreeTotals totals;
    std::optional<int64_t> nMtimeNs;
    std::optional<uint32_t> nMode;
};

// Gathers the rows of a catalog and writes its folder tables.
class TreeTablesBuilder {
public:
    TreeTablesBuilder();
    ~TreeTablesBuilder();
    TreeTablesBuilder(const TreeTablesBuilder&) = delete;
    TreeTablesBuilder& operator=(const TreeTablesBuilder&) = delete;

    // Each directory once, ids growing; before its files and its state.
    void AddDirectory(int64_t nDirId, std::string_view path);
    // A directory's own st_mode and modification time, where known.
    void SetDirectoryState(int64_t nDirId, std::optional<uint32_t> nMode,
                           std::optional<int64_t> nMtimeNs);
    // Each file once, ids growing; nDirId none for a file of no folder. A
    // file of a directory not added belongs to no folder either.
    void AddFile(int64_t nFileId, std::optional<int64_t> nDirId, std::optional<int64_t> nSize,
                 std::optional<int64_t> nMtimeNs, std::optional<uint32_t> nMode);
    // The modes of nDirId's files as runs of (files, st_mode) in id order,
    // from tables built before: they stand when they cover as many files
    // as were added to it.
    void CarryFileModes(int64_t nDirId, std::vector<std::pair<uint32_t, uint32_t>> runs);
    // The rows hold what the tables cannot describe: Write writes none.
    void SetUnusable() { m_bUnusable = true; }

    // Replaces the catalog's folder tables with those gathered (or removes
    // them, for rows they cannot describe), with the triggers, in the
    // caller's transaction. Raises EngineError.
    void Write(Database& database);

private:
    struct Rows;
    std::unique_ptr<Rows> m_pRows;
    bool m_bUnusable = false;
};

// Builds (or builds anew) the folder tables of an open catalog from its rows;
// a directory's mode and own time and its files' modes are carried over from
// the tables it had, where its id is the same (its files' modes only when it
// holds as many files as before). Raises EngineError.
void RebuildTreeTables(Database& database);

// The folder tables of an open catalog, when it has them and they describe
// its rows as they are.
class TreeTables {
public:
    // Nothing when the catalog has none, or its rows may have changed since
    // they were built (as NameIndex::Open judges). Raises EngineError.
    static std::optional<TreeTables> Open(Database& database);

    // The block of 64 ids that holds nId.
    static int64_t BlockOf(int64_t nId) { return nId >> 6; }

    // The directories without a parent, in id order.
    const std::vector<int64_t>& Tops() const { return m_tops; }
    // True when every stored path is in the normal form: a path not stored
    // as it is typed or in its normal form is then not stored at all.
    bool PathsAreNormal() const { return m_bNormalPaths; }
    // True when the catalog records file times.
    bool HasFileTimes() const { return m_bTimes; }
    // The directories of block nBlock, in id order; raises EngineError.
    std::vector<StoredDir> ReadBlock(int64_t nBlock) const;
    // The st_mode of each file of nDirId, in id order (0 for one unknown);
    // empty when the tables hold none. Raises EngineError.
    std::vector<uint32_t> FileModes(int64_t nDirId) const;

private:
    explicit TreeTables(Database& database) : m_pDatabase(&database) {}

    Database* m_pDatabase;
    std::vector<int64_t> m_tops;
    bool m_bNormalPaths = false;
    bool m_bTimes = false;
};
