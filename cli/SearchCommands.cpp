#include "cli/SearchCommands.h"

#include "audit/Verify.h"
#include "catalog/DataFolder.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "cli/CommandLine.h"
#include "cli/Output.h"
#include "search/CatalogOpen.h"
#include "search/DatabaseList.h"
#include "search/HitRecord.h"
#include "search/SearchDriver.h"
#include "search/SearchMessages.h"

#include <optional>

namespace {

const char* const kSearchHelp =
    "Usage: kestrel-cli search [--where both|files|dirs] [--size +SIZE|-SIZE]...\n"
    "                          [--changed-within WHEN] [--changed-before WHEN]\n"
    "                          [--format tsv|csv|json] [-0] PATTERN [ENTRY...]\n"
    "\n"
    "Searches the named catalog list entries, or every listed catalog, in list\n"
    "order. PATTERN covers the whole name or path and ignores letter case:\n"
    "  *  any run of characters      ?  one character      #  one digit\n"
    "  [abc] [a-z]  one of these     [!abc]  one not listed\n"
    "  [*] [?] [#] [[]  the character itself\n"
    "It is taken exactly as typed: report finds only files named report,\n"
    "*report* every name containing it.\n"
    "\n"
    "  --where both   file names and directory paths (default): a matching\n"
    "                 directory lists all its files\n"
    "  --where files  file names\n"
    "  --where dirs   directory paths (a whole path: */photos)\n"
    "\n"
    "Filters narrow the hits of the pattern (not with --where dirs):\n"
    "  --size +SIZE   at least SIZE; --size -SIZE at most SIZE; twice for a\n"
    "                 range. SIZE: a whole number with an optional unit b, k,\n"
    "                 M, G, T (powers of 1024): +10M, -500k\n"
    "  --changed-within WHEN   modified at or after WHEN\n"
    "  --changed-before WHEN   modified before WHEN\n"
    "                 WHEN: a duration back from now (2weeks, 3d, 12h, 90min,\n"
    "                 1y) or a local date (2024-06-30, '2024-06-30 12:00:00').\n"
    "                 Units: s, min, h, d, w, months, y; years 0000 to 9999.\n"
    "                 A catalog holds times from 1677 to 2262; a WHEN outside\n"
    "                 them is still that moment: --changed-before 2300-01-01\n"
    "                 passes every file with a time, --changed-within 1000y too.\n"
    "                 Files whose catalog records no time never pass.\n"
    "\n"
    "  --format tsv   one hit a line: path, size, checksum and catalog,\n"
    "                 separated by tabs (default); a tab, line break, carriage\n"
    "                 return or backslash within a field is written as \\t, \\n,\n"
    "                 \\r or \\\\\n"
    "  --format csv   RFC 4180 with a header line: path, size, md5, catalog,\n"
    "                 mtime, type, and path_bytes and catalog_bytes\n"
    "  --format json  one JSON object a line with the same fields\n"
    "                 In csv and json a name that is not valid UTF-8 keeps its\n"
    "                 exact bytes in hexadecimal in <field>_bytes (json writes\n"
    "                 the text with \\udcXX escapes, as Python's surrogateescape).\n"
    "  -0, --null     print only the paths, each ended by a NUL byte (for\n"
    "                 xargs -0); not with --format csv or json\n"
    "\n"
    "A malformed pattern is refused before any catalog is read.\n"
    "Exit status: 0 with hits, 1 without, 2 on an error (also when the output\n"
    "cannot be written).\n";

const char* const kVerifyHelp =
    "Usage: kestrel-cli verify [--format tsv|csv|json] ENTRY...\n"
    "\n"
    "Checks every file of the catalogs against what was catalogued: a file\n"
    "whose size differs has changed; otherwise its MD5 is computed again and\n"
    "compared with the stored one. Files are looked at without following links;\n"
    "links, FIFOs, sockets and devices are never opened. Prints each file that\n"
    "was changed, is not found or cannot be read, then a summary: unchanged,\n"
    "changed, not found, not readable, and not checked (there with its size,\n"
    "but no stored checksum, or no regular file; never counted as unchanged).\n"
    "With --format csv or json each such file is a record (path, result,\n"
    "catalog) and the summary goes to standard error.\n"
    "Exit status: 0 when nothing changed, vanished or could not be read, 1\n"
    "otherwise, 2 on an error.\n";

} // namespace

int RunSearchCommand(const std::vector<std::string>& args) {
    CommandLine cmd;
    if (const int nExit = ParseCommand(
            args, kSearchHelp, {"-0", "--null"},
            {"--where", "--format", "--size", "--changed-within", "--changed-before"}, cmd);
        nExit >= 0)
        return nExit;
    OutputWriter out;
    SearchQuery query;
    if (auto it = cmd.values.find("--where"); it != cmd.values.end()) {
        if (it->second == "files")
            query.mode = kSearchFiles;
        else if (it->second == "dirs")
            query.mode = kSearchDirs;
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
    SearchFilter& filter = query.filter;
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
    if (filter.IsActive() && query.mode == kSearchDirs) {
        PrintError("--size, --changed-within and --changed-before filter files: not with "
                   "--where dirs");
        return kExitUsage;
    }
    if (cmd.operands.empty()) {
        PrintError("search takes a PATTERN (see kestrel-cli search --help)");
        return kExitUsage;
    }
    query.strPattern = cmd.operands[0];
    if (query.strPattern.empty()) {
        PrintError(kMsgEnterSearchText);
        return kExitUsage;
    }
    const bool bNulSeparated = cmd.Has("-0") || cmd.Has("--null");
    query.bWithTimes = format != OutputFormat::Tsv;
    try {
        // A malformed pattern is refused before any catalog is opened.
        CheckSearchPattern(query.strPattern);
        const std::string strApp = DataFolder();
        std::vector<std::string> entries(cmd.operands.begin() + 1, cmd.operands.end());
        if (entries.empty()) {
            entries = LoadDatabaseList(strApp);
            if (entries.empty()) {
                PrintError(kMsgNoDatabases);
                return kExitUsage;
            }
        }
        RecordWriter records(out.Sink(), format, HitFields());
        if (!bNulSeparated)
            records.WriteHeader(); // once for all catalogs
        uint64_t nHits = 0;
        RunSearch(strApp, entries, query, [&](size_t, std::unique_ptr<HitStream> hits) {
            for (; !hits->IsEOF(); hits->MoveNext(), ++nHits) {
                if (!bNulSeparated) {
                    WriteHit(records, hits->Hit());
                    continue;
                }
                out.Write(hits->Hit().path);
                out.Write(std::string_view("\0", 1));
            }
        });
        out.Flush();
        return nHits > 0 ? kExitOk : kExitFailed;
    } catch (const EngineError& error) {
        return EngineFailure(out, error);
    }
}

int RunVerifyCommand(const std::vector<std::string>& args) {
    CommandLine cmd;
    OutputFormat format = OutputFormat::Tsv;
    if (const int nExit = ParseCommand(args, kVerifyHelp, {}, {}, cmd, format); nExit >= 0)
        return nExit;
    OutputWriter out;
    if (cmd.operands.empty()) {
        PrintError("verify takes one or more ENTRY (see kestrel-cli list)");
        return kExitUsage;
    }
    RecordWriter records(out.Sink(), format, {{"path", true}, {"result"}, {"catalog", true}});
    ProgressLine progress;
    VerifyCounts counts;
    uint64_t nSeen = 0;
    std::string strLine;
    try {
        const std::string strApp = DataFolder();
        for (const std::string& strEntry : cmd.operands) {
            Database database;
            OpenCatalogForSearch(database, strApp, strEntry);
            VerifyCatalog(database, [&](const std::string& strPath, VerifyResult result) {
                counts.Add(result);
                const char* pszWhat = result == VerifyResult::Changed       ? "changed"
                                      : result == VerifyResult::NotFound    ? "not found"
                                      : result == VerifyResult::NotReadable ? "not readable"
                                                                            : nullptr;
                if (pszWhat && format != OutputFormat::Tsv) {
                    records.Write({std::string_view(strPath), std::string_view(pszWhat),
                                   std::string_view(strEntry)});
                } else if (pszWhat) {
                    strLine = "File '";
                    AppendTsvField(strLine, strPath);
                    strLine += result == VerifyResult::Changed    ? "' was changed\n"
                               : result == VerifyResult::NotFound ? "' not found\n"
                                                                  : "' cannot be read\n";
                    out.Write(strLine);
                }
                ++nSeen;
                if (progress.IsDue()) {
                    out.Flush(); // the lines so far come before the count
                    progress.Show(std::to_string(nSeen) + " files checked");
                }
            });
        }
        records.WriteHeader(); // also when no file is listed
    } catch (const EngineError& error) {
        progress.Clear();
        return EngineFailure(out, error);
    }
    progress.Clear();
    const std::string strSummary = std::to_string(counts.nUnchanged) + " unchanged, " +
                                   std::to_string(counts.nChanged) + " changed, " +
                                   std::to_string(counts.nNotFound) + " not found, " +
                                   std::to_string(counts.nNotReadable) + " not readable, " +
                                   std::to_string(counts.nNotChecked) + " not checked\n";
    if (format == OutputFormat::Tsv) {
        out.Write(strSummary);
        out.Flush();
    } else {
        out.Flush();
        PrintNote(strSummary);
    }
    return counts.AllPresent() ? kExitOk : kExitFailed;
}
