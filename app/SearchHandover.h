// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "catalog/SearchMode.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class HitStream;
struct ResultRow;

// The hand-over of one catalog's open hits from the search to their reader.
// g_pSearchRecordset is null or the open hits of the catalog being searched;
// g_nSearchMode is the mode of the last search; g_nResultAction is 0
// (nothing pending), 1 (clear, then add) or 2 (add); g_strSearchDatabase is
// the entry being searched.
extern std::unique_ptr<HitStream> g_pSearchRecordset;
extern int g_nSearchMode;
extern int g_nResultAction;
extern std::string g_strSearchDatabase;

// Searches the entries in order through the search driver: for each one,
// sets the action (1 for the first, 2 after), hands its open hits over
// (RunCatalogQuery) and calls fnDeliver, which must take them
// (TakeSearchHits) before it returns. The first engine error ends the
// search and is raised; the hand-over is then left with nothing pending.
void SearchCatalogs(const std::string& strAppPath, const std::vector<std::string>& entries,
                    SearchMode mode, const std::string& strSearch,
                    const std::function<void()>& fnDeliver);

// Puts a catalog's open hits into g_pSearchRecordset (the previous ones are
// let go first) and sets g_nSearchMode.
void RunCatalogQuery(std::unique_ptr<HitStream> hits, SearchMode mode);

// True when a hand-over is pending (action 1 or 2) and its hits are open.
bool SearchHitsPending();

// When a hand-over is pending and open: passes each hit to fnAdd as a row,
// then sets g_nResultAction to 0 and closes the hits. Returns the action
// that was pending (0 when nothing was read). Raises EngineError when reading
// fails part way; the rows given so far stand.
int TakeSearchHits(const std::function<void(ResultRow&&)>& fnAdd);
