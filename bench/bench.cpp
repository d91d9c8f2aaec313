// SPDX-License-Identifier: GPL-3.0-or-later

// Timed comparisons of Kestrel against the standard tools doing the same work
// on the same input, in the same run. Each prints the ratio it is judged by.
//
//   kestrel-bench checksum [--mib N]   FileChecksum vs md5sum on one file
//   kestrel-bench create [--files N]   kestrel-cli create vs find -printf
//   kestrel-bench create-checksum      create --checksum (on every core) vs
//                                      find -exec md5sum
//   kestrel-bench search [--files N]   search vs plocate and grep -c -i; the
//                                      broad search of both with and without
//                                      the index; a selective search among
//                                      1 000 000 members of zip files vs
//                                      plocate on the same paths
//   kestrel-bench search-members       that last part alone
//   kestrel-bench update               update vs create --checksum, after
//                                      small changes
//   kestrel-bench walk [--files N] [DIR]  create without and with checksums
//                                      and an unchanged update, with the
//                                      default options, vs find -printf and
//                                      md5sum: the 200 000-file tree, DIR
//                                      (/usr) and the mixed 1 GiB tree
//   kestrel-bench audit [--files N]    diff and duplicates of two catalogs;
//                                      json vs tsv
//   kestrel-bench index [--files N]    reindex and indexed searches vs
//                                      plocate-build and plocate, on the same
//                                      paths; 20 catalogs at once
//   kestrel-bench slow-reader          peak memory of search --format json '*'
//                [--files N] [--sleep S] into a pipe read only after S
//                                      seconds, 1 and 5 catalogs, vs the same
//                                      search into /dev/null
//   kestrel-bench diff-all [--files N] diff of two catalogs that differ in
//                                      every path vs sort + comm of the lists
//   kestrel-bench duplicates-all       duplicates of two catalogs holding
//                [--files N]           the same contents, all of one size, vs
//                                      one sqlite3 SELECT over the same rows
//   kestrel-bench browse [--leaves N]  du --depth 1 and ls of a catalog of
//                                      10 000 000 files in 513 022 folders
//                                      (20 x 25 x 25 x N, 40 by default, of
//                                      20 files each, and one folder of
//                                      100 000 files), with the
//                                      folder tables vs without them; the
//                                      tables' bytes per folder and per file
//   kestrel-bench make-browse-catalog PATH [--leaves N] [--without-tables]
//                                      writes that catalog to PATH and keeps
//                                      it (for kestrel-ui-bench browse);
//                                      without its folder tables, as a catalog
//                                      made before them
//
// Inputs are generated in a temporary folder ($TMPDIR or /tmp) and removed
// afterwards; every command runs once to warm the caches, then the best of
// several runs counts.

#include "BenchSupport.h"
#include "browse/TreeTables.h"
#include "catalog/Catalog.h"
#include "catalog/CatalogInfo.h"
#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/NameIndex.h"
#include "catalog/ResultSet.h"
#include "catalog/RowAppender.h"
#include "scan/FileChecksum.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <malloc.h>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRuns = 3;

using Clock = std::chrono::steady_clock;

struct RunResult {
    double dSeconds = 0;
    long nPeakKb = 0;
    int nExit = -1;
};

[[noreturn]] void Die(const std::string& strWhat) {
    std::fprintf(stderr, "kestrel-bench: %s\n", strWhat.c_str());
    std::exit(1);
}

double SecondsSince(Clock::time_point tStart) {
    return std::chrono::duration<double>(Clock::now() - tStart).count();
}

// Starts args in a child process with env added; fnStdout runs in the child
// first to set up its standard output.
pid_t StartChild(const std::vector<std::string>& args, const std::vector<std::string>& env,
                 const std::function<void()>& fnStdout) {
    const pid_t pid = ::fork();
    if (pid < 0)
        Die("fork failed");
    if (pid > 0)
        return pid;
    fnStdout();
    // Summaries on standard error would only clutter the report.
    const int nNull = ::open("/dev/null", O_WRONLY);
    ::dup2(nNull, STDERR_FILENO);
    for (const std::string& strVar : env)
        ::putenv(const_cast<char*>(strVar.c_str()));
    std::vector<char*> argv;
    for (const std::string& strArg : args)
        argv.push_back(const_cast<char*>(strArg.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    std::_Exit(127);
}

// Waits for the child started at tStart; returns time, peak memory, status.
RunResult Reap(pid_t pid, Clock::time_point tStart) {
    int nStatus = 0;
    rusage usage{};
    ::wait4(pid, &nStatus, 0, &usage);
    return {SecondsSince(tStart), usage.ru_maxrss, WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1};
}

// Runs a command with its output sent to strOut (by default thrown away);
// returns time, peak memory, status.
RunResult RunCommand(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                     const std::string& strOut = "/dev/null") {
    const auto tStart = Clock::now();
    const pid_t pid = StartChild(args, env, [&] {
        ::dup2(::open(strOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
    });
    return Reap(pid, tStart);
}

// One warm-up, then the best of kRuns; a run that exits above nMaxExit ends
// the benchmark (a search may exit 1 for "no hits").
RunResult Best(const std::string& strLabel, const std::function<RunResult()>& run,
               int nMaxExit = 0) {
    RunResult best;
    best.dSeconds = 1e30;
    for (int i = 0; i <= kRuns; ++i) {
        const RunResult result = run();
        if (result.nExit < 0 || result.nExit > nMaxExit)
            Die(strLabel + " failed with status " + std::to_string(result.nExit));
        if (i > 0 && result.dSeconds < best.dSeconds)
            best = result;
        if (i > 0)
            best.nPeakKb = std::max(best.nPeakKb, result.nPeakKb);
    }
    std::printf("  %-52s %8.3f s  peak %7.1f MiB\n", strLabel.c_str(), best.dSeconds,
                best.nPeakKb / 1024.0);
    return best;
}

// Best of RunCommand(args, env, strOut).
RunResult BestRun(const std::string& strLabel, const std::vector<std::string>& args,
                  const std::vector<std::string>& env = {}, int nMaxExit = 0,
                  const std::string& strOut = "/dev/null") {
    return Best(
        strLabel, [&] { return RunCommand(args, env, strOut); }, nMaxExit);
}

uint64_t CountLines(const std::string& strPath) {
    return std::count(std::istreambuf_iterator<char>(std::ifstream(strPath).rdbuf()),
                      std::istreambuf_iterator<char>(), '\n');
}

// One benchmark's temporary folder, with the profile kestrel-cli is pointed
// at through env; removed when the benchmark ends (not when it dies).
struct Workspace {
    const std::string strDir = MakeTempDir("kestrel-bench");
    const std::vector<std::string> env = {"XDG_DATA_HOME=" + strDir + "/data",
                                          "XDG_CONFIG_HOME=" + strDir + "/config"};

    ~Workspace() { std::filesystem::remove_all(strDir); }
    std::string Path(const std::string& strName) const { return strDir + "/" + strName; }
    // Path(strName), made as a folder.
    std::string Folder(const std::string& strName) const {
        std::filesystem::create_directories(Path(strName));
        return Path(strName);
    }
};

void WriteFileOfSize(const std::string& strPath, uint64_t nSize, std::mt19937_64& random) {
    const int fd = ::open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        Die("cannot create " + strPath);
    std::vector<uint64_t> block(8192);
    for (uint64_t nDone = 0; nDone < nSize;) {
        for (uint64_t& n : block)
            n = random();
        const size_t nChunk =
            static_cast<size_t>(std::min<uint64_t>(nSize - nDone, block.size() * 8));
        if (::write(fd, block.data(), nChunk) != static_cast<ssize_t>(nChunk))
            Die("cannot write " + strPath);
        nDone += nChunk;
    }
    ::close(fd);
}

// Writes a new catalog of strStart straight through its inserts, without a
// scan: fnRows appends the rows, all in one transaction.
void WriteCatalog(const std::string& strPath, const std::string& strStart,
                  const std::function<void(RowAppender& dirs, RowAppender& files)>& fnRows) {
    Database database;
    CreateCatalog(database, strPath);
    database.Execute("PRAGMA synchronous=OFF");
    database.BeginTransaction();
    SetCatalogInfo(database, CatalogInfoKey::kStartDir, strStart);
    RowAppender dirs(database, CatalogSql::kInsertDir);
    RowAppender files(database, CatalogSql::kInsertFile);
    fnRows(dirs, files);
    database.Commit();
}

// A made-up checksum of content number n, the same for the same n.
std::string ContentChecksum(uint64_t n) {
    char szHex[33];
    std::snprintf(szHex, sizeof szHex, "%016llx%016llx",
                  static_cast<unsigned long long>(n * 0x9E3779B97F4A7C15ull),
                  static_cast<unsigned long long>(n));
    return szHex;
}

int BenchChecksum(uint64_t nMiB) {
    const Workspace work;
    const std::string strFile = work.Path("big.bin");
    std::mt19937_64 random(1);
    WriteFileOfSize(strFile, nMiB << 20, random);
    std::printf("FileChecksum against md5sum on one file of %llu MiB\n",
                static_cast<unsigned long long>(nMiB));

    std::string strDigest;
    const RunResult ours = Best("FileChecksum", [&] {
        RunResult result;
        const auto tStart = Clock::now();
        const auto digest = FileChecksum(strFile);
        result.dSeconds = SecondsSince(tStart);
        result.nExit = digest ? 0 : 1;
        strDigest = digest.value_or("");
        return result;
    });
    const RunResult peer = BestRun("md5sum", {"md5sum", strFile});
    const double dOurs = static_cast<double>(nMiB) / ours.dSeconds;
    const double dPeer = static_cast<double>(nMiB) / peer.dSeconds;
    std::printf("digest %s\nthroughput: Kestrel %.0f MiB/s, md5sum %.0f MiB/s\n", strDigest.c_str(),
                dOurs, dPeer);
    std::printf("ratio (Kestrel / md5sum throughput): %.3f  (target >= 0.95)\n", dOurs / dPeer);
    return 0;
}

// nFiles files spread evenly over nFiles / 10 directories, two levels deep.
void MakeNameTree(const std::string& strRoot, uint64_t nFiles) {
    const uint64_t nDirs = std::max<uint64_t>(1, nFiles / 10);
    const uint64_t nTop = std::max<uint64_t>(1, static_cast<uint64_t>(std::sqrt(double(nDirs))));
    std::mt19937_64 random(2);
    uint64_t nMade = 0;
    for (uint64_t d = 0; d < nDirs; ++d) {
        const std::string strTop = strRoot + "/top " + std::to_string(d % nTop);
        ::mkdir(strTop.c_str(), 0755);
        const std::string strDir = strTop + "/directory number " + std::to_string(d);
        ::mkdir(strDir.c_str(), 0755);
        const uint64_t nHere = (d + 1) * nFiles / nDirs - nMade;
        for (uint64_t f = 0; f < nHere; ++f, ++nMade) {
            const std::string strFile = strDir + "/file " + std::to_string(nMade) + ".dat";
            const int fd = ::open(strFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0)
                Die("cannot create " + strFile);
            // Small sizes, so the tree is about names, not contents.
            if (::ftruncate(fd, static_cast<off_t>(random() % 100000)) != 0)
                Die("cannot size " + strFile);
            ::close(fd);
        }
    }
}

int BenchCreate(uint64_t nFiles) {
    const Workspace work;
    const std::string strTree = work.Folder("tree");
    MakeNameTree(strTree, nFiles);
    std::printf("kestrel-cli create against find -printf on %llu files in %llu directories\n",
                static_cast<unsigned long long>(nFiles),
                static_cast<unsigned long long>(std::max<uint64_t>(1, nFiles / 10)));
    const RunResult ours =
        BestRun("kestrel-cli create --force bench TREE",
                {KESTREL_CLI_PATH, "create", "--force", "bench", strTree}, work.env);
    const RunResult peer =
        BestRun("find TREE -printf '%s %p\\n' >/dev/null", {"find", strTree, "-printf", "%s %p\n"});
    std::printf("time ratio (Kestrel / find): %.3f  (target <= 1.5)\n",
                ours.dSeconds / peer.dSeconds);
    std::printf("Kestrel peak memory: %.1f MiB  (target <= 64)\n", ours.nPeakKb / 1024.0);
    return 0;
}

// The mixed tree of about 1 GiB: one file of 512 MiB, 100 of 4 MiB and
// 10 000 of 10 KiB, in folders of 100. Returns the files in the order made.
std::vector<std::string> MakeMixedTree(const std::string& strRoot, std::mt19937_64& random) {
    std::vector<std::string> files;
    auto make = [&](uint64_t nSize) {
        const std::string strDir = strRoot + "/" + std::to_string(files.size() / 100);
        ::mkdir(strDir.c_str(), 0755);
        files.push_back(strDir + "/f" + std::to_string(files.size()));
        WriteFileOfSize(files.back(), nSize, random);
    };
    make(512ull << 20);
    for (int i = 0; i < 100; ++i)
        make(4ull << 20);
    for (int i = 0; i < 10000; ++i)
        make(10ull << 10);
    return files;
}

int BenchCreateChecksum() {
    const Workspace work;
    const std::string strTree = work.Folder("tree");
    std::mt19937_64 random(3);
    const std::vector<std::string> files = MakeMixedTree(strTree, random);
    const unsigned nCores = std::max(1u, std::thread::hardware_concurrency());
    std::printf("kestrel-cli create --checksum --max-size 0 against find -exec md5sum\n"
                "on %zu files holding 1 GiB (one of 512 MiB, 100 of 4 MiB, 10 000 of 10 KiB)\n",
                files.size());
    const RunResult chosen = BestRun(
        "kestrel-cli create --checksum --max-size 0",
        {KESTREL_CLI_PATH, "create", "--checksum", "--max-size", "0", "--force", "bench", strTree},
        work.env);
    const std::string strJobs = std::to_string(nCores);
    const RunResult all = BestRun("kestrel-cli create --checksum --max-size 0 --jobs " + strJobs,
                                  {KESTREL_CLI_PATH, "create", "--checksum", "--max-size", "0",
                                   "--jobs", strJobs, "--force", "bench", strTree},
                                  work.env);
    const RunResult peer = BestRun("find TREE -type f -exec md5sum {} + >/dev/null",
                                   {"find", strTree, "-type", "f", "-exec", "md5sum", "{}", "+"});
    std::printf("time ratio, threads chosen by the device (Kestrel / find+md5sum): %.3f\n",
                chosen.dSeconds / peer.dSeconds);
    std::printf("time ratio, %u threads (Kestrel / find+md5sum): %.3f  (target <= 0.6)\n", nCores,
                all.dSeconds / peer.dSeconds);
    return 0;
}

// nFiles files in nFiles / 20 directories below strRoot, with names that the
// search patterns find in part: some ".txt" files, some names holding "abc",
// some directories named "src".
void MakeSearchTree(const std::string& strRoot, uint64_t nFiles) {
    const uint64_t nDirs = std::max<uint64_t>(1, nFiles / 20);
    const char* const kDirNames[] = {"src", "docs", "build", "photos", "music", "data"};
    const char* const kExtensions[] = {".txt", ".dat", ".c", ".jpg", ".md", ".bin", ".h"};
    uint64_t nMade = 0;
    for (uint64_t d = 0; d < nDirs; ++d) {
        const std::string strTop = strRoot + "/project " + std::to_string(d % 250);
        ::mkdir(strTop.c_str(), 0755);
        const std::string strDir = strTop + "/" + kDirNames[d % 6] + " " + std::to_string(d);
        ::mkdir(strDir.c_str(), 0755);
        const uint64_t nHere = (d + 1) * nFiles / nDirs - nMade;
        for (uint64_t f = 0; f < nHere; ++f, ++nMade) {
            std::string strName = (nMade % 97 == 0 ? "xabcx " : "file ") + std::to_string(nMade);
            strName += kExtensions[nMade % 7];
            const int fd = ::open((strDir + "/" + strName).c_str(), O_WRONLY | O_CREAT, 0644);
            if (fd < 0)
                Die("cannot create a file in " + strDir);
            ::close(fd);
        }
    }
}

// A catalog of about 1 000 000 members of archives: four zip files of
// 250 000 empty members each, in folders of 100 ("photos_D/img_NNNNNNN.jpg"),
// and a selective search for one member's name, against plocate on a
// database of the same paths.
// An mlocate database (mlocate.db(5)), which plocate-build reads: a header,
// then each directory with its entries, each ended by EndDirectory.
struct MlocateText {
    std::string strOut;

    explicit MlocateText(std::string_view root) {
        strOut.append("\0mlocate", 8);
        strOut.append("\0\0\0\0", 4); // no configuration block
        strOut.append("\0\0\0\0", 4); // version 0, visibility off, padding
        strOut.append(root);
        strOut += '\0';
    }
    void Directory(std::string_view dir) {
        strOut.append(16, '\0'); // time and padding
        strOut.append(dir);
        strOut += '\0';
    }
    void Entry(bool bDirectory, std::string_view name) {
        strOut += bDirectory ? '\1' : '\0';
        strOut.append(name);
        strOut += '\0';
    }
    void EndDirectory() { strOut += '\2'; }
};

int BenchMemberSearch(const Workspace& work) {
    constexpr int kArchives = 4, kMembersEach = 250000, kPerFolder = 100;
    const std::string strTree = work.Folder("members");
    std::printf("making %d zip files of %d members each...\n", kArchives, kMembersEach);
    std::fflush(stdout);
    const std::string strScript = work.Path("members.py");
    {
        FILE* pFile = std::fopen(strScript.c_str(), "w");
        if (!pFile)
            Die("cannot write " + strScript);
        std::fputs("import sys, zipfile\n"
                   "root, archives, each, per = sys.argv[1], *map(int, sys.argv[2:5])\n"
                   "for a in range(archives):\n"
                   "    with zipfile.ZipFile('%s/backup_%d.zip' % (root, a), 'w') as z:\n"
                   "        for i in range(a * each, a * each + each):\n"
                   "            z.writestr('photos_%d/img_%07d.jpg' % (i // per, i), b'')\n",
                   pFile);
        std::fclose(pFile);
    }
    if (RunCommand({"python3", strScript, strTree, std::to_string(kArchives),
                    std::to_string(kMembersEach), std::to_string(kPerFolder)})
            .nExit != 0)
        Die("python3 could not write the zip files");
    const RunResult create =
        RunCommand({KESTREL_CLI_PATH, "create", "--archives", "members", strTree}, work.env);
    if (create.nExit != 0)
        Die("kestrel-cli create --archives failed");
    std::printf("create --archives of %d members: %.2f s\n", kArchives * kMembersEach,
                create.dSeconds);

    // The same paths for plocate: each folder inside an archive as a
    // directory of its own, its members as its entries (mlocate.db(5)).
    MlocateText db(strTree);
    db.Directory(strTree);
    for (int a = 0; a < kArchives; ++a)
        db.Entry(false, "backup_" + std::to_string(a) + ".zip");
    db.EndDirectory();
    char szName[32];
    for (int a = 0; a < kArchives; ++a) {
        const std::string strZip = strTree + "/backup_" + std::to_string(a) + ".zip";
        for (int i = a * kMembersEach; i < (a + 1) * kMembersEach; i += kPerFolder) {
            db.Directory(strZip + "//photos_" + std::to_string(i / kPerFolder));
            for (int k = i; k < i + kPerFolder; ++k) {
                std::snprintf(szName, sizeof szName, "img_%07d.jpg", k);
                db.Entry(false, szName);
            }
            db.EndDirectory();
        }
    }
    const std::string strMlocate = work.Path("members-mlocate.db");
    const std::string strPlocate = work.Path("members-plocate.db");
    {
        FILE* pFile = std::fopen(strMlocate.c_str(), "wb");
        if (!pFile)
            Die("cannot write " + strMlocate);
        std::fwrite(db.strOut.data(), 1, db.strOut.size(), pFile);
        std::fclose(pFile);
    }
    if (RunCommand({"plocate-build", strMlocate, strPlocate}).nExit != 0)
        Die("plocate-build failed");

    const char* const kPatterns[] = {"*img_0123456*", "*img_09876##.jpg"};
    double dWorst = 0;
    for (const char* pszPattern : kPatterns) {
        const std::string strHits = work.Path("member-hits.txt");
        const RunResult ours =
            BestRun(std::string("kestrel-cli search ") + pszPattern + " members",
                    {KESTREL_CLI_PATH, "search", pszPattern, "members"}, work.env, 1, strHits);
        const uint64_t nHits = CountLines(strHits);
        const RunResult peer = BestRun(std::string("plocate -i ") + pszPattern,
                                       {"plocate", "-d", strPlocate, "-i", pszPattern}, {}, 1);
        std::printf("    %llu hits; ratio to plocate %.2f\n",
                    static_cast<unsigned long long>(nHits), ours.dSeconds / peer.dSeconds);
        dWorst = std::max(dWorst, ours.dSeconds);
    }
    std::printf("slowest selective member search: %.3f s  (target < 0.05)\n", dWorst);
    return 0;
}

int BenchSearch(uint64_t nFiles) {
    const Workspace work;
    const std::string strTree = work.Folder("tree");
    std::printf("making a tree of %llu files...\n", static_cast<unsigned long long>(nFiles));
    std::fflush(stdout);
    MakeSearchTree(strTree, nFiles);
    if (RunCommand({KESTREL_CLI_PATH, "create", "bench", strTree}, work.env).nExit != 0)
        Die("kestrel-cli create failed");
    const std::string strLocateDb = work.Path("plocate.db");
    if (RunCommand({"updatedb", "-U", strTree, "-o", strLocateDb, "-l", "no", "--prunepaths", "",
                    "--prunenames", "", "--prunefs", ""})
            .nExit != 0)
        Die("updatedb (package plocate) failed");
    const std::string strPaths = work.Path("paths.txt");
    if (std::system(("find '" + strTree + "' > '" + strPaths + "'").c_str()) != 0)
        Die("find failed");

    const struct {
        const char* pszPattern; // Kestrel's and plocate's glob
        const char* pszRegex;   // the same for grep
    } kPatterns[] = {{"*.txt", "\\.txt$"}, {"*abc*", "abc"}, {"*/src*", "/src"}};
    const char* const kModes[] = {"both", "files", "dirs"};
    double dWorst = 0;
    for (const auto& p : kPatterns) {
        std::printf("pattern %s\n", p.pszPattern);
        const RunResult locate = BestRun(std::string("plocate -i ") + p.pszPattern,
                                         {"plocate", "-d", strLocateDb, "-i", p.pszPattern}, {}, 1);
        // GNU grep stops at the first match when its output is /dev/null.
        const RunResult grep =
            BestRun(std::string("grep -c -i ") + p.pszRegex,
                    {"grep", "-c", "-i", p.pszRegex, strPaths}, {}, 1, work.Path("grep.out"));
        for (const char* pszMode : kModes) {
            const RunResult ours = BestRun(
                std::string("kestrel-cli search --where ") + pszMode,
                {KESTREL_CLI_PATH, "search", "--where", pszMode, p.pszPattern}, work.env, 1);
            dWorst = std::max(dWorst, ours.dSeconds);
            std::printf("    ratio to plocate %.2f, to grep %.2f\n",
                        ours.dSeconds / locate.dSeconds, ours.dSeconds / grep.dSeconds);
        }
    }
    std::printf("slowest Kestrel search: %.3f s  (target < 0.5)\n", dWorst);

    // The broad search of both into a file: "/src" lies in every block of
    // folders, so the index cannot name a few; with the index, and on a copy
    // of the catalog without it (as an earlier Kestrel made it).
    const std::string strData = work.Path("data/kestrel");
    std::filesystem::copy_file(strData + "/bench.mdb", strData + "/plain.mdb");
    {
        Database plain;
        plain.Open(strData + "/plain.mdb", Database::OpenMode::ReadWrite);
        plain.Execute("DROP TABLE name_index_meta; DROP TABLE name_index_files; "
                      "DROP TABLE name_index_dirs; DROP TABLE name_index_dir_files;");
    }
    const std::string strHits = work.Path("hits.txt");
    double dWorstBroad = 0;
    for (const char* pszEntry : {"bench", "plain"}) {
        const RunResult broad =
            BestRun(std::string("kestrel-cli search --where both */src* ") + pszEntry + " > FILE",
                    {KESTREL_CLI_PATH, "search", "--where", "both", "*/src*", pszEntry}, work.env,
                    1, strHits);
        std::printf("    %llu hits\n", static_cast<unsigned long long>(CountLines(strHits)));
        dWorstBroad = std::max(dWorstBroad, broad.dSeconds);
    }
    std::printf("broad search of both: %.3f s  (target <= 0.25 for 1 000 000 files)\n",
                dWorstBroad);
    return BenchMemberSearch(work);
}

int BenchUpdate() {
    const Workspace work;
    const std::string strTree = work.Folder("tree");
    std::mt19937_64 random(4);
    std::vector<std::string> files = MakeMixedTree(strTree, random);
    const std::string strCatalog = work.Path("data/kestrel/bench.mdb");
    if (RunCommand({KESTREL_CLI_PATH, "create", "--checksum", "--max-size", "0", "bench", strTree},
                   work.env)
            .nExit != 0)
        Die("kestrel-cli create failed");
    const std::string strBaseline = work.Path("baseline.mdb");
    std::filesystem::copy_file(strCatalog, strBaseline);
    // A day's changes: 1 % of the files rewritten, 10 added, 10 removed.
    uint64_t nRewritten = 0;
    for (size_t i = 100; i < files.size(); i += 100, ++nRewritten)
        WriteFileOfSize(files[i], std::filesystem::file_size(files[i]), random);
    for (int i = 0; i < 10; ++i) {
        WriteFileOfSize(strTree + "/0/added" + std::to_string(i), 10 << 10, random);
        std::filesystem::remove(files[files.size() - 1 - static_cast<size_t>(i)]);
    }
    std::printf("kestrel-cli update against create --checksum --max-size 0 of the same tree:\n"
                "%zu files, 1 GiB; %llu rewritten, 10 added, 10 removed since the catalog\n",
                files.size(), static_cast<unsigned long long>(nRewritten));
    const RunResult update = Best("kestrel-cli update (from the same catalog each run)", [&] {
        std::filesystem::copy_file(strBaseline, strCatalog,
                                   std::filesystem::copy_options::overwrite_existing);
        return RunCommand({KESTREL_CLI_PATH, "update", "bench"}, work.env);
    });
    const RunResult create = BestRun(
        "kestrel-cli create --checksum --max-size 0",
        {KESTREL_CLI_PATH, "create", "--checksum", "--max-size", "0", "--force", "fresh", strTree},
        work.env);
    std::printf("time ratio (update / create): %.3f  (target <= 0.15)\n",
                update.dSeconds / create.dSeconds);
    return 0;
}

// One line of the walk benchmark: ours against the peer, with the target
// ratio and Kestrel's peak memory.
void PrintRatio(const char* pszWhat, const RunResult& ours, const RunResult& peer, double dTarget) {
    std::printf("  => %-44s ratio %.3f (target <= %.1f), Kestrel peak %.1f MiB (target <= 64)\n",
                pszWhat, ours.dSeconds / peer.dSeconds, dTarget, ours.nPeakKb / 1024.0);
}

// The walk, the rows and the checksums, each against the standard tools
// doing the same work: the 200 000-file tree, strSystemTree (/usr) without
// and with checksums and its unchanged update, and the mixed 1 GiB tree
// with checksums of every byte; all with the default options.
int BenchWalk(uint64_t nFiles, const std::string& strSystemTree) {
    const Workspace work;
    const std::string strNames = work.Folder("names");
    MakeNameTree(strNames, nFiles);
    const std::string strMixed = work.Folder("mixed");
    std::mt19937_64 random(3);
    MakeMixedTree(strMixed, random);
    const std::string strSys = strSystemTree;
    auto create = [&](const std::vector<std::string>& options, const std::string& strTree) {
        std::vector<std::string> args = {KESTREL_CLI_PATH, "create", "--force"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back("bench");
        args.push_back(strTree);
        return args;
    };
    const std::string strFindSys = "find " + strSys + " -printf '%s %p\\n'";

    std::printf("create of %llu files in %llu directories\n",
                static_cast<unsigned long long>(nFiles),
                static_cast<unsigned long long>(std::max<uint64_t>(1, nFiles / 10)));
    const RunResult names = BestRun("kestrel-cli create", create({}, strNames), work.env);
    const RunResult namesFind =
        BestRun("find TREE -printf '%s %p\\n'", {"find", strNames, "-printf", "%s %p\n"});
    std::filesystem::remove_all(strNames);

    std::printf("%s\n", strSys.c_str());
    const RunResult sys = BestRun("kestrel-cli create", create({}, strSys), work.env);
    const RunResult sysFind = BestRun(strFindSys, {"find", strSys, "-printf", "%s %p\n"});
    const RunResult update = BestRun("kestrel-cli update (nothing changed)",
                                     {KESTREL_CLI_PATH, "update", "bench"}, work.env);
    const RunResult sysSums =
        BestRun("kestrel-cli create --checksum", create({"--checksum"}, strSys), work.env);
    const RunResult sysMd5 = BestRun(
        "find -type f -size -102401c -print0 | xargs -0 md5sum",
        {"sh", "-c",
         "find '" + strSys + "' -type f -size -102401c -print0 | xargs -0 md5sum >/dev/null"});

    std::printf("the mixed tree: 1 GiB in 10 101 files\n");
    const RunResult mixed = BestRun("kestrel-cli create --checksum --max-size 0",
                                    create({"--checksum", "--max-size", "0"}, strMixed), work.env);
    const RunResult mixedMd5 =
        BestRun("find TREE -type f -exec md5sum {} +",
                {"find", strMixed, "-type", "f", "-exec", "md5sum", "{}", "+"});

    std::printf("ratios (Kestrel / peer):\n");
    PrintRatio("create, name tree / find -printf", names, namesFind, 1.0);
    PrintRatio(("create " + strSys + " / find -printf").c_str(), sys, sysFind, 1.0);
    PrintRatio(("update " + strSys + " / find -printf").c_str(), update, sysFind, 1.0);
    PrintRatio(("create --checksum " + strSys + " / xargs md5sum").c_str(), sysSums, sysMd5, 0.6);
    PrintRatio("create --checksum, mixed / find -exec md5sum", mixed, mixedMd5, 0.6);
    return 0;
}

// The archive tree: nMiB MiB of archives in folders of ten, half of them zip
// files of photo-like (incompressible) members, half tar.gz files of
// text-like ones, about 20 KiB a member, written by Python's zipfile and
// tarfile.
void MakeArchiveTree(const std::string& strRoot, uint64_t nMiB) {
    const std::string strScript = R"py(
import io, os, random, sys, tarfile, zipfile
root, mib = sys.argv[1], int(sys.argv[2])
rnd = random.Random(7)
words = [bytes(rnd.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 9)))
         for _ in range(4000)]
text = b" ".join(rnd.choice(words) for _ in range(400000))
per_archive = 12 << 20
n = 0
done = 0
while done < (mib << 20):
    folder = os.path.join(root, "set%03d" % (n // 10))
    os.makedirs(folder, exist_ok=True)
    if n % 2 == 0:
        path = os.path.join(folder, "photos%04d.zip" % n)
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
            size = 0
            k = 0
            while size < per_archive:
                data = rnd.randbytes(rnd.randint(8 << 10, 32 << 10))
                z.writestr("album%02d/img_%05d.jpg" % (k // 100, k), data)
                size += len(data)
                k += 1
    else:
        path = os.path.join(folder, "docs%04d.tar.gz" % n)
        with tarfile.open(path, "w:gz", compresslevel=6) as t:
            size = 0
            k = 0
            while size < per_archive:
                start = rnd.randint(0, len(text) - (64 << 10))
                data = text[start:start + rnd.randint(24 << 10, 56 << 10)]
                info = tarfile.TarInfo("notes%02d/page_%05d.txt" % (k // 100, k))
                info.size = len(data)
                info.mtime = 1700000000 + k
                t.addfile(info, io.BytesIO(data))
                size += len(data) // 3  # about what gzip makes of such text
                k += 1
    done += os.path.getsize(path)
    n += 1
)py";
    const RunResult made = RunCommand({"python3", "-c", strScript, strRoot, std::to_string(nMiB)});
    if (made.nExit != 0)
        Die("python3 could not write the archive tree");
}

// Listing the members of a tree of archives: create --archives against
// bsdtar -tvf over each archive, one after the other.
int BenchArchives(uint64_t nMiB) {
    const Workspace work;
    const std::string strTree = work.Folder("archives");
    MakeArchiveTree(strTree, nMiB);
    std::printf("the archive tree: %llu MiB of zip and tar.gz archives\n",
                static_cast<unsigned long long>(nMiB));
    const RunResult ours =
        BestRun("kestrel-cli create --archives",
                {KESTREL_CLI_PATH, "create", "--force", "--archives", "bench", strTree}, work.env);
    const std::string strList = "find '" + strTree +
                                "' -type f \\( -name '*.zip' -o -name '*.tar.gz' \\) | "
                                "while read -r f; do bsdtar -tvf \"$f\"; done";
    const RunResult peer = BestRun("bsdtar -tvf each archive", {"sh", "-c", strList});
    RunCommand({"sh", "-c", strList}, {}, work.Path("members.txt"));
    std::printf("  %llu members\n",
                static_cast<unsigned long long>(CountLines(work.Path("members.txt"))));
    std::printf("ratios (Kestrel / peer):\n");
    PrintRatio("create --archives / bsdtar -tvf", ours, peer, 1.2);
    return 0;
}

// A catalog of nFiles files in directories of 20 below /media/disk, written
// directly: every file with a size and a checksum, one in ten a copy of an
// earlier file's content. nChange of 100 files differ from the nChange 0
// catalog: their sizes grow; the last nChange / 10 % are missing and as many
// new ones are there.
void MakeAuditCatalog(const std::string& strPath, uint64_t nFiles, int nChange) {
    WriteCatalog(strPath, "/media/disk", [&](RowAppender& dirs, RowAppender& files) {
        std::mt19937_64 random(5);
        int64_t nDirId = 0;
        const uint64_t nMissingFrom = nFiles - nFiles * static_cast<uint64_t>(nChange) / 1000;
        for (uint64_t i = 0; i < nFiles; ++i) {
            if (i % 20 == 0)
                nDirId =
                    dirs.Append({std::string_view("/media/disk/area " + std::to_string(i / 20000) +
                                                  "/folder " + std::to_string(i / 20))});
            const uint64_t nContent = i % 10 == 9 ? random() % (i + 1) : i;
            int64_t nSize = static_cast<int64_t>(nContent % 100000) + 1;
            const std::string strChecksum = ContentChecksum(nContent);
            const uint64_t nRandom = random();
            if (nChange > 0 && nRandom % 100 < static_cast<uint64_t>(nChange))
                nSize += 1;
            std::string strName = "file " + std::to_string(i) + ".dat";
            if (i >= nMissingFrom)
                strName = "new " + strName;
            files.Append({nDirId, std::string_view(strName), nSize, std::string_view(strChecksum),
                          static_cast<int64_t>(i)});
        }
    });
}

int BenchAudit(uint64_t nFiles) {
    const Workspace work;
    const std::string strData = work.Folder("data/kestrel");
    std::printf("making two catalogs of %llu files...\n", static_cast<unsigned long long>(nFiles));
    std::fflush(stdout);
    MakeAuditCatalog(strData + "/old.mdb", nFiles, 0);
    MakeAuditCatalog(strData + "/new.mdb", nFiles, 1);
    double dWorst = 0;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"diff", "old", "new"},
          std::vector<std::string>{"diff", "--content", "old", "new"},
          std::vector<std::string>{"duplicates", "old", "new"}}) {
        std::vector<std::string> command = {KESTREL_CLI_PATH};
        command.insert(command.end(), args.begin(), args.end());
        std::string strLabel = "kestrel-cli";
        for (const std::string& strArg : args)
            strLabel += " " + strArg;
        const RunResult run = BestRun(strLabel, command, work.env, 1);
        std::printf("    ratio to the target of 5 s: %.3f\n", run.dSeconds / 5.0);
        dWorst = std::max(dWorst, run.dSeconds);
    }
    // A search with about 200 000 hits: *1.dat and *5.dat... in its form.
    const char* pszPattern = "*[05].dat";
    const RunResult tsv =
        BestRun("kestrel-cli search --where files (tsv)",
                {KESTREL_CLI_PATH, "search", "--where", "files", pszPattern, "old"}, work.env);
    const RunResult json = BestRun(
        "kestrel-cli search --where files --format json",
        {KESTREL_CLI_PATH, "search", "--where", "files", "--format", "json", pszPattern, "old"},
        work.env);
    std::printf("slowest of diff, diff --content, duplicates: %.3f s  (target < 5)\n", dWorst);
    std::printf("time ratio (json / tsv): %.3f  (target <= 1.5)\n", json.dSeconds / tsv.dSeconds);
    return 0;
}

// The paths of the index benchmark: nFiles files in folders of 20, named
// after a few words, a running number and one of 13 extensions, so that
// patterns find from a handful of hits to most of the rows.
struct IndexTree {
    static constexpr const char* kRoot = "/srv/archive";
    uint64_t nFiles;

    uint64_t Folders() const { return (nFiles + 19) / 20; }
    uint64_t Areas() const { return (Folders() + 999) / 1000; }
    std::string AreaPath(uint64_t a) const {
        return std::string(kRoot) + "/area_" + std::to_string(a);
    }
    std::string FolderPath(uint64_t d) const {
        static const char* const kWords[] = {"holiday", "work", "music", "scans", "backup",
                                             "photos",  "mail", "games", "books", "src"};
        return AreaPath(d / 1000) + "/" + kWords[d % 10] + "_" + std::to_string(d);
    }
    std::string FileName(uint64_t i) const {
        static const char* const kWords[] = {
            "report", "invoice", "IMG",         "track",   "letter", "notes",   "draft",
            "scan",   "summary", "project_src", "budget",  "photo",  "minutes", "holiday",
            "plan",   "list",    "song",        "chapter", "page",   "data"};
        static const char* const kExtensions[] = {".pdf", ".txt",  ".jpg", ".png", ".mp3",
                                                  ".doc", ".xls",  ".c",   ".h",   ".zip",
                                                  ".odt", ".flac", ".html"};
        return std::string(kWords[(i * 2654435761u >> 7) % 20]) + "_" + std::to_string(i) +
               kExtensions[i % 13];
    }
};

// Writes the tree's rows straight into a new catalog, without its index.
void MakeIndexCatalog(const std::string& strPath, const IndexTree& tree) {
    WriteCatalog(strPath, IndexTree::kRoot, [&](RowAppender& dirs, RowAppender& files) {
        dirs.Append({std::string_view(IndexTree::kRoot)});
        for (uint64_t a = 0; a < tree.Areas(); ++a)
            dirs.Append({std::string_view(tree.AreaPath(a))});
        for (uint64_t d = 0; d < tree.Folders(); ++d) {
            const int64_t nDirId = dirs.Append({std::string_view(tree.FolderPath(d))});
            for (uint64_t i = d * 20; i < std::min(tree.nFiles, d * 20 + 20); ++i) {
                const std::string strName = tree.FileName(i);
                files.Append({nDirId, std::string_view(strName), static_cast<int64_t>(i % 100000),
                              FieldValue{}, static_cast<int64_t>(i)});
            }
        }
    });
}

// The same paths as an mlocate database, which plocate-build reads.
void WriteMlocateDb(const std::string& strPath, const IndexTree& tree) {
    MlocateText db(IndexTree::kRoot);
    db.Directory(IndexTree::kRoot);
    for (uint64_t a = 0; a < tree.Areas(); ++a)
        db.Entry(true, "area_" + std::to_string(a));
    db.EndDirectory();
    FILE* pFile = std::fopen(strPath.c_str(), "wb");
    if (!pFile)
        Die("cannot write " + strPath);
    for (uint64_t a = 0; a < tree.Areas(); ++a) {
        db.Directory(tree.AreaPath(a));
        const uint64_t nEnd = std::min(tree.Folders(), a * 1000 + 1000);
        for (uint64_t d = a * 1000; d < nEnd; ++d) {
            const std::string strFolder = tree.FolderPath(d);
            db.Entry(true, std::string_view(strFolder).substr(strFolder.rfind('/') + 1));
        }
        db.EndDirectory();
        for (uint64_t d = a * 1000; d < nEnd; ++d) {
            db.Directory(tree.FolderPath(d));
            for (uint64_t i = d * 20; i < std::min(tree.nFiles, d * 20 + 20); ++i)
                db.Entry(false, tree.FileName(i));
            db.EndDirectory();
        }
        std::fwrite(db.strOut.data(), 1, db.strOut.size(), pFile);
        db.strOut.clear();
    }
    std::fclose(pFile);
}

int BenchIndex(uint64_t nFiles) {
    const Workspace work;
    const std::string strData = work.Folder("data/kestrel");
    const IndexTree tree{nFiles};
    const std::string strCatalog = strData + "/big.mdb";
    std::printf("making a catalog of %llu files in %llu folders...\n",
                static_cast<unsigned long long>(nFiles),
                static_cast<unsigned long long>(tree.Folders()));
    std::fflush(stdout);
    MakeIndexCatalog(strCatalog, tree);
    const uint64_t nBefore = std::filesystem::file_size(strCatalog);
    const std::string strMlocate = work.Path("mlocate.db"), strPlocate = work.Path("plocate.db");
    WriteMlocateDb(strMlocate, tree);

    std::printf("building the index\n");
    const RunResult reindex =
        BestRun("kestrel-cli reindex big", {KESTREL_CLI_PATH, "reindex", "big"}, work.env);
    const RunResult build =
        BestRun("plocate-build mlocate.db plocate.db", {"plocate-build", strMlocate, strPlocate});
    const uint64_t nAfter = std::filesystem::file_size(strCatalog);
    std::printf("time ratio (reindex / plocate-build): %.3f  (target <= 1.5)\n",
                reindex.dSeconds / build.dSeconds);
    std::printf("catalog: %.1f bytes per file without the index, %.1f with it: the index "
                "takes %.1f bytes per file (target <= 20); plocate's database: %.1f bytes per "
                "path\n",
                double(nBefore) / double(nFiles), double(nAfter) / double(nFiles),
                double(nAfter - nBefore) / double(nFiles),
                double(std::filesystem::file_size(strPlocate)) / double(nFiles + tree.Folders()));

    const struct {
        const char* pszMode;
        const char* pszPattern;
    } kSearches[] = {
        {"files", "*project_src_12345*"}, {"files", "*_765432*"}, {"files", "*abc*"},
        {"files", "*holiday_99*"},        {"files", "*.pdf"},     {"both", "*holiday*"}};
    double dWorstSelective = 0;
    for (const auto& search : kSearches) {
        const std::string strHits = work.Path("hits.txt");
        const RunResult ours = BestRun(
            std::string("kestrel-cli search --where ") + search.pszMode + " " + search.pszPattern,
            {KESTREL_CLI_PATH, "search", "--where", search.pszMode, search.pszPattern, "big"},
            work.env, 1, strHits);
        const uint64_t nHits = CountLines(strHits);
        const RunResult peer =
            BestRun(std::string("plocate -i ") + search.pszPattern,
                    {"plocate", "-d", strPlocate, "-i", search.pszPattern}, {}, 1);
        std::printf("    %llu hits; ratio to plocate %.2f\n",
                    static_cast<unsigned long long>(nHits), ours.dSeconds / peer.dSeconds);
        if (nHits < 1000)
            dWorstSelective = std::max(dWorstSelective, ours.dSeconds);
    }
    std::printf("slowest search with under 1000 hits: %.3f s  (target < 0.05)\n", dWorstSelective);
    std::filesystem::remove(strCatalog);

    // Twenty catalogs of 500 000 files, searched at once for a piece of a name.
    const IndexTree part{500000};
    MakeIndexCatalog(work.Path("part.mdb"), part);
    if (RunCommand({KESTREL_CLI_PATH, "reindex", work.Path("part.mdb")}, work.env).nExit != 0)
        Die("reindex failed");
    for (int k = 0; k < 20; ++k)
        std::filesystem::copy_file(work.Path("part.mdb"),
                                   strData + "/part" + std::to_string(k) + ".mdb");
    const RunResult many =
        BestRun("kestrel-cli search --where files *_12345* (20 catalogs)",
                {KESTREL_CLI_PATH, "search", "--where", "files", "*_12345*"}, work.env);
    std::printf("20 catalogs of 500 000 files: %.3f s  (target < 0.3)\n", many.dSeconds);
    return 0;
}

// A catalog of nFiles files below strStart, written directly, in folders of
// 20 within areas of 1000 folders: folder and file names begin with
// strPrefix. Each file has nSize bytes (0: sizes vary) and the checksum of its
// number. When pList is given, the files' paths below the start go there, one
// a line, in the order written.
void MakeStreamCatalog(const std::string& strPath, uint64_t nFiles, const std::string& strStart,
                       const std::string& strPrefix, int64_t nSize, FILE* pList = nullptr) {
    WriteCatalog(strPath, strStart, [&](RowAppender& dirs, RowAppender& files) {
        dirs.Append({std::string_view(strStart)});
        int64_t nDirId = 0;
        std::string strRel;
        for (uint64_t i = 0; i < nFiles; ++i) {
            const std::string strArea = strPrefix + " area " + std::to_string(i / 20000);
            if (i % 20000 == 0)
                dirs.Append({std::string_view(strStart + "/" + strArea)});
            if (i % 20 == 0) {
                strRel = strArea + "/" + strPrefix + " folder " + std::to_string(i / 20);
                nDirId = dirs.Append({std::string_view(strStart + "/" + strRel)});
            }
            const std::string strChecksum = ContentChecksum(i);
            const std::string strName = strPrefix + " file " + std::to_string(i) + ".dat";
            files.Append({nDirId, std::string_view(strName),
                          nSize > 0 ? nSize : static_cast<int64_t>(i % 100000) + 1,
                          std::string_view(strChecksum), static_cast<int64_t>(i)});
            if (pList)
                std::fprintf(pList, "%s/%s\n", strRel.c_str(), strName.c_str());
        }
    });
}

// Runs a command whose output goes into a pipe that is read only after
// dSleep seconds, as by a reader that is busy; returns time, peak memory,
// status, and the bytes read through nBytes.
RunResult RunIntoSlowReader(const std::vector<std::string>& args,
                            const std::vector<std::string>& env, double dSleep, uint64_t& nBytes) {
    int fds[2];
    if (::pipe(fds) != 0)
        Die("pipe failed");
    const auto tStart = Clock::now();
    const pid_t pid = StartChild(args, env, [&] {
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[0]);
        ::close(fds[1]);
    });
    ::close(fds[1]);
    std::this_thread::sleep_for(std::chrono::duration<double>(dSleep));
    std::vector<char> buffer(1 << 20);
    nBytes = 0;
    for (ssize_t n; (n = ::read(fds[0], buffer.data(), buffer.size())) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            Die("reading the pipe failed");
        nBytes += static_cast<uint64_t>(n);
    }
    ::close(fds[0]);
    return Reap(pid, tStart);
}

int BenchSlowReader(uint64_t nFiles, double dSleep) {
    const Workspace work;
    const std::string strData = work.Folder("data/kestrel");
    std::printf("making a catalog of %llu files...\n", static_cast<unsigned long long>(nFiles));
    std::fflush(stdout);
    MakeStreamCatalog(strData + "/c0.mdb", nFiles, "/media/disk", "item", 0);
    for (int k = 1; k < 5; ++k)
        std::filesystem::copy_file(strData + "/c0.mdb",
                                   strData + "/c" + std::to_string(k) + ".mdb");
    double dWorstMiB = 0;
    for (const int nCatalogs : {1, 5}) {
        std::vector<std::string> command = {KESTREL_CLI_PATH, "search", "--format", "json", "*"};
        for (int k = 0; k < nCatalogs; ++k)
            command.push_back(std::string(1, 'c').append(std::to_string(k)));
        const std::string strWhat = "search --format json '*', " + std::to_string(nCatalogs) +
                                    (nCatalogs == 1 ? " catalog" : " catalogs");
        const RunResult fast = BestRun(strWhat + " > /dev/null", command, work.env);
        uint64_t nBytes = 0;
        const RunResult slow = RunIntoSlowReader(command, work.env, dSleep, nBytes);
        if (slow.nExit != 0)
            Die("the search into a slow reader failed with status " + std::to_string(slow.nExit));
        const double dSlowMiB = slow.nPeakKb / 1024.0;
        std::printf("  %-52s %8.3f s  peak %7.1f MiB\n",
                    (strWhat + " | (sleep " + std::to_string(int(dSleep)) + "; cat)").c_str(),
                    slow.dSeconds, dSlowMiB);
        std::printf("    %.1f MiB of output; peak ratio to the same search into /dev/null: %.2f; "
                    "to the target of 64 MiB: %.3f\n",
                    nBytes / 1048576.0, slow.nPeakKb / double(std::max(fast.nPeakKb, 1L)),
                    dSlowMiB / 64.0);
        dWorstMiB = std::max(dWorstMiB, dSlowMiB);
    }
    std::printf("largest peak into a slow reader: %.1f MiB  (target <= 64)\n", dWorstMiB);
    return 0;
}

// Prints the peak memory of Kestrel's run and its peer's, and Kestrel's
// ratio to its target of nTargetMiB.
void PrintPeaks(const RunResult& ours, const char* pszPeer, const RunResult& peer, int nTargetMiB) {
    std::printf("peak memory: Kestrel %.1f MiB, %s %.1f MiB; to the target of %d MiB: %.3f\n",
                ours.nPeakKb / 1024.0, pszPeer, peer.nPeakKb / 1024.0, nTargetMiB,
                ours.nPeakKb / 1024.0 / nTargetMiB);
}

int BenchDiffAll(uint64_t nFiles) {
    const Workspace work;
    const std::string strData = work.Folder("data/kestrel");
    std::printf("making two catalogs of %llu files with no path in common...\n",
                static_cast<unsigned long long>(nFiles));
    std::fflush(stdout);
    for (const auto& [pszName, pszStart] :
         {std::pair{"old", "/media/disk"}, std::pair{"new", "/backup/disk"}}) {
        const std::string strList = work.Path(std::string(pszName) + ".txt");
        FILE* pList = std::fopen(strList.c_str(), "w");
        if (!pList)
            Die("cannot write " + strList);
        MakeStreamCatalog(strData + "/" + pszName + ".mdb", nFiles, pszStart, pszName, 0, pList);
        std::fclose(pList);
    }
    const std::string strOut = work.Path("diff.txt");
    const RunResult ours = BestRun("kestrel-cli diff old new",
                                   {KESTREL_CLI_PATH, "diff", "old", "new"}, work.env, 1, strOut);
    const std::string strOld = work.Path("old"), strNew = work.Path("new");
    const std::string strSortComm = "export LC_ALL=C; sort '" + strOld + ".txt' > '" + strOld +
                                    ".s' && sort '" + strNew + ".txt' > '" + strNew +
                                    ".s' && comm -3 '" + strOld + ".s' '" + strNew + ".s'";
    const RunResult peer =
        BestRun("sort + sort + comm -3 of the two path lists", {"sh", "-c", strSortComm});
    std::printf("    %llu lines of differences\n",
                static_cast<unsigned long long>(CountLines(strOut)));
    std::printf("time ratio (Kestrel / sort+comm): %.3f; to the target of 3 s: %.3f\n",
                ours.dSeconds / peer.dSeconds, ours.dSeconds / 3.0);
    PrintPeaks(ours, "sort+comm", peer, 100);
    return 0;
}

int BenchDuplicatesAll(uint64_t nFiles) {
    const Workspace work;
    const std::string strData = work.Folder("data/kestrel");
    std::printf("making two catalogs of %llu files of 4096 bytes, each content in both...\n",
                static_cast<unsigned long long>(nFiles));
    std::fflush(stdout);
    MakeStreamCatalog(strData + "/disk.mdb", nFiles, "/media/disk", "disk", 4096);
    MakeStreamCatalog(strData + "/copy.mdb", nFiles, "/backup/copy", "copy", 4096);
    const std::string strOut = work.Path("groups.txt");
    const RunResult ours =
        BestRun("kestrel-cli duplicates disk copy",
                {KESTREL_CLI_PATH, "duplicates", "disk", "copy"}, work.env, 0, strOut);
    // The same groups, in the same order, from one SELECT.
    const std::string strSql =
        "WITH f AS (SELECT 0 AS c, f.file_id AS i, f.file_size AS s, f.md5_checksum AS m, "
        "d.dir_name || '/' || f.file_name AS p FROM a.files f JOIN a.dirs d USING (dir_id) "
        "WHERE m IS NOT NULL AND s > 0 UNION ALL SELECT 1, f.file_id, f.file_size, "
        "f.md5_checksum, d.dir_name || '/' || f.file_name FROM b.files f JOIN b.dirs d "
        "USING (dir_id) WHERE f.md5_checksum IS NOT NULL AND f.file_size > 0) "
        "SELECT p, s, m, c FROM (SELECT *, count(*) OVER (PARTITION BY s, m) AS n FROM f) "
        "WHERE n > 1 ORDER BY (n - 1) * s DESC, s DESC, m, c, i";
    const RunResult peer =
        BestRun("sqlite3: the same groups from one SELECT",
                {"sqlite3", "-cmd", "ATTACH '" + strData + "/disk.mdb' AS a", "-cmd",
                 "ATTACH '" + strData + "/copy.mdb' AS b", ":memory:", strSql});
    std::printf("    %llu lines of groups\n", static_cast<unsigned long long>(CountLines(strOut)));
    std::printf("time ratio (Kestrel / sqlite3): %.3f\n", ours.dSeconds / peer.dSeconds);
    PrintPeaks(ours, "sqlite3", peer, 256);
    return 0;
}

// A catalog as a walk of a large real tree stores it, without the disk:
// /srv/tree holds 20 areas of 25 groups of 25 sets of nLeaves folders of 20
// files each, and one folder "big" of 100 000 files. Rows go in the walk's
// order (a folder's subfolder rows, then its files, then each subfolder's
// rows in turn) through the builders the walk's writer uses, with modes and
// times as a disk gives them: a folder's files written within hours, its
// own time a little after its newest file.
struct BrowseTree {
    static constexpr const char* kRoot = "/srv/tree";
    uint64_t nLeaves = 40;
    uint64_t nDirs = 0, nFiles = 0;
    std::string strLeaf; // one folder of 20 files
};

void MakeBrowseCatalog(const std::string& strPath, BrowseTree& tree) {
    Database database;
    CreateCatalog(database, strPath);
    database.Execute("PRAGMA synchronous=OFF");
    database.BeginTransaction();
    SetCatalogInfo(database, CatalogInfoKey::kStartDir, BrowseTree::kRoot);
    RowAppender dirs(database, CatalogSql::kInsertDir);
    RowAppender files(database, CatalogSql::kInsertFile);
    NameIndexBuilder index;
    TreeTablesBuilder tables;
    std::mt19937_64 random(11);
    uint64_t nRows = 0;
    auto row = [&] {
        if (++nRows % 200000 == 0) {
            database.Commit();
            database.BeginTransaction();
        }
    };
    auto storeDir = [&](const std::string& strDir) {
        const int64_t nId = dirs.Append({std::string_view(strDir)});
        index.AddDirectory(nId, strDir);
        tables.AddDirectory(nId, strDir);
        ++tree.nDirs;
        row();
        return nId;
    };
    constexpr int64_t kSecond = 1000000000;
    // Files of one folder written from tStart on; returns the newest time.
    auto storeFiles = [&](int64_t nDirId, uint64_t nCount, int64_t tStart, int64_t nSpread) {
        int64_t tNewest = tStart;
        std::string strName;
        for (uint64_t i = 0; i < nCount; ++i) {
            const uint64_t n = tree.nFiles++;
            strName = IndexTree{0}.FileName(n);
            const int64_t nSize = static_cast<int64_t>(random() % 2000000);
            const int64_t tFile = tStart + static_cast<int64_t>(random() % uint64_t(nSpread));
            tNewest = std::max(tNewest, tFile);
            const uint32_t nMode = n % 50 == 0 ? 0100755 : 0100644;
            const int64_t nFileId =
                files.Append({nDirId, std::string_view(strName), nSize, FieldValue{}, tFile});
            index.AddFile(nFileId, nDirId, strName);
            tables.AddFile(nFileId, nDirId, nSize, tFile, nMode);
            row();
        }
        return tNewest;
    };
    auto state = [&](int64_t nDirId, int64_t tOwn) {
        tables.SetDirectoryState(nDirId, 040755, tOwn);
    };
    // 2016 onwards, each folder some days after the one above.
    const int64_t tRoot = int64_t(1451606400) * kSecond;
    auto later = [&](int64_t t, int64_t nDays) {
        return t + static_cast<int64_t>(random() % uint64_t(nDays * 86400 * kSecond));
    };
    const int64_t nRoot = storeDir(BrowseTree::kRoot);
    std::vector<std::pair<int64_t, std::string>> areas;
    for (int a = 0; a < 20; ++a) {
        const std::string strArea = std::string(BrowseTree::kRoot) + "/area_" + std::to_string(a);
        areas.emplace_back(storeDir(strArea), strArea);
    }
    const int64_t nBig = storeDir(std::string(BrowseTree::kRoot) + "/big");
    state(nRoot, later(tRoot, 3000));
    for (const auto& [nArea, strArea] : areas) {
        const int64_t tArea = later(tRoot, 2000);
        state(nArea, later(tArea, 700));
        std::vector<std::pair<int64_t, std::string>> groups;
        for (int g = 0; g < 25; ++g) {
            const std::string strGroup = strArea + "/group_" + std::to_string(g);
            groups.emplace_back(storeDir(strGroup), strGroup);
        }
        for (const auto& [nGroup, strGroup] : groups) {
            const int64_t tGroup = later(tArea, 300);
            state(nGroup, later(tGroup, 200));
            std::vector<std::pair<int64_t, std::string>> sets;
            for (int k = 0; k < 25; ++k) {
                const std::string strSet = strGroup + "/set_" + std::to_string(k);
                sets.emplace_back(storeDir(strSet), strSet);
            }
            for (const auto& [nSet, strSet] : sets) {
                const int64_t tSet = later(tGroup, 60);
                std::vector<int64_t> leaves;
                for (uint64_t l = 0; l < tree.nLeaves; ++l) {
                    const std::string strLeaf = strSet + "/leaf_" + std::to_string(l);
                    leaves.push_back(storeDir(strLeaf));
                    if (tree.strLeaf.empty())
                        tree.strLeaf = strLeaf;
                }
                int64_t tNewest = tSet;
                for (const int64_t nLeaf : leaves) {
                    const int64_t tLeaf = later(tSet, 2);
                    const int64_t tFiles = storeFiles(nLeaf, 20, tLeaf, 6 * 3600 * kSecond);
                    state(nLeaf, tFiles + static_cast<int64_t>(random() % uint64_t(60 * kSecond)));
                    tNewest = std::max(tNewest, tFiles);
                }
                state(nSet, tNewest + static_cast<int64_t>(random() % uint64_t(kSecond)));
            }
        }
    }
    state(nBig, storeFiles(nBig, 100000, later(tRoot, 1000), 365 * 86400 * kSecond) + kSecond);
    index.Write(database);
    tables.Write(database);
    // What a finished walk records of itself.
    SetCatalogInfo(database, CatalogInfoKey::kDirs, std::to_string(tree.nDirs));
    SetCatalogInfo(database, CatalogInfoKey::kFiles, std::to_string(tree.nFiles));
    SetCatalogInfo(database, CatalogInfoKey::kChecksumCount, "0");
    SetCatalogInfo(database, CatalogInfoKey::kComplete, "yes");
    database.Commit();
}

// The bytes the pages of a table (with its indexes) take, from dbstat.
uint64_t TableBytes(Database& database, const std::string& strTable) {
    return static_cast<uint64_t>(database.QueryInt64(
        "SELECT coalesce(sum(pgsize), 0) FROM dbstat WHERE name = '" + strTable +
        "' OR name IN (SELECT name FROM sqlite_schema WHERE type = 'index' AND tbl_name = '" +
        strTable + "')"));
}

int BenchBrowse(uint64_t nLeaves) {
    const Workspace work;
    const std::string strData = work.Folder("data/kestrel");
    const std::string strCatalog = strData + "/browse.mdb";
    BrowseTree tree;
    tree.nLeaves = std::max<uint64_t>(1, nLeaves);
    std::printf("making a catalog of %llu leaf folders of 20 files and one of 100 000...\n",
                static_cast<unsigned long long>(20 * 25 * 25 * tree.nLeaves));
    std::fflush(stdout);
    const auto tMake = Clock::now();
    MakeBrowseCatalog(strCatalog, tree);
    std::printf("  made %llu folders, %llu files in %.1f s\n",
                static_cast<unsigned long long>(tree.nDirs),
                static_cast<unsigned long long>(tree.nFiles), SecondsSince(tMake));
    // What the builders held goes back to the system: the children forked
    // for the timed runs would otherwise start with it and report it as
    // their peak.
    ::malloc_trim(0);
    {
        Database database;
        database.Open(strCatalog, Database::OpenMode::ReadOnly);
        const uint64_t nDirBytes = TableBytes(database, "tree_dirs");
        const uint64_t nModeBytes = TableBytes(database, "tree_file_modes");
        const uint64_t nMetaBytes = TableBytes(database, "tree_meta");
        const uint64_t nDirsTable = TableBytes(database, "dirs");
        const uint64_t nFilesTable = TableBytes(database, "files");
        std::printf(
            "folder tables (pages, from dbstat): tree_dirs %.1f bytes per folder "
            "(target <= 24), tree_file_modes %.2f bytes per file (target <= 4), "
            "tree_meta %llu bytes; for scale: dirs %.1f bytes per folder, files %.1f "
            "bytes per file\n",
            double(nDirBytes + nMetaBytes) / double(tree.nDirs),
            double(nModeBytes) / double(tree.nFiles), static_cast<unsigned long long>(nMetaBytes),
            double(nDirsTable) / double(tree.nDirs), double(nFilesTable) / double(tree.nFiles));
    }
    const std::string strBig = std::string(BrowseTree::kRoot) + "/big";
    struct Query {
        std::string strLabel;
        std::vector<std::string> args;
        double dTarget;
    };
    const std::vector<Query> queries = {
        {"du --depth 1", {KESTREL_CLI_PATH, "du", "--depth", "1", "browse"}, 0.1},
        {"ls (the start folder)", {KESTREL_CLI_PATH, "ls", "-l", "browse"}, 0.02},
        {"ls (a leaf folder)", {KESTREL_CLI_PATH, "ls", "-l", "browse", tree.strLeaf}, 0.02},
        {"ls (the folder of 100 000 files)",
         {KESTREL_CLI_PATH, "ls", "-l", "browse", strBig},
         0.02},
    };
    std::vector<RunResult> stored;
    std::printf("with the folder tables\n");
    for (const Query& query : queries)
        stored.push_back(BestRun("kestrel-cli " + query.strLabel, query.args, work.env));
    {
        Database database;
        database.Open(strCatalog, Database::OpenMode::ReadWrite);
        database.Execute(CatalogSql::kDropTreeTables);
    }
    std::printf("without them (dropped: the tree is computed from every row)\n");
    for (size_t i = 0; i < queries.size(); ++i) {
        const RunResult computed =
            BestRun("kestrel-cli " + queries[i].strLabel, queries[i].args, work.env);
        std::printf("    with tables %.4f s (target < %.3f s: %s); time ratio (with / without "
                    "tables): %.4f\n",
                    stored[i].dSeconds, queries[i].dTarget,
                    stored[i].dSeconds < queries[i].dTarget ? "met" : "NOT met",
                    stored[i].dSeconds / computed.dSeconds);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string strMode = argc > 1 ? argv[1] : "";
    if (strMode == "checksum")
        return BenchChecksum(OptionValue(argc, argv, "--mib", 1024));
    if (strMode == "create")
        return BenchCreate(OptionValue(argc, argv, "--files", 200000));
    if (strMode == "search")
        return BenchSearch(OptionValue(argc, argv, "--files", 1000000));
    if (strMode == "search-members") {
        const Workspace work;
        return BenchMemberSearch(work);
    }
    if (strMode == "create-checksum")
        return BenchCreateChecksum();
    if (strMode == "update")
        return BenchUpdate();
    if (strMode == "archives")
        return BenchArchives(OptionValue(argc, argv, "--mib", 1024));
    if (strMode == "walk")
        return BenchWalk(OptionValue(argc, argv, "--files", 200000),
                         argc > 2 && argv[argc - 1][0] == '/' ? argv[argc - 1] : "/usr");
    if (strMode == "audit")
        return BenchAudit(OptionValue(argc, argv, "--files", 1000000));
    if (strMode == "index")
        return BenchIndex(OptionValue(argc, argv, "--files", 10000000));
    if (strMode == "slow-reader")
        return BenchSlowReader(OptionValue(argc, argv, "--files", 1000000),
                               static_cast<double>(OptionValue(argc, argv, "--sleep", 10)));
    if (strMode == "diff-all")
        return BenchDiffAll(OptionValue(argc, argv, "--files", 1000000));
    if (strMode == "duplicates-all")
        return BenchDuplicatesAll(OptionValue(argc, argv, "--files", 1000000));
    if (strMode == "browse")
        return BenchBrowse(OptionValue(argc, argv, "--leaves", 40));
    if (strMode == "make-browse-catalog" && argc > 2 && argv[2][0] != '-') {
        BrowseTree tree;
        tree.nLeaves = std::max<uint64_t>(1, OptionValue(argc, argv, "--leaves", 40));
        MakeBrowseCatalog(argv[2], tree);
        bool bWithout = false;
        for (int i = 3; i < argc; ++i)
            bWithout = bWithout || std::strcmp(argv[i], "--without-tables") == 0;
        if (bWithout) {
            Database database;
            database.Open(argv[2], Database::OpenMode::ReadWrite);
            database.Execute(CatalogSql::kDropTreeTables);
            database.Close();
        }
        std::printf("%s: %llu folders, %llu files\n", argv[2],
                    static_cast<unsigned long long>(tree.nDirs),
                    static_cast<unsigned long long>(tree.nFiles));
        return 0;
    }
    std::fprintf(
        stderr,
        "usage: kestrel-bench checksum [--mib N] | archives [--mib N] | create [--files N] | "
        "create-checksum | walk [--files N] [DIR] | search [--files N] | search-members | "
        "update | audit [--files N] | "
        "index [--files N] | slow-reader [--files N] [--sleep S] | "
        "diff-all [--files N] | duplicates-all [--files N] | browse [--leaves N] | "
        "make-browse-catalog PATH [--leaves N] [--without-tables]\n");
    return 2;
}
