// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <functional>
#include <string>

class Database;

// Creates a new, empty catalog at strPath and leaves it open in database:
// the tables dirs (dir_id, dir_name) and files (file_id, dir_id, file_name,
// file_size, md5_checksum, file_mtime) with their indexes, and the table
// catalog_info (key, value), and no rows. While it is open
// it is written through a log beside it, so programs that read it meanwhile
// see every committed row and never block the writer; closing makes it a
// plain single file again. Returns false and does nothing when strPath is
// empty. Raises EngineError when the file exists already or the engine
// fails; a file it made is removed again then.
// fnFirstRows, when given, writes rows that the file holds from the moment
// it appears (what the catalog records of itself before its walk).
bool CreateCatalog(Database& database, const std::string& strPath,
                   const std::function<void(Database&)>& fnFirstRows = {});

// A text that changes whenever the catalog file at strPath, or the log beside
// it where a writer's latest rows may wait, changes: their device, inode,
// size and modification time. Empty when there is no file at strPath.
std::string CatalogFileState(const std::string& strPath);

// Removes the catalog file at strPath with the journal or log a writer may
// have left beside it. A missing file is no error. Returns the reason when
// the file is there but could not be removed, else an empty text.
std::string RemoveCatalog(const std::string& strPath);
