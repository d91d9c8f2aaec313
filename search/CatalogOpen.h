// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <memory>
#include <string>
#include <vector>

class Database;

// Opens the catalog of an entry read-only and returns its file's path.
// Raises EngineError: for an entry whose file is missing and that is not in
// the catalog list ("'NAME' is not in the catalog list"), for a file that is
// no catalog ("'PATH' is not a catalog: ..."; an empty file or a database
// without the tables dirs and files), and for what the engine reports.
std::string OpenCatalogForSearch(Database& database, const std::string& strAppPath,
                                 const std::string& strEntry);

// Opens the catalogs of the entries read-only, in order; raises EngineError
// at the first that cannot be opened.
std::vector<std::unique_ptr<Database>>
OpenCatalogsForSearch(const std::string& strAppPath, const std::vector<std::string>& entries);

// Raises EngineError with the matcher's message when strPattern is no valid
// pattern, so a search can refuse it before it opens any catalog.
void CheckSearchPattern(const std::string& strPattern);
