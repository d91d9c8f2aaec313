// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "catalog/ByteTotal.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class ArchiveFolders;
class Database;
class NameIndex;

// What lies below a directory, itself not counted: the stored sizes of its
// files summed (a negative or unknown size counts as none), the files and
// directories, and the newest time of a file, where the catalog records times.
struct TreeTotals {
    ByteTotal nBytes = 0;
    uint64_t nFiles = 0;
    uint64_t nDirs = 0;
    std::optional<int64_t> nNewestMtimeNs;

    // Counts one file: its size when known and not negative, its time when
    // known.
    void AddFile(std::optional<int64_t> nSize, std::optional<int64_t> nMtimeNs);
    // Counts a folder below, with everything it holds.
    void AddFolder(const TreeTotals& below);
    // Keeps nMtimeNs when it is newer than every time counted so far.
    void KeepNewest(std::optional<int64_t> nMtimeNs);
};

// A directory of the tree: its row, its place, what lies below it.
struct TreeDir {
    int64_t nId = 0;
    std::string strPath;              // as stored
    std::optional<int64_t> nParentId; // none for the top of the tree
    TreeTotals totals;
    std::optional<int64_t> nMtimeNs; // its own time; none when the catalog does not hold it
    std::optional<uint32_t> nMode;   // st_mode; none when the catalog does not hold it
};

// A file of a directory, with its stored fields.
struct TreeFile {
    int64_t nId = 0;
    std::string strName;
    std::optional<int64_t> nSize;        // none when unknown or negative
    std::optional<std::string> checksum; // none when not stored
    std::optional<int64_t> nMtimeNs;     // none when not recorded
    std::optional<uint32_t> nMode;       // st_mode; none when the catalog does not hold it
    std::optional<int64_t> nFolderId;    // an archive with stored members: the folder it opens as
};

// A folder's name in its parent: its path below the parent's, both in their
// normal form (below a stored folder it does not directly follow, more than
// one name: "x/y"). An archive's top folder is named as its file with "//"
// ("x.zip//"), a folder inside an archive by its name there.
std::string NameBelow(const TreeDir& dir, const TreeDir& parent);

// The folders of an open catalog as a tree. A directory's parent is the
// directory stored under its path without its last name (paths compared in
// their normal form); one whose parent is not stored hangs below the nearest
// stored directory above it, and one with none above is a top of the tree.
// Rows of one path (in any spelling) are one directory, the first row's,
// holding the files of all; of two rows of one id the first stands. When the
// catalog's folder tables (TreeTables) describe its rows, the tree reads a
// directory, and its neighbours by id, only when it is asked for; otherwise
// it reads every directory row and a sum of the files of each once, when
// made, and gives the same answers. A directory's files are read when asked
// (through the name index, where the catalog has a valid one). The
// directories it gives stay valid as long as the tree; one tree serves one
// thread at a time.
//
// In a catalog that stores the members of archives, each archive with
// members is also a folder (ArchiveFolders): its file, among the files of
// its directory, names the folder it opens as (TreeFile::nFolderId), which
// DirById, DirByPath ("/b/x.zip//photos"), Subdirectories and Files answer
// for as for a directory; Archives gives those folders below a folder.
// Subdirectories of a directory never holds them, so what lies in a
// directory, and its totals, are the same as without members.
class CatalogTree {
public:
    // Raises EngineError when the catalog cannot be read.
    explicit CatalogTree(Database& database);
    ~CatalogTree();
    CatalogTree(const CatalogTree&) = delete;
    CatalogTree& operator=(const CatalogTree&) = delete;

    // True when the tree is read from the folder tables, as asked for.
    bool IsStored() const { return m_pStored != nullptr; }

    // The directories without a parent, in id order: the start directory,
    // for a catalog Kestrel made.
    std::vector<int64_t> Tops() const { return m_tops; }
    // The directory of that id (of any of its rows), or of a path (any
    // spelling of it); null when none.
    const TreeDir* DirById(int64_t nId) const;
    const TreeDir* DirByPath(std::string_view path) const;
    // The directories right below nId, in id order.
    std::vector<const TreeDir*> Subdirectories(int64_t nId) const;
    // The files of nId, in stored order (of each of its rows in turn). Raises EngineError.
    std::vector<TreeFile> Files(int64_t nId) const;
    // The folders of the archives among the files of nId, in the order of
    // the files; empty without member tables. Raises EngineError.
    std::vector<const TreeDir*> Archives(int64_t nId) const;
    // True when the catalog stores members of archives.
    bool HasArchiveFolders() const { return m_pArchives != nullptr; }
    // Whether some file right in nId is an archive that opens as a folder
    // (known without reading its files or members).
    bool HoldsArchives(int64_t nId) const;

private:
    struct Stored;
    const TreeDir* LoadStored(int64_t nId) const;
    std::vector<TreeFile> DirectoryFiles(int64_t nId) const;
    const TreeDir* DirectoryByPath(std::string_view path) const;

    Database& m_database;
    std::unique_ptr<Stored> m_pStored;           // none when the tree is computed
    std::unique_ptr<NameIndex> m_pNameIndex;     // none without a valid index
    std::unique_ptr<ArchiveFolders> m_pArchives; // none without member tables
    bool m_bTimes = false;
    std::vector<TreeDir> m_dirs; // in id order
    std::unordered_map<int64_t, size_t> m_byId;
    std::unordered_map<std::string, size_t> m_byPath; // normal path: the first of its rows
    std::unordered_map<int64_t, std::vector<size_t>> m_children;
    std::unordered_map<size_t, std::vector<int64_t>> m_aliases; // the other rows of a path
    std::vector<int64_t> m_tops;
};
