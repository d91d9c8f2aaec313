#include "catalog/Catalog.h"

#include "catalog/Database.h"

namespace {

// dir_id and file_id are the tables' row ids, so they grow in insertion order;
// AUTOINCREMENT keeps an id from ever being given twice. dir_name_index uses
// the exact (binary) comparison: paths that differ only in letter case are
// different directories here. Text fields take no empty strings: a missing
// value is NULL.
constexpr const char* kSchema = R"sql(
CREATE TABLE dirs (
    dir_id INTEGER PRIMARY KEY AUTOINCREMENT,
    dir_name TEXT NOT NULL
);
CREATE UNIQUE INDEX dir_id_index ON dirs(dir_id);
CREATE UNIQUE INDEX dir_name_index ON dirs(dir_name);
CREATE TABLE files (
    file_id INTEGER PRIMARY KEY AUTOINCREMENT,
    dir_id INTEGER,
    file_name TEXT,
    file_size INTEGER,
    md5_checksum TEXT
);
CREATE UNIQUE INDEX file_id_index ON files(file_id);
)sql";

} // namespace

bool CreateCatalog(Database& database, const std::string& strPath) {
    if (strPath.empty())
        return false;
    database.Create(strPath);
    database.Execute(std::string("BEGIN;") + kSchema + "COMMIT;");
    return true;
}
