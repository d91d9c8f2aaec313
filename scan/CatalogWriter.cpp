// SPDX-License-Identifier: GPL-3.0-or-later

#include "scan/CatalogWriter.h"

#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "scan/ArchiveReader.h"
#include "scan/FileChecksum.h"
#include "scan/Paths.h"
#include "scan/PreviousCatalog.h"
#include "scan/ScanJob.h"
#include "scan/WalkQueue.h"

#include <cerrno>

namespace {

// Rows per transaction: large enough that commits cost little, small enough
// that a job stopped by a failure keeps nearly everything it had read, and
// that readers see a catalog being built grow.
constexpr uint64_t kRowsPerCommit = 5000;

// Files a walk may list ahead of the one whose checksum it waits for:
// enough that the other threads stay busy while one hashes a large file.
constexpr size_t kMaxWaiting = 16384;

} // namespace

CatalogWriter::CatalogWriter(Database& database, ScanJob& job, int64_t nTopDirId,
                             std::string_view topPath)
    : m_database(database), m_job(job), m_dirs(database, CatalogSql::kInsertDir),
      m_files(database, CatalogSql::kInsertFile),
      m_nMaxChecksumBytes(ChecksumByteLimit(job)), m_dirIds{nTopDirId} {
    if (!m_database.InTransaction())
        m_database.BeginTransaction();
    m_index.AddDirectory(nTopDirId, topPath);
    m_tree.AddDirectory(nTopDirId, topPath);
    CountRow();
    // Hashing runs on every core whatever the disk: one reader per device
    // keeps a hard disk from seeking between files.
    if (const unsigned nThreads = HashingThreads(m_job); nThreads > 0)
        m_pPool = std::make_unique<ChecksumPool>(nThreads);
    if (m_job.bArchives)
        m_members.emplace(m_database, m_job, [this] { CountRow(); });
}

void CatalogWriter::Store(WalkQueue& queue) {
    WalkBatch batch;
    for (;;) {
        if (!queue.Take(batch, false)) {
            if (queue.AtEnd())
                break;
            // Caught up with the walk: the files waiting give back the
            // descriptors it may be waiting for.
            StoreReady(true);
            if (!queue.Take(batch, true))
                break;
        }
        if (m_pPool && m_job.bStopRequested.load(std::memory_order_relaxed))
            m_pPool->Cancel();
        for (const WalkStep& step : batch.steps) {
            if (m_bDropping)
                break;
            StoreStep(batch, step);
        }
    }
    StoreReady(true);
}

void CatalogWriter::StoreStep(const WalkBatch& batch, const WalkStep& step) {
    switch (step.kind) {
    case WalkStep::Kind::Directory: {
        const std::string_view path = batch.Text(step);
        const int64_t nId = m_dirs.Append({path});
        m_dirIds.push_back(nId);
        m_index.AddDirectory(nId, path);
        m_tree.AddDirectory(nId, path);
        m_job.progress.nDirs.fetch_add(1, std::memory_order_relaxed);
        CountRow();
        break;
    }
    case WalkStep::Kind::Listing:
        m_nListingId = DirId(step.nDir);
        m_strListingPath = batch.Text(step);
        m_bListingPseudo = step.bPseudo;
        break;
    case WalkStep::Kind::State:
        m_tree.SetDirectoryState(DirId(step.nDir), step.nMode.value_or(0),
                                 step.nMtimeNs.value_or(0));
        break;
    case WalkStep::Kind::File:
        StoreFile(batch, step);
        break;
    }
}

int64_t CatalogWriter::DirId(uint64_t nDir) const {
    if (nDir >= m_dirIds.size())
        throw EngineError("The walk named a directory it had not stored.");
    return m_dirIds[nDir];
}

void CatalogWriter::StoreFile(const WalkBatch& batch, const WalkStep& step) {
    const std::string_view name = batch.Text(step);
    const bool bWanted = !m_bListingPseudo && ChecksumWanted(m_job, step.bIsRegular, step.nSize);
    std::optional<std::string> checksum;
    ArchiveFile archive;
    if (m_members && step.dir && !m_bListingPseudo && step.bIsRegular && IsArchiveName(name)) {
        archive.dir = step.dir;
        archive.bOwned = step.bOwned;
    }
    if (m_job.pPrevious) {
        // An unchanged file keeps the checksum it had, unread.
        m_job.pPrevious->Find(JoinPath(m_strListingPath, name), step.nSize, step.nMtimeNs, checksum,
                              archive.nPreviousId);
        if (checksum && !bWanted)
            checksum.reset();
    }
    std::shared_ptr<ChecksumPool::Task> pTask;
    if (!checksum && bWanted) {
        if (step.digest == WalkStep::Digest::Read) {
            checksum = std::string(batch.Digest(step));
            ++m_job.outcome.nChecksumsRead;
        } else if (step.dir) {
            pTask = std::make_shared<ChecksumPool::Task>();
            pTask->dir = step.dir;
            pTask->strName = name;
            pTask->bOwned = step.bOwned;
            pTask->nSize = static_cast<uint64_t>(*step.nSize);
            pTask->nMaxBytes = m_nMaxChecksumBytes;
            m_pPool->Submit(pTask);
        }
    }
    if (!pTask && m_pending.empty()) {
        // Nothing waits ahead of it: stored at once, without a copy.
        Append(m_nListingId, name, step.nSize, checksum, step.nMtimeNs, step.nMode, archive);
        return;
    }
    m_pending.push_back({m_nListingId, std::string(name), step.nSize, step.nMtimeNs, step.nMode,
                         std::move(checksum), std::move(pTask), std::move(archive)});
    StoreReady(false);
}

void CatalogWriter::Finish() {
    StoreReady(true);
    if (!m_database.InTransaction())
        m_database.BeginTransaction();
    m_index.AddMembersOf(m_database);
    m_index.Write(m_database);
    m_tree.Write(m_database);
    m_database.Commit();
}

std::optional<std::string> CatalogWriter::HashHere(int nDirFd, const char* pszName, bool bOwned) {
    errno = 0; // a digest refused for its length leaves no errno
    std::optional<std::string> checksum =
        FileChecksumAt(nDirFd, pszName, bOwned, m_nMaxChecksumBytes);
    const int nErr = errno;
    if (!checksum && IsResourceShortage(nErr))
        ThrowShortage(nErr);
    return checksum;
}

void CatalogWriter::StoreReady(bool bAll) {
    while (!m_pending.empty()) {
        PendingFile& file = m_pending.front();
        if (file.pTask) {
            if (!ChecksumPool::IsDone(*file.pTask)) {
                if (!bAll && m_pending.size() <= kMaxWaiting)
                    return;
                m_pPool->Wait(*file.pTask, m_job.bStopRequested);
            }
            if (file.pTask->nError == ECANCELED) {
                // Stopped before it was read: it and what follows go, so the
                // catalog holds the walk up to there, checksums and all.
                m_bDropping = true;
                m_pending.clear();
                return;
            }
            if (!file.pTask->checksum && IsResourceShortage(file.pTask->nError)) {
                // Its thread found no descriptor: this one hashes it.
                file.checksum =
                    HashHere(file.pTask->dir->Get(), file.strName.c_str(), file.pTask->bOwned);
            } else {
                file.checksum = std::move(file.pTask->checksum);
            }
            if (file.checksum)
                ++m_job.outcome.nChecksumsRead;
        }
        Append(file.nDirId, file.strName, file.nSize, file.checksum, file.nMtimeNs, file.nMode,
               file.archive);
        m_pending.pop_front();
    }
}
void CatalogWriter::Append(int64_t nDirId, std::string_view name, std::optional<int64_t> nSize,
                           const std::optional<std::string>& checksum,
                           std::optional<int64_t> nMtimeNs, std::optional<uint32_t> nMode,
                           const ArchiveFile& archive) {
    FieldValue size;
    if (nSize) {
        size = *nSize;
        if (*nSize > 0)
            m_job.outcome.nTotalBytes += static_cast<ByteTotal>(*nSize);
    }
    FieldValue md5;
    if (checksum) {
        md5 = std::string_view(*checksum);
        m_job.progress.nChecksums.fetch_add(1, std::memory_order_relaxed);
    }
    FieldValue mtime;
    if (nMtimeNs)
        mtime = *nMtimeNs;
    const int64_t nFileId = m_files.Append({nDirId, name, size, md5, mtime});
    m_index.AddFile(nFileId, nDirId, name);
    m_tree.AddFile(nFileId, nDirId, nSize, nMtimeNs, nMode);
    m_job.progress.nFiles.fetch_add(1, std::memory_order_relaxed);
    CountRow();
    if (archive.dir)
        m_members->StoreMembers(nFileId, archive.dir->Get(), std::string(name).c_str(),
                                archive.bOwned, archive.nPreviousId);
}

void CatalogWriter::CountRow() {
    if (++m_nRows % kRowsPerCommit == 0) {
        m_database.Commit();
        m_database.BeginTransaction();
    }
}
