// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/SearchHandover.h"

#include "search/ResultRow.h"
#include "search/SearchDriver.h"

std::unique_ptr<HitStream> g_pSearchRecordset;
int g_nSearchMode = 0;
int g_nResultAction = 0;
std::string g_strSearchDatabase;

void SearchCatalogs(const std::string& strAppPath, const std::vector<std::string>& entries,
                    SearchMode mode, const std::string& strSearch,
                    const std::function<void()>& fnDeliver) {
    SearchQuery query;
    query.mode = mode;
    query.strPattern = strSearch;
    try {
        RunSearch(strAppPath, entries, query, [&](size_t k, std::unique_ptr<HitStream> hits) {
            g_strSearchDatabase = entries[k];
            g_nResultAction = k == 0 ? 1 : 2;
            RunCatalogQuery(std::move(hits), mode);
            fnDeliver();
            g_pSearchRecordset.reset(); // the hits must not outlive their search
        });
    } catch (...) {
        // Nothing may read hits whose search has ended.
        g_pSearchRecordset.reset();
        g_nResultAction = 0;
        throw;
    }
}

void RunCatalogQuery(std::unique_ptr<HitStream> hits, SearchMode mode) {
    g_pSearchRecordset = std::move(hits);
    g_nSearchMode = mode;
}

bool SearchHitsPending() {
    return g_nResultAction != 0 && g_pSearchRecordset && g_pSearchRecordset->IsOpen();
}

int TakeSearchHits(const std::function<void(ResultRow&&)>& fnAdd) {
    const int nAction = g_nResultAction;
    if (!SearchHitsPending()) {
        g_nResultAction = 0;
        return 0;
    }
    for (HitStream& hits = *g_pSearchRecordset; !hits.IsEOF(); hits.MoveNext())
        fnAdd(ResultRowOf(hits.Hit()));
    g_nResultAction = 0;
    g_pSearchRecordset->Close();
    return nAction;
}
