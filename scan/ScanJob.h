// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "catalog/ByteTotal.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class Database;
class PreviousCatalog;
struct ScanSettings;

// Counts a running job keeps up to date, for a live display on another thread.
struct ScanProgress {
    std::atomic<uint64_t> nDirs{0};
    std::atomic<uint64_t> nFiles{0};
    std::atomic<uint64_t> nChecksums{0};
};

// What a finished job wrote, and why it stopped early if it did.
struct ScanOutcome {
    uint64_t nDirs = 0;          // rows in dirs, the start directory's included
    uint64_t nFiles = 0;         // rows in files
    uint64_t nChecksums = 0;     // files stored with a checksum
    uint64_t nChecksumsRead = 0; // of them, those computed by reading the file
    ByteTotal nTotalBytes = 0;   // the sum of the file sizes stored
    // Directories that could not be listed, or not to their end (no access,
    // a read error part way): their rows stand, with what could be read.
    uint64_t nUnreadDirs = 0;
    uint64_t nArchives = 0;       // archives whose members were stored (nested ones too)
    uint64_t nMembers = 0;        // members stored
    uint64_t nUnreadArchives = 0; // archives not read to their end (damaged, too large, ...)
    uint64_t nArchivesReused = 0; // of them, taken over unread from the former catalog
    // The start directory itself could not be read: the catalog holds its
    // row only, and does not say it is complete.
    bool bStartUnread = false;
    bool bStopped = false; // stopped on request: the catalog holds what was walked
    bool bFailed = false;  // the engine or the system failed; the catalog holds what was committed
    std::string strError;  // the reason when bFailed
};

// One catalog to build. The caller fills the settings and keeps the job
// alive and unchanged until fnOnEnd has been called.
struct ScanJob {
    std::string strCatalogPath;   // the catalog file to create; must not exist
    std::string strStartDir;      // the start directory, stored exactly as given
    bool bChecksum = false;       // compute an MD5 of each regular file
    int32_t nMaxFileSizeKb = 100; // largest file, in KB of 1024 bytes, to checksum; 0 = no limit
    // Entries not to catalogue: a pattern without '/' is matched against an
    // entry's name, one with '/' against its whole path. An excluded
    // directory is neither stored nor entered.
    std::vector<std::string> excludes;
    // Directories on other file systems than the start directory's are
    // stored but not entered.
    bool bOneFileSystem = false;
    // Read the members of archives (IsArchiveName), and of archives in them
    // down to nArchiveDepth levels (1: the files' members only).
    bool bArchives = false;
    int32_t nArchiveDepth = 1;
    // Threads hashing checksums: 0 for one a core. The rows are the same
    // whatever it is.
    unsigned nJobs = 0;
    // When updating a catalog whose volume is now mounted at another place
    // than when it was catalogued: where the start directory is now. The
    // walk reads strWalkDir, its rows keep the paths below strStartDir, and
    // the catalog records strCataloguedMountPoint (and Root) as its mount
    // point, so its paths and the mount point they lie under stay as
    // catalogued. Empty: the start directory is read where it is stored.
    std::string strWalkDir;
    std::string strCataloguedMountPoint;
    std::string strCataloguedMountRoot;
    // The catalog's note, kept by an update; empty for none.
    std::string strNote;
    // When updating: the catalog's former files, whose checksums unchanged
    // files keep without being read. Walked by the worker; null for a new build.
    PreviousCatalog* pPrevious = nullptr;
    // Called exactly once, on the worker thread, after the catalog is closed
    // and outcome is filled. It must not throw; what it throws is dropped.
    std::function<void()> fnOnEnd;

    // Set from any thread to end the walk early; what was walked is kept.
    std::atomic<bool> bStopRequested{false};
    ScanProgress progress; // written by the worker while it runs
    ScanOutcome outcome;   // valid once fnOnEnd is called
};

// What a finished build stored, as its summary tells it: "214 directories,
// 18391 files, 18391 checksums, 41.07 seconds" for a build of dSeconds.
std::string ScanCountsText(const ScanOutcome& outcome, double dSeconds);
// What a summary adds about what could not be read and the archives: empty,
// or "; 2 directories could not be read completely; 4 archives with 120
// members, 1 archive not read completely".
std::string ScanNotesText(const ScanJob& job);

// Sets the job's start directory and what it stores from settings, as a new
// build and an update both take them.
void ApplySettings(ScanJob& job, const ScanSettings& settings);

// Whether the job stores a checksum of a file listed as a regular one (or
// not) of nSize bytes: it computes checksums, the file's size is known and
// within the job's limit.
bool ChecksumWanted(const ScanJob& job, bool bIsRegular, const std::optional<int64_t>& nSize);
// How many threads hash the job's checksums: none without checksums, else
// nJobs, or one a core.
unsigned HashingThreads(const ScanJob& job);
// The most bytes a checksum of the job may read: a file that reads longer
// than the limit allows (it grew) gets none.
uint64_t ChecksumByteLimit(const ScanJob& job);

// True when a catalog may have been added since the catalog list was loaded:
// true at start-up, set by every scan job before its end hook, cleared by
// whoever reloads the list.
extern std::atomic<bool> g_bReloadDatabaseList;

// The worker's routine: creates the catalog, records the settings, the time
// and the volume in catalog_info, stores the start directory, walks the tree
// into it, records the counts and whether the walk completed, closes it,
// records the outcome, sets g_bReloadDatabaseList and calls the job's
// fnOnEnd. Never throws; returns 0. A job that fails before it stored
// anything leaves no catalog file behind.
unsigned ScanThreadProc(ScanJob* pJob);

// Walks the directory strPath, whose dirs row (id nDirId) is stored already,
// and everything below it, depth-first: each directory's subdirectory rows,
// then its files, then each subdirectory's subtree in turn. Links are never
// followed. Rows are committed in batches and at the end, with the name
// index of strPath's row and those stored below it (all of a new catalog's,
// when strPath is its start directory). A directory that cannot be read is
// data, counted in the outcome; raises EngineError when the engine fails or
// the system runs out of memory or descriptors.
void ScanDirectory(Database& database, ScanJob& job, const std::string& strPath, int64_t nDirId);
