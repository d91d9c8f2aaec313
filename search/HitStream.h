// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "catalog/HandOver.h"
#include "search/SearchQuery.h"

#include <cstdint>
#include <memory>
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
            uint32_t nArchiveBytes = 0;
            bool bSize = false, bChecksum = false, bMtime = false, bMember = false;
            int64_t nSize = 0;
            int64_t nMtimeNs = 0;
        };
        std::string strBytes; // paths and checksums, one after another
        std::vector<Packed> hits;
        void Add(const SearchHit& hit);
        size_t Memory() const;
    };

    // What passes between the two threads, weighed by the memory it takes.
    using Queue = HandOver<Batch>;
    // The memory the waiting batches of one catalog may take.
    static constexpr size_t kQueueBytes = 4 << 20;

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
