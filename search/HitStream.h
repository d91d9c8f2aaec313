#pragma once

#include "search/SearchQuery.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The hits of one catalog as a search hands them from the thread that reads
// the catalog to the one that takes them: a forward-only pass like a result
// set, read while the catalog is still being read on the other thread.
class HitStream {
public:
    // Hits packed together, handed over as one piece.
    struct Batch {
        struct Packed {
            uint32_t nPathBytes = 0;
            uint32_t nChecksumBytes = 0;
            bool bSize = false, bChecksum = false, bMtime = false;
            int64_t nSize = 0;
            int64_t nMtimeNs = 0;
        };
        std::string strBytes; // paths and checksums, one after another
        std::vector<Packed> hits;
        void Add(const SearchHit& hit);
        size_t Memory() const;
    };

    // What passes between the two threads: the reader puts batches and ends
    // (with the error that ended it, if one did); the taker waits for each.
    // It holds a bounded amount: a reader with enough waiting waits.
    class Queue {
    public:
        // Reader's side. Put returns false once the taker has given up the
        // catalog: the reader then stops.
        bool Put(Batch&& batch);
        void End(Batch&& last, std::exception_ptr error);
        // Taker's side. The next batch, or false at the end (error set when reading failed).
        bool Take(Batch& batch, std::exception_ptr& error);
        void GiveUp();

    private:
        std::mutex m_mutex;
        std::condition_variable m_cv;
        std::deque<Batch> m_batches;
        size_t m_nMemory = 0;
        bool m_bEnded = false;
        bool m_bGivenUp = false;
        std::exception_ptr m_error;
    };

    // Stands on the first hit, waiting for it; raises what reading raised
    // when the catalog failed before it had a hit to give (it could not be
    // opened or searched).
    HitStream(std::shared_ptr<Queue> queue, SearchMode mode, std::string strCatalog);
    ~HitStream();
    HitStream(const HitStream&) = delete;
    HitStream& operator=(const HitStream&) = delete;

    bool IsEOF() const { return m_bEOF; }
    bool IsOpen() const { return m_bOpen; }
    // The current hit; valid until the next move.
    const SearchHit& Hit() const { return m_hit; }
    // Moves on; raises EngineError when reading the catalog failed at this point.
    void MoveNext();
    // Ends the pass and lets the catalog go; afterwards IsOpen() is false and IsEOF() true.
    void Close();

private:
    void Settle();

    std::shared_ptr<Queue> m_queue;
    std::string m_strCatalog;
    Batch m_batch;
    size_t m_nNext = 0;    // the packed hit of m_batch the next move reads
    size_t m_nBytesAt = 0; // where its bytes begin
    SearchHit m_hit;
    bool m_bEOF = false;
    bool m_bOpen = true;
};
