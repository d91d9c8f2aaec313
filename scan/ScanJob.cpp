// SPDX-License-Identifier: GPL-3.0-or-later

#include "scan/ScanJob.h"

#include "catalog/Catalog.h"
#include "catalog/CatalogInfo.h"
#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "catalog/RowAppender.h"
#include "scan/CatalogWriter.h"
#include "scan/ExcludeList.h"
#include "scan/FileChecksum.h"
#include "scan/TreeWalk.h"
#include "scan/Volume.h"
#include "scan/WalkQueue.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <new>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

std::atomic<bool> g_bReloadDatabaseList{true};

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
        if (database.HasTable("archive_members")) {
            outcome.nArchives = count(CatalogSql::kCountArchives);
            outcome.nMembers = count(CatalogSql::kCountMembers);
            outcome.nUnreadArchives = count(CatalogSql::kCountUnreadArchives);
        }
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
    if (job.bArchives) {
        SetCatalogInfo(database, Key::kArchives, YesNo(true));
        SetCatalogInfo(database, Key::kArchiveDepth, std::to_string(job.nArchiveDepth));
    }
    VolumeInfo volume = DescribeVolume(job.strWalkDir.empty() ? job.strStartDir : job.strWalkDir);
    if (!job.strWalkDir.empty()) {
        volume.strMountPoint = job.strCataloguedMountPoint;
        volume.strMountRoot = job.strCataloguedMountRoot;
    }
    const std::pair<const char*, std::string> texts[] = {{Key::kFsType, volume.strFsType},
                                                         {Key::kFsUuid, volume.strUuid},
                                                         {Key::kFsLabel, volume.strLabel},
                                                         {Key::kMountPoint, volume.strMountPoint},
                                                         {Key::kMountRoot, volume.strMountRoot}};
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
    if (!job.strNote.empty())
        SetCatalogInfo(database, Key::kNote, job.strNote);
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
    if (job.bArchives) {
        SetCatalogInfo(database, Key::kArchiveCount, std::to_string(outcome.nArchives));
        SetCatalogInfo(database, Key::kMemberCount, std::to_string(outcome.nMembers));
        SetCatalogInfo(database, Key::kUnreadArchives, std::to_string(outcome.nUnreadArchives));
    }
    // A catalog of a start directory that could not be read holds nothing of
    // its tree: it never says it is complete.
    SetCatalogInfo(database, Key::kComplete,
                   YesNo(!outcome.bStopped && !outcome.bFailed && !outcome.bStartUnread));
    database.Commit();
}

void BuildCatalog(Database& database, ScanJob& job, bool& bCreated) {
    // Patterns that cannot be parsed end the job before anything is made.
    ExcludeList check(job.excludes);
    // The catalog appears with its settings and "complete: no", so one killed
    // at any moment tells where it was made from and can be updated.
    if (!CreateCatalog(database, job.strCatalogPath,
                       [&](Database& created) { RecordStart(created, job); }))
        throw EngineError("No catalog path was given.");
    bCreated = true;
    // A new catalog whose content can be walked again: no disk flush per
    // commit. The file is flushed once when it is closed.
    database.Execute(CatalogSql::kNoFlushPerCommit);
    if (!database.InTransaction())
        database.BeginTransaction();
    const int64_t nStartId =
        RowAppender(database, CatalogSql::kInsertDir).Append({std::string_view(job.strStartDir)});
    job.progress.nDirs.fetch_add(1, std::memory_order_relaxed);
    ScanDirectory(database, job, job.strStartDir, nStartId);
}

// "1 archive", "2 archives".
std::string Counted(uint64_t n, const char* pszOne, const char* pszMany) {
    return std::to_string(n) + " " + (n == 1 ? pszOne : pszMany);
}

} // namespace

std::string ScanCountsText(const ScanOutcome& outcome, double dSeconds) {
    char szSeconds[64];
    std::snprintf(szSeconds, sizeof szSeconds, "%.2f seconds", dSeconds);
    return std::to_string(outcome.nDirs) + " directories, " + std::to_string(outcome.nFiles) +
           " files, " + std::to_string(outcome.nChecksums) + " checksums, " + szSeconds;
}

std::string ScanNotesText(const ScanJob& job) {
    std::string strText;
    if (const uint64_t nUnread = job.outcome.nUnreadDirs; nUnread > 0)
        strText +=
            "; " + Counted(nUnread, "directory", "directories") + " could not be read completely";
    if (job.bArchives) {
        strText += "; " + Counted(job.outcome.nArchives, "archive", "archives") + " with " +
                   Counted(job.outcome.nMembers, "member", "members");
        if (const uint64_t nUnread = job.outcome.nUnreadArchives; nUnread > 0)
            strText += ", " + Counted(nUnread, "archive", "archives") + " not read completely";
    }
    return strText;
}

void ApplySettings(ScanJob& job, const ScanSettings& settings) {
    job.strStartDir = settings.strStartDir;
    job.bChecksum = settings.bChecksum;
    job.nMaxFileSizeKb = settings.nMaxFileSizeKb;
    job.excludes = settings.excludes;
    job.bOneFileSystem = settings.bOneFileSystem;
    job.bArchives = settings.bArchives;
    job.nArchiveDepth = settings.nArchiveDepth;
}

bool ChecksumWanted(const ScanJob& job, bool bIsRegular, const std::optional<int64_t>& nSize) {
    if (!job.bChecksum || !bIsRegular || !nSize)
        return false;
    // The limit compares kilobytes, both sides unsigned, as the size
    // shifted right by 10: 103 423 bytes are within 100 KB, 103 424 are not.
    const auto nLimit = static_cast<uint32_t>(job.nMaxFileSizeKb);
    return nLimit == 0 || (static_cast<uint64_t>(*nSize) >> 10) <= nLimit;
}

unsigned HashingThreads(const ScanJob& job) {
    if (!job.bChecksum)
        return 0;
    return job.nJobs > 0 ? job.nJobs : std::max(1u, std::thread::hardware_concurrency());
}

uint64_t ChecksumByteLimit(const ScanJob& job) {
    // The largest file size within the limit: the size shifted right by
    // 10 may equal it.
    const auto nLimit = static_cast<uint32_t>(job.nMaxFileSizeKb);
    return nLimit == 0 ? kNoReadLimit : (uint64_t(nLimit) + 1) * 1024 - 1;
}

namespace {

// How the descriptors the process may open are shared out: those the files
// waiting for their checksums hold of their directories, and the
// directories the walk keeps open on its way down. Some are kept for the
// catalogs, standard streams and the files being hashed.
struct DescriptorShares {
    size_t nShared;
    size_t nLevels;
};

DescriptorShares ShareDescriptors(unsigned nHashers) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return {1024, SIZE_MAX};
    const size_t nLimit = static_cast<size_t>(limit.rlim_cur);
    const size_t nShared = nLimit > 128 ? std::min<size_t>(1024, (nLimit - 64) / 2) : 1;
    // Three standard streams, two catalogs of three files each, a lock, the
    // files being hashed (one a worker, one a device reader) and a few spare.
    const size_t nKept = 24 + 2 * size_t(nHashers) + nShared;
    return {nShared, nLimit > nKept ? (nLimit - nKept) : 2};
}

} // namespace

void ScanDirectory(Database& database, ScanJob& job, const std::string& strPath, int64_t nDirId) {
    // The queue outlives the writer: the descriptors its hashing threads
    // hold are counted by it.
    const DescriptorShares shares = ShareDescriptors(HashingThreads(job));
    WalkQueue queue(shares.nShared);
    CatalogWriter writer(database, job, nDirId, strPath);
    TreeWalk walk(queue, job, strPath, shares.nLevels);
    // The walk reads the tree on a thread of its own while this one writes
    // the rows; neither waits for the other but for a full or empty queue.
    std::thread walker([&] {
        try {
            walk.Run();
            queue.End(nullptr);
        } catch (const WalkAbandoned&) {
            queue.End(nullptr);
        } catch (...) {
            queue.End(std::current_exception());
        }
    });
    try {
        writer.Store(queue);
    } catch (...) {
        queue.Abandon();
        walker.join();
        throw;
    }
    walker.join();
    // The walk may have ended before the stop, the reading of archives not.
    if (writer.LeftFilesOut() || writer.LeftMembersOut())
        job.outcome.bStopped = true;
    if (const std::exception_ptr pError = queue.Error())
        std::rethrow_exception(pError);
    writer.Finish();
}

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
