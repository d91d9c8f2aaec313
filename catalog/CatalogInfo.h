// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "catalog/ByteTotal.h"
#include "catalog/CatalogLock.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class Database;

// The keys of catalog_info. Times are UTC in ISO 8601 ("2024-06-30T12:00:00Z"),
// yes/no values are "yes" or "no", sizes and counts decimal.
namespace CatalogInfoKey {
inline constexpr const char* kStartDir = "start_dir";
inline constexpr const char* kStarted = "started";
inline constexpr const char* kFinished = "finished";
inline constexpr const char* kComplete = "complete"; // written last: a stopped scan reads "no"
inline constexpr const char* kChecksums = "checksums";
inline constexpr const char* kChecksumLimitKb = "checksum_limit_kb"; // 0: no limit
inline constexpr const char* kExclude = "exclude";                   // one row a pattern
inline constexpr const char* kOneFileSystem = "one_file_system";
inline constexpr const char* kDirs = "dirs";
inline constexpr const char* kFiles = "files";
inline constexpr const char* kChecksumCount = "checksum_count";
inline constexpr const char* kTotalBytes = "total_bytes";
inline constexpr const char* kUnreadDirs = "unread_dirs";
inline constexpr const char* kFsType = "fs_type";
inline constexpr const char* kFsUuid = "fs_uuid";
inline constexpr const char* kFsLabel = "fs_label";
inline constexpr const char* kMountPoint = "mount_point";
// The folder of the file system shown at the mount point: "/" but for a
// bind mount or a btrfs subvolume ("/@home").
inline constexpr const char* kMountRoot = "mount_root";
inline constexpr const char* kFsSize = "fs_size";
inline constexpr const char* kFsFree = "fs_free";
inline constexpr const char* kMadeBy = "made_by";
inline constexpr const char* kHost = "host";
inline constexpr const char* kNote = "note"; // the owner's words: where the disk lives
// Archive members: whether they were read, how deep archives in archives
// were read (1: members of the files only), and counts of what was read.
inline constexpr const char* kArchives = "archives";
inline constexpr const char* kArchiveDepth = "archive_depth";
inline constexpr const char* kArchiveCount = "archive_count";
inline constexpr const char* kMemberCount = "member_count";
inline constexpr const char* kUnreadArchives = "unread_archives";
} // namespace CatalogInfoKey

// The deepest --archive-depth: archives nested deeper are listed as members only.
inline constexpr int32_t kMaxArchiveDepth = 8;

// How a catalog was built: what an update builds it again with.
struct ScanSettings {
    std::string strStartDir;
    bool bChecksum = false;
    int32_t nMaxFileSizeKb = 100; // 0: no limit
    std::vector<std::string> excludes;
    bool bOneFileSystem = false;
    bool bArchives = false;    // read the members of archives
    int32_t nArchiveDepth = 1; // 1: members of files; 2: of archives in them too, ...
};

// The volume a start directory lies on, as far as the system tells.
struct VolumeInfo {
    std::string strFsType;
    std::string strUuid;
    std::string strLabel;
    std::string strMountPoint;
    std::string strMountRoot; // empty when not recorded
    std::optional<uint64_t> nSize;
    std::optional<uint64_t> nFree;
};

// What a catalog knows of itself. A catalog made before catalog_info existed
// (or by another program) tells what can be derived from its rows: the start
// directory (its first directory row) and the counts; the rest is absent.
struct CatalogInfo {
    bool bHasInfo = false;      // it has catalog_info
    bool bHasFileTimes = false; // its files have file_mtime
    std::optional<std::string> strStartDir;
    std::optional<std::string> strStarted, strFinished;
    std::optional<bool> bComplete;
    std::optional<bool> bChecksums;
    std::optional<int64_t> nChecksumLimitKb;
    std::optional<std::vector<std::string>> excludes;
    std::optional<bool> bOneFileSystem;
    std::optional<bool> bArchives;
    std::optional<int64_t> nArchiveDepth;
    std::optional<uint64_t> nArchives, nMembers, nUnreadArchives;
    std::optional<uint64_t> nDirs, nFiles, nChecksums, nUnreadDirs;
    std::optional<ByteTotal> nTotalBytes;
    VolumeInfo volume;
    std::optional<std::string> strMadeBy, strHost;
    std::optional<std::string> strNote; // absent when none was written

    // The settings to build the catalog again with; known ones from the
    // catalog, the rest as a new build would have them.
    ScanSettings Settings() const;
};

// The information as labelled lines, in the order they are shown ("Start
// directory", "Started", ..., "Made by", "Host", then "Note" when it has
// one); what the catalog does not record reads "unknown". The first line, "Catalog", is the
// caller's.
std::vector<std::pair<std::string, std::string>> InfoLines(const CatalogInfo& info);

// A byte count for people: "41234567 bytes (39.3 MiB)".
std::string ByteCountText(ByteTotal nBytes);

// The sum of the stored file sizes of the open catalog, negative ones (no
// size) left out; raises EngineError.
ByteTotal TotalFileBytes(Database& database);

// Reads the open catalog's information; raises EngineError. Without
// bDeriveTotals the checksum count and total size a catalog does not record
// stay unknown, which spares a pass over every row of a large one.
CatalogInfo ReadCatalogInfo(Database& database, bool bDeriveTotals = true);

// The start directory ReadCatalogInfo gives, without counting any rows:
// the recorded one, else the first directory's path; none for a catalog
// without either. Raises EngineError.
std::optional<std::string> ReadStartDirectory(Database& database);

// Writes one key's value, replacing what the key held.
void SetCatalogInfo(Database& database, const char* pszKey, const std::string& strValue);
// Adds a row to a key that may hold several (exclude).
void AddCatalogInfo(Database& database, const char* pszKey, const std::string& strValue);

// Keeps strNote as the catalog's note (an empty one removes it), in the
// catalog file strCatalogPath, holding its writer lock (see CatalogLock) so
// that no build or update of it runs meanwhile. A catalog made by another
// program gets a catalog_info table for it. Raises EngineError when the file
// is no catalog, is locked (and wait says not to wait) or cannot be written.
void WriteCatalogNote(const std::string& strCatalogPath, const std::string& strNote,
                      const CatalogLock::Wait& wait = {});

// Now as catalog_info writes times.
std::string UtcTimestamp();
