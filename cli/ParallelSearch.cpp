#include "cli/ParallelSearch.h"

#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "catalog/ResultSet.h"
#include "search/Search.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace {

// Written hits are handed over in pieces of about this size.
constexpr size_t kChunkBytes = 1 << 16;
// The most written hits of one catalog that wait for the reader; its search
// waits when they are more. At most kCatalogsAhead + 1 catalogs are searched
// at once, so what waits stays small whatever the catalogs and however slow
// the reader is.
constexpr size_t kQueuedBytesPerCatalog = 4 << 20;
constexpr size_t kCatalogsAhead = 3;

// What the search of one catalog has written so far, and how it ended.
struct CatalogOutput {
    std::deque<std::string> chunks;
    size_t nQueuedBytes = 0; // the memory the chunks take
    bool bDone = false;
    std::exception_ptr error;
    uint64_t nHits = 0;
};

class Searcher {
public:
    Searcher(const std::string& strAppPath, const std::vector<std::string>& entries, int nMode,
             const std::string& strPattern, const HitFormat& format)
        : m_strAppPath(strAppPath), m_entries(entries), m_nMode(nMode), m_strPattern(strPattern),
          m_format(format), m_outputs(entries.size()) {}

    uint64_t Run(const std::function<void(std::string_view)>& fnWrite) {
        const size_t nThreads = std::clamp<size_t>(std::thread::hardware_concurrency(), 1,
                                                   std::max<size_t>(m_entries.size(), 1));
        std::vector<std::thread> workers;
        for (size_t i = 0; i < nThreads; ++i)
            workers.emplace_back([this] { Work(); });
        uint64_t nHits = 0;
        std::exception_ptr error;
        try {
            for (size_t k = 0; k < m_entries.size() && !error; ++k) {
                std::unique_lock lock(m_mutex);
                CatalogOutput& output = m_outputs[k];
                for (;;) {
                    m_cv.wait(lock, [&] { return !output.chunks.empty() || output.bDone; });
                    if (output.chunks.empty())
                        break;
                    std::string strChunk = std::move(output.chunks.front());
                    output.chunks.pop_front();
                    output.nQueuedBytes -= strChunk.capacity();
                    m_cv.notify_all(); // its search may go on
                    lock.unlock();
                    fnWrite(strChunk);
                    lock.lock();
                }
                nHits += output.nHits;
                error = output.error;
                m_nHead = k + 1; // the catalogs after it may start now
                m_cv.notify_all();
            }
        } catch (...) {
            error = std::current_exception(); // the output failed
        }
        {
            std::lock_guard lock(m_mutex);
            m_bStop = true;
            m_cv.notify_all();
        }
        for (std::thread& worker : workers)
            worker.join();
        if (error)
            std::rethrow_exception(error);
        return nHits;
    }

private:
    void Work() {
        for (;;) {
            size_t k = 0;
            {
                std::unique_lock lock(m_mutex);
                // No more than a few catalogs ahead of the one being written,
                // so waiting output stays small.
                m_cv.wait(lock, [&] { return m_bStop || m_nNext < m_nHead + kCatalogsAhead + 1; });
                if (m_bStop || m_nNext >= m_entries.size())
                    return;
                k = m_nNext++;
            }
            SearchOne(k);
        }
    }

    void SearchOne(size_t k) {
        CatalogOutput& output = m_outputs[k];
        std::string strChunk;
        auto hand = [&](bool bLast) {
            std::unique_lock lock(m_mutex);
            if (!strChunk.empty()) {
                output.nQueuedBytes += strChunk.capacity();
                output.chunks.push_back(std::move(strChunk));
            }
            strChunk = std::string();
            output.bDone = bLast;
            m_cv.notify_all();
            // A slow reader holds the search back here, until it has taken
            // enough or the search is given up.
            if (!bLast)
                m_cv.wait(lock,
                          [&] { return m_bStop || output.nQueuedBytes < kQueuedBytesPerCatalog; });
        };
        RecordWriter records([&](std::string_view text) { strChunk.append(text); }, m_format.format,
                             HitFields());
        records.OmitHeader();
        try {
            Database database;
            OpenCatalogForSearch(database, m_strAppPath, m_entries[k]);
            const bool bWithTimes =
                m_format.filter.NeedsTimes() || m_format.format != OutputFormat::Tsv;
            std::unique_ptr<ResultSet> hits =
                OpenSearchHits(database, m_nMode, m_strPattern, bWithTimes);
            uint64_t nHits = 0;
            const std::string_view catalog(m_entries[k]);
            for (; !hits->IsEOF(); hits->MoveNext()) {
                // The filter reads the stored values; only a hit it passes is written.
                const std::optional<int64_t> nSize = HitSize(*hits, m_nMode);
                if (m_format.filter.IsActive() &&
                    !m_format.filter.Passes(nSize, HitMtimeNs(*hits, m_nMode)))
                    continue;
                ++nHits;
                Write(records, strChunk, *hits, nSize, catalog);
                if (strChunk.size() >= kChunkBytes) {
                    hand(false);
                    std::lock_guard lock(m_mutex);
                    if (m_bStop)
                        break;
                }
            }
            std::lock_guard lock(m_mutex);
            output.nHits = nHits;
        } catch (...) {
            std::lock_guard lock(m_mutex);
            output.error = std::current_exception();
        }
        hand(true);
    }

    void Write(RecordWriter& records, std::string& strChunk, const ResultSet& hit,
               std::optional<int64_t> nSize, std::string_view catalog) const {
        const bool bDirectory = m_nMode == kSearchDirs;
        std::string strPath;
        std::string_view path;
        if (bDirectory) {
            path = hit.GetTextView(0);
        } else {
            strPath = FilePath(hit.GetTextView(0), hit.GetTextView(1));
            path = strPath;
        }
        if (m_format.bNulSeparated) {
            strChunk.append(path);
            strChunk += '\0';
            return;
        }
        const std::string_view checksum = bDirectory ? std::string_view() : hit.GetTextView(3);
        records.Write({path, NumberValue(nSize), TextValue(checksum), catalog,
                       TimeValue(HitMtimeNs(hit, m_nMode)),
                       std::string_view(bDirectory ? "directory" : "file")});
    }

    const std::string& m_strAppPath;
    const std::vector<std::string>& m_entries;
    int m_nMode;
    const std::string& m_strPattern;
    const HitFormat& m_format;
    std::vector<CatalogOutput> m_outputs;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    size_t m_nNext = 0;
    size_t m_nHead = 0;
    bool m_bStop = false;
};

} // namespace

std::vector<RecordField> HitFields() {
    return {{"path", true},
            {"size"},
            {"md5"},
            {"catalog", true},
            {.pszName = "mtime", .bInTsv = false},
            {.pszName = "type", .bInTsv = false}};
}

uint64_t SearchCatalogsInParallel(const std::string& strAppPath,
                                  const std::vector<std::string>& entries, int nMode,
                                  const std::string& strPattern, const HitFormat& format,
                                  const std::function<void(std::string_view)>& fnWrite) {
    return Searcher(strAppPath, entries, nMode, strPattern, format).Run(fnWrite);
}
