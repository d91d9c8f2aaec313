// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "catalog/ByteTotal.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class Database;

// Files with the same size and the same checksum, in one or several catalogs;
// members of archives take part as files do, their paths in the member form
// ("/backup/2019.zip//photos/img.jpg").
struct DuplicateGroup {
    struct Member {
        size_t nCatalog; // index into the catalogs searched
        std::string strPath;
    };
    int64_t nSize = 0;
    std::string strChecksum;
    std::vector<Member> members; // in catalog order, then in each catalog's order (its
                                 // files, then its members of archives)

    // The bytes that removing all but one copy would free.
    ByteTotal Waste() const { return static_cast<ByteTotal>(nSize) * (members.size() - 1); }
};

// Finds the groups of duplicate files across the open catalogs and passes
// them to fnGroup one at a time, the group that wastes most first (then by
// size, then checksum); a group lasts only for the call. Members of archives
// count as files in catalogs that hold them. Files without a
// checksum are never duplicates, and files smaller than nMinSize bytes (or
// empty, which free nothing) are left out. The paths are read a batch of
// groups at a time, so what is held is a few dozen bytes a file with a
// checksum. Returns the number of groups. Raises EngineError (also from
// fnGroup).
uint64_t FindDuplicates(const std::vector<std::unique_ptr<Database>>& catalogs, int64_t nMinSize,
                        const std::function<void(const DuplicateGroup&)>& fnGroup);

// True when the open catalog holds a checksum of any file or member of an
// archive: one without any has nothing duplicates could be found by. Raises
// EngineError.
bool HoldsChecksums(Database& database);
