#pragma once

#include <string>

class Database;

// Creates a new, empty catalog at strPath and leaves it open in database:
// the tables dirs (dir_id, dir_name) and files (file_id, dir_id, file_name,
// file_size, md5_checksum) with their indexes, and no rows. Returns false and
// does nothing when strPath is empty. Raises EngineError when the file exists
// already or the engine fails; a partly created file then stays on disk.
bool CreateCatalog(Database& database, const std::string& strPath);

// The statements run against a catalog; every value goes in as a parameter.
namespace CatalogSql {
inline constexpr const char* kInsertStartDir = "INSERT INTO dirs(dir_name) VALUES (?)";
} // namespace CatalogSql
