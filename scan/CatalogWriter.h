#pragma once

#include "browse/TreeTables.h"
#include "catalog/NameIndex.h"
#include "catalog/RowAppender.h"
#include "scan/ChecksumPool.h"

#include <deque>
#include <functional>
#include <memory>

class Database;
struct ScanJob;

// Stores the rows of a walk. Checksums may be computed on other threads: a
// file waits in a queue until its checksum is there, and rows are stored in
// the order of the walk all the same, so they get the ids and order a walk on
// one thread gives.
class CatalogWriter {
public:
    // Writes below the directory nTopDirId at topPath, whose row is stored
    // already, in the caller's open transaction or one it begins, with the
    // job's settings. Raises EngineError.
    CatalogWriter(Database& database, ScanJob& job, int64_t nTopDirId, std::string_view topPath);

    // Stores a directory row; returns its id.
    int64_t StoreDirectory(const std::string& strPath);

    // Records a stored directory's own st_mode and modification time.
    void SetDirectoryState(int64_t nDirId, uint32_t nMode, int64_t nMtimeNs) {
        m_tree.SetDirectoryState(nDirId, nMode, nMtimeNs);
    }

    // Stores a file of the open directory nDirFd. fnRelieve closes spare
    // descriptors and says whether it could; fnSharedDir gives a descriptor
    // of the directory the hashing threads may keep (null when none can be
    // had: the file is then hashed here).
    void StoreFile(int nDirFd, int64_t nDirId, const std::string& strDirPath,
                   const DirectoryEntry& entry, bool bPseudo,
                   const std::function<bool()>& fnRelieve,
                   const std::function<std::shared_ptr<UniqueFd>()>& fnSharedDir);

    // Stores every file still waiting for its checksum: before the
    // descriptors they hold are needed, and at the end.
    void StoreWaiting() { StoreReady(true); }

    // Writes the name index and the folder tables of the rows stored, and
    // commits.
    void Finish();

private:
    struct PendingFile {
        int64_t nDirId;
        std::string strName;
        std::optional<int64_t> nSize, nMtimeNs;
        std::optional<uint32_t> nMode;
        std::optional<std::string> checksum;
        std::shared_ptr<ChecksumPool::Task> pTask; // a checksum being computed
    };

    std::optional<std::string> HashHere(int nDirFd, const char* pszName, bool bOwned,
                                        const std::function<bool()>& fnRelieve);
    void StoreReady(bool bAll);
    void Append(int64_t nDirId, std::string_view name, std::optional<int64_t> nSize,
                const std::optional<std::string>& checksum, std::optional<int64_t> nMtimeNs,
                std::optional<uint32_t> nMode);
    bool WantsChecksum(const DirectoryEntry& entry) const;
    void CountRow();

    Database& m_database;
    ScanJob& m_job;
    RowAppender m_dirs;
    RowAppender m_files;
    NameIndexBuilder m_index;
    TreeTablesBuilder m_tree;
    uint64_t m_nRows = 0;
    uint64_t m_nMaxChecksumBytes;
    std::deque<PendingFile> m_pending;
    std::unique_ptr<ChecksumPool> m_pPool; // last: its threads end before what they use
};
