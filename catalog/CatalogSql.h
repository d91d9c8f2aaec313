#pragma once

// Every SQL statement Kestrel runs against a catalog. Values always go in as
// parameters (?), never into the text.
namespace CatalogSql {

// Writing a new catalog.
inline constexpr const char* kInsertDir = "INSERT INTO dirs(dir_name) VALUES (?)";
inline constexpr const char* kInsertFile = "INSERT INTO files(dir_id, file_name, file_size, "
                                           "md5_checksum, file_mtime) VALUES (?, ?, ?, ?, ?)";

// What a catalog records of itself: one row a key; a key such as exclude may
// come several times, in order.
inline constexpr const char* kInsertInfo = "INSERT INTO catalog_info(key, value) VALUES (?, ?)";
inline constexpr const char* kDeleteInfo = "DELETE FROM catalog_info WHERE key = ?";
inline constexpr const char* kReadInfo = "SELECT key, value FROM catalog_info ORDER BY rowid";

// What a catalog has, for catalogs made before the additions or elsewhere.
inline constexpr const char* kHasTable =
    "SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name = ?";
inline constexpr const char* kHasFileTimes =
    "SELECT count(*) FROM pragma_table_info('files') WHERE name = 'file_mtime'";
inline constexpr const char* kFirstDir = "SELECT dir_name FROM dirs ORDER BY dir_id LIMIT 1";
inline constexpr const char* kTotalBytes = "SELECT coalesce(sum(file_size), 0) FROM files";

// Counts of what a catalog holds.
inline constexpr const char* kCountDirs = "SELECT count(*) FROM dirs";
inline constexpr const char* kCountFiles = "SELECT count(*) FROM files";
inline constexpr const char* kCountChecksums = "SELECT count(md5_checksum) FROM files";

// The searches, by where they look: file names or directory paths (the
// pattern bound twice), file names, directory paths.
inline constexpr const char* kSearchBoth =
    "SELECT d.dir_name, f.file_name, f.file_size, f.md5_checksum FROM files f, dirs d "
    "WHERE (f.file_name LIKE ? OR d.dir_name LIKE ?) AND d.dir_id = f.dir_id";
inline constexpr const char* kSearchFiles =
    "SELECT d.dir_name, f.file_name, f.file_size, f.md5_checksum FROM files f, dirs d "
    "WHERE f.file_name LIKE ? AND d.dir_id = f.dir_id";
inline constexpr const char* kSearchDirs = "SELECT dir_name FROM dirs WHERE dir_name LIKE ?";
// The same file searches with each file's modification time as a fifth
// field, from a catalog that records times, or NULL from one that does not.
inline constexpr const char* kSearchBothWithTimes =
    "SELECT d.dir_name, f.file_name, f.file_size, f.md5_checksum, f.file_mtime FROM files f, dirs "
    "d "
    "WHERE (f.file_name LIKE ? OR d.dir_name LIKE ?) AND d.dir_id = f.dir_id";
inline constexpr const char* kSearchFilesWithTimes =
    "SELECT d.dir_name, f.file_name, f.file_size, f.md5_checksum, f.file_mtime FROM files f, dirs "
    "d "
    "WHERE f.file_name LIKE ? AND d.dir_id = f.dir_id";
inline constexpr const char* kSearchBothNoTimes =
    "SELECT d.dir_name, f.file_name, f.file_size, f.md5_checksum, NULL FROM files f, dirs d "
    "WHERE (f.file_name LIKE ? OR d.dir_name LIKE ?) AND d.dir_id = f.dir_id";
inline constexpr const char* kSearchFilesNoTimes =
    "SELECT d.dir_name, f.file_name, f.file_size, f.md5_checksum, NULL FROM files f, dirs d "
    "WHERE f.file_name LIKE ? AND d.dir_id = f.dir_id";

// Every file with its directory, in the order the catalog stored them.
inline constexpr const char* kAllFiles =
    "SELECT d.dir_name, f.file_name, f.file_size, f.md5_checksum FROM files f, dirs d "
    "WHERE d.dir_id = f.dir_id ORDER BY f.file_id";

// Every file with its directory, size, time and checksum: what an update
// compares the tree with. Without times for a catalog that has none.
inline constexpr const char* kFilesWithTimes =
    "SELECT d.dir_name, f.file_name, f.file_size, f.file_mtime, f.md5_checksum "
    "FROM files f, dirs d WHERE d.dir_id = f.dir_id";
inline constexpr const char* kFilesWithoutTimes =
    "SELECT d.dir_name, f.file_name, f.file_size, NULL, f.md5_checksum "
    "FROM files f, dirs d WHERE d.dir_id = f.dir_id";

// What comparing catalogs reads: every directory, every file by its
// directory, and the files that have checksums.
inline constexpr const char* kAllDirs = "SELECT dir_id, dir_name FROM dirs";
inline constexpr const char* kFilesOfDirs =
    "SELECT dir_id, file_name, file_size, md5_checksum FROM files";
inline constexpr const char* kFilesWithChecksums =
    "SELECT file_id, file_size, md5_checksum FROM files "
    "WHERE md5_checksum IS NOT NULL AND file_size >= ?";
inline constexpr const char* kPathsByFileId =
    "SELECT f.file_id, d.dir_name, f.file_name FROM files f, dirs d "
    "WHERE d.dir_id = f.dir_id ORDER BY f.file_id";

// Whether a database has the catalog's directory table (its validity test).
inline constexpr const char* kHasDirsTable =
    "SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name = 'dirs'";

} // namespace CatalogSql
