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
    : m_bHasTimes(bHasTimes) {
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
    std::sort(m_entries.begin(), m_entries.end(),
              [](const Entry& a, const Entry& b) { return a.nPathHash < b.nPathHash; });
    for (size_t i = 1; i < m_entries.size(); ++i) {
        if (m_entries[i].nPathHash == m_entries[i - 1].nPathHash) {
            m_entries[i].bAmbiguous = true;
            m_entries[i - 1].bAmbiguous = true;
        }
    }
    // About one entry a bucket: a lookup reads one or two entries next to
    // each other instead of a binary search's cache misses.
    m_nBucketBits = std::clamp(static_cast<int>(std::bit_width(m_entries.size())), 1, 24);
    m_buckets.assign((size_t(1) << m_nBucketBits) + 1, 0);
    for (const Entry& entry : m_entries)
        ++m_buckets[(entry.nPathHash >> (64 - m_nBucketBits)) + 1];
    for (size_t i = 1; i < m_buckets.size(); ++i)
        m_buckets[i] += m_buckets[i - 1];
}

void PreviousCatalog::Find(std::string_view path, std::optional<int64_t> nSize,
                           std::optional<int64_t> nMtimeNs, std::optional<std::string>& checksum) {
    Loaded();
    checksum.reset();
    const uint64_t nHash = HashPath(path);
    const size_t nBucket = nHash >> (64 - m_nBucketBits);
    const auto itEnd = m_entries.begin() + static_cast<ptrdiff_t>(m_buckets[nBucket + 1]);
    auto it = m_entries.begin() + static_cast<ptrdiff_t>(m_buckets[nBucket]);
    while (it != itEnd && it->nPathHash < nHash)
        ++it;
    if (it == itEnd || it->nPathHash != nHash) {
        ++m_nAdded;
        return;
    }
    Entry& entry = *it;
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
    if (entry.nChecksum != kNoChecksum)
        checksum = DigestToHex(m_checksums[entry.nChecksum]);
}
