#include "scan/ScanJob.h"

#include "catalog/Catalog.h"
#include "catalog/CatalogInfo.h"
#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "catalog/LikeMatcher.h"
#include "catalog/NameIndex.h"
#include "catalog/ResultSet.h"
#include "catalog/RowAppender.h"
#include "scan/ChecksumPool.h"
#include "scan/DirectoryReader.h"
#include "scan/FileChecksum.h"
#include "scan/Paths.h"
#include "scan/PreviousCatalog.h"
#include "scan/Volume.h"

#include <cerrno>
#include <cstring>
#include <deque>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

std::atomic<bool> g_bReloadDatabaseList{true};

namespace {

// Rows per transaction: large enough that commits cost little, small enough
// that a job stopped by a failure keeps nearly everything it had read, and
// that readers see a catalog being built grow.
constexpr uint64_t kRowsPerCommit = 5000;

[[noreturn]] void ThrowShortage(int nErrno) {
    throw EngineError(std::string("The walk ran out of system resources: ") +
                      std::strerror(nErrno));
}

// A directory whose subtree is being walked: its descriptor (closed when
// descriptors run short, and opened again by name when needed), its name in
// the directory above, its stored path, and its subdirectories (names back
// to back, with the ids their rows were given) still to walk.
struct Level {
    struct Subdirectory {
        size_t nNameOffset;
        size_t nNameLength;
        int64_t nDirId;
    };

    UniqueFd fd;
    std::string strName;
    std::string strPath;
    std::string strNames;
    std::vector<Subdirectory> subdirectories;
    size_t nNext = 0;
};

// Stores the rows of a walk. Checksums may be computed on other threads: a
// file waits in a queue until its checksum is there, and rows are stored in
// the order of the walk all the same, so they get the ids and order a walk on
// one thread gives.
class CatalogWriter {
public:
    CatalogWriter(Database& database, ScanJob& job, unsigned nHashThreads)
        : m_database(database), m_job(job), m_dirs(database, CatalogSql::kInsertDir),
          m_files(database, CatalogSql::kInsertFile) {
        if (!m_database.InTransaction())
            m_database.BeginTransaction();
        // The largest file size within the limit: the size shifted right by
        // 10 may equal it. A file that reads longer than that gets no checksum.
        const auto nLimit = static_cast<uint32_t>(m_job.nMaxFileSizeKb);
        m_nMaxChecksumBytes = nLimit == 0 ? kNoReadLimit : (uint64_t(nLimit) + 1) * 1024 - 1;
        if (m_job.bChecksum && nHashThreads > 1)
            m_pPool = std::make_unique<ChecksumPool>(nHashThreads);
    }

    int64_t StoreDirectory(const std::string& strPath) {
        const int64_t nId = m_dirs.Append({std::string_view(strPath)});
        m_index.AddDirectory(nId, strPath);
        m_job.progress.nDirs.fetch_add(1, std::memory_order_relaxed);
        CountRow();
        return nId;
    }

    // True when files are hashed on other threads, which then need a
    // descriptor of their directory of their own.
    bool HashesInParallel() const { return m_pPool != nullptr; }

    // Stores a file of the open directory nDirFd. fnRelieve closes spare
    // descriptors and says whether it could; fnSharedDir gives a descriptor
    // of the directory the hashing threads may keep (null when none can be
    // had: the file is then hashed here).
    template <typename Relieve, typename SharedDir>
    void StoreFile(int nDirFd, int64_t nDirId, const std::string& strDirPath,
                   const DirectoryEntry& entry, bool bPseudo, Relieve fnRelieve,
                   SharedDir fnSharedDir) {
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
            Append(nDirId, entry.name, entry.nSize, checksum, entry.nMtimeNs);
            return;
        }
        m_pending.push_back({nDirId, std::string(entry.name), entry.nSize, entry.nMtimeNs,
                             std::move(checksum), std::move(pTask)});
        StoreReady(false);
    }

    // Stores every file still waiting for its checksum: before the
    // descriptors they hold are needed, and at the end.
    void StoreWaiting() { StoreReady(true); }

    // Writes the name index of the rows stored, and commits.
    void Finish() {
        StoreWaiting();
        if (!m_database.InTransaction())
            m_database.BeginTransaction();
        m_index.Write(m_database);
        m_database.Commit();
    }

private:
    struct PendingFile {
        int64_t nDirId;
        std::string strName;
        std::optional<int64_t> nSize, nMtimeNs;
        std::optional<std::string> checksum;
        std::shared_ptr<ChecksumPool::Task> pTask; // a checksum being computed
    };

    // Files a walk may list ahead of the one whose checksum it waits for:
    // enough that the other threads stay busy while one hashes a large file.
    static constexpr size_t kMaxWaiting = 16384;

    template <typename Relieve>
    std::optional<std::string> HashHere(int nDirFd, const char* pszName, bool bOwned,
                                        Relieve fnRelieve) {
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

    void StoreReady(bool bAll) {
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
            Append(file.nDirId, file.strName, file.nSize, file.checksum, file.nMtimeNs);
            m_pending.pop_front();
        }
    }

    void Append(int64_t nDirId, std::string_view name, std::optional<int64_t> nSize,
                const std::optional<std::string>& checksum, std::optional<int64_t> nMtimeNs) {
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
        m_index.AddFile(m_files.Append({nDirId, name, size, md5, mtime}), nDirId, name);
        m_job.progress.nFiles.fetch_add(1, std::memory_order_relaxed);
        CountRow();
    }

    bool WantsChecksum(const DirectoryEntry& entry) const {
        if (!m_job.bChecksum || !entry.bIsRegular || !entry.nSize)
            return false;
        // The limit compares kilobytes, both sides unsigned, as the size
        // shifted right by 10: 103 423 bytes are within 100 KB, 103 424 are not.
        const auto nLimit = static_cast<uint32_t>(m_job.nMaxFileSizeKb);
        return nLimit == 0 || (static_cast<uint64_t>(*entry.nSize) >> 10) <= nLimit;
    }

    void CountRow() {
        if (++m_nRows % kRowsPerCommit == 0) {
            m_database.Commit();
            m_database.BeginTransaction();
        }
    }

    Database& m_database;
    ScanJob& m_job;
    RowAppender m_dirs;
    RowAppender m_files;
    NameIndexBuilder m_index;
    uint64_t m_nRows = 0;
    uint64_t m_nMaxChecksumBytes = kNoReadLimit;
    std::deque<PendingFile> m_pending;
    std::unique_ptr<ChecksumPool> m_pPool; // last: its threads end before what they use
};

// The depth-first walk below a stored start directory. It keeps one open
// directory per level on its way down, and copes with few descriptors: when
// the system has none left it closes those of the levels above, which it
// opens again by name (never through a link) when it comes back to them.
class TreeWalk {
public:
    TreeWalk(CatalogWriter& writer, ScanJob& job, const std::string& strStartPath)
        : m_writer(writer), m_job(job), m_strStartPath(strStartPath) {
        for (const std::string& strPattern : job.excludes)
            (strPattern.find('/') == std::string::npos ? m_nameExcludes : m_pathExcludes)
                .emplace_back(strPattern);
    }

    void Run(int64_t nStartId) {
        Level root;
        root.strPath = m_strStartPath;
        root.fd = OpenRelieving(0, [&] { return DirectoryReader::OpenStart(m_strStartPath); });
        if (!root.fd.IsValid()) {
            ++m_job.outcome.nUnreadDirs;
            m_job.outcome.bStartUnread = true;
            return;
        }
        struct stat st {};
        if (::fstat(root.fd.Get(), &st) == 0)
            m_nStartDevice = st.st_dev;
        m_levels.push_back(std::move(root));
        ListDirectory(0, nStartId);
        while (!m_levels.empty() && !Stopped()) {
            const size_t nTop = m_levels.size() - 1;
            Level& top = m_levels[nTop];
            if (top.nNext == top.subdirectories.size()) {
                m_levels.pop_back();
                continue;
            }
            const Level::Subdirectory sub = top.subdirectories[top.nNext++];
            Level child;
            child.strName = top.strNames.substr(sub.nNameOffset, sub.nNameLength);
            const int nParentFd = LevelFd(nTop);
            if (nParentFd >= 0)
                child.fd = OpenRelieving(nTop, [&] {
                    return DirectoryReader::OpenChild(nParentFd, child.strName.c_str());
                });
            if (!child.fd.IsValid()) {
                ++m_job.outcome.nUnreadDirs; // its row stays, with no files and no children
                continue;
            }
            child.strPath = JoinPath(top.strPath, child.strName);
            m_levels.push_back(std::move(child));
            ListDirectory(nTop + 1, sub.nDirId);
        }
    }

private:
    bool IsExcluded(std::string_view name, const std::string& strParentPath) const {
        for (const LikeMatcher& matcher : m_nameExcludes)
            if (matcher.Matches(name))
                return true;
        if (m_pathExcludes.empty())
            return false;
        const std::string strPath = JoinPath(strParentPath, name);
        for (const LikeMatcher& matcher : m_pathExcludes)
            if (matcher.Matches(strPath))
                return true;
        return false;
    }

    // True for a subdirectory on another file system than the start's.
    bool IsOtherFileSystem(int nDirFd, const char* pszName) const {
        struct stat st {};
        return ::fstatat(nDirFd, pszName, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
               st.st_dev != m_nStartDevice;
    }

    bool Stopped() {
        if (m_job.bStopRequested.load(std::memory_order_relaxed))
            m_job.outcome.bStopped = true;
        return m_job.outcome.bStopped;
    }

    // Closes the descriptors of the levels above nKeep (they can be opened
    // again); false when there was none to close.
    bool ReleaseDescriptors(size_t nKeep) {
        bool bReleased = false;
        for (size_t i = 0; i < nKeep && i < m_levels.size(); ++i) {
            if (m_levels[i].fd.IsValid()) {
                m_levels[i].fd.Reset();
                bReleased = true;
            }
        }
        return bReleased;
    }

    // Runs fnOpen, and again after closing spare descriptors while the system
    // has none left. An invalid result (errno says why) is the directory's
    // own state; running out of memory, or of descriptors with none to spare,
    // ends the walk.
    template <typename Open> UniqueFd OpenRelieving(size_t nKeep, Open fnOpen) {
        for (;;) {
            UniqueFd fd = fnOpen();
            if (fd.IsValid())
                return fd;
            const int nErr = errno;
            if (!IsResourceShortage(nErr)) {
                errno = nErr;
                return fd;
            }
            if (nErr == ENOMEM || !ReleaseDescriptors(nKeep))
                ThrowShortage(nErr);
        }
    }

    // The descriptor of level i, opened again from the nearest open level
    // above it when it was closed; -1 when the directory cannot be reached
    // any more (removed or replaced since it was listed).
    int LevelFd(size_t i) {
        if (m_levels[i].fd.IsValid())
            return m_levels[i].fd.Get();
        size_t nFirst = i;
        while (nFirst > 0 && !m_levels[nFirst - 1].fd.IsValid())
            --nFirst;
        for (size_t k = nFirst; k <= i; ++k) {
            if (k == 0) {
                m_levels[0].fd =
                    OpenRelieving(0, [&] { return DirectoryReader::OpenStart(m_strStartPath); });
            } else {
                const int nParentFd = m_levels[k - 1].fd.Get();
                const char* pszName = m_levels[k].strName.c_str();
                m_levels[k].fd = OpenRelieving(
                    k - 1, [&] { return DirectoryReader::OpenChild(nParentFd, pszName); });
            }
            if (!m_levels[k].fd.IsValid())
                return -1;
        }
        return m_levels[i].fd.Get();
    }

    // Stores the rows of level i's entries; its subdirectories are kept in
    // the level for walking later.
    void ListDirectory(size_t i, int64_t nDirId) {
        Level& level = m_levels[i];
        const int nDirFd = level.fd.Get();
        auto fnRelieve = [this, i] { return ReleaseDescriptors(i); };
        std::optional<DirectoryReader> reader;
        for (;;) {
            reader.emplace(nDirFd);
            if (reader->IsOpen() || !IsResourceShortage(reader->Error()))
                break;
            if (reader->Error() == ENOMEM || !fnRelieve())
                ThrowShortage(reader->Error());
        }
        const bool bPseudo = m_job.bChecksum && DirectoryReader::IsOnPseudoFileSystem(nDirFd);
        // The directory's descriptor for the hashing threads, made when its
        // first file needs one and kept by its files until they are hashed.
        std::shared_ptr<UniqueFd> sharedDir;
        auto fnSharedDir = [&]() -> std::shared_ptr<UniqueFd> {
            for (int nTry = 0; !sharedDir && nTry < 2; ++nTry) {
                UniqueFd fd(::fcntl(nDirFd, F_DUPFD_CLOEXEC, 0));
                if (fd.IsValid()) {
                    sharedDir = std::make_shared<UniqueFd>(std::move(fd));
                } else if (IsResourceShortage(errno) && errno != ENOMEM) {
                    // The files waiting give theirs back, and the levels above.
                    m_writer.StoreWaiting();
                    ReleaseDescriptors(i);
                } else {
                    break;
                }
            }
            return sharedDir; // null: hashed by the walk itself
        };
        DirectoryEntry entry;
        while (!Stopped() && reader->Next(entry)) {
            if (IsExcluded(entry.name, level.strPath))
                continue;
            if (entry.bIsDirectory) {
                const int64_t nChildId =
                    m_writer.StoreDirectory(JoinPath(level.strPath, entry.name));
                if (m_job.bOneFileSystem && IsOtherFileSystem(nDirFd, entry.pszName))
                    continue; // stored, not entered
                level.subdirectories.push_back(
                    {level.strNames.size(), entry.name.size(), nChildId});
                level.strNames.append(entry.name);
            } else {
                m_writer.StoreFile(nDirFd, nDirId, level.strPath, entry, bPseudo, fnRelieve,
                                   fnSharedDir);
            }
        }
        if (reader->Error() == ENOMEM)
            ThrowShortage(ENOMEM);
        if (reader->Error() != 0)
            ++m_job.outcome.nUnreadDirs; // what was read before the failure stands
    }

    CatalogWriter& m_writer;
    ScanJob& m_job;
    const std::string& m_strStartPath;
    std::vector<LikeMatcher> m_nameExcludes;
    std::vector<LikeMatcher> m_pathExcludes;
    dev_t m_nStartDevice = 0;
    std::vector<Level> m_levels;
};

unsigned HashThreads(const ScanJob& job) {
    if (!job.bChecksum)
        return 1;
    return job.nJobs > 0 ? job.nJobs : ChecksumThreadsFor(job.strStartDir);
}

} // namespace

void ScanDirectory(Database& database, ScanJob& job, const std::string& strPath, int64_t nDirId) {
    CatalogWriter writer(database, job, HashThreads(job));
    TreeWalk(writer, job, strPath).Run(nDirId);
    writer.Finish();
}

namespace {

// After a failure the counts must say what the catalog really holds: rows of
// a transaction the engine rolled back are not in it.
void CountStoredRows(Database& database, ScanOutcome& outcome) {
    try {
        auto count = [&](const char* pszSql) {
            return static_cast<uint64_t>(database.QueryInt64(pszSql));
        };
        outcome.nDirs = count(CatalogSql::kCountDirs);
        outcome.nFiles = count(CatalogSql::kCountFiles);
        outcome.nChecksums = count(CatalogSql::kCountChecksums);
        outcome.nTotalBytes = TotalFileBytes(database);
    } catch (const std::exception&) {
    }
}

void FlushFile(const std::string& strPath) {
    const int fd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

std::string YesNo(bool b) {
    return b ? "yes" : "no";
}

std::string HostName() {
    char szHost[256] = {};
    return ::gethostname(szHost, sizeof szHost - 1) == 0 ? std::string(szHost) : std::string();
}

// What the catalog records before its walk: how and where it was made.
// "complete" says no until the walk has ended.
void RecordStart(Database& database, const ScanJob& job) {
    namespace Key = CatalogInfoKey;
    SetCatalogInfo(database, Key::kStartDir, job.strStartDir);
    SetCatalogInfo(database, Key::kStarted, UtcTimestamp());
    SetCatalogInfo(database, Key::kComplete, YesNo(false));
    SetCatalogInfo(database, Key::kChecksums, YesNo(job.bChecksum));
    SetCatalogInfo(database, Key::kChecksumLimitKb,
                   std::to_string(static_cast<uint32_t>(job.nMaxFileSizeKb)));
    for (const std::string& strPattern : job.excludes)
        AddCatalogInfo(database, Key::kExclude, strPattern);
    SetCatalogInfo(database, Key::kOneFileSystem, YesNo(job.bOneFileSystem));
    const VolumeInfo volume = DescribeVolume(job.strStartDir);
    const std::pair<const char*, std::string> texts[] = {{Key::kFsType, volume.strFsType},
                                                         {Key::kFsUuid, volume.strUuid},
                                                         {Key::kFsLabel, volume.strLabel},
                                                         {Key::kMountPoint, volume.strMountPoint}};
    for (const auto& [pszKey, strValue] : texts)
        if (!strValue.empty())
            SetCatalogInfo(database, pszKey, strValue);
    if (volume.nSize)
        SetCatalogInfo(database, Key::kFsSize, std::to_string(*volume.nSize));
    if (volume.nFree)
        SetCatalogInfo(database, Key::kFsFree, std::to_string(*volume.nFree));
    SetCatalogInfo(database, Key::kMadeBy, std::string("Kestrel ") + KESTREL_VERSION);
    if (const std::string strHost = HostName(); !strHost.empty())
        SetCatalogInfo(database, Key::kHost, strHost);
}

// What the catalog records after its walk, in one transaction; "complete"
// is written last.
void RecordEnd(Database& database, const ScanJob& job) {
    namespace Key = CatalogInfoKey;
    if (!database.InTransaction())
        database.BeginTransaction();
    const ScanOutcome& outcome = job.outcome;
    SetCatalogInfo(database, Key::kFinished, UtcTimestamp());
    SetCatalogInfo(database, Key::kDirs, std::to_string(outcome.nDirs));
    SetCatalogInfo(database, Key::kFiles, std::to_string(outcome.nFiles));
    SetCatalogInfo(database, Key::kChecksumCount, std::to_string(outcome.nChecksums));
    SetCatalogInfo(database, Key::kTotalBytes, DecimalText(outcome.nTotalBytes));
    SetCatalogInfo(database, Key::kUnreadDirs, std::to_string(outcome.nUnreadDirs));
    // A catalog of a start directory that could not be read holds nothing of
    // its tree: it never says it is complete.
    SetCatalogInfo(database, Key::kComplete,
                   YesNo(!outcome.bStopped && !outcome.bFailed && !outcome.bStartUnread));
    database.Commit();
}

void BuildCatalog(Database& database, ScanJob& job, bool& bCreated) {
    // Patterns that cannot be parsed end the job before anything is made.
    for (const std::string& strPattern : job.excludes)
        LikeMatcher check(strPattern);
    // The catalog appears with its settings and "complete: no", so one killed
    // at any moment tells where it was made from and can be updated.
    if (!CreateCatalog(database, job.strCatalogPath,
                       [&](Database& created) { RecordStart(created, job); }))
        throw EngineError("No catalog path was given.");
    bCreated = true;
    // A new catalog whose content can be walked again: no disk flush per
    // commit. The file is flushed once when it is closed.
    database.Execute(CatalogSql::kNoFlushPerCommit);
    CatalogWriter writer(database, job, HashThreads(job));
    const int64_t nStartId = writer.StoreDirectory(job.strStartDir);
    TreeWalk(writer, job, job.strStartDir).Run(nStartId);
    writer.Finish();
}

} // namespace

unsigned ScanThreadProc(ScanJob* pJob) {
    ScanJob& job = *pJob;
    job.outcome = ScanOutcome{};
    {
        Database database;
        bool bCreated = false;
        try {
            BuildCatalog(database, job, bCreated);
        } catch (const std::bad_alloc&) {
            job.outcome.bFailed = true;
            job.outcome.strError = "The walk ran out of memory.";
        } catch (const std::exception& error) {
            job.outcome.bFailed = true;
            job.outcome.strError = error.what();
        } catch (...) {
            job.outcome.bFailed = true;
            job.outcome.strError = "The catalog could not be written.";
        }
        job.outcome.nDirs = job.progress.nDirs.load();
        job.outcome.nFiles = job.progress.nFiles.load();
        job.outcome.nChecksums = job.progress.nChecksums.load();
        if (job.outcome.bFailed && database.IsOpen()) {
            // Keep the rows stored before the failure, if the engine still can.
            if (database.InTransaction()) {
                try {
                    database.Commit();
                } catch (const std::exception&) {
                }
            }
            CountStoredRows(database, job.outcome);
        }
        if (bCreated && database.IsOpen()) {
            try {
                RecordEnd(database, job);
            } catch (const std::exception& error) {
                // The rows stand; only the record of the end is missing, and
                // a catalog that does not say it is complete is taken as not.
                if (!job.outcome.bFailed) {
                    job.outcome.bFailed = true;
                    job.outcome.strError = error.what();
                }
            }
        }
        database.Close();
        if (bCreated && job.outcome.bFailed && job.outcome.nDirs == 0) {
            // Not even the start directory was stored: an empty catalog
            // would only stop every search of all catalogs.
            RemoveCatalog(job.strCatalogPath);
        } else if (bCreated) {
            FlushFile(job.strCatalogPath);
        }
    }
    g_bReloadDatabaseList.store(true);
    if (job.fnOnEnd) {
        try {
            job.fnOnEnd();
        } catch (...) {
        }
    }
    return 0;
}
