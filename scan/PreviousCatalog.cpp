// SPDX-License-Identifier: GPL-3.0-or-later

#include "scan/PreviousCatalog.h"

#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/ResultSet.h"
#include "scan/Md5.h"
#include "scan/Paths.h"

#include <algorithm>
#include <bit>
#include <functional>
#include <string>

namespace {

// The hash of the path's normal form (NormalPath), so that a file is met
// again however separators were doubled in the start directory it was
// catalogued below.
uint64_t HashPath(std::string_view path) {
    if (path.find("//") == std::string_view::npos && (path.size() < 2 || path.back() != '/'))
        return std::hash<std::string_view>{}(path);
    return std::hash<std::string>{}(NormalPath(path));
}

} // namespace

PreviousCatalog::PreviousCatalog(Database& database, const std::string& strCatalogPath,
                                 bool bHasTimes)
    : m_bHasTimes(bHasTimes), m_strPath(strCatalogPath) {
    // The statement is made here, so a catalog whose tables have another
    // shape is refused before the walk begins; its rows are read while the
    // walk goes on, which needs them only when it reaches its first file.
    database.Prepare(m_bHasTimes ? CatalogSql::kFilesWithTimes : CatalogSql::kFilesWithoutTimes);
    m_loading = std::async(std::launch::async, [this, strCatalogPath] {
        Database own;
        own.Open(strCatalogPath, Database::OpenMode::ReadOnly);
        Load(own);
    });
}

PreviousCatalog::~PreviousCatalog() {
    if (m_loading.valid())
        m_loading.wait();
}

void PreviousCatalog::Loaded() const {
    if (m_loading.valid())
        m_loading.get(); // raises what the reading raised
}

void PreviousCatalog::Load(Database& database) {
    for (ResultSet rows(database.Prepare(m_bHasTimes ? CatalogSql::kFilesWithTimes
                                                     : CatalogSql::kFilesWithoutTimes));
         !rows.IsEOF(); rows.MoveNext()) {
        const std::string strPath = JoinPath(rows.GetTextView(0), rows.GetTextView(1));
        Entry entry{HashPath(strPath),
                    rows.IsNull(2) ? -1 : rows.GetInt64(2),
                    rows.IsNull(3) ? INT64_MIN : rows.GetInt64(3),
                    rows.IsNull(5) ? 0 : rows.GetInt64(5),
                    kNoChecksum,
                    false,
                    false};
        Md5Digest digest{};
        if (m_bHasTimes && !rows.IsNull(4) && HexToDigest(rows.GetTextView(4), digest)) {
            entry.nChecksum = static_cast<uint32_t>(m_checksums.size());
            m_checksums.push_back(digest);
        }
        m_entries.push_back(entry);
    }
    // The entries stay in the catalog's order, which is the order an
    // unchanged tree is walked in: most lookups find the entry after the one
    // found before. The others go through the entries sorted by hash, about
    // one a bucket of the hash's top bits.
    m_byHash.resize(m_entries.size());
    for (size_t i = 0; i < m_byHash.size(); ++i)
        m_byHash[i] = static_cast<uint32_t>(i);
    std::sort(m_byHash.begin(), m_byHash.end(), [&](uint32_t a, uint32_t b) {
        return m_entries[a].nPathHash < m_entries[b].nPathHash ||
               (m_entries[a].nPathHash == m_entries[b].nPathHash && a < b);
    });
    for (size_t i = 1; i < m_byHash.size(); ++i) {
        Entry& entry = m_entries[m_byHash[i]];
        Entry& before = m_entries[m_byHash[i - 1]];
        if (entry.nPathHash == before.nPathHash) {
            entry.bAmbiguous = true;
            before.bAmbiguous = true;
        }
    }
    m_nBucketBits = std::clamp(static_cast<int>(std::bit_width(m_entries.size())), 1, 24);
    m_buckets.assign((size_t(1) << m_nBucketBits) + 1, 0);
    for (const Entry& entry : m_entries)
        ++m_buckets[(entry.nPathHash >> (64 - m_nBucketBits)) + 1];
    for (size_t i = 1; i < m_buckets.size(); ++i)
        m_buckets[i] += m_buckets[i - 1];
}

void PreviousCatalog::Find(std::string_view path, std::optional<int64_t> nSize,
                           std::optional<int64_t> nMtimeNs, std::optional<std::string>& checksum,
                           int64_t& nFileId) {
    Loaded();
    checksum.reset();
    nFileId = 0;
    const uint64_t nHash = HashPath(path);
    Entry* pEntry = nullptr;
    if (m_nNext < m_entries.size() && m_entries[m_nNext].nPathHash == nHash) {
        pEntry = &m_entries[m_nNext];
    } else {
        const size_t nBucket = nHash >> (64 - m_nBucketBits);
        for (size_t k = m_buckets[nBucket]; k < m_buckets[nBucket + 1]; ++k) {
            Entry& candidate = m_entries[m_byHash[k]];
            if (candidate.nPathHash >= nHash) {
                if (candidate.nPathHash == nHash)
                    pEntry = &candidate;
                break;
            }
        }
    }
    if (!pEntry) {
        ++m_nAdded;
        return;
    }
    m_nNext = static_cast<size_t>(pEntry - m_entries.data()) + 1;
    Entry& entry = *pEntry;
    if (!entry.bMet) {
        entry.bMet = true;
        ++m_nMet;
    }
    const bool bSameSize = nSize && *nSize == entry.nSize;
    const bool bSameTime = !m_bHasTimes || (nMtimeNs && *nMtimeNs == entry.nMtimeNs);
    if (entry.bAmbiguous || !bSameSize || !bSameTime) {
        ++m_nChanged;
        return;
    }
    ++m_nUnchanged;
    if (m_bHasTimes)
        nFileId = entry.nFileId;
    if (entry.nChecksum != kNoChecksum)
        checksum = DigestToHex(m_checksums[entry.nChecksum]);
}
