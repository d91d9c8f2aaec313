#include "cli/SearchCommands.h"

#include "catalog/DataFolder.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "catalog/ResultSet.h"
#include "cli/CommandLine.h"
#include "search/DatabaseList.h"
#include "search/FileCheck.h"
#include "search/Search.h"

#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace {

const char* const kSearchHelp =
    "Usage: kestrel-cli search [--where both|files|dirs] PATTERN [ENTRY...]\n"
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
    "One hit a line: path, size, checksum and catalog, separated by tabs.\n"
    "Exit status: 0 with hits, 1 without, 2 on an error.\n";

const char* const kVerifyHelp =
    "Usage: kestrel-cli verify ENTRY...\n"
    "\n"
    "Checks every file of the catalogs against what was catalogued: a file\n"
    "whose size differs has changed; otherwise its MD5 is computed again and\n"
    "compared with the stored one. Prints each file that was changed or is not\n"
    "found, then a summary: unchanged, changed, not found, and not checked (no\n"
    "stored checksum; never counted as unchanged). Exit status: 0 when nothing\n"
    "changed or vanished, 1 otherwise, 2 on an error.\n";

// Standard output in large pieces: a search may print millions of lines.
class HitWriter {
public:
    HitWriter() { std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16); }
    ~HitWriter() { std::fflush(stdout); }

    void Write(const ResultRow& row) {
        m_strLine.clear();
        m_strLine.append(row.strPath).append(1, '\t').append(row.strSize).append(1, '\t');
        m_strLine.append(row.strChecksum).append(1, '\t').append(row.strDatabase).append(1, '\n');
        std::fwrite(m_strLine.data(), 1, m_strLine.size(), stdout);
        ++m_nHits;
    }

    uint64_t Hits() const { return m_nHits; }

private:
    std::string m_strLine;
    uint64_t m_nHits = 0;
};

} // namespace

int RunSearchCommand(const std::vector<std::string>& args) {
    CommandLine cmd;
    std::string strError;
    if (!cmd.Parse(args, {"--help"}, {"--where"}, strError)) {
        PrintError(strError);
        return kExitUsage;
    }
    if (cmd.Has("--help")) {
        std::fputs(kSearchHelp, stdout);
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
    try {
        const std::string strApp = DataFolder();
        std::vector<std::string> entries(cmd.operands.begin() + 1, cmd.operands.end());
        if (entries.empty()) {
            entries = LoadDatabaseList(strApp);
            if (entries.empty()) {
                PrintError(kMsgNoDatabases);
                return kExitUsage;
            }
        }
        if (strPattern.empty()) {
            PrintError(kMsgEnterSearchText);
            return kExitUsage;
        }
        HitWriter writer;
        SearchCatalogs(strApp, entries, nMode, strPattern,
                       [&] { TakeSearchHits([&](ResultRow&& row) { writer.Write(row); }); });
        return writer.Hits() > 0 ? kExitOk : kExitFailed;
    } catch (const EngineError& error) {
        std::fflush(stdout);
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
    if (cmd.Has("--help")) {
        std::fputs(kVerifyHelp, stdout);
        return kExitOk;
    }
    if (cmd.operands.empty()) {
        PrintError("verify takes one or more ENTRY (see kestrel-cli list)");
        return kExitUsage;
    }
    const bool bLive = ::isatty(STDERR_FILENO) != 0;
    uint64_t nUnchanged = 0, nChanged = 0, nNotFound = 0, nNotChecked = 0, nSeen = 0;
    auto tShown = std::chrono::steady_clock::now();
    try {
        const std::string strApp = DataFolder();
        for (const std::string& strEntry : cmd.operands) {
            Database database;
            OpenCatalogForSearch(database, strApp, strEntry);
            for (ResultSet rows(
                     database.Prepare("SELECT d.dir_name, f.file_name, f.file_size, f.md5_checksum "
                                      "FROM files f, dirs d WHERE d.dir_id = f.dir_id"));
                 !rows.IsEOF(); rows.MoveNext()) {
                const ResultRow row = HitToResultRow(rows, kSearchFiles, strEntry);
                std::optional<int64_t> nSize;
                if (!rows.IsNull(2))
                    nSize = rows.GetInt64(2);
                switch (CheckFile(row.strPath, row.strChecksum, nSize)) {
                case FileCheckResult::Unchanged:
                    ++nUnchanged;
                    break;
                case FileCheckResult::Changed:
                    ++nChanged;
                    std::printf("File '%s' was changed\n", row.strPath.c_str());
                    break;
                case FileCheckResult::NotFound:
                case FileCheckResult::Unreadable:
                    ++nNotFound;
                    std::printf("File '%s' not found\n", row.strPath.c_str());
                    break;
                case FileCheckResult::NoChecksum:
                    ++nNotChecked;
                    break;
                }
                ++nSeen;
                const auto tNow = std::chrono::steady_clock::now();
                if (bLive && tNow - tShown > std::chrono::milliseconds(200)) {
                    std::fflush(stdout);
                    std::fprintf(stderr, "\r%llu files checked",
                                 static_cast<unsigned long long>(nSeen));
                    tShown = tNow;
                }
            }
        }
    } catch (const EngineError& error) {
        std::fflush(stdout);
        PrintError(error.what());
        return kExitUsage;
    }
    if (bLive)
        std::fprintf(stderr, "\r\x1b[K");
    std::printf(
        "%llu unchanged, %llu changed, %llu not found, %llu not checked\n",
        static_cast<unsigned long long>(nUnchanged), static_cast<unsigned long long>(nChanged),
        static_cast<unsigned long long>(nNotFound), static_cast<unsigned long long>(nNotChecked));
    return nChanged + nNotFound == 0 ? kExitOk : kExitFailed;
}
