// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "browse/TreeTables.h"
#include "catalog/NameIndex.h"
#include "catalog/RowAppender.h"
#include "scan/ChecksumPool.h"
#include "scan/MemberWriter.h"

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class Database;
struct ScanJob;
struct WalkBatch;
struct WalkStep;
class WalkQueue;

// Stores the rows of a walk, on the thread that owns the catalog, while the
// walk goes on in another. Checksums are computed on other threads still: a
// file waits in a queue until its checksum is there, and rows are stored in
// the order of the walk all the same, so they get the ids and order a walk on
// one thread gives.
class CatalogWriter {
public:
    // Writes below the directory nTopDirId at topPath, whose row is stored
    // already, in the caller's open transaction or one it begins, with the
    // job's settings. Raises EngineError.
    CatalogWriter(Database& database, ScanJob& job, int64_t nTopDirId, std::string_view topPath);

    // Stores the steps queue hands over until the walk has ended, and every
    // file still waiting for its checksum. Once the job is asked to stop,
    // checksums not read yet are not waited for: the files from the first of
    // them on are not stored, as if the walk had stopped there. Raises
    // EngineError.
    void Store(WalkQueue& queue);

    // True when a stop left files out whose checksums were not read yet.
    bool LeftFilesOut() const { return m_bDropping; }
    // True when a stop left members of archives out.
    bool LeftMembersOut() const { return m_members && m_members->LeftMembersOut(); }

    // Writes the name index and the folder tables of the rows stored, and
    // commits.
    void Finish();

private:
    // Where an archive's members are read from once its row is stored.
    struct ArchiveFile {
        std::shared_ptr<UniqueFd> dir; // null: the file is no archive to read
        bool bOwned = false;
        int64_t nPreviousId = 0; // its id in the former catalog when unchanged
    };
    struct PendingFile {
        int64_t nDirId;
        std::string strName;
        std::optional<int64_t> nSize, nMtimeNs;
        std::optional<uint32_t> nMode;
        std::optional<std::string> checksum;
        std::shared_ptr<ChecksumPool::Task> pTask; // a checksum being computed
        ArchiveFile archive;
    };

    void StoreStep(const WalkBatch& batch, const WalkStep& step);
    void StoreFile(const WalkBatch& batch, const WalkStep& step);
    std::optional<std::string> HashHere(int nDirFd, const char* pszName, bool bOwned);
    void StoreReady(bool bAll);
    void Append(int64_t nDirId, std::string_view name, std::optional<int64_t> nSize,
                const std::optional<std::string>& checksum, std::optional<int64_t> nMtimeNs,
                std::optional<uint32_t> nMode, const ArchiveFile& archive);
    int64_t DirId(uint64_t nDir) const;
    void CountRow();

    Database& m_database;
    ScanJob& m_job;
    RowAppender m_dirs;
    RowAppender m_files;
    NameIndexBuilder m_index;
    TreeTablesBuilder m_tree;
    uint64_t m_nRows = 0;
    uint64_t m_nMaxChecksumBytes;
    std::vector<int64_t> m_dirIds; // the row id of each directory the walk numbered
    // The directory whose files the walk hands over now.
    int64_t m_nListingId = 0;
    std::string m_strListingPath;
    bool m_bListingPseudo = false;
    bool m_bDropping = false; // stopped: nothing more is stored
    std::deque<PendingFile> m_pending;
    std::optional<MemberWriter> m_members; // with bArchives
    std::unique_ptr<ChecksumPool> m_pPool; // last: its threads end before what they use
};
