// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalog/CatalogInfo.h"

#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "catalog/ResultSet.h"
#include "catalog/Statement.h"

#include <charconv>
#include <cstdio>
#include <ctime>
#include <iterator>

namespace {

std::optional<uint64_t> ParseCount(const std::string& strText) {
    uint64_t n = 0;
    const auto [pEnd, ec] = std::from_chars(strText.data(), strText.data() + strText.size(), n);
    if (ec != std::errc() || pEnd != strText.data() + strText.size())
        return std::nullopt;
    return n;
}

std::optional<bool> ParseYesNo(const std::string& strText) {
    if (strText == "yes")
        return true;
    if (strText == "no")
        return false;
    return std::nullopt;
}

uint64_t CountOf(Database& database, const char* pszSql) {
    return static_cast<uint64_t>(database.QueryInt64(pszSql));
}

} // namespace

ScanSettings CatalogInfo::Settings() const {
    ScanSettings settings;
    settings.strStartDir = strStartDir.value_or("");
    settings.bChecksum = bChecksums.value_or(nChecksums.value_or(0) > 0);
    if (nChecksumLimitKb && *nChecksumLimitKb >= 0 && *nChecksumLimitKb <= INT32_MAX)
        settings.nMaxFileSizeKb = static_cast<int32_t>(*nChecksumLimitKb);
    settings.excludes = excludes.value_or(std::vector<std::string>());
    settings.bOneFileSystem = bOneFileSystem.value_or(false);
    settings.bArchives = bArchives.value_or(false);
    if (nArchiveDepth && *nArchiveDepth >= 1 && *nArchiveDepth <= kMaxArchiveDepth)
        settings.nArchiveDepth = static_cast<int32_t>(*nArchiveDepth);
    return settings;
}

CatalogInfo ReadCatalogInfo(Database& database, bool bDeriveTotals) {
    namespace Key = CatalogInfoKey;
    CatalogInfo info;
    info.bHasFileTimes = database.QueryInt64(CatalogSql::kHasFileTimes) > 0;
    info.bHasInfo = database.HasTable("catalog_info");
    if (info.bHasInfo) {
        for (ResultSet rows(database.Prepare(CatalogSql::kReadInfo)); !rows.IsEOF();
             rows.MoveNext()) {
            const std::string strKey = rows.GetText(0);
            const std::string strValue = rows.GetText(1);
            if (strKey == Key::kStartDir)
                info.strStartDir = strValue;
            else if (strKey == Key::kStarted)
                info.strStarted = strValue;
            else if (strKey == Key::kFinished)
                info.strFinished = strValue;
            else if (strKey == Key::kComplete)
                info.bComplete = ParseYesNo(strValue);
            else if (strKey == Key::kChecksums)
                info.bChecksums = ParseYesNo(strValue);
            else if (strKey == Key::kChecksumLimitKb) {
                if (const auto n = ParseCount(strValue))
                    info.nChecksumLimitKb = static_cast<int64_t>(*n);
            } else if (strKey == Key::kExclude) {
                if (!info.excludes)
                    info.excludes.emplace();
                info.excludes->push_back(strValue);
            } else if (strKey == Key::kOneFileSystem)
                info.bOneFileSystem = ParseYesNo(strValue);
            else if (strKey == Key::kArchives)
                info.bArchives = ParseYesNo(strValue);
            else if (strKey == Key::kArchiveDepth) {
                if (const auto n = ParseCount(strValue))
                    info.nArchiveDepth = static_cast<int64_t>(*n);
            } else if (strKey == Key::kArchiveCount)
                info.nArchives = ParseCount(strValue);
            else if (strKey == Key::kMemberCount)
                info.nMembers = ParseCount(strValue);
            else if (strKey == Key::kUnreadArchives)
                info.nUnreadArchives = ParseCount(strValue);
            else if (strKey == Key::kUnreadDirs)
                info.nUnreadDirs = ParseCount(strValue);
            else if (strKey == Key::kDirs)
                info.nDirs = ParseCount(strValue);
            else if (strKey == Key::kFiles)
                info.nFiles = ParseCount(strValue);
            else if (strKey == Key::kChecksumCount)
                info.nChecksums = ParseCount(strValue);
            else if (strKey == Key::kTotalBytes)
                info.nTotalBytes = ParseByteTotal(strValue);
            else if (strKey == Key::kFsType)
                info.volume.strFsType = strValue;
            else if (strKey == Key::kFsUuid)
                info.volume.strUuid = strValue;
            else if (strKey == Key::kFsLabel)
                info.volume.strLabel = strValue;
            else if (strKey == Key::kMountPoint)
                info.volume.strMountPoint = strValue;
            else if (strKey == Key::kMountRoot)
                info.volume.strMountRoot = strValue;
            else if (strKey == Key::kFsSize)
                info.volume.nSize = ParseCount(strValue);
            else if (strKey == Key::kFsFree)
                info.volume.nFree = ParseCount(strValue);
            else if (strKey == Key::kMadeBy)
                info.strMadeBy = strValue;
            else if (strKey == Key::kHost)
                info.strHost = strValue;
            else if (strKey == Key::kNote)
                info.strNote = strValue;
        }
        // A scan records all its options at its start: with them recorded,
        // no exclude row means nothing was excluded.
        if (info.bChecksums && !info.excludes)
            info.excludes.emplace();
    }
    // The rows themselves tell the rest, of any catalog; the counts a
    // finished scan recorded spare a pass over every row.
    if (!info.strStartDir) {
        ResultSet first(database.Prepare(CatalogSql::kFirstDir));
        if (!first.IsEOF())
            info.strStartDir = first.GetText(0);
    }
    if (!info.nDirs)
        info.nDirs = CountOf(database, CatalogSql::kCountDirs);
    if (!info.nFiles)
        info.nFiles = CountOf(database, CatalogSql::kCountFiles);
    if (!info.nChecksums && bDeriveTotals)
        info.nChecksums = CountOf(database, CatalogSql::kCountChecksums);
    if (!info.nTotalBytes && bDeriveTotals)
        info.nTotalBytes = TotalFileBytes(database);
    return info;
}

std::optional<std::string> ReadStartDirectory(Database& database) {
    std::optional<std::string> strStart;
    if (database.HasTable("catalog_info"))
        for (ResultSet rows(database.Prepare(CatalogSql::kReadInfo)); !rows.IsEOF();
             rows.MoveNext())
            if (rows.GetTextView(0) == CatalogInfoKey::kStartDir)
                strStart = rows.GetText(1);
    if (!strStart) {
        ResultSet first(database.Prepare(CatalogSql::kFirstDir));
        if (!first.IsEOF())
            strStart = first.GetText(0);
    }
    return strStart;
}

ByteTotal TotalFileBytes(Database& database) {
    Statement statement = database.Prepare(CatalogSql::kTotalBytes);
    if (!statement.Step())
        return 0;
    return (static_cast<ByteTotal>(statement.Int64(0)) << 32) +
           static_cast<ByteTotal>(statement.Int64(1));
}

std::string ByteCountText(ByteTotal nBytes) {
    std::string strText = DecimalText(nBytes) + (nBytes == 1 ? " byte" : " bytes");
    if (nBytes < 1024)
        return strText;
    const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB", "ZiB", "YiB"};
    double dValue = static_cast<double>(nBytes) / 1024;
    size_t nUnit = 0;
    while (dValue >= 1024 && nUnit + 1 < std::size(kUnits)) {
        dValue /= 1024;
        ++nUnit;
    }
    char szScaled[32];
    std::snprintf(szScaled, sizeof szScaled, " (%.1f %s)", dValue, kUnits[nUnit]);
    return strText + szScaled;
}

std::vector<std::pair<std::string, std::string>> InfoLines(const CatalogInfo& info) {
    const std::string kUnknown = "unknown";
    auto text = [&](const std::optional<std::string>& value) {
        return value && !value->empty() ? *value : kUnknown;
    };
    auto count = [&](const std::optional<uint64_t>& value) {
        return value ? std::to_string(*value) : kUnknown;
    };
    auto yesNo = [&](const std::optional<bool>& value) {
        return value ? (*value ? std::string("yes") : std::string("no")) : kUnknown;
    };
    std::string strLimit = kUnknown;
    if (info.bChecksums && !*info.bChecksums)
        strLimit = "no checksums";
    else if (info.nChecksumLimitKb)
        strLimit = *info.nChecksumLimitKb == 0 ? "no limit"
                                               : std::to_string(*info.nChecksumLimitKb) + " KB";
    std::string strExcluded = kUnknown;
    if (info.excludes) {
        strExcluded.clear();
        for (const std::string& strPattern : *info.excludes)
            strExcluded += (strExcluded.empty() ? "" : ", ") + strPattern;
        if (strExcluded.empty())
            strExcluded = "nothing";
    }
    auto bytes = [&](const std::optional<ByteTotal>& value) {
        return value ? ByteCountText(*value) : kUnknown;
    };
    auto optionalText = [&](const std::string& strValue) {
        return strValue.empty() ? kUnknown : strValue;
    };
    std::vector<std::pair<std::string, std::string>> lines = {
        {"Start directory", text(info.strStartDir)},
        {"Started", text(info.strStarted)},
        {"Finished", text(info.strFinished)},
        {"Complete", yesNo(info.bComplete)},
        {"Directories", count(info.nDirs)},
        {"Files", count(info.nFiles)},
        {"Checksums", count(info.nChecksums)},
        {"Checksum limit", strLimit},
        {"Total size", bytes(info.nTotalBytes)},
        {"Excluded", strExcluded},
        {"One file system", yesNo(info.bOneFileSystem)},
        {"File system", optionalText(info.volume.strFsType)},
        {"UUID", optionalText(info.volume.strUuid)},
        {"Label", optionalText(info.volume.strLabel)},
        {"Mount point", optionalText(info.volume.strMountPoint)},
        {"Volume size", bytes(info.volume.nSize)},
        {"Free space", bytes(info.volume.nFree)},
        {"Made by", text(info.strMadeBy)},
        {"Host", text(info.strHost)},
    };
    if (info.bArchives.value_or(false)) {
        lines.emplace_back("Archives", count(info.nArchives));
        lines.emplace_back("Archive members", count(info.nMembers));
        lines.emplace_back("Archives not read completely", count(info.nUnreadArchives));
        lines.emplace_back("Archive depth",
                           info.nArchiveDepth ? std::to_string(*info.nArchiveDepth) : kUnknown);
    }
    if (info.strNote)
        lines.emplace_back("Note", *info.strNote);
    return lines;
}

void SetCatalogInfo(Database& database, const char* pszKey, const std::string& strValue) {
    Statement remove = database.Prepare(CatalogSql::kDeleteInfo);
    remove.BindText(1, pszKey);
    remove.Run();
    AddCatalogInfo(database, pszKey, strValue);
}

void AddCatalogInfo(Database& database, const char* pszKey, const std::string& strValue) {
    Statement insert = database.Prepare(CatalogSql::kInsertInfo);
    insert.BindText(1, pszKey);
    insert.BindText(2, strValue);
    insert.Run();
}

void WriteCatalogNote(const std::string& strCatalogPath, const std::string& strNote,
                      const CatalogLock::Wait& wait) {
    if (strNote.find('\0') != std::string::npos)
        throw EngineError("A note cannot hold a NUL character.");
    const CatalogLock lock(strCatalogPath, wait);
    Database database;
    database.Open(lock.CatalogPath(), Database::OpenMode::ReadWrite);
    for (const char* pszTable : {"dirs", "files"})
        if (!database.HasTable(pszTable))
            throw EngineError("'" + lock.CatalogPath() + "' is not a catalog: it has no table " +
                              pszTable);
    database.BeginTransaction();
    database.Execute(CatalogSql::kCreateInfoIfMissing);
    Statement remove = database.Prepare(CatalogSql::kDeleteInfo);
    remove.BindText(1, CatalogInfoKey::kNote);
    remove.Run();
    if (!strNote.empty())
        AddCatalogInfo(database, CatalogInfoKey::kNote, strNote);
    database.Commit();
}

std::string UtcTimestamp() {
    const std::time_t tNow = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&tNow, &utc);
    char szText[32];
    std::strftime(szText, sizeof szText, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return szText;
}
