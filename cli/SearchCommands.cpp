// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalog/DataFolder.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "cli/CommandLine.h"
#include "cli/CommandTable.h"
#include "cli/Output.h"
#include "search/CatalogOpen.h"
#include "search/DatabaseList.h"
#include "search/HitRecord.h"
#include "search/SearchDriver.h"
#include "search/SearchMessages.h"
#include "volume/CatalogVolumes.h"

#include <optional>

int RunSearchCommand(const CommandLine& cmd) {
    OutputWriter out;
    SearchQuery query;
    if (auto it = cmd.values.find("--where"); it != cmd.values.end()) {
        if (it->second == "files")
            query.mode = kSearchFiles;
        else if (it->second == "dirs")
            query.mode = kSearchDirs;
        else if (it->second != "both")
            return Fail(kExitUsage, "--where takes both, files or dirs");
    }
    OutputFormat format = OutputFormat::Tsv;
    if (!ParseFormatOption(cmd, format))
        return kExitUsage;
    if (cmd.Has("--online") && cmd.Has("--offline"))
        return Fail(kExitUsage, "--online and --offline exclude each other");
    if ((cmd.Has("-0") || cmd.Has("--null")) && format != OutputFormat::Tsv)
        return Fail(kExitUsage, "-0 prints only the paths: not with --format csv or json");
    SearchFilter& filter = query.filter;
    std::string strError;
    for (const std::string& strBound : cmd.All("--size"))
        if (!ParseSizeBound(strBound, filter, strError))
            return Fail(kExitUsage, strError);
    const int64_t nNow = NowNs();
    for (const auto& [pszOption, pBound] :
         {std::pair{"--changed-within", &filter.nChangedSinceNs},
          std::pair{"--changed-before", &filter.nChangedBeforeNs}}) {
        if (auto it = cmd.values.find(pszOption); it != cmd.values.end()) {
            *pBound = ParseMoment(it->second, nNow, strError);
            if (!*pBound)
                return Fail(kExitUsage, std::string(pszOption) + ": " + strError);
        }
    }
    if (filter.IsActive() && query.mode == kSearchDirs)
        return Fail(kExitUsage,
                    "--size, --changed-within and --changed-before filter files: not with "
                    "--where dirs");
    if (cmd.operands.empty())
        return Fail(kExitUsage, "search takes a PATTERN (see kestrel-cli search --help)");
    query.strPattern = cmd.operands[0];
    if (query.strPattern.empty())
        return Fail(kExitUsage, kMsgEnterSearchText);
    const bool bNulSeparated = cmd.Has("-0") || cmd.Has("--null");
    query.bWithTimes = format != OutputFormat::Tsv;
    try {
        // A malformed pattern is refused before any catalog is opened.
        CheckSearchPattern(query.strPattern);
        const std::string strApp = DataFolder();
        std::vector<std::string> entries(cmd.operands.begin() + 1, cmd.operands.end());
        if (entries.empty()) {
            entries = LoadDatabaseList(strApp);
            if (entries.empty())
                return Fail(kExitError, kMsgNoDatabases);
        }
        // Whether each catalog's disk is plugged in, when asked or told.
        const bool bOnlineOnly = cmd.Has("--online"), bOfflineOnly = cmd.Has("--offline");
        const bool bWithVolume = format == OutputFormat::Json;
        std::vector<char> online;
        if (bOnlineOnly || bOfflineOnly || bWithVolume) {
            const MountedVolumes mounted;
            std::vector<std::string> kept;
            for (const std::string& strEntry : entries) {
                const CatalogVolume volume = LocateCatalogVolume(strApp, strEntry, mounted);
                // A catalog that cannot be read fails the search as it does
                // without the filter.
                const bool bOnline = !volume.strError.empty() || volume.location.bOnline;
                if ((bOnlineOnly && !bOnline) || (bOfflineOnly && bOnline))
                    continue;
                kept.push_back(strEntry);
                online.push_back(bOnline);
            }
            entries = std::move(kept);
            if (entries.empty())
                return kExitNoMatch;
        }
        RecordWriter records(out.Sink(), format, bWithVolume ? HitFieldsWithVolume() : HitFields());
        if (!bNulSeparated)
            records.WriteHeader(); // once for all catalogs
        uint64_t nHits = 0;
        RunSearch(strApp, entries, query, [&](size_t nCatalog, std::unique_ptr<HitStream> hits) {
            for (; !hits->IsEOF(); hits->MoveNext(), ++nHits) {
                if (bWithVolume) {
                    WriteHit(records, hits->Hit(), online[nCatalog] != 0);
                    continue;
                }
                if (!bNulSeparated) {
                    WriteHit(records, hits->Hit());
                    continue;
                }
                out.Write(hits->Hit().path);
                out.Write(std::string_view("\0", 1));
            }
        });
        out.Flush();
        return nHits > 0 ? kExitOk : kExitNoMatch;
    } catch (const EngineError& error) {
        return EngineFailure(out, error);
    }
}
