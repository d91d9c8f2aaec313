// SPDX-License-Identifier: GPL-3.0-or-later

#include "search/HitStream.h"

void HitStream::Batch::Add(const SearchHit& hit) {
    Packed& packed = hits.emplace_back();
    // A path is one file-system name long at most, far below 4 GiB.
    packed.nPathBytes = static_cast<uint32_t>(hit.path.size());
    strBytes.append(hit.path);
    if (hit.checksum) {
        packed.bChecksum = true;
        packed.nChecksumBytes = static_cast<uint32_t>(hit.checksum->size());
        strBytes.append(*hit.checksum);
    }
    packed.bSize = hit.nSize.has_value();
    packed.nSize = hit.nSize.value_or(0);
    packed.bMtime = hit.nMtimeNs.has_value();
    packed.nMtimeNs = hit.nMtimeNs.value_or(0);
    packed.bMember = hit.bMember;
    packed.nArchiveBytes = static_cast<uint32_t>(hit.nArchiveBytes);
}

size_t HitStream::Batch::Memory() const {
    return strBytes.capacity() + hits.capacity() * sizeof(Packed);
}

HitStream::HitStream(std::shared_ptr<Queue> queue, SearchMode mode, std::string strCatalog)
    : m_queue(std::move(queue)), m_strCatalog(std::move(strCatalog)) {
    m_hit.catalog = m_strCatalog;
    m_hit.bDirectory = mode == kSearchDirs;
    Settle();
}

HitStream::~HitStream() {
    Close();
}

void HitStream::MoveNext() {
    if (!m_bEOF)
        Settle();
}

void HitStream::Close() {
    if (m_bOpen)
        m_queue->GiveUp();
    m_bOpen = false;
    m_bEOF = true;
}

void HitStream::Settle() {
    if (m_nNext == m_batch.hits.size()) {
        m_batch = Batch();
        m_nNext = m_nBytesAt = 0;
        bool bTaken = false;
        try {
            bTaken = m_queue->Take(m_batch);
        } catch (...) {
            Close();
            throw;
        }
        if (!bTaken) {
            Close();
            return;
        }
    }
    const Batch::Packed& packed = m_batch.hits[m_nNext++];
    const std::string_view bytes(m_batch.strBytes);
    m_hit.path = bytes.substr(m_nBytesAt, packed.nPathBytes);
    m_nBytesAt += packed.nPathBytes;
    m_hit.checksum.reset();
    if (packed.bChecksum)
        m_hit.checksum = bytes.substr(m_nBytesAt, packed.nChecksumBytes);
    m_nBytesAt += packed.nChecksumBytes;
    m_hit.nSize = packed.bSize ? std::optional<int64_t>(packed.nSize) : std::nullopt;
    m_hit.nMtimeNs = packed.bMtime ? std::optional<int64_t>(packed.nMtimeNs) : std::nullopt;
    m_hit.bMember = packed.bMember;
    m_hit.nArchiveBytes = packed.nArchiveBytes;
}
