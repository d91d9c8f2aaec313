// SPDX-License-Identifier: GPL-3.0-or-later

#include "search/SearchDriver.h"

#include "catalog/Database.h"
#include "search/CatalogHits.h"
#include "search/CatalogOpen.h"

#include <algorithm>
#include <thread>

namespace {

// Hits are handed over in batches of about this many bytes.
constexpr size_t kBatchBytes = 1 << 16;
// How many catalogs may be read ahead of the one being taken.
constexpr size_t kCatalogsAhead = 3;

class Search {
public:
    Search(const std::string& strAppPath, const std::vector<std::string>& entries,
           const SearchQuery& query)
        : m_strAppPath(strAppPath), m_entries(entries), m_query(query) {
        for (size_t k = 0; k < entries.size(); ++k)
            m_queues.push_back(std::make_shared<HitStream::Queue>(HitStream::kQueueBytes));
    }

    void Run(const std::function<void(size_t, std::unique_ptr<HitStream>)>& fnCatalog) {
        const size_t nThreads = std::clamp<size_t>(std::thread::hardware_concurrency(), 1,
                                                   std::max<size_t>(m_entries.size(), 1));
        std::vector<std::thread> workers;
        for (size_t i = 0; i < nThreads; ++i)
            workers.emplace_back([this] { Work(); });
        std::exception_ptr error;
        try {
            for (size_t k = 0; k < m_entries.size(); ++k) {
                fnCatalog(k, std::make_unique<HitStream>(m_queues[k], m_query.mode, m_entries[k]));
                m_queues[k]->GiveUp();
                std::lock_guard lock(m_mutex);
                m_nHead = k + 1; // the catalogs after it may start now
                m_cv.notify_all();
            }
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(m_mutex);
            m_bStop = true;
            m_cv.notify_all();
        }
        for (const std::shared_ptr<HitStream::Queue>& queue : m_queues)
            queue->GiveUp();
        for (std::thread& worker : workers)
            worker.join();
        if (error)
            std::rethrow_exception(error);
    }

private:
    void Work() {
        for (;;) {
            size_t k = 0;
            {
                std::unique_lock lock(m_mutex);
                m_cv.wait(lock, [&] { return m_bStop || m_nNext < m_nHead + kCatalogsAhead + 1; });
                if (m_bStop || m_nNext >= m_entries.size())
                    return;
                k = m_nNext++;
            }
            SearchOne(k, *m_queues[k]);
        }
    }

    void SearchOne(size_t k, HitStream::Queue& queue) {
        HitStream::Batch batch;
        // False when the hits are no longer wanted.
        auto put = [&] {
            const size_t nMemory = batch.Memory();
            const bool bWanted = batch.hits.empty() || queue.Put(std::move(batch), nMemory);
            batch = HitStream::Batch();
            return bWanted;
        };
        try {
            Database database;
            OpenCatalogForSearch(database, m_strAppPath, m_entries[k]);
            // One read for the whole search: the catalog's lock is taken
            // once, not again for every stretch of rows the name index
            // names, and no writer changes the rows between two of them.
            database.BeginTransaction();
            CatalogHits hits(database, m_query, m_entries[k]);
            for (; !hits.IsEOF(); hits.MoveNext()) {
                batch.Add(hits.Hit());
                if (batch.Memory() >= kBatchBytes && !put())
                    return;
            }
            put();
            queue.End();
        } catch (...) {
            put();
            queue.End(std::current_exception());
        }
    }

    const std::string& m_strAppPath;
    const std::vector<std::string>& m_entries;
    const SearchQuery& m_query;
    std::vector<std::shared_ptr<HitStream::Queue>> m_queues;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    size_t m_nNext = 0;
    size_t m_nHead = 0;
    bool m_bStop = false;
};

} // namespace

void RunSearch(
    const std::string& strAppPath, const std::vector<std::string>& entries,
    const SearchQuery& query,
    const std::function<void(size_t nEntry, std::unique_ptr<HitStream> hits)>& fnCatalog) {
    Search(strAppPath, entries, query).Run(fnCatalog);
}
