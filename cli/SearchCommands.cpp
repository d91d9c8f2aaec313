#include "cli/SearchCommands.h"

#include "audit/Verify.h"
#include "catalog/DataFolder.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "cli/CommandLine.h"
#include "cli/Output.h"
#include "search/DatabaseList.h"
#include "search/Search.h"

namespace {

const char* const kSearchHelp =
    "Usage: kestrel-cli search [--where both|files|dirs] [-0] PATTERN [ENTRY...]\n"
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
    "  -0, --null     print only the paths, each ended by a NUL byte (for\n"
    "                 xargs -0)\n"
    "\n"
    "One hit a line: path, size, checksum and catalog, separated by tabs; a tab,\n"
    "line break, carriage return or backslash within a field is written as \\t,\n"
    "\\n, \\r or \\\\. A malformed pattern is refused before any catalog is read.\n"
    "Exit status: 0 with hits, 1 without, 2 on an error (also when the output\n"
    "cannot be written).\n";

const char* const kVerifyHelp =
    "Usage: kestrel-cli verify ENTRY...\n"
    "\n"
    "Checks every file of the catalogs against what was catalogued: a file\n"
    "whose size differs has changed; otherwise its MD5 is computed again and\n"
    "compared with the stored one. Files are looked at without following links;\n"
    "links, FIFOs, sockets and devices are never opened. Prints each file that\n"
    "was changed, is not found or cannot be read, then a summary: unchanged,\n"
    "changed, not found, not readable, and not checked (there with its size,\n"
    "but no stored checksum, or no regular file; never counted as unchanged).\n"
    "Exit status: 0 when nothing changed, vanished or could not be read, 1\n"
    "otherwise, 2 on an error.\n";

// Writes each hit as a line of tab-separated fields, or with -0 its path
// alone ended by a NUL byte.
class HitWriter {
public:
    explicit HitWriter(bool bNulSeparated) : m_bNulSeparated(bNulSeparated) {}

    void Write(const ResultRow& row) {
        m_strLine.clear();
        if (m_bNulSeparated) {
            m_strLine.append(row.strPath).append(1, '\0');
        } else {
            AppendTsvField(m_strLine, row.strPath);
            m_strLine += '\t';
            AppendTsvField(m_strLine, row.strSize);
            m_strLine += '\t';
            AppendTsvField(m_strLine, row.strChecksum);
            m_strLine += '\t';
            AppendTsvField(m_strLine, row.strDatabase);
            m_strLine += '\n';
        }
        m_out.Write(m_strLine);
        ++m_nHits;
    }

    void Flush() { m_out.Flush(); }
    uint64_t Hits() const { return m_nHits; }

private:
    bool m_bNulSeparated;
    OutputWriter m_out;
    std::string m_strLine;
    uint64_t m_nHits = 0;
};

} // namespace

int RunSearchCommand(const std::vector<std::string>& args) {
    CommandLine cmd;
    std::string strError;
    if (!cmd.Parse(args, {"--help", "-0", "--null"}, {"--where"}, strError)) {
        PrintError(strError);
        return kExitUsage;
    }
    if (cmd.Has("--help")) {
        OutputWriter out;
        out.Write(kSearchHelp);
        out.Flush();
        return kExitOk;
    }
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
    if (cmd.operands.empty()) {
        PrintError("search takes a PATTERN (see kestrel-cli search --help)");
        return kExitUsage;
    }
    const std::string strPattern = cmd.operands[0];
    if (strPattern.empty()) {
        PrintError(kMsgEnterSearchText);
        return kExitUsage;
    }
    HitWriter writer(cmd.Has("-0") || cmd.Has("--null"));
    try {
        // A malformed pattern is refused before any catalog is opened.
        CheckSearchPattern(strPattern);
        const std::string strApp = DataFolder();
        std::vector<std::string> entries(cmd.operands.begin() + 1, cmd.operands.end());
        if (entries.empty()) {
            entries = LoadDatabaseList(strApp);
            if (entries.empty()) {
                PrintError(kMsgNoDatabases);
                return kExitUsage;
            }
        }
        SearchCatalogs(strApp, entries, nMode, strPattern,
                       [&] { TakeSearchHits([&](ResultRow&& row) { writer.Write(row); }); });
        writer.Flush();
        return writer.Hits() > 0 ? kExitOk : kExitFailed;
    } catch (const EngineError& error) {
        writer.Flush();
        PrintError(error.what());
        return kExitUsage;
    }
}

int RunVerifyCommand(const std::vector<std::string>& args) {
    CommandLine cmd;
    std::string strError;
    if (!cmd.Parse(args, {"--help"}, {}, strError)) {
        PrintError(strError);
        return kExitUsage;
    }
    OutputWriter out;
    if (cmd.Has("--help")) {
        out.Write(kVerifyHelp);
        out.Flush();
        return kExitOk;
    }
    if (cmd.operands.empty()) {
        PrintError("verify takes one or more ENTRY (see kestrel-cli list)");
        return kExitUsage;
    }
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
                const char* pszWhat = result == VerifyResult::Changed       ? "' was changed\n"
                                      : result == VerifyResult::NotFound    ? "' not found\n"
                                      : result == VerifyResult::NotReadable ? "' cannot be read\n"
                                                                            : nullptr;
                if (pszWhat) {
                    strLine = "File '";
                    AppendTsvField(strLine, strPath);
                    out.Write(strLine + pszWhat);
                }
                ++nSeen;
                if (progress.IsDue()) {
                    out.Flush(); // the lines so far come before the count
                    progress.Show(std::to_string(nSeen) + " files checked");
                }
            });
        }
    } catch (const EngineError& error) {
        progress.Clear();
        out.Flush();
        PrintError(error.what());
        return kExitUsage;
    }
    progress.Clear();
    out.Write(std::to_string(counts.nUnchanged) + " unchanged, " + std::to_string(counts.nChanged) +
              " changed, " + std::to_string(counts.nNotFound) + " not found, " +
              std::to_string(counts.nNotReadable) + " not readable, " +
              std::to_string(counts.nNotChecked) + " not checked\n");
    out.Flush();
    return counts.AllPresent() ? kExitOk : kExitFailed;
}
