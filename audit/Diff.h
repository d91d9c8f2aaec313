// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class Database;

// One difference between two catalogs of a tree, by the path relative to
// each catalog's start directory (so a disk mounted elsewhere, or a backup
// in another folder, compares by what is inside).
struct DiffLine {
    char cStatus = 'M';  // 'A' only in the new catalog, 'D' only in the old, 'M' modified
    std::string strPath; // relative; a directory's ends with '/'
    bool bDirectory = false;
    bool bMember = false; // a member of an archive (its path in the member form)
    std::optional<int64_t> nOldSize, nNewSize; // files only
    // Where it is on each side: the full paths as the catalogs hold them
    // (empty on the side it is missing from), and the stored checksums; only
    // when asked for.
    std::string strOldPath, strNewPath;
    std::string strOldChecksum, strNewChecksum;
};

// Which of two catalogs hold members of archives. Members are compared only
// when both do: a catalog made without reading archives tells nothing of
// what is inside them.
enum class MemberSides { Neither, OneOnly, Both };

// Which of oldDb and newDb hold members of archives.
MemberSides MemberSidesOf(Database& oldDb, Database& newDb);

struct DiffCounts {
    uint64_t nFilesAdded = 0, nFilesDeleted = 0, nFilesModified = 0;
    uint64_t nDirsAdded = 0, nDirsDeleted = 0;
    // Members of archives, directories inside them included.
    uint64_t nMembersAdded = 0, nMembersDeleted = 0, nMembersModified = 0;
    MemberSides memberSides = MemberSides::Neither;
    uint64_t Total() const {
        return nFilesAdded + nFilesDeleted + nFilesModified + nDirsAdded + nDirsDeleted +
               nMembersAdded + nMembersDeleted + nMembersModified;
    }
};

// Compares the open catalogs oldDb and newDb and passes fnLine each
// difference as it is found, in the byte order of the paths (the line lasts
// only for the call; its full paths and checksums are filled in only with
// bWithFullPaths). Paths are compared in their normal form (NormalPath),
// so start directories typed as "/t/x", "//t/x" or "/t/x/" compare alike. A
// file is modified when its size differs, or both catalogs hold a checksum
// for it and they differ. Directories that exist on one side only are
// differences too. Holds no more than a row of each catalog at a time.
// Raises EngineError (also from fnLine).
DiffCounts DiffCatalogs(Database& oldDb, Database& newDb, bool bWithFullPaths,
                        const std::function<void(const DiffLine&)>& fnLine);

// What "is everything of the old catalog somewhere in the new one?" found.
struct ContentCounts {
    uint64_t nCopied = 0;        // a file of the same size and checksum is in the new catalog
    uint64_t nMissing = 0;       // none is
    uint64_t nNotComparable = 0; // it has no checksum: it can be called neither
    // The same for the members of archives (directories aside), when both
    // catalogs hold them.
    uint64_t nMembersCopied = 0, nMembersMissing = 0, nMembersNotComparable = 0;
    MemberSides memberSides = MemberSides::Neither;
};

// Passes fnMissing the full path and size of each file of oldDb that has a
// checksum but no file of the same size and checksum anywhere in newDb, in
// catalog order. Files of oldDb without a checksum are only counted. When
// both catalogs hold members of archives, a member is a copy as a file is,
// and the members of oldDb follow its files (their paths in the member form).
ContentCounts CheckContentCopied(Database& oldDb, Database& newDb,
                                 const std::function<void(const std::string&, int64_t)>& fnMissing);
