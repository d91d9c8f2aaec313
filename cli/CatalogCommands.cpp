// SPDX-License-Identifier: GPL-3.0-or-later

#include "browse/TreeTables.h"
#include "catalog/CatalogInfo.h"
#include "catalog/CatalogLock.h"
#include "catalog/DataFolder.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "catalog/NameIndex.h"
#include "cli/CatalogRuns.h"
#include "cli/CommandLine.h"
#include "cli/CommandTable.h"
#include "cli/JobRunner.h"
#include "cli/Output.h"
#include "scan/CatalogUpdate.h"
#include "search/CatalogOpen.h"
#include "search/DatabaseList.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <optional>

int RunReindexCommand(const CommandLine& cmd) {
    OutputWriter out;
    if (cmd.operands.empty())
        return Fail(kExitUsage, "reindex takes one or more ENTRY (see kestrel-cli list)");
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
            RebuildTreeTables(database);
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
                                              {"host"},
                                              {"note", true}};

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
            TextValue(info.strHost),
            TextValue(info.strNote.value_or(""))};
}

} // namespace

int RunInfoCommand(const CommandLine& cmd) {
    OutputFormat format;
    if (!ParseFormatOption(cmd, format))
        return kExitUsage;
    if (cmd.operands.empty())
        return Fail(kExitUsage, "info takes one or more ENTRY (see kestrel-cli list)");
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

int UpdateCatalogOfEntry(const std::string& strEntry, const UpdateOptions& options, unsigned nJobs,
                         const StopReason& fnStop) {
    std::string strPath;
    std::string strStopReason;
    bool bGaveUp = false;
    try {
        strPath = CatalogPathOfKnownEntry(DataFolder(), strEntry);
        {
            Database check; // an entry that is no catalog is said to be none
            OpenCatalogForSearch(check, DataFolder(), strEntry);
        }
        CatalogLock::Wait wait = WaitForOtherWriter(strPath);
        // Where the stop signals are caught (watch), a wait for another
        // writer of the catalog ends at one, as the update itself would.
        wait.fnGiveUp = [&] {
            if (StopSignal() == 0 && fnStop)
                strStopReason = fnStop();
            bGaveUp = StopSignal() != 0 || !strStopReason.empty();
            return bGaveUp;
        };
        CatalogUpdate update(strPath, options, wait);
        if (const std::string strProblem = update.StartProblem(); !strProblem.empty())
            return Fail(kExitFailed, strProblem);
        update.Job().nJobs = nJobs;
        const JobRun run = RunScanJob(update.Job(), [&] {
            if (fnStop)
                strStopReason = fnStop();
            return !strStopReason.empty();
        });
        const std::string strProblem = update.Finish();
        const ScanOutcome& outcome = update.Job().outcome;
        const std::string strLeft = ": the catalog " + strPath + " was left as it was";
        if (outcome.bStopped && run.nStopSignal == 0 && !strStopReason.empty())
            return Fail(kExitFailed, strStopReason + strLeft);
        if (outcome.bStopped)
            return Fail(StoppedExitStatus(run.nStopSignal),
                        StoppedByText(run.nStopSignal) + strLeft);
        if (!strProblem.empty())
            return Fail(kExitFailed, strProblem + " (the catalog was left as it was)");
        char szRest[128];
        std::snprintf(szRest, sizeof szRest, ", %llu checksums computed, %.2f seconds",
                      static_cast<unsigned long long>(outcome.nChecksumsRead), run.dSeconds);
        WriteJobSummary(strPath + ": " + update.ChangesText() + szRest, update.Job());
        return kExitOk;
    } catch (const EngineError& error) {
        const std::string strLeft = ": the catalog " + strPath + " was left as it was";
        if (bGaveUp && StopSignal() != 0)
            return Fail(StoppedExitStatus(StopSignal()), StoppedByText(StopSignal()) + strLeft);
        if (bGaveUp)
            return Fail(kExitFailed, strStopReason + strLeft);
        return Fail(kExitFailed, error.what());
    }
}

int RunUpdateCommand(const CommandLine& cmd) {
    if (cmd.operands.size() != 1)
        return Fail(kExitUsage, "update takes one ENTRY (see kestrel-cli list)");
    ScanOptionValues given;
    if (!ReadScanOptions(cmd, given))
        return kExitUsage;
    UpdateOptions options;
    if (cmd.Has("--checksum"))
        options.bChecksum = true;
    if (cmd.Has("--one-file-system"))
        options.bOneFileSystem = true;
    options.nMaxFileSizeKb = given.nMaxFileSizeKb;
    if (given.bArchives)
        options.bArchives = true;
    options.nArchiveDepth = given.nArchiveDepth;
    if (!given.excludes.empty())
        options.excludes = given.excludes;
    return UpdateCatalogOfEntry(cmd.operands[0], options, given.nJobs);
}
