#include "catalog/DataFolder.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "cli/CommandLine.h"
#include "cli/CommandTable.h"
#include "cli/Output.h"
#include "cli/ParallelSearch.h"
#include "search/DatabaseList.h"
#include "search/RecordWriter.h"
#include "search/Search.h"
#include "search/SearchFilter.h"

#include <optional>

int RunSearchCommand(const CommandLine& cmd) {
    OutputWriter out;
    int nMode = kSearchBoth;
    if (auto it = cmd.values.find("--where"); it != cmd.values.end()) {
        if (it->second == "files")
            nMode = kSearchFiles;
        else if (it->second == "dirs")
            nMode = kSearchDirs;
        else if (it->second != "both") {
            PrintError("--where takes both, files or dirs");
            return kExitUsage;
        }
    }
    OutputFormat format = OutputFormat::Tsv;
    if (!ParseFormatOption(cmd, format))
        return kExitUsage;
    if ((cmd.Has("-0") || cmd.Has("--null")) && format != OutputFormat::Tsv) {
        PrintError("-0 prints only the paths: not with --format csv or json");
        return kExitUsage;
    }
    SearchFilter filter;
    std::string strError;
    for (const std::string& strBound : cmd.All("--size")) {
        if (!ParseSizeBound(strBound, filter, strError)) {
            PrintError(strError);
            return kExitUsage;
        }
    }
    const int64_t nNow = NowNs();
    for (const auto& [pszOption, pBound] :
         {std::pair{"--changed-within", &filter.nChangedSinceNs},
          std::pair{"--changed-before", &filter.nChangedBeforeNs}}) {
        if (auto it = cmd.values.find(pszOption); it != cmd.values.end()) {
            *pBound = ParseMoment(it->second, nNow, strError);
            if (!*pBound) {
                PrintError(std::string(pszOption) + ": " + strError);
                return kExitUsage;
            }
        }
    }
    if (filter.IsActive() && nMode == kSearchDirs) {
        PrintError("--size, --changed-within and --changed-before filter files: not with "
                   "--where dirs");
        return kExitUsage;
    }
    if (cmd.operands.empty()) {
        PrintError("search takes a PATTERN (see kestrel-cli search --help)");
        return kExitUsage;
    }
    const std::string strPattern = cmd.operands[0];
    if (strPattern.empty()) {
        PrintError(kMsgEnterSearchText);
        return kExitUsage;
    }
    HitFormat hitFormat;
    hitFormat.format = format;
    hitFormat.bNulSeparated = cmd.Has("-0") || cmd.Has("--null");
    hitFormat.filter = filter;
    try {
        // A malformed pattern is refused before any catalog is opened.
        CheckSearchPattern(strPattern);
        const std::string strApp = DataFolder();
        std::vector<std::string> entries(cmd.operands.begin() + 1, cmd.operands.end());
        if (entries.empty()) {
            entries = LoadDatabaseList(strApp);
            if (entries.empty()) {
                PrintError(kMsgNoDatabases);
                return kExitError;
            }
        }
        if (format == OutputFormat::Csv && !hitFormat.bNulSeparated) {
            // The header, once for all catalogs.
            RecordWriter header(out.Sink(), format, HitFields());
            header.WriteHeader();
        }
        const uint64_t nHits =
            SearchCatalogsInParallel(strApp, entries, nMode, strPattern, hitFormat, out.Sink());
        out.Flush();
        return nHits > 0 ? kExitOk : kExitNoMatch;
    } catch (const EngineError& error) {
        return EngineFailure(out, error);
    }
}
