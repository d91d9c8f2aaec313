#include "cli/CreateCommand.h"

#include "catalog/Catalog.h"
#include "catalog/DataFolder.h"
#include "cli/CommandLine.h"
#include "cli/JobRunner.h"
#include "cli/Output.h"
#include "scan/ScanJob.h"

#include <charconv>
#include <cstdio>

const char* const kCreateHelp =
    "Usage: kestrel-cli create [--checksum] [--max-size KB] [--exclude PATTERN]...\n"
    "                          [--one-file-system] [--jobs N] [--force] NAME START_DIR\n"
    "\n"
    "Builds the catalog NAME, the file <data folder>/NAME.mdb, from the directory\n"
    "tree below START_DIR: the path of every directory, and the name and size of\n"
    "every file. START_DIR is stored exactly as given. Symbolic links are recorded\n"
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
    "  --force         replace an existing catalog of that name (the old file is\n"
    "                  deleted first)\n"
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
    "kept, and the catalog is said to be incomplete.\n"
    "\n"
    "Exit status: 0 when the catalog is built; 1 when it could not be (the\n"
    "engine's message on standard error; the catalog keeps what was written);\n"
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

    ScanJob job;
    job.strCatalogPath = strFolder + strName + ".mdb";
    if (CatalogPathTaken(job.strCatalogPath)) {
        if (!cmd.Has("--force")) {
            PrintError("Database with the same name already exists: " + job.strCatalogPath +
                       " (--force replaces it)");
            return kExitUsage;
        }
        if (const std::string strProblem = RemoveCatalog(job.strCatalogPath); !strProblem.empty()) {
            PrintError(strProblem);
            return kExitFailed;
        }
    }
    job.strStartDir = strStartDir;
    job.bChecksum = cmd.Has("--checksum");
    job.nMaxFileSizeKb = options.nMaxFileSizeKb.value_or(100);
    job.excludes = options.excludes;
    job.nJobs = options.nJobs;
    job.bOneFileSystem = cmd.Has("--one-file-system");
    const JobRun run = RunScanJob(job);

    const ScanOutcome& outcome = job.outcome;
    char szSummary[256];
    std::snprintf(szSummary, sizeof szSummary,
                  ": %llu directories, %llu files, %llu checksums, %.2f seconds",
                  static_cast<unsigned long long>(outcome.nDirs),
                  static_cast<unsigned long long>(outcome.nFiles),
                  static_cast<unsigned long long>(outcome.nChecksums), run.dSeconds);
    WriteJobSummary(job.strCatalogPath + szSummary, job);
    if (outcome.bFailed) {
        PrintError(outcome.strError);
        return kExitFailed;
    }
    if (outcome.bStopped) {
        PrintError(StoppedByText(run.nStopSignal) + ": the catalog " + job.strCatalogPath +
                   " is incomplete; it holds what was walked until then");
        return StoppedExitStatus(run.nStopSignal);
    }
    return kExitOk;
}
