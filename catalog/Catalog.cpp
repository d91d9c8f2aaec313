// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalog/Catalog.h"

#include "catalog/Database.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// dir_id and file_id are the tables' row ids: each new row gets the largest id
// so far plus one, so ids grow in insertion order (rows are never deleted).
// The row id is the table's primary index, named by its constraint; a second
// index on it would only slow every insert. dir_name_index uses the exact
// (binary) comparison: paths that differ only in letter case are different
// directories. A text field holds no empty string: a missing value is NULL.
// Kestrel's own additions come after what other programs may rely on:
// file_mtime is the last field of files (nanoseconds since 1970 UTC, NULL
// when unknown), and catalog_info holds what the catalog knows of itself.
constexpr const char* kSchema = R"sql(
CREATE TABLE dirs (
    dir_id INTEGER CONSTRAINT dir_id_index PRIMARY KEY,
    dir_name TEXT NOT NULL
);
CREATE UNIQUE INDEX dir_name_index ON dirs(dir_name);
CREATE TABLE files (
    file_id INTEGER CONSTRAINT file_id_index PRIMARY KEY,
    dir_id INTEGER,
    file_name TEXT,
    file_size INTEGER,
    md5_checksum TEXT,
    file_mtime INTEGER
);
CREATE TABLE catalog_info (
    key TEXT NOT NULL,
    value TEXT
);
)sql";

// What a writer may leave beside a catalog file.
const char* const kCompanionSuffixes[] = {"-journal", "-wal", "-shm"};

// Appends a file's device, inode, size and modification time to strState;
// false when there is no such file.
bool AppendFileState(const std::string& strFile, std::string& strState) {
    struct stat st {};
    if (::stat(strFile.c_str(), &st) != 0)
        return false;
    for (const int64_t nValue :
         {static_cast<int64_t>(st.st_dev), static_cast<int64_t>(st.st_ino),
          static_cast<int64_t>(st.st_size), static_cast<int64_t>(st.st_mtim.tv_sec),
          static_cast<int64_t>(st.st_mtim.tv_nsec)})
        strState += std::to_string(nValue) + ' ';
    return true;
}

} // namespace

bool CreateCatalog(Database& database, const std::string& strPath,
                   const std::function<void(Database&)>& fnFirstRows) {
    if (strPath.empty())
        return false;
    database.Create(strPath, kSchema, fnFirstRows);
    try {
        // The log lets searches read the rows committed so far while the
        // catalog is being written, without ever holding the writer up.
        database.Execute("PRAGMA journal_mode=WAL");
    } catch (...) {
        // A file without its tables is no catalog: it would stop every search.
        database.Close();
        RemoveCatalog(strPath);
        throw;
    }
    return true;
}

std::string CatalogFileState(const std::string& strPath) {
    std::string strState;
    if (AppendFileState(strPath, strState))
        AppendFileState(strPath + "-wal", strState);
    return strState;
}

std::string RemoveCatalog(const std::string& strPath) {
    if (::unlink(strPath.c_str()) != 0 && errno != ENOENT) {
        const int nErr = errno;
        return "Cannot delete '" + strPath + "': " + std::strerror(nErr);
    }
    for (const char* pszSuffix : kCompanionSuffixes)
        ::unlink((strPath + pszSuffix).c_str());
    return {};
}
