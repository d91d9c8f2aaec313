#include "catalog/Catalog.h"

#include "catalog/Database.h"

namespace {

// dir_id and file_id are the tables' row ids: each new row gets the largest id
// so far plus one, so ids grow in insertion order (rows are never deleted).
// The row id is the table's primary index, named by its constraint; a second
// index on it would only slow every insert. dir_name_index uses the exact
// (binary) comparison: paths that differ only in letter case are different
// directories. A text field holds no empty string: a missing value is NULL.
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
    md5_checksum TEXT
);
)sql";

} // namespace

bool CreateCatalog(Database& database, const std::string& strPath) {
    if (strPath.empty())
        return false;
    database.Create(strPath);
    database.Execute(std::string("BEGIN;") + kSchema + "COMMIT;");
    return true;
}
