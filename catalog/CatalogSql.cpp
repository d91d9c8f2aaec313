// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalog/CatalogSql.h"

std::string CatalogSql::SearchSql(SearchMode mode, SearchTimes times, bool bRanges) {
    if (mode == ::kSearchDirs)
        return bRanges ? "SELECT dir_name FROM dirs WHERE dir_id BETWEEN ? AND ? AND "
                         "dir_name LIKE ? ORDER BY dir_id"
                       : kSearchDirs;
    if (times == SearchTimes::None && !bRanges)
        return mode == ::kSearchFiles ? kSearchFiles : kSearchBoth;
    std::string strSql = "SELECT d.dir_name, f.file_name, f.file_size, f.md5_checksum";
    if (times == SearchTimes::Stored)
        strSql += ", f.file_mtime";
    else if (times == SearchTimes::Null)
        strSql += ", NULL";
    strSql += " FROM files f, dirs d WHERE ";
    if (bRanges)
        strSql += "f.file_id BETWEEN ? AND ? AND ";
    strSql +=
        mode == ::kSearchFiles ? "f.file_name LIKE ?" : "(f.file_name LIKE ? OR d.dir_name LIKE ?)";
    strSql += " AND d.dir_id = f.dir_id";
    if (bRanges)
        strSql += " ORDER BY f.file_id";
    return strSql;
}

std::string CatalogSql::SearchFileScanSql(SearchMode mode, SearchTimes times, bool bRanges) {
    std::string strSql = "SELECT dir_id, file_name, file_size, md5_checksum";
    if (times == SearchTimes::Stored)
        strSql += ", file_mtime";
    else if (times == SearchTimes::Null)
        strSql += ", NULL";
    // Every row NOT INDEXED: in the table's own order, as the search's plan
    // scans it, even where an index would hold every field.
    strSql += bRanges ? " FROM files WHERE file_id BETWEEN ? AND ?" : " FROM files NOT INDEXED";
    if (mode == ::kSearchFiles)
        strSql += bRanges ? " AND file_name LIKE ?" : " WHERE file_name LIKE ?";
    return bRanges ? strSql + " ORDER BY file_id" : strSql;
}
