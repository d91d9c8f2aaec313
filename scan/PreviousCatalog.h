// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "scan/Md5.h"

#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class Database;

// The files of a catalog being brought up to date, held compactly, so the new
// walk can tell for each file whether it is new, changed or the same as
// before (the same path, size and modification time), and a file that is
// the same keeps its checksum without being read.
class PreviousCatalog {
public:
    // Starts reading every file of the catalog open in database, which is
    // at strCatalogPath, on a thread of its own with a connection of its
    // own; raises EngineError when its files cannot be read (tables of
    // another shape). bHasTimes tells whether its files carry modification
    // times: a catalog without them compares by size alone, and lends no
    // checksum, so its files are all read again.
    PreviousCatalog(Database& database, const std::string& strCatalogPath, bool bHasTimes);
    // Waits for the reading.
    ~PreviousCatalog();
    PreviousCatalog(const PreviousCatalog&) = delete;
    PreviousCatalog& operator=(const PreviousCatalog&) = delete;

    // Looks up the file at path as the new walk found it, counts it as new,
    // changed or unchanged, and marks it met; the first call waits until the
    // catalog is read, and raises EngineError when reading it failed.
    // Paths are compared in their normal form (NormalPath).
    // checksum gets the stored checksum of an unchanged file that has one,
    // nFileId the row id an unchanged file had (0 when it is not unchanged,
    // or the catalog has no times to tell).
    void Find(std::string_view path, std::optional<int64_t> nSize, std::optional<int64_t> nMtimeNs,
              std::optional<std::string>& checksum, int64_t& nFileId);

    // The catalog's file, and whether the members of its archives may be
    // taken over for unchanged files (it read them with the settings the
    // new build has).
    const std::string& Path() const { return m_strPath; }
    bool LendsMembers() const { return m_bLendsMembers; }
    void SetLendsMembers(bool bLends) { m_bLendsMembers = bLends; }

    // Counts of the walk so far.
    uint64_t Added() const { return m_nAdded; }
    uint64_t Changed() const { return m_nChanged; }
    uint64_t Unchanged() const { return m_nUnchanged; }
    // Files of the catalog the walk did not meet.
    uint64_t Removed() const {
        Loaded();
        return m_entries.size() - m_nMet;
    }

private:
    static constexpr uint32_t kNoChecksum = UINT32_MAX;
    void Load(Database& database);
    void Loaded() const;
    struct Entry {
        uint64_t nPathHash;
        int64_t nSize;      // -1 when unknown
        int64_t nMtimeNs;   // INT64_MIN when unknown
        int64_t nFileId;    // its row id, 0 when it is no whole number
        uint32_t nChecksum; // index into m_checksums, or kNoChecksum
        bool bMet;
        bool bAmbiguous; // another path has the same hash: never matched
    };

    std::vector<Entry> m_entries;   // in the catalog's order
    std::vector<uint32_t> m_byHash; // their indices, by path hash
    // Where the indices of each value of the hash's top m_nBucketBits bits
    // begin in m_byHash, and where the last ends.
    std::vector<uint32_t> m_buckets;
    int m_nBucketBits = 1;
    size_t m_nNext = 0; // the entry after the one found last
    std::vector<Md5Digest> m_checksums;
    bool m_bHasTimes = false;
    std::string m_strPath;
    bool m_bLendsMembers = false;
    mutable std::future<void> m_loading; // valid until waited for
    uint64_t m_nAdded = 0, m_nChanged = 0, m_nUnchanged = 0, m_nMet = 0;
};
