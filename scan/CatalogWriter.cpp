#include "scan/CatalogWriter.h"

#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "scan/FileChecksum.h"
#include "scan/Paths.h"
#include "scan/PreviousCatalog.h"
#include "scan/ScanJob.h"

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
      m_files(database, CatalogSql::kInsertFile) {
    if (!m_database.InTransaction())
        m_database.BeginTransaction();
    m_index.AddDirectory(nTopDirId, topPath);
    m_tree.AddDirectory(nTopDirId, topPath);
    CountRow();
    // The largest file size within the limit: the size shifted right by
    // 10 may equal it. A file that reads longer than that gets no checksum.
    const auto nLimit = static_cast<uint32_t>(m_job.nMaxFileSizeKb);
    m_nMaxChecksumBytes = nLimit == 0 ? kNoReadLimit : (uint64_t(nLimit) + 1) * 1024 - 1;
    // A disk mounted elsewhere than catalogued is asked where it is now.
    const std::string& strReadDir = m_job.strWalkDir.empty() ? m_job.strStartDir : m_job.strWalkDir;
    const unsigned nThreads = !m_job.bChecksum  ? 1
                              : m_job.nJobs > 0 ? m_job.nJobs
                                                : ChecksumThreadsFor(strReadDir);
    if (nThreads > 1)
        m_pPool = std::make_unique<ChecksumPool>(nThreads);
}

int64_t CatalogWriter::StoreDirectory(const std::string& strPath) {
    const int64_t nId = m_dirs.Append({std::string_view(strPath)});
    m_index.AddDirectory(nId, strPath);
    m_tree.AddDirectory(nId, strPath);
    m_job.progress.nDirs.fetch_add(1, std::memory_order_relaxed);
    CountRow();
    return nId;
}

void CatalogWriter::StoreFile(int nDirFd, int64_t nDirId, const std::string& strDirPath,
                              const DirectoryEntry& entry, bool bPseudo,
                              const std::function<bool()>& fnRelieve,
                              const std::function<std::shared_ptr<UniqueFd>()>& fnSharedDir) {
    std::optional<std::string> checksum;
    if (m_job.pPrevious) {
        // An unchanged file keeps the checksum it had, unread.
        m_job.pPrevious->Find(JoinPath(strDirPath, entry.name), entry.nSize, entry.nMtimeNs,
                              checksum);
        if (checksum && (bPseudo || !WantsChecksum(entry)))
            checksum.reset();
    }
    std::shared_ptr<ChecksumPool::Task> pTask;
    if (!checksum && !bPseudo && WantsChecksum(entry)) {
        std::shared_ptr<UniqueFd> dir = m_pPool ? fnSharedDir() : nullptr;
        if (dir) {
            pTask = std::make_shared<ChecksumPool::Task>();
            pTask->dir = std::move(dir);
            pTask->strName = entry.name;
            pTask->bOwned = entry.bOwned;
            pTask->nSize = static_cast<uint64_t>(*entry.nSize);
            pTask->nMaxBytes = m_nMaxChecksumBytes;
            m_pPool->Submit(pTask);
        } else {
            checksum = HashHere(nDirFd, entry.pszName, entry.bOwned, fnRelieve);
            if (checksum)
                ++m_job.outcome.nChecksumsRead;
        }
    }
    if (!pTask && m_pending.empty()) {
        // Nothing waits ahead of it: stored at once, without a copy.
        Append(nDirId, entry.name, entry.nSize, checksum, entry.nMtimeNs, entry.nMode);
        return;
    }
    m_pending.push_back({nDirId, std::string(entry.name), entry.nSize, entry.nMtimeNs, entry.nMode,
                         std::move(checksum), std::move(pTask)});
    StoreReady(false);
}

void CatalogWriter::Finish() {
    StoreWaiting();
    if (!m_database.InTransaction())
        m_database.BeginTransaction();
    m_index.Write(m_database);
    m_tree.Write(m_database);
    m_database.Commit();
}

std::optional<std::string> CatalogWriter::HashHere(int nDirFd, const char* pszName, bool bOwned,
                                                   const std::function<bool()>& fnRelieve) {
    for (;;) {
        errno = 0; // a digest refused for its length leaves no errno
        std::optional<std::string> checksum =
            FileChecksumAt(nDirFd, pszName, bOwned, m_nMaxChecksumBytes);
        const int nErr = errno;
        if (checksum || !IsResourceShortage(nErr))
            return checksum;
        if (nErr == ENOMEM || !fnRelieve())
            ThrowShortage(nErr);
    }
}

void CatalogWriter::StoreReady(bool bAll) {
    while (!m_pending.empty()) {
        PendingFile& file = m_pending.front();
        if (file.pTask) {
            if (!m_pPool->IsDone(*file.pTask)) {
                if (!bAll && m_pending.size() <= kMaxWaiting)
                    return;
                m_pPool->Wait(*file.pTask);
            }
            if (!file.pTask->checksum && IsResourceShortage(file.pTask->nError)) {
                // Its thread found no descriptor: this one hashes it.
                file.checksum = HashHere(file.pTask->dir->Get(), file.strName.c_str(),
                                         file.pTask->bOwned, [] { return false; });
            } else {
                file.checksum = std::move(file.pTask->checksum);
            }
            if (file.checksum)
                ++m_job.outcome.nChecksumsRead;
        }
        Append(file.nDirId, file.strName, file.nSize, file.checksum, file.nMtimeNs, file.nMode);
        m_pending.pop_front();
    }
}

void CatalogWriter::Append(int64_t nDirId, std::string_view name, std::optional<int64_t> nSize,
                           const std::optional<std::string>& checksum,
                           std::optional<int64_t> nMtimeNs, std::optional<uint32_t> nMode) {
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
}

bool CatalogWriter::WantsChecksum(const DirectoryEntry& entry) const {
    if (!m_job.bChecksum || !entry.bIsRegular || !entry.nSize)
        return false;
    // The limit compares kilobytes, both sides unsigned, as the size
    // shifted right by 10: 103 423 bytes are within 100 KB, 103 424 are not.
    const auto nLimit = static_cast<uint32_t>(m_job.nMaxFileSizeKb);
    return nLimit == 0 || (static_cast<uint64_t>(*entry.nSize) >> 10) <= nLimit;
}

void CatalogWriter::CountRow() {
    if (++m_nRows % kRowsPerCommit == 0) {
        m_database.Commit();
        m_database.BeginTransaction();
    }
}
