// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "catalog/SearchMode.h"

#include <string>

// Every SQL statement Kestrel runs against a catalog. Values always go in as
// parameters (?), never into the text.
namespace CatalogSql {

// Writing a catalog whose content can be made again: no disk flush per
// commit (the file is flushed once when it is closed).
inline constexpr const char* kNoFlushPerCommit = "PRAGMA synchronous=OFF";

// Writing a new catalog.
inline constexpr const char* kInsertDir = "INSERT INTO dirs(dir_name) VALUES (?)";
inline constexpr const char* kInsertFile = "INSERT INTO files(dir_id, file_name, file_size, "
                                           "md5_checksum, file_mtime) VALUES (?, ?, ?, ?, ?)";

// The members of archives, for a catalog built with them (tables a catalog
// without members lacks). archives: one row an archive read, the file of
// file_id itself (member_id NULL) or the member member_id of another archive
// in it; format as the library names it; complete 1 when read to its end,
// else 0 and problem says why; bytes_read the decompressed bytes the reading
// took; member_count the members stored of it. archive_members: one row a member, in the order of
// its archive; member_path its path inside (names between '/', none empty, no leading or trailing
// '/'), member_name its last name, member_mode its st_mode bits, encrypted 1 when its data needs a
// password. Sizes, times and checksums as in files; a NULL text is an empty one.
inline constexpr const char* kCreateMemberTables = R"sql(
CREATE TABLE IF NOT EXISTS archives (
    archive_id INTEGER PRIMARY KEY,
    file_id INTEGER NOT NULL,
    member_id INTEGER,
    format TEXT,
    complete INTEGER NOT NULL,
    problem TEXT,
    bytes_read INTEGER,
    member_count INTEGER
);
CREATE INDEX IF NOT EXISTS archives_file_index ON archives(file_id);
CREATE TABLE IF NOT EXISTS archive_members (
    member_id INTEGER PRIMARY KEY,
    archive_id INTEGER NOT NULL,
    member_path TEXT,
    member_name TEXT,
    member_size INTEGER,
    member_mtime INTEGER,
    member_mode INTEGER,
    md5_checksum TEXT,
    encrypted INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX IF NOT EXISTS archive_members_archive_index ON archive_members(archive_id);
)sql";
inline constexpr const char* kInsertArchive =
    "INSERT INTO archives(file_id, member_id, format, complete, problem, bytes_read) "
    "VALUES (?, ?, NULL, 0, NULL, NULL)";
inline constexpr const char* kEndArchive =
    "UPDATE archives SET format = ?, complete = ?, problem = ?, bytes_read = ?, member_count = ? "
    "WHERE archive_id = ?";
inline constexpr const char* kInsertMember =
    "INSERT INTO archive_members(archive_id, member_path, member_name, member_size, "
    "member_mtime, member_mode, md5_checksum, encrypted) VALUES (?, ?, ?, ?, ?, ?, ?, ?)";
inline constexpr const char* kSetMemberChecksum =
    "UPDATE archive_members SET md5_checksum = ? WHERE member_id = ?";
// What an update takes over from the former catalog for an unchanged file:
// its archives in id order, and their members in id order.
inline constexpr const char* kArchivesOfFile =
    "SELECT archive_id, member_id, format, complete, problem, bytes_read, member_count, "
    "typeof(member_id) IN ('integer', 'null') AND typeof(format) IN ('text', 'null') AND "
    "typeof(bytes_read) IN ('integer', 'null') AND typeof(member_count) = 'integer' FROM archives "
    "WHERE file_id = ? ORDER BY archive_id";
inline constexpr const char* kMembersOfArchive =
    "SELECT member_id, member_path, member_name, member_size, member_mtime, member_mode, "
    "md5_checksum, encrypted FROM archive_members WHERE archive_id = ? ORDER BY member_id";
// What browsing reads of the archives: those of the files of an id range
// (outermost only), the folders holding any, the archives inside the members
// of one outermost file.
inline constexpr const char* kArchivesOfFilesBetween =
    "SELECT file_id, archive_id FROM archives WHERE member_id IS NULL AND file_id BETWEEN ? AND ? "
    "ORDER BY archive_id";
inline constexpr const char* kDirsHoldingArchives =
    "SELECT DISTINCT f.dir_id FROM archives a JOIN files f ON f.file_id = a.file_id "
    "WHERE a.member_id IS NULL";
inline constexpr const char* kNestedArchivesOfFile =
    "SELECT member_id, archive_id FROM archives WHERE file_id = ? AND member_id IS NOT NULL "
    "ORDER BY archive_id";
inline constexpr const char* kArchiveOfMember =
    "SELECT archive_id FROM archive_members WHERE member_id = ?";
// How many members an archive has, and how many of them are rows as Kestrel
// writes them.
inline constexpr const char* kSoundMembersOfArchive =
    "SELECT count(*), coalesce(sum(typeof(member_path) IN ('text', 'null') AND "
    "typeof(member_size) IN ('integer', 'null') AND typeof(member_mtime) IN ('integer', 'null') "
    "AND typeof(member_mode) = 'integer' AND typeof(encrypted) = 'integer' AND "
    "(md5_checksum IS NULL OR (typeof(md5_checksum) = 'text' AND length(md5_checksum) = 32))), 0) "
    "FROM archive_members WHERE archive_id = ?";
inline constexpr const char* kCountArchives = "SELECT count(*) FROM archives";
inline constexpr const char* kCountMembers = "SELECT count(*) FROM archive_members";
inline constexpr const char* kCountUnreadArchives =
    "SELECT count(*) FROM archives WHERE complete = 0";
// What the path of an archive is made of: its file, or the member of an
// outer archive it is; that member's archive and path.
inline constexpr const char* kArchiveOfId =
    "SELECT file_id, member_id FROM archives WHERE archive_id = ?";
inline constexpr const char* kMemberPathOfId =
    "SELECT archive_id, member_path FROM archive_members WHERE member_id = ?";
// The search of members: every member in id order (with bRanges those whose
// ids lie between the two parameters), with its archive, path, name, size,
// time, mode and checksum.
inline constexpr const char* kSearchMembers =
    "SELECT member_id, archive_id, member_path, member_name, member_size, member_mtime, "
    "member_mode, md5_checksum FROM archive_members ORDER BY member_id";
inline constexpr const char* kSearchMembersBetween =
    "SELECT member_id, archive_id, member_path, member_name, member_size, member_mtime, "
    "member_mode, md5_checksum FROM archive_members WHERE member_id BETWEEN ? AND ? "
    "ORDER BY member_id";
// The file of a path as stored (its directory and name): size and time, the
// time NULL for a catalog that records none.
inline constexpr const char* kFileByPath =
    "SELECT f.file_size, f.file_mtime FROM files f, dirs d "
    "WHERE d.dir_name = ? AND f.file_name = ? AND d.dir_id = f.dir_id";
inline constexpr const char* kFileByPathWithoutTimes =
    "SELECT f.file_size, NULL FROM files f, dirs d "
    "WHERE d.dir_name = ? AND f.file_name = ? AND d.dir_id = f.dir_id";

// What a catalog records of itself: one row a key; a key such as exclude may
// come several times, in order.
inline constexpr const char* kInsertInfo = "INSERT INTO catalog_info(key, value) VALUES (?, ?)";
inline constexpr const char* kDeleteInfo = "DELETE FROM catalog_info WHERE key = ?";
inline constexpr const char* kReadInfo = "SELECT key, value FROM catalog_info ORDER BY rowid";
// The table as a new catalog has it, for a catalog made by another program.
inline constexpr const char* kCreateInfoIfMissing =
    "CREATE TABLE IF NOT EXISTS catalog_info (key TEXT NOT NULL, value TEXT)";

// What a catalog has, for catalogs made before the additions or elsewhere.
inline constexpr const char* kHasTable =
    "SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name = ?";
inline constexpr const char* kHasFileTimes =
    "SELECT count(*) FROM pragma_table_info('files') WHERE name = 'file_mtime'";
inline constexpr const char* kFirstDir = "SELECT dir_name FROM dirs ORDER BY dir_id LIMIT 1";
// The sum of the sizes in two halves, each far from the engine's 64-bit
// limit: the high and the low 32 bits of every size. A negative size is no
// size (older programs stored the low 32 bits of large ones).
inline constexpr const char* kTotalBytes =
    "SELECT coalesce(sum(file_size >> 32), 0), coalesce(sum(file_size & 4294967295), 0) "
    "FROM files WHERE file_size > 0";

// A catalog's folders as a tree: every directory, and the files of each
// directory summed (count, sizes in two halves as above, newest time; the
// time read only where the catalog records times).
inline constexpr const char* kTreeDirs = "SELECT dir_id, dir_name FROM dirs ORDER BY dir_id";
inline constexpr const char* kTreeFileSums =
    "SELECT dir_id, count(*), coalesce(sum(CASE WHEN file_size > 0 THEN file_size >> 32 END), 0), "
    "coalesce(sum(CASE WHEN file_size > 0 THEN file_size & 4294967295 END), 0), max(file_mtime) "
    "FROM files WHERE typeof(dir_id) = 'integer' GROUP BY dir_id";
inline constexpr const char* kTreeFileSumsWithoutTimes =
    "SELECT dir_id, count(*), coalesce(sum(CASE WHEN file_size > 0 THEN file_size >> 32 END), 0), "
    "coalesce(sum(CASE WHEN file_size > 0 THEN file_size & 4294967295 END), 0), NULL "
    "FROM files WHERE typeof(dir_id) = 'integer' GROUP BY dir_id";
// The files of one directory, in the order they were stored.
inline constexpr const char* kTreeFiles =
    "SELECT file_id, file_name, file_size, md5_checksum, "
    "file_mtime FROM files WHERE dir_id = ? AND typeof(dir_id) = 'integer' ORDER BY file_id";
inline constexpr const char* kTreeFilesWithoutTimes =
    "SELECT file_id, file_name, file_size, md5_checksum, NULL FROM files WHERE dir_id = ? "
    "AND typeof(dir_id) = 'integer' ORDER BY file_id";

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
// How a search statement is made, for SearchSql.
enum class SearchTimes { None, Stored, Null }; // no fifth field; file_mtime; NULL in its place

// The search of mode, with file times as a
// fifth field of file hits (Stored, or Null for a catalog that has none), and,
// with bRanges, only over rows whose id lies between the first two
// parameters, in id order; the pattern's parameters follow. Without times and
// ranges it is the plain statement above.
std::string SearchSql(SearchMode mode, SearchTimes times, bool bRanges);

// A search of files as passes of its own, which give the rows of the
// statement SearchSql makes, in its order, where the engine runs that as a
// scan of files (or of stretches of their row ids) looking each one's
// directory up by its row id (what kExplainPlan tells): the directories in
// id order, each path matched once; every file in table order, or with
// bRanges those whose ids lie between the first two parameters, with times
// as SearchSql gives them (for a search of files only those whose names
// match the pattern, the last parameter); one directory by its id.
inline constexpr const char* kSearchDirPaths = "SELECT dir_id, dir_name FROM dirs ORDER BY dir_id";
// The same within a stretch of directory ids, for the name index.
inline constexpr const char* kSearchDirPathsBetween =
    "SELECT dir_id, dir_name FROM dirs WHERE dir_id BETWEEN ? AND ? ORDER BY dir_id";
std::string SearchFileScanSql(SearchMode mode, SearchTimes times, bool bRanges);
inline constexpr const char* kSearchDirOfFile =
    "SELECT dir_id, dir_name FROM dirs WHERE dir_id = ?";
// Put before a statement: how the engine runs it, one step a row, its
// description in the fourth field; the steps of a search run as the file
// pass runs it.
inline constexpr const char* kExplainPlan = "EXPLAIN QUERY PLAN ";
inline constexpr const char* kSearchPlanOfFilePass[] = {
    "SCAN f", "SEARCH d USING INTEGER PRIMARY KEY (rowid=?)"};
inline constexpr const char* kSearchPlanOfRangedFilePass[] = {
    "SEARCH f USING INTEGER PRIMARY KEY (rowid>? AND rowid<?)",
    "SEARCH d USING INTEGER PRIMARY KEY (rowid=?)"};

// Every file with its directory, in the order the catalog stored them.
inline constexpr const char* kAllFiles =
    "SELECT d.dir_name, f.file_name, f.file_size, f.md5_checksum FROM files f, dirs d "
    "WHERE d.dir_id = f.dir_id ORDER BY f.file_id";

// Every file with its directory, size, time, checksum and id: what an update
// compares the tree with. Without times for a catalog that has none.
inline constexpr const char* kFilesWithTimes =
    "SELECT d.dir_name, f.file_name, f.file_size, f.file_mtime, f.md5_checksum, f.file_id "
    "FROM files f, dirs d WHERE d.dir_id = f.dir_id";
inline constexpr const char* kFilesWithoutTimes =
    "SELECT d.dir_name, f.file_name, f.file_size, NULL, f.md5_checksum, f.file_id "
    "FROM files f, dirs d WHERE d.dir_id = f.dir_id";

// What comparing catalogs and finding duplicates read: the files with checksums.
inline constexpr const char* kFilesWithChecksums =
    "SELECT file_id, file_size, md5_checksum FROM files "
    "WHERE md5_checksum IS NOT NULL AND file_size >= ?";
// The paths of the files whose ids lie between two ids, in id order; the path
// of one file by its id, and whether that id is the table's row id (so that
// the lookup is quick: a catalog made elsewhere may lack it).
inline constexpr const char* kPathsOfFileIds =
    "SELECT f.file_id, d.dir_name, f.file_name FROM files f, dirs d "
    "WHERE f.file_id BETWEEN ? AND ? AND d.dir_id = f.dir_id ORDER BY f.file_id";
inline constexpr const char* kPathOfFileId = "SELECT d.dir_name, f.file_name FROM files f, dirs d "
                                             "WHERE f.file_id = ? AND d.dir_id = f.dir_id";
inline constexpr const char* kFileIdIsRowId =
    "SELECT count(*) FROM pragma_table_info('files') WHERE name = 'file_id' AND pk = 1 AND "
    "upper(type) = 'INTEGER' AND (SELECT count(*) FROM pragma_table_info('files') WHERE pk > 0) "
    "= 1";

// Every directory and file of a catalog by its path below the start
// directory (the first parameter; path_below must be registered), in the
// order of those paths: path, whether it is a directory, size, checksum, row
// id. The start directory itself has no path (NULL) and comes first. The
// second form also gives the directory as stored and the file's name.
inline constexpr const char* kEntriesByPathBelow =
    "SELECT path_below(?1, dir_name), 1, NULL, NULL, dir_id FROM dirs "
    "UNION ALL SELECT path_below(?1, d.dir_name, f.file_name), 0, f.file_size, f.md5_checksum, "
    "f.file_id FROM files f, dirs d WHERE d.dir_id = f.dir_id ORDER BY 1, 2, 5";
inline constexpr const char* kEntriesWithNamesByPathBelow =
    "SELECT path_below(?1, dir_name), 1, NULL, NULL, dir_id, dir_name, NULL FROM dirs "
    "UNION ALL SELECT path_below(?1, d.dir_name, f.file_name), 0, f.file_size, f.md5_checksum, "
    "f.file_id, d.dir_name, f.file_name FROM files f, dirs d WHERE d.dir_id = f.dir_id "
    "ORDER BY 1, 2, 5";

// The same for a catalog with members of archives (both parameters: the
// start directory and the text between an archive's path and a member's
// path), every member after its archive file's path by the paths of each
// level; a directory member ends with '/' as directories do. A sixth field is
// 1 for a member. The second form also gives the archive file's directory as
// stored, its name, and the rest of the member's full path (NULL for files
// and directories).
inline constexpr const char* kEntriesAndMembersByPathBelow =
    "WITH RECURSIVE levels(archive_id, file_id, suffix) AS ("
    "SELECT archive_id, file_id, '' FROM archives WHERE member_id IS NULL "
    "UNION ALL SELECT a.archive_id, l.file_id, l.suffix || ?2 || coalesce(m.member_path, '') "
    "FROM levels l, archives a, archive_members m WHERE a.file_id = l.file_id "
    "AND a.member_id IS NOT NULL AND m.member_id = a.member_id AND m.archive_id = l.archive_id) "
    "SELECT path_below(?1, dir_name), 1, NULL, NULL, dir_id, 0 FROM dirs "
    "UNION ALL SELECT path_below(?1, d.dir_name, f.file_name), 0, f.file_size, f.md5_checksum, "
    "f.file_id, 0 FROM files f, dirs d WHERE d.dir_id = f.dir_id "
    "UNION ALL SELECT path_below(?1, d.dir_name, f.file_name) || l.suffix || ?2 || "
    "coalesce(m.member_path, '') || CASE WHEN (m.member_mode & 61440) = 16384 THEN '/' ELSE '' "
    "END, (m.member_mode & 61440) = 16384, m.member_size, m.md5_checksum, m.member_id, 1 "
    "FROM levels l, archive_members m, files f, dirs d WHERE m.archive_id = l.archive_id "
    "AND f.file_id = l.file_id AND d.dir_id = f.dir_id ORDER BY 1, 2, 5";
inline constexpr const char* kEntriesAndMembersWithNamesByPathBelow =
    "WITH RECURSIVE levels(archive_id, file_id, suffix) AS ("
    "SELECT archive_id, file_id, '' FROM archives WHERE member_id IS NULL "
    "UNION ALL SELECT a.archive_id, l.file_id, l.suffix || ?2 || coalesce(m.member_path, '') "
    "FROM levels l, archives a, archive_members m WHERE a.file_id = l.file_id "
    "AND a.member_id IS NOT NULL AND m.member_id = a.member_id AND m.archive_id = l.archive_id) "
    "SELECT path_below(?1, dir_name), 1, NULL, NULL, dir_id, 0, dir_name, NULL, NULL FROM dirs "
    "UNION ALL SELECT path_below(?1, d.dir_name, f.file_name), 0, f.file_size, f.md5_checksum, "
    "f.file_id, 0, d.dir_name, f.file_name, NULL FROM files f, dirs d WHERE d.dir_id = f.dir_id "
    "UNION ALL SELECT path_below(?1, d.dir_name, f.file_name) || l.suffix || ?2 || "
    "coalesce(m.member_path, '') || CASE WHEN (m.member_mode & 61440) = 16384 THEN '/' ELSE '' "
    "END, (m.member_mode & 61440) = 16384, m.member_size, m.md5_checksum, m.member_id, 1, "
    "d.dir_name, f.file_name, l.suffix || ?2 || coalesce(m.member_path, '') "
    "FROM levels l, archive_members m, files f, dirs d WHERE m.archive_id = l.archive_id "
    "AND f.file_id = l.file_id AND d.dir_id = f.dir_id ORDER BY 1, 2, 5";

// Whether any file, any member of an archive, has a checksum (1 or 0).
inline constexpr const char* kAnyFileChecksum =
    "SELECT EXISTS(SELECT 1 FROM files WHERE md5_checksum IS NOT NULL)";
inline constexpr const char* kAnyMemberChecksum =
    "SELECT EXISTS(SELECT 1 FROM archive_members WHERE md5_checksum IS NOT NULL)";
// The members of archives that have checksums, as kFilesWithChecksums.
inline constexpr const char* kMembersWithChecksums =
    "SELECT member_id, member_size, md5_checksum FROM archive_members "
    "WHERE md5_checksum IS NOT NULL AND member_size >= ?";
// Where a member is (the parameters: its id, the text between levels): the
// archive file's directory as stored, its name, and the rest of the member's
// full path; no row for an id the catalog lacks, or whose archives go up more
// than 64 levels (rows edited into a loop never reach a file).
inline constexpr const char* kPathOfMemberId =
    "WITH RECURSIVE up(archive_id, suffix, levels) AS ("
    "SELECT archive_id, ?2 || coalesce(member_path, ''), 1 FROM archive_members "
    "WHERE member_id = ?1 "
    "UNION ALL SELECT m.archive_id, ?2 || coalesce(m.member_path, '') || up.suffix, up.levels + 1 "
    "FROM up, archives a, archive_members m WHERE a.archive_id = up.archive_id "
    "AND m.member_id = a.member_id AND up.levels < 64) "
    "SELECT d.dir_name, f.file_name, up.suffix FROM up, archives a, files f, dirs d "
    "WHERE a.archive_id = up.archive_id AND a.member_id IS NULL AND f.file_id = a.file_id "
    "AND d.dir_id = f.dir_id";
// Every member's id and where it is, in id order (the parameter: the text
// between levels): its id, the archive file's directory and name, the rest
// of the member's full path.
inline constexpr const char* kPathsOfMembers =
    "WITH RECURSIVE levels(archive_id, file_id, suffix) AS ("
    "SELECT archive_id, file_id, '' FROM archives WHERE member_id IS NULL "
    "UNION ALL SELECT a.archive_id, l.file_id, l.suffix || ?1 || coalesce(m.member_path, '') "
    "FROM levels l, archives a, archive_members m WHERE a.file_id = l.file_id "
    "AND a.member_id IS NOT NULL AND m.member_id = a.member_id AND m.archive_id = l.archive_id) "
    "SELECT m.member_id, d.dir_name, f.file_name, l.suffix || ?1 || coalesce(m.member_path, '') "
    "FROM levels l, archive_members m, files f, dirs d WHERE m.archive_id = l.archive_id "
    "AND f.file_id = l.file_id AND d.dir_id = f.dir_id ORDER BY m.member_id";
// Every member that is no directory, in the order they were stored (the
// parameter: the text between levels): the archive file's directory and
// name, the rest of the member's full path, size, checksum.
inline constexpr const char* kAllMembers =
    "WITH RECURSIVE levels(archive_id, file_id, suffix) AS ("
    "SELECT archive_id, file_id, '' FROM archives WHERE member_id IS NULL "
    "UNION ALL SELECT a.archive_id, l.file_id, l.suffix || ?1 || coalesce(m.member_path, '') "
    "FROM levels l, archives a, archive_members m WHERE a.file_id = l.file_id "
    "AND a.member_id IS NOT NULL AND m.member_id = a.member_id AND m.archive_id = l.archive_id) "
    "SELECT d.dir_name, f.file_name, l.suffix || ?1 || coalesce(m.member_path, ''), "
    "m.member_size, m.md5_checksum FROM levels l, archive_members m, files f, dirs d "
    "WHERE m.archive_id = l.archive_id AND f.file_id = l.file_id AND d.dir_id = f.dir_id "
    "AND (m.member_mode & 61440) <> 16384 ORDER BY m.member_id";
// The members of one archive file and of the archives inside it (the
// parameters: the file's id, the text between levels), in the order they
// were stored: the rest of the member's full path after the file's path,
// size, mode, checksum.
inline constexpr const char* kMembersOfFile =
    "WITH RECURSIVE levels(archive_id, suffix) AS ("
    "SELECT archive_id, '' FROM archives WHERE file_id = ?1 AND member_id IS NULL "
    "UNION ALL SELECT a.archive_id, l.suffix || ?2 || coalesce(m.member_path, '') "
    "FROM levels l, archives a, archive_members m WHERE a.file_id = ?1 "
    "AND a.member_id IS NOT NULL AND m.member_id = a.member_id AND m.archive_id = l.archive_id) "
    "SELECT l.suffix || ?2 || coalesce(m.member_path, ''), m.member_size, m.member_mode, "
    "m.md5_checksum FROM levels l, archive_members m WHERE m.archive_id = l.archive_id "
    "ORDER BY m.member_id";
// The files whose own data is an archive that was read, in id order.
inline constexpr const char* kArchiveFileIds =
    "SELECT DISTINCT file_id FROM archives WHERE member_id IS NULL ORDER BY file_id";
// kAllFiles with each file's id and time, for a catalog with members.
inline constexpr const char* kAllFilesWithIds =
    "SELECT d.dir_name, f.file_name, f.file_size, f.md5_checksum, f.file_id, f.file_mtime "
    "FROM files f, dirs d WHERE d.dir_id = f.dir_id ORDER BY f.file_id";
inline constexpr const char* kAllFilesWithIdsWithoutTimes =
    "SELECT d.dir_name, f.file_name, f.file_size, f.md5_checksum, f.file_id, NULL "
    "FROM files f, dirs d WHERE d.dir_id = f.dir_id ORDER BY f.file_id";

// The name index: its tables (made anew when it is built, with the triggers
// that count changes to the rows it describes), its postings, the files of
// its directories, its description. The triggers go first: they name
// name_index_meta, and writes to dirs and files fail while it is missing.
inline constexpr const char* kCreateNameIndex = R"sql(
DROP TRIGGER IF EXISTS name_index_dirs_insert;
DROP TRIGGER IF EXISTS name_index_dirs_delete;
DROP TRIGGER IF EXISTS name_index_dirs_update;
DROP TRIGGER IF EXISTS name_index_files_insert;
DROP TRIGGER IF EXISTS name_index_files_delete;
DROP TRIGGER IF EXISTS name_index_files_update;
DROP TABLE IF EXISTS name_index_meta;
DROP TABLE IF EXISTS name_index_files;
DROP TABLE IF EXISTS name_index_dirs;
DROP TABLE IF EXISTS name_index_dir_files;
DROP TRIGGER IF EXISTS name_index_members_insert;
DROP TRIGGER IF EXISTS name_index_members_delete;
DROP TRIGGER IF EXISTS name_index_members_update;
DROP TRIGGER IF EXISTS name_index_archives_insert;
DROP TRIGGER IF EXISTS name_index_archives_delete;
DROP TRIGGER IF EXISTS name_index_archives_update;
DROP TABLE IF EXISTS name_index_members;
DROP TABLE IF EXISTS name_index_member_dirs;
CREATE TABLE name_index_meta (key TEXT PRIMARY KEY, value INTEGER);
CREATE TABLE name_index_files (trigram INTEGER PRIMARY KEY, blocks BLOB NOT NULL);
CREATE TABLE name_index_dirs (trigram INTEGER PRIMARY KEY, blocks BLOB NOT NULL);
CREATE TABLE name_index_dir_files (dir_id INTEGER PRIMARY KEY, ranges BLOB NOT NULL);
)sql";

// A trigger that counts, in name_index_meta's "changes", each row of table
// added, deleted, or changed in a field the index is made of. The index
// holds only while all of them are in place, exactly as made, and the count
// is 0.
struct NameIndexTrigger {
    const char* pszName;
    const char* pszTable;
    const char* pszSql;
};
inline constexpr NameIndexTrigger kNameIndexTriggers[] = {
    {"name_index_dirs_insert", "dirs",
     "CREATE TRIGGER name_index_dirs_insert AFTER INSERT ON dirs BEGIN "
     "UPDATE name_index_meta SET value = max(value, 0) + 1 WHERE key = 'changes'; END"},
    {"name_index_dirs_delete", "dirs",
     "CREATE TRIGGER name_index_dirs_delete AFTER DELETE ON dirs BEGIN "
     "UPDATE name_index_meta SET value = max(value, 0) + 1 WHERE key = 'changes'; END"},
    {"name_index_dirs_update", "dirs",
     "CREATE TRIGGER name_index_dirs_update AFTER UPDATE ON dirs "
     "WHEN OLD.dir_id IS NOT NEW.dir_id OR OLD.dir_name IS NOT NEW.dir_name BEGIN "
     "UPDATE name_index_meta SET value = max(value, 0) + 1 WHERE key = 'changes'; END"},
    {"name_index_files_insert", "files",
     "CREATE TRIGGER name_index_files_insert AFTER INSERT ON files BEGIN "
     "UPDATE name_index_meta SET value = max(value, 0) + 1 WHERE key = 'changes'; END"},
    {"name_index_files_delete", "files",
     "CREATE TRIGGER name_index_files_delete AFTER DELETE ON files BEGIN "
     "UPDATE name_index_meta SET value = max(value, 0) + 1 WHERE key = 'changes'; END"},
    {"name_index_files_update", "files",
     "CREATE TRIGGER name_index_files_update AFTER UPDATE ON files "
     "WHEN OLD.file_id IS NOT NEW.file_id OR OLD.dir_id IS NOT NEW.dir_id "
     "OR OLD.file_name IS NOT NEW.file_name BEGIN "
     "UPDATE name_index_meta SET value = max(value, 0) + 1 WHERE key = 'changes'; END"},
};
// For a catalog with members of archives: the postings of member names and
// of the paths of the folders members lie in (by blocks of member ids), and
// the triggers that count changes to members and archives.
inline constexpr const char* kCreateMemberIndex = R"sql(
CREATE TABLE name_index_members (trigram INTEGER PRIMARY KEY, blocks BLOB NOT NULL);
CREATE TABLE name_index_member_dirs (trigram INTEGER PRIMARY KEY, blocks BLOB NOT NULL);
)sql";
inline constexpr NameIndexTrigger kMemberIndexTriggers[] = {
    {"name_index_members_insert", "archive_members",
     "CREATE TRIGGER name_index_members_insert AFTER INSERT ON archive_members BEGIN "
     "UPDATE name_index_meta SET value = max(value, 0) + 1 WHERE key = 'changes'; END"},
    {"name_index_members_delete", "archive_members",
     "CREATE TRIGGER name_index_members_delete AFTER DELETE ON archive_members BEGIN "
     "UPDATE name_index_meta SET value = max(value, 0) + 1 WHERE key = 'changes'; END"},
    {"name_index_members_update", "archive_members",
     "CREATE TRIGGER name_index_members_update AFTER UPDATE ON archive_members "
     "WHEN OLD.member_id IS NOT NEW.member_id OR OLD.archive_id IS NOT NEW.archive_id "
     "OR OLD.member_path IS NOT NEW.member_path OR OLD.member_name IS NOT NEW.member_name BEGIN "
     "UPDATE name_index_meta SET value = max(value, 0) + 1 WHERE key = 'changes'; END"},
    {"name_index_archives_insert", "archives",
     "CREATE TRIGGER name_index_archives_insert AFTER INSERT ON archives BEGIN "
     "UPDATE name_index_meta SET value = max(value, 0) + 1 WHERE key = 'changes'; END"},
    {"name_index_archives_delete", "archives",
     "CREATE TRIGGER name_index_archives_delete AFTER DELETE ON archives BEGIN "
     "UPDATE name_index_meta SET value = max(value, 0) + 1 WHERE key = 'changes'; END"},
    {"name_index_archives_update", "archives",
     "CREATE TRIGGER name_index_archives_update AFTER UPDATE ON archives "
     "WHEN OLD.archive_id IS NOT NEW.archive_id OR OLD.file_id IS NOT NEW.file_id "
     "OR OLD.member_id IS NOT NEW.member_id BEGIN "
     "UPDATE name_index_meta SET value = max(value, 0) + 1 WHERE key = 'changes'; END"},
};
inline constexpr const char* kInsertMemberPostings =
    "INSERT INTO name_index_members(trigram, blocks) VALUES (?, ?)";
inline constexpr const char* kInsertMemberDirPostings =
    "INSERT INTO name_index_member_dirs(trigram, blocks) VALUES (?, ?)";
inline constexpr const char* kMemberPostings =
    "SELECT blocks FROM name_index_members WHERE trigram = ?";
inline constexpr const char* kMemberDirPostings =
    "SELECT blocks FROM name_index_member_dirs WHERE trigram = ?";
inline constexpr const char* kMinMemberId =
    "SELECT coalesce(min(member_id), 0) FROM archive_members";
inline constexpr const char* kMaxMemberId =
    "SELECT coalesce(max(member_id), 0) FROM archive_members";
inline constexpr const char* kMembersForIndex =
    "SELECT member_id, archive_id, member_path, member_name FROM archive_members "
    "ORDER BY member_id";
// 1 when the trigger (name, table, text) is in place as made.
inline constexpr const char* kHasTrigger = "SELECT count(*) FROM sqlite_schema "
                                           "WHERE type = 'trigger' AND name = ? AND tbl_name = ? "
                                           "AND sql = ?";
inline constexpr const char* kInsertFilePostings =
    "INSERT INTO name_index_files(trigram, blocks) VALUES (?, ?)";
inline constexpr const char* kInsertDirPostings =
    "INSERT INTO name_index_dirs(trigram, blocks) VALUES (?, ?)";
inline constexpr const char* kInsertDirFiles =
    "INSERT INTO name_index_dir_files(dir_id, ranges) VALUES (?, ?)";
inline constexpr const char* kInsertIndexMeta =
    "INSERT INTO name_index_meta(key, value) VALUES (?, ?)";
inline constexpr const char* kReadIndexMeta = "SELECT key, value FROM name_index_meta";
inline constexpr const char* kFilePostings =
    "SELECT blocks FROM name_index_files WHERE trigram = ?";
inline constexpr const char* kDirPostings = "SELECT blocks FROM name_index_dirs WHERE trigram = ?";
inline constexpr const char* kDirFilesBetween =
    "SELECT ranges FROM name_index_dir_files WHERE dir_id BETWEEN ? AND ?";
// The id ends of the rows (0 and 0 for none): an index no trigger told of a
// change must still agree with them.
// (One end a statement: the engine reads an end of the row id's b-tree only
// for a lone min or max.)
inline constexpr const char* kMinFileId = "SELECT coalesce(min(file_id), 0) FROM files";
inline constexpr const char* kMaxFileId = "SELECT coalesce(max(file_id), 0) FROM files";
inline constexpr const char* kMinDirId = "SELECT coalesce(min(dir_id), 0) FROM dirs";
inline constexpr const char* kMaxDirId = "SELECT coalesce(max(dir_id), 0) FROM dirs";
inline constexpr const char* kFilesForIndex =
    "SELECT file_id, dir_id, file_name FROM files ORDER BY file_id";
inline constexpr const char* kDirsForIndex = "SELECT dir_id, dir_name FROM dirs ORDER BY dir_id";

// The folder tables: for every directory its parent, children, totals, own
// mode and time, and the modes of its files, packed by blocks of 64
// consecutive directory ids (tree_dirs, tree_file_modes), described by
// tree_meta. Made anew when they are built; the triggers go first, as for
// the name index.
inline constexpr const char* kDropTreeTables = R"sql(
DROP TRIGGER IF EXISTS tree_dirs_insert;
DROP TRIGGER IF EXISTS tree_dirs_delete;
DROP TRIGGER IF EXISTS tree_dirs_update;
DROP TRIGGER IF EXISTS tree_files_insert;
DROP TRIGGER IF EXISTS tree_files_delete;
DROP TRIGGER IF EXISTS tree_files_update;
DROP TABLE IF EXISTS tree_meta;
DROP TABLE IF EXISTS tree_dirs;
DROP TABLE IF EXISTS tree_file_modes;
)sql";
inline constexpr const char* kCreateTreeTables = R"sql(
CREATE TABLE tree_meta (key TEXT PRIMARY KEY, value);
CREATE TABLE tree_dirs (block INTEGER PRIMARY KEY, data BLOB NOT NULL);
CREATE TABLE tree_file_modes (block INTEGER PRIMARY KEY, data BLOB NOT NULL);
)sql";
// The triggers that count, in tree_meta's "changes", each row added,
// deleted, or changed in a field the tables are made of. The update of
// files names file_mtime only where the catalog has it.
inline constexpr NameIndexTrigger kTreeTriggers[] = {
    {"tree_dirs_insert", "dirs",
     "CREATE TRIGGER tree_dirs_insert AFTER INSERT ON dirs BEGIN "
     "UPDATE tree_meta SET value = max(value, 0) + 1 WHERE key = 'changes'; END"},
    {"tree_dirs_delete", "dirs",
     "CREATE TRIGGER tree_dirs_delete AFTER DELETE ON dirs BEGIN "
     "UPDATE tree_meta SET value = max(value, 0) + 1 WHERE key = 'changes'; END"},
    {"tree_dirs_update", "dirs",
     "CREATE TRIGGER tree_dirs_update AFTER UPDATE ON dirs "
     "WHEN OLD.dir_id IS NOT NEW.dir_id OR OLD.dir_name IS NOT NEW.dir_name BEGIN "
     "UPDATE tree_meta SET value = max(value, 0) + 1 WHERE key = 'changes'; END"},
    {"tree_files_insert", "files",
     "CREATE TRIGGER tree_files_insert AFTER INSERT ON files BEGIN "
     "UPDATE tree_meta SET value = max(value, 0) + 1 WHERE key = 'changes'; END"},
    {"tree_files_delete", "files",
     "CREATE TRIGGER tree_files_delete AFTER DELETE ON files BEGIN "
     "UPDATE tree_meta SET value = max(value, 0) + 1 WHERE key = 'changes'; END"},
};
inline constexpr NameIndexTrigger kTreeFilesUpdateTrigger = {
    "tree_files_update", "files",
    "CREATE TRIGGER tree_files_update AFTER UPDATE ON files "
    "WHEN OLD.file_id IS NOT NEW.file_id OR OLD.dir_id IS NOT NEW.dir_id "
    "OR OLD.file_size IS NOT NEW.file_size OR OLD.file_mtime IS NOT NEW.file_mtime BEGIN "
    "UPDATE tree_meta SET value = max(value, 0) + 1 WHERE key = 'changes'; END"};
inline constexpr NameIndexTrigger kTreeFilesUpdateTriggerWithoutTimes = {
    "tree_files_update", "files",
    "CREATE TRIGGER tree_files_update AFTER UPDATE ON files "
    "WHEN OLD.file_id IS NOT NEW.file_id OR OLD.dir_id IS NOT NEW.dir_id "
    "OR OLD.file_size IS NOT NEW.file_size BEGIN "
    "UPDATE tree_meta SET value = max(value, 0) + 1 WHERE key = 'changes'; END"};
inline constexpr const char* kInsertTreeMeta = "INSERT INTO tree_meta(key, value) VALUES (?, ?)";
inline constexpr const char* kReadTreeMeta = "SELECT key, value FROM tree_meta";
inline constexpr const char* kTreeTablesVersion =
    "SELECT value FROM tree_meta WHERE key = 'version'";
inline constexpr const char* kInsertTreeDirs = "INSERT INTO tree_dirs(block, data) VALUES (?, ?)";
inline constexpr const char* kInsertTreeFileModes =
    "INSERT INTO tree_file_modes(block, data) VALUES (?, ?)";
inline constexpr const char* kTreeDirsBlock = "SELECT data FROM tree_dirs WHERE block = ?";
inline constexpr const char* kTreeFileModesBlock =
    "SELECT data FROM tree_file_modes WHERE block = ?";
inline constexpr const char* kAllTreeDirs = "SELECT block, data FROM tree_dirs ORDER BY block";
inline constexpr const char* kAllTreeFileModes =
    "SELECT block, data FROM tree_file_modes ORDER BY block";
// What the folder tables are built from, with whether each row holds the
// types a catalog Kestrel writes holds (other rows make the tables unusable;
// a file of a directory id that is no whole number belongs to no folder).
inline constexpr const char* kDirsForTree =
    "SELECT dir_id, dir_name, typeof(dir_id) = 'integer' AND typeof(dir_name) = 'text' "
    "FROM dirs ORDER BY dir_id";
inline constexpr const char* kFilesForTree =
    "SELECT file_id, dir_id, file_size, file_mtime, typeof(file_id) = 'integer' AND "
    "typeof(file_size) IN ('integer', 'null') AND typeof(file_mtime) IN ('integer', 'null'), "
    "typeof(dir_id) = 'integer' FROM files ORDER BY file_id";
inline constexpr const char* kFilesForTreeWithoutTimes =
    "SELECT file_id, dir_id, file_size, NULL, typeof(file_id) = 'integer' AND "
    "typeof(file_size) IN ('integer', 'null'), typeof(dir_id) = 'integer' FROM files "
    "ORDER BY file_id";
// One folder by its path as stored (dir_name_index makes it a lookup), the
// paths of a block's folders, and the files of one folder within a
// stretch of file ids.
inline constexpr const char* kDirIdByName = "SELECT dir_id FROM dirs WHERE dir_name = ?";
inline constexpr const char* kDirNamesBetween =
    "SELECT dir_id, dir_name FROM dirs WHERE dir_id BETWEEN ? AND ?";
inline constexpr const char* kTreeFilesBetween =
    "SELECT file_id, file_name, file_size, md5_checksum, file_mtime FROM files "
    "WHERE file_id BETWEEN ? AND ? AND dir_id = ? AND typeof(dir_id) = 'integer' ORDER BY file_id";
inline constexpr const char* kTreeFilesBetweenWithoutTimes =
    "SELECT file_id, file_name, file_size, md5_checksum, NULL FROM files "
    "WHERE file_id BETWEEN ? AND ? AND dir_id = ? AND typeof(dir_id) = 'integer' ORDER BY file_id";

} // namespace CatalogSql
