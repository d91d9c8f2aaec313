#include "scan/PreviousCatalog.h"

#include "catalog/CatalogInfo.h"
#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/ResultSet.h"
#include "search/Search.h"

#include <algorithm>
#include <functional>

namespace {

uint64_t HashPath(std::string_view path) {
    return std::hash<std::string_view>{}(path);
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A stored checksum as its 16 bytes; false for text that is not 32
// hexadecimal digits (such a checksum is not lent, the file is read again).
bool ParseDigest(std::string_view text, std::array<uint8_t, 16>& digest) {
    if (text.size() != 32)
        return false;
    for (size_t i = 0; i < 16; ++i) {
        const int nHigh = HexValue(text[2 * i]), nLow = HexValue(text[2 * i + 1]);
        if (nHigh < 0 || nLow < 0)
            return false;
        digest[i] = static_cast<uint8_t>(nHigh * 16 + nLow);
    }
    return true;
}

std::string DigestText(const std::array<uint8_t, 16>& digest) {
    static const char kHex[] = "0123456789abcdef";
    std::string strText(32, '0');
    for (size_t i = 0; i < 16; ++i) {
        strText[2 * i] = kHex[digest[i] >> 4];
        strText[2 * i + 1] = kHex[digest[i] & 15];
    }
    return strText;
}

} // namespace

PreviousCatalog::PreviousCatalog(Database& database) {
    m_bHasTimes = ReadCatalogInfo(database).bHasFileTimes;
    for (ResultSet rows(database.Prepare(m_bHasTimes ? CatalogSql::kFilesWithTimes
                                                     : CatalogSql::kFilesWithoutTimes));
         !rows.IsEOF(); rows.MoveNext()) {
        // The path as the walk builds it, and as a search shows it.
        const std::string strPath = HitToResultRow(rows, kSearchFiles, {}).strPath;
        Entry entry{HashPath(strPath),
                    rows.IsNull(2) ? -1 : rows.GetInt64(2),
                    rows.IsNull(3) ? INT64_MIN : rows.GetInt64(3),
                    kNoChecksum,
                    false,
                    false};
        std::array<uint8_t, 16> digest{};
        if (m_bHasTimes && !rows.IsNull(4) && ParseDigest(rows.GetTextView(4), digest)) {
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
}

PreviousCatalog::Match PreviousCatalog::Find(std::string_view path, std::optional<int64_t> nSize,
                                             std::optional<int64_t> nMtimeNs,
                                             std::optional<std::string>& checksum) {
    checksum.reset();
    const uint64_t nHash = HashPath(path);
    const auto it = std::lower_bound(
        m_entries.begin(), m_entries.end(), nHash,
        [](const Entry& entry, uint64_t nValue) { return entry.nPathHash < nValue; });
    if (it == m_entries.end() || it->nPathHash != nHash) {
        ++m_nAdded;
        return Match::New;
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
        return Match::Changed;
    }
    ++m_nUnchanged;
    if (entry.nChecksum != kNoChecksum)
        checksum = DigestText(m_checksums[entry.nChecksum]);
    return Match::Unchanged;
}
