#include "cli/CatalogCommands.h"

#include "catalog/CatalogInfo.h"
#include "catalog/CatalogLock.h"
#include "catalog/DataFolder.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "catalog/NameIndex.h"
#include "cli/CommandLine.h"
#include "cli/JobRunner.h"
#include "cli/Output.h"
#include "scan/CatalogUpdate.h"
#include "search/DatabaseList.h"
#include "search/Search.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <optional>

namespace {

const char* const kInfoHelp =
    "Usage: kestrel-cli info [--format tsv|csv|json] ENTRY...\n"
    "\n"
    "Prints what each catalog records of itself, one 'Key: value' line each:\n"
    "its start directory, when its scan started and finished and whether it\n"
    "completed, its counts, the options it was made with, and the volume its\n"
    "start directory lay on (file system, UUID, label, mount point, size, free\n"
    "space). What a catalog does not record reads 'unknown'; of a catalog made\n"
    "by an earlier Kestrel or another program, what its rows tell is shown.\n"
    "Catalogs are separated by a blank line. With --format csv or json each\n"
    "catalog is one record: catalog, path, start_directory, started, finished,\n"
    "complete, directories, files, checksums, checksum_limit_kb, total_bytes,\n"
    "excluded, one_file_system, file_system, uuid, label, mount_point,\n"
    "volume_bytes, free_bytes, made_by, host; unknown values empty or null.\n"
    "The excluded patterns are an array in json, joined by ', ' otherwise.\n"
    "Exit status: 0, or 2 when a catalog cannot be read.\n";

const char* const kUpdateHelp =
    "Usage: kestrel-cli update [--checksum] [--max-size KB] [--exclude PATTERN]...\n"
    "                          [--one-file-system] [--jobs N] ENTRY\n"
    "\n"
    "Brings the catalog of the list entry ENTRY up to date: its start directory\n"
    "is walked again into a new catalog, in which every file with the same\n"
    "path, size and modification time as before keeps its checksum without\n"
    "being read; only new and changed files are read. The new catalog takes the\n"
    "old one's place only when it is complete: an update that fails or is\n"
    "stopped (Ctrl-C) leaves the old catalog exactly as it was.\n"
    "\n"
    "The options default to those the catalog was made with; given ones replace\n"
    "them (--exclude replaces all recorded patterns). See 'kestrel-cli create\n"
    "--help' for their meaning. A catalog made by an earlier Kestrel records no\n"
    "times: it is updated as a full rebuild.\n"
    "\n"
    "When the start directory is not there (its disk is not plugged in) the\n"
    "update refuses and names the volume it was on.\n"
    "\n"
    "At the end one line tells the files added, removed, changed and unchanged,\n"
    "the checksums computed and the seconds taken. Exit status as create's: 0\n"
    "when updated, 1 when it could not be, 2 for a wrong command line, 130 or\n"
    "143 when stopped.\n";

const char* const kReindexHelp =
    "Usage: kestrel-cli reindex ENTRY...\n"
    "\n"
    "Builds, or builds anew, the name index of each catalog: tables beside its\n"
    "own that let a search for a piece of a name read only the rows that may\n"
    "hold it, instead of every row. Catalogs made by this Kestrel have one.\n"
    "Catalogs made by an earlier Kestrel or another program, and catalogs\n"
    "whose dirs or files rows were changed since the index was built (by any\n"
    "program), are searched row by row until they are indexed anew. A search\n"
    "finds the same hits either way.\n"
    "The catalog's folder must be writable. Exit status: 0, or 1 when a\n"
    "catalog could not be indexed.\n";

} // namespace

int RunReindexCommand(const std::vector<std::string>& args) {
    CommandLine cmd;
    if (const int nExit = ParseCommand(args, kReindexHelp, {}, {}, cmd); nExit >= 0)
        return nExit;
    OutputWriter out;
    if (cmd.operands.empty()) {
        PrintError("reindex takes one or more ENTRY (see kestrel-cli list)");
        return kExitUsage;
    }
    const std::string strApp = DataFolder();
    int nExit = kExitOk;
    for (const std::string& strEntry : cmd.operands) {
        const std::string strPath = CatalogPathOfEntry(strApp, strEntry);
        try {
            const auto tStart = std::chrono::steady_clock::now();
            {
                Database check; // an entry that is no catalog is said to be none
                OpenCatalogForSearch(check, strApp, strEntry);
            }
            const CatalogLock lock(strPath, WaitForOtherWriter(strPath));
            lock.RemoveLeftovers();
            Database database;
            database.Open(lock.CatalogPath(), Database::OpenMode::ReadWrite);
            // The catalog's own rows are at stake here, so every commit
            // reaches the disk before it counts as done.
            database.BeginTransaction();
            RebuildNameIndex(database);
            database.Commit();
            const CatalogInfo info = ReadCatalogInfo(database, false);
            database.Close();
            const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - tStart;
            char szSeconds[32];
            std::snprintf(szSeconds, sizeof szSeconds, "%.2f", elapsed.count());
            out.Write(strPath + ": indexed " + std::to_string(info.nFiles.value_or(0)) +
                      " files and " + std::to_string(info.nDirs.value_or(0)) + " directories, " +
                      szSeconds + " seconds\n");
        } catch (const EngineError& error) {
            out.Flush();
            const std::string strText = error.what();
            PrintError(strText.find(strPath) != std::string::npos ? strText
                                                                  : strPath + ": " + strText);
            nExit = kExitFailed;
        }
    }
    out.Flush();
    return nExit;
}

namespace {

// The fields of a catalog's record in csv and json: values as numbers and
// yes/no where they are, unknown ones empty (csv) or null (json).
const std::vector<RecordField> kInfoFields = {{"catalog", true},
                                              {"path", true},
                                              {"start_directory", true},
                                              {"started"},
                                              {"finished"},
                                              {"complete"},
                                              {"directories"},
                                              {"files"},
                                              {"checksums"},
                                              {"checksum_limit_kb"},
                                              {"total_bytes"},
                                              {"excluded", true},
                                              {"one_file_system"},
                                              {"file_system"},
                                              {"uuid"},
                                              {"label", true},
                                              {"mount_point", true},
                                              {"volume_bytes"},
                                              {"free_bytes"},
                                              {"made_by"},
                                              {"host"}};

std::vector<RecordValue> InfoValues(const std::string& strEntry, const std::string& strPath,
                                    const CatalogInfo& info) {
    RecordValue limit;
    if (info.bChecksums.value_or(true) && info.nChecksumLimitKb)
        limit = *info.nChecksumLimitKb;
    RecordValue excluded;
    if (info.excludes)
        excluded = TextList{&*info.excludes};
    return {std::string_view(strEntry),
            std::string_view(strPath),
            TextValue(info.strStartDir),
            TextValue(info.strStarted),
            TextValue(info.strFinished),
            YesNoValue(info.bComplete),
            CountValue(info.nDirs),
            CountValue(info.nFiles),
            CountValue(info.nChecksums),
            limit,
            CountValue(info.nTotalBytes),
            excluded,
            YesNoValue(info.bOneFileSystem),
            TextValue(info.volume.strFsType),
            TextValue(info.volume.strUuid),
            TextValue(info.volume.strLabel),
            TextValue(info.volume.strMountPoint),
            CountValue(info.volume.nSize),
            CountValue(info.volume.nFree),
            TextValue(info.strMadeBy),
            TextValue(info.strHost)};
}

} // namespace

int RunInfoCommand(const std::vector<std::string>& args) {
    CommandLine cmd;
    OutputFormat format = OutputFormat::Tsv;
    if (const int nExit = ParseCommand(args, kInfoHelp, {}, {}, cmd, format); nExit >= 0)
        return nExit;
    if (cmd.operands.empty()) {
        PrintError("info takes one or more ENTRY (see kestrel-cli list)");
        return kExitUsage;
    }
    OutputWriter out;
    RecordWriter records(out.Sink(), format, kInfoFields);
    try {
        const std::string strApp = DataFolder();
        bool bFirst = true;
        for (const std::string& strEntry : cmd.operands) {
            Database database;
            const std::string strPath = OpenCatalogForSearch(database, strApp, strEntry);
            const CatalogInfo info = ReadCatalogInfo(database);
            if (format != OutputFormat::Tsv) {
                records.Write(InfoValues(strEntry, strPath, info));
                continue;
            }
            std::string strText = bFirst ? "" : "\n";
            bFirst = false;
            strText += "Catalog: ";
            AppendTsvField(strText, strEntry);
            if (strPath != strEntry) {
                strText += " (";
                AppendTsvField(strText, strPath);
                strText += ")";
            }
            strText += "\n";
            for (const auto& [strKey, strValue] : InfoLines(info)) {
                strText += strKey + ": ";
                AppendTsvField(strText, strValue);
                strText += "\n";
            }
            out.Write(strText);
        }
    } catch (const EngineError& error) {
        return EngineFailure(out, error);
    }
    out.Flush();
    return kExitOk;
}

int RunUpdateCommand(const std::vector<std::string>& args) {
    CommandLine cmd;
    if (const int nExit = ParseCommand(args, kUpdateHelp, {"--checksum", "--one-file-system"},
                                       {"--max-size", "--exclude", "--jobs"}, cmd);
        nExit >= 0)
        return nExit;
    if (cmd.operands.size() != 1) {
        PrintError("update takes one ENTRY (see kestrel-cli list)");
        return kExitUsage;
    }
    ScanOptionValues given;
    if (!ReadScanOptions(cmd, given))
        return kExitUsage;
    UpdateOptions options;
    if (cmd.Has("--checksum"))
        options.bChecksum = true;
    if (cmd.Has("--one-file-system"))
        options.bOneFileSystem = true;
    options.nMaxFileSizeKb = given.nMaxFileSizeKb;
    if (!given.excludes.empty())
        options.excludes = given.excludes;
    const std::string strPath = CatalogPathOfKnownEntry(DataFolder(), cmd.operands[0]);
    {
        Database check; // an entry that is no catalog is said to be none
        OpenCatalogForSearch(check, DataFolder(), cmd.operands[0]);
    }
    CatalogUpdate update(strPath, options, WaitForOtherWriter(strPath));
    if (const std::string strProblem = update.StartProblem(); !strProblem.empty()) {
        PrintError(strProblem);
        return kExitFailed;
    }
    update.Job().nJobs = given.nJobs;
    const JobRun run = RunScanJob(update.Job());
    const std::string strProblem = update.Finish();
    const ScanOutcome& outcome = update.Job().outcome;
    if (outcome.bStopped) {
        PrintError(StoppedByText(run.nStopSignal) + ": the catalog " + strPath +
                   " was left as it was");
        return StoppedExitStatus(run.nStopSignal);
    }
    if (!strProblem.empty()) {
        PrintError(strProblem + " (the catalog was left as it was)");
        return kExitFailed;
    }
    char szRest[128];
    std::snprintf(szRest, sizeof szRest, ", %llu checksums computed, %.2f seconds",
                  static_cast<unsigned long long>(outcome.nChecksumsRead), run.dSeconds);
    WriteJobSummary(strPath + ": " + update.ChangesText() + szRest, update.Job());
    return kExitOk;
}
