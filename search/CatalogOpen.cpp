// SPDX-License-Identifier: GPL-3.0-or-later

#include "search/CatalogOpen.h"

#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "catalog/LikeMatcher.h"
#include "search/DatabaseList.h"

#include <sqlite3.h>
#include <sys/stat.h>

std::string OpenCatalogForSearch(Database& database, const std::string& strAppPath,
                                 const std::string& strEntry) {
    const std::string strPath = CatalogPathOfKnownEntry(strAppPath, strEntry);
    database.Open(strPath, Database::OpenMode::ReadOnly);
    auto notCatalog = [&](const std::string& strWhy, int nCode) {
        database.Close();
        return EngineError("'" + strPath + "' is not a catalog: " + strWhy, nCode, strPath);
    };
    // The engine takes an empty file for an empty database, and any database
    // opens: only its tables tell a catalog.
    const char* pszMissing = nullptr;
    try {
        for (const char* pszTable : {"dirs", "files"})
            if (!pszMissing && !database.HasTable(pszTable))
                pszMissing = pszTable;
    } catch (const EngineError& error) {
        if ((error.Code() & 0xFF) != SQLITE_NOTADB)
            throw;
        throw notCatalog("it is no SQLite database", error.Code());
    }
    struct stat st {};
    if (pszMissing)
        throw notCatalog(::stat(strPath.c_str(), &st) == 0 && st.st_size == 0
                             ? std::string("the file is empty")
                             : std::string("it has no table ") + pszMissing,
                         SQLITE_NOTADB);
    return strPath;
}

std::vector<std::unique_ptr<Database>>
OpenCatalogsForSearch(const std::string& strAppPath, const std::vector<std::string>& entries) {
    std::vector<std::unique_ptr<Database>> catalogs;
    for (const std::string& strEntry : entries) {
        catalogs.push_back(std::make_unique<Database>());
        OpenCatalogForSearch(*catalogs.back(), strAppPath, strEntry);
    }
    return catalogs;
}

void CheckSearchPattern(const std::string& strPattern) {
    LikeMatcher matcher(strPattern);
}
