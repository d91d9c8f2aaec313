#include "cli/CreateCommand.h"

#include "catalog/DataFolder.h"
#include "catalog/EngineError.h"
#include "cli/CommandLine.h"
#include "scan/ScanJob.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

const char* const kCreateHelp =
    "Usage: kestrel-cli create [--checksum] [--max-size KB] [--force] NAME START_DIR\n"
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
    "  --force         replace an existing catalog of that name (the old file is\n"
    "                  deleted first)\n"
    "  -h, --help      show this text\n"
    "\n"
    "The data folder is $XDG_DATA_HOME/kestrel/, by default ~/.local/share/kestrel/,\n"
    "created when missing. On a terminal a live count of directories and files\n"
    "is shown on standard error; at the end one summary line gives the\n"
    "directories, files and checksums written and the seconds taken.\n"
    "\n"
    "Exit status: 0 when the catalog is built; 1 when it could not be (the\n"
    "engine's message on standard error; the catalog keeps what was written);\n"
    "2 for a wrong command line, an empty or invalid name, an empty start\n"
    "directory, or an existing catalog without --force.\n";

namespace {

bool ParseMaxSize(const std::string& strText, int32_t& nKb) {
    const char* pBegin = strText.data();
    const char* pEnd = pBegin + strText.size();
    const auto [pStop, ec] = std::from_chars(pBegin, pEnd, nKb);
    return ec == std::errc() && pStop == pEnd && nKb >= 0;
}

// Waits for the job's end hook, showing the live counts on a terminal.
class JobWaiter {
public:
    void Arm(ScanJob& job) {
        job.fnOnEnd = [this] {
            std::lock_guard lock(m_mutex);
            m_bEnded = true;
            m_cv.notify_all();
        };
    }

    void Wait(const ScanJob& job) {
        const bool bLive = ::isatty(STDERR_FILENO) != 0;
        std::unique_lock lock(m_mutex);
        while (!m_cv.wait_for(lock, std::chrono::milliseconds(200), [this] { return m_bEnded; })) {
            if (bLive)
                std::fprintf(stderr, "\r%llu directories, %llu files",
                             static_cast<unsigned long long>(job.progress.nDirs.load()),
                             static_cast<unsigned long long>(job.progress.nFiles.load()));
        }
        if (bLive)
            std::fprintf(stderr, "\r\x1b[K");
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bEnded = false;
};

} // namespace

int RunCreateCommand(const std::vector<std::string>& args) {
    CommandLine cmd;
    std::string strError;
    if (!cmd.Parse(args, {"--checksum", "--force", "--help"}, {"--max-size"}, strError)) {
        PrintError(strError + " (see kestrel-cli create --help)");
        return kExitUsage;
    }
    if (cmd.Has("--help")) {
        std::fputs(kCreateHelp, stdout);
        return kExitOk;
    }
    if (cmd.operands.size() != 2) {
        PrintError("create takes a NAME and a START_DIR (see kestrel-cli create --help)");
        return kExitUsage;
    }
    const std::string& strName = cmd.operands[0];
    const std::string& strStartDir = cmd.operands[1];
    int32_t nMaxFileSizeKb = 100;
    if (auto it = cmd.values.find("--max-size"); it != cmd.values.end()) {
        if (!ParseMaxSize(it->second, nMaxFileSizeKb)) {
            PrintError("--max-size takes a whole number of KB from 0 to 2147483647");
            return kExitUsage;
        }
    }
    if (strName.empty()) {
        PrintError("Enter database name");
        return kExitUsage;
    }
    if (strName.find('/') != std::string::npos) {
        PrintError("Database name must not contain '/'");
        return kExitUsage;
    }
    if (strStartDir.empty()) {
        PrintError("Enter start directory");
        return kExitUsage;
    }

    ScanJob job;
    try {
        job.strCatalogPath = DataFolder() + strName + ".mdb";
    } catch (const EngineError& error) {
        PrintError(error.what());
        return kExitFailed;
    }
    struct stat st {};
    if (::lstat(job.strCatalogPath.c_str(), &st) == 0) {
        if (!cmd.Has("--force")) {
            PrintError("Database with the same name already exists: " + job.strCatalogPath +
                       " (--force replaces it)");
            return kExitUsage;
        }
        if (::unlink(job.strCatalogPath.c_str()) != 0) {
            const int nErr = errno;
            PrintError("Cannot delete " + job.strCatalogPath + ": " + std::strerror(nErr));
            return kExitFailed;
        }
    }
    job.strStartDir = strStartDir;
    job.bChecksum = cmd.Has("--checksum");
    job.nMaxFileSizeKb = nMaxFileSizeKb;

    JobWaiter waiter;
    waiter.Arm(job);
    const auto tStart = std::chrono::steady_clock::now();
    std::thread worker(ScanThreadProc, &job);
    waiter.Wait(job);
    worker.join();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - tStart;

    const ScanOutcome& outcome = job.outcome;
    std::printf("%s: %llu directories, %llu files, %llu checksums, %.2f seconds\n",
                job.strCatalogPath.c_str(), static_cast<unsigned long long>(outcome.nDirs),
                static_cast<unsigned long long>(outcome.nFiles),
                static_cast<unsigned long long>(outcome.nChecksums), elapsed.count());
    if (outcome.bFailed) {
        PrintError(outcome.strError);
        return kExitFailed;
    }
    return kExitOk;
}
