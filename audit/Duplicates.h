#pragma once

#include "catalog/ByteTotal.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Database;

// Files with the same size and the same checksum, in one or several catalogs.
struct DuplicateGroup {
    struct Member {
        size_t nCatalog; // index into the catalogs searched
        std::string strPath;
    };
    int64_t nSize = 0;
    std::string strChecksum;
    std::vector<Member> members; // in catalog order, then in each catalog's order

    // The bytes that removing all but one copy would free.
    ByteTotal Waste() const { return static_cast<ByteTotal>(nSize) * (members.size() - 1); }
};

// The groups of duplicate files across the open catalogs, the group that
// wastes most first (then by size, then checksum). Files without a checksum
// are never duplicates, and files smaller than nMinSize bytes (or empty,
// which free nothing) are left out. Raises EngineError.
std::vector<DuplicateGroup> FindDuplicates(const std::vector<std::unique_ptr<Database>>& catalogs,
                                           int64_t nMinSize);
