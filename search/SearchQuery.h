// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "catalog/SearchMode.h"
#include "search/SearchFilter.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// What a search asks of every catalog it reads.
struct SearchQuery {
    SearchMode mode = kSearchBoth;
    std::string strPattern;  // taken as typed
    SearchFilter filter;     // applies to files; a directory hit has no size or time
    bool bWithTimes = false; // file hits carry their times (a time filter asks for them anyway)
};

// One hit of a search. Its views last until the cursor that gave it moves on.
struct SearchHit {
    std::string_view path;                    // the bytes as a result row shows them
    std::optional<int64_t> nSize;             // none for a directory, a negative or unknown size
    std::optional<std::string_view> checksum; // none when the catalog holds none
    std::optional<int64_t> nMtimeNs;          // none for a directory, or when not recorded or asked
    std::string_view catalog;                 // the catalog list entry searched
    bool bDirectory = false;                  // a hit of a search of directories
    // A member of an archive: its path is the path up to its innermost
    // archive (the first nArchiveBytes bytes), "//" and its path inside that.
    bool bMember = false;
    size_t nArchiveBytes = 0;
};

// The two parts of a member hit's path: up to its innermost archive, and
// inside that archive; empty for any other hit.
std::string_view ArchiveOfHit(const SearchHit& hit);
std::string_view MemberOfHit(const SearchHit& hit);
