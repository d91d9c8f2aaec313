#include "cli/CreateCommand.h"

#include "catalog/CatalogInfo.h"
#include "catalog/DataFolder.h"
#include "catalog/EngineError.h"
#include "cli/CommandLine.h"
#include "cli/JobRunner.h"
#include "cli/Output.h"
#include "scan/CatalogBuild.h"
#include "scan/ScanJob.h"
#include "scan/StartDirectory.h"

#include <charconv>
#include <cstdio>
#include <memory>

const char* const kCreateHelp =
    "Usage: kestrel-cli create [--checksum] [--max-size KB] [--exclude PATTERN]...\n"
    "                          [--one-file-system] [--jobs N] [--force] NAME START_DIR\n"
    "\n"
    "Builds the catalog NAME, the file <data folder>/NAME.mdb, from the directory\n"
    "tree below START_DIR: the path of every directory, and the name and size of\n"
    "every file. An absolute START_DIR is stored exactly as given, a relative one\n"
    "as the absolute path it names (links resolved). Symbolic links are recorded\n"
    "as files and never followed; hidden files are included.\n"
    "\n"
    "Options:\n"
    "  --checksum      also store an MD5 checksum of each regular file\n"
    "  --max-size KB   checksum only files of at most KB kilobytes (1024 bytes;\n"
    "                  the size shifted right by 10 is compared); 0 = no limit;\n"
    "                  default 100. It does not turn --checksum on by itself.\n"
    "  --exclude PATTERN  leave out entries that match: a PATTERN without '/'\n"
    "                  is matched against each name, one with '/' against the\n"
    "                  whole path; an excluded directory is not entered.\n"
    "                  May be given several times.\n"
    "  --one-file-system  store directories on other file systems than\n"
    "                  START_DIR's, but do not enter them\n"
    "  --jobs N        hash checksums on N threads; by default as many as the\n"
    "                  machine has cores, or one when START_DIR lies on a spinning\n"
    "                  disk (reading two files at once makes it seek). The rows are\n"
    "                  the same whatever N is.\n"
    "  --force         replace an existing catalog of that name: the new one takes\n"
    "                  its place when it is complete; until then, and for good\n"
    "                  when the build fails or is stopped, the old one stays\n"
    "  -h, --help      show this text\n"
    "\n"
    "The data folder is $XDG_DATA_HOME/kestrel/, by default ~/.local/share/kestrel/,\n"
    "created when missing. On a terminal a live count of directories and files\n"
    "is shown on standard error; at the end one summary line gives the\n"
    "directories, files and checksums written and the seconds taken.\n"
    "\n"
    "Directories that could not be read (no access, a read error part way) keep\n"
    "their rows with what could be read, and the summary counts them.\n"
    "\n"
    "Ctrl-C (SIGINT) or SIGTERM stops the walk: what was walked until then is\n"
    "kept, and the catalog is said to be incomplete (with --force over an\n"
    "existing catalog: the old one stays as it was).\n"
    "\n"
    "While another program writes the catalog (create, update, reindex, delete),\n"
    "create waits for it to finish.\n"
    "\n"
    "Exit status: 0 when the catalog is built; 1 when it could not be (a start\n"
    "directory that is missing, no directory or cannot be read, or the engine's\n"
    "message on standard error; the catalog keeps what was written);\n"
    "2 for a wrong command line, an empty, invalid or too long name, an empty\n"
    "start directory, or an existing catalog without --force; 130 or 143 when\n"
    "stopped by SIGINT or SIGTERM.\n";

int RunCreateCommand(const std::vector<std::string>& args) {
    CommandLine cmd;
    if (const int nExit =
            ParseCommand(args, kCreateHelp, {"--checksum", "--force", "--one-file-system"},
                         {"--max-size", "--exclude", "--jobs"}, cmd);
        nExit >= 0)
        return nExit;
    if (cmd.operands.size() != 2) {
        PrintError("create takes a NAME and a START_DIR (see kestrel-cli create --help)");
        return kExitUsage;
    }
    const std::string& strName = cmd.operands[0];
    const std::string& strStartDir = cmd.operands[1];
    ScanOptionValues options;
    if (!ReadScanOptions(cmd, options))
        return kExitUsage;
    const std::string strFolder = DataFolder();
    if (const std::string strProblem = CatalogNameProblem(strFolder, strName);
        !strProblem.empty()) {
        PrintError(strProblem);
        return kExitUsage;
    }
    if (strStartDir.empty()) {
        PrintError("Enter start directory");
        return kExitUsage;
    }

    // Nothing is touched for a start directory that cannot be walked: a typo
    // must not cost the catalog it meant to refresh.
    if (const std::string strProblem = StartDirectoryProblem(strStartDir); !strProblem.empty()) {
        PrintError(strProblem);
        return kExitFailed;
    }
    const std::string strCatalogPath = CatalogPathOf(strFolder, strName);
    std::unique_ptr<CatalogBuild> pBuild;
    try {
        pBuild = std::make_unique<CatalogBuild>(strCatalogPath, WaitForOtherWriter(strCatalogPath));
    } catch (const EngineError& error) {
        PrintError(error.what());
        return kExitFailed;
    }
    if (pBuild->Replaces() && !cmd.Has("--force")) {
        PrintError("Database with the same name already exists: " + strCatalogPath +
                   " (--force replaces it)");
        return kExitUsage;
    }
    ScanJob& job = pBuild->Job();
    ApplySettings(job, {.strStartDir = AbsoluteStartDirectory(strStartDir),
                        .bChecksum = cmd.Has("--checksum"),
                        .nMaxFileSizeKb = options.nMaxFileSizeKb.value_or(100),
                        .excludes = options.excludes,
                        .bOneFileSystem = cmd.Has("--one-file-system")});
    job.nJobs = options.nJobs;
    const JobRun run = RunScanJob(job);

    const ScanOutcome& outcome = job.outcome;
    char szSummary[256];
    std::snprintf(szSummary, sizeof szSummary,
                  ": %llu directories, %llu files, %llu checksums, %.2f seconds",
                  static_cast<unsigned long long>(outcome.nDirs),
                  static_cast<unsigned long long>(outcome.nFiles),
                  static_cast<unsigned long long>(outcome.nChecksums), run.dSeconds);
    const std::string strProblem = pBuild->Finish();
    const bool bOldKept = pBuild->KeepsOld();
    if (!bOldKept && strProblem.empty())
        WriteJobSummary(strCatalogPath + szSummary, job);
    if (outcome.bFailed) {
        PrintError(outcome.strError + (bOldKept ? " (the catalog was left as it was)" : ""));
        return kExitFailed;
    }
    if (outcome.bStopped) {
        PrintError(StoppedByText(run.nStopSignal) + ": the catalog " + strCatalogPath +
                   (bOldKept ? " was left as it was"
                             : " is incomplete; it holds what was walked until then"));
        return StoppedExitStatus(run.nStopSignal);
    }
    if (!strProblem.empty()) {
        PrintError(strProblem + " (the catalog was left as it was)");
        return kExitFailed;
    }
    if (outcome.bStartUnread) {
        PrintError(
            "The start directory '" + job.strStartDir + "' could not be read" +
            (bOldKept ? " (the catalog was left as it was)" : ": the catalog holds its row only"));
        return kExitFailed;
    }
    return kExitOk;
}
