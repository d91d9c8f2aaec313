// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "search/HitStream.h"
#include "search/SearchQuery.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// Searches the catalogs of the list entries for query and hands each
// catalog's hits to fnCatalog on the calling thread, in the entries' order.
// Several catalogs are read at once, each on a thread of its own with its
// own connection (as many as the machine has cores, and only a few catalogs
// ahead of the one being taken, so what waits stays small however slow the
// taker is). fnCatalog reads its stream before it returns; what it leaves
// unread is dropped. A catalog that cannot be opened or searched ends the
// search: the catalogs before it were all handed over, those after it are
// not, and its EngineError is raised (a malformed pattern, too, before any
// hit). What fnCatalog raises ends the search as well and is raised again.
void RunSearch(
    const std::string& strAppPath, const std::vector<std::string>& entries,
    const SearchQuery& query,
    const std::function<void(size_t nEntry, std::unique_ptr<HitStream> hits)>& fnCatalog);
