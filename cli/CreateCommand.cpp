// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalog/CatalogInfo.h"
#include "catalog/DataFolder.h"
#include "catalog/EngineError.h"
#include "cli/CommandLine.h"
#include "cli/CommandTable.h"
#include "cli/JobRunner.h"
#include "cli/Output.h"
#include "scan/CatalogBuild.h"
#include "scan/ScanJob.h"
#include "scan/StartDirectory.h"

#include <charconv>
#include <cstdio>
#include <memory>

int RunCreateCommand(const CommandLine& cmd) {
    if (cmd.operands.size() != 2)
        return Fail(kExitUsage,
                    "create takes a NAME and a START_DIR (see kestrel-cli create --help)");
    const std::string& strName = cmd.operands[0];
    const std::string& strStartDir = cmd.operands[1];
    ScanOptionValues options;
    if (!ReadScanOptions(cmd, options))
        return kExitUsage;
    const std::string strFolder = DataFolder();
    if (const std::string strProblem = CatalogNameProblem(strFolder, strName); !strProblem.empty())
        return Fail(kExitUsage, strProblem);
    if (strStartDir.empty())
        return Fail(kExitUsage, "Enter start directory");

    // Nothing is touched for a start directory that cannot be walked: a typo
    // must not cost the catalog it meant to refresh.
    if (const std::string strProblem = StartDirectoryProblem(strStartDir); !strProblem.empty())
        return Fail(kExitFailed, strProblem);
    const std::string strCatalogPath = CatalogPathOf(strFolder, strName);
    std::unique_ptr<CatalogBuild> pBuild;
    try {
        pBuild = std::make_unique<CatalogBuild>(strCatalogPath, WaitForOtherWriter(strCatalogPath));
    } catch (const EngineError& error) {
        return Fail(kExitFailed, error.what());
    }
    if (pBuild->Replaces() && !cmd.Has("--force"))
        return Fail(kExitUsage, "Database with the same name already exists: " + strCatalogPath +
                                    " (--force replaces it)");
    ScanJob& job = pBuild->Job();
    ApplySettings(job, {.strStartDir = AbsoluteStartDirectory(strStartDir),
                        .bChecksum = cmd.Has("--checksum"),
                        .nMaxFileSizeKb = options.nMaxFileSizeKb.value_or(100),
                        .excludes = options.excludes,
                        .bOneFileSystem = cmd.Has("--one-file-system"),
                        .bArchives = options.bArchives,
                        .nArchiveDepth = options.nArchiveDepth.value_or(1)});
    job.nJobs = options.nJobs;
    const JobRun run = RunScanJob(job);

    const ScanOutcome& outcome = job.outcome;
    const std::string strSummary = ": " + ScanCountsText(outcome, run.dSeconds);
    const std::string strProblem = pBuild->Finish();
    const bool bOldKept = pBuild->KeepsOld();
    if (!bOldKept && strProblem.empty())
        WriteJobSummary(strCatalogPath + strSummary, job);
    if (outcome.bFailed)
        return Fail(kExitFailed,
                    outcome.strError + (bOldKept ? " (the catalog was left as it was)" : ""));
    if (outcome.bStopped)
        return Fail(StoppedExitStatus(run.nStopSignal),
                    StoppedByText(run.nStopSignal) + ": the catalog " + strCatalogPath +
                        (bOldKept ? " was left as it was"
                                  : " is incomplete; it holds what was walked until then"));
    if (!strProblem.empty())
        return Fail(kExitFailed, strProblem + " (the catalog was left as it was)");
    if (outcome.bStartUnread)
        return Fail(kExitFailed, "The start directory '" + job.strStartDir + "' could not be read" +
                                     (bOldKept ? " (the catalog was left as it was)"
                                               : ": the catalog holds its row only"));
    return kExitOk;
}
