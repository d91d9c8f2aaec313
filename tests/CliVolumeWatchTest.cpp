// SPDX-License-Identifier: GPL-3.0-or-later

// kestrel-cli watch over real loop-mounted volumes: it tells when a
// catalogued disk comes and goes, brings its catalogs up to date wherever it
// is mounted, and never leaves a catalog half written when it is stopped or
// the disk goes away part way.
#include "CliProcess.h"
#include "LoopVolume.h"
#include "TestTree.h"
#include "scan/FileChecksum.h"

#include <chrono>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string> LinesOf(const std::string& strText) {
    std::vector<std::string> lines;
    std::istringstream in(strText);
    for (std::string strLine; std::getline(in, strLine);)
        lines.push_back(strLine);
    return lines;
}

bool Holds(const std::string& strText, const std::string& strPart) {
    return strText.find(strPart) != std::string::npos;
}

// The names in a folder, "." and ".." aside.
std::set<std::string> NamesIn(const std::string& strFolder) {
    std::set<std::string> names;
    if (DIR* pDir = ::opendir(strFolder.c_str())) {
        while (const dirent* pEntry = ::readdir(pDir))
            if (std::string(pEntry->d_name) != "." && std::string(pEntry->d_name) != "..")
                names.insert(pEntry->d_name);
        ::closedir(pDir);
    }
    return names;
}

// Whether the process has a file or folder open at strPath or below it.
bool IsOpenIn(pid_t pid, const std::string& strPath) {
    const std::string strFds = "/proc/" + std::to_string(pid) + "/fd";
    for (const std::string& strFd : NamesIn(strFds)) {
        char szTarget[4096];
        const ssize_t n = ::readlink((strFds + "/" + strFd).c_str(), szTarget, sizeof szTarget);
        const std::string strTarget(szTarget, n > 0 ? static_cast<size_t>(n) : 0);
        if (strTarget == strPath || strTarget.rfind(strPath + "/", 0) == 0)
            return true;
    }
    return false;
}

} // namespace

TEST(CliVolumeWatchTest, TellsWhenADiskComesAndGoesAndUpdatesItWhereverItIsMounted) {
    SKIP_WITHOUT_LOOP_MOUNTS("ext4");
    CliProcess cli;
    TestTree tree;
    LoopVolume disk(tree, "ext4", "WATCHED");
    ASSERT_TRUE(disk.Made()) << disk.Problem();
    const std::string strFirst = tree.Path("first");
    const std::string strSecond = tree.Path("second");
    ASSERT_TRUE(disk.Mount(strFirst)) << disk.Problem();
    tree.MakeDir("first/photos");
    tree.WriteFile("first/photos/a.jpg", "a");
    tree.WriteFile("first/photos/b.jpg", "b");
    tree.WriteFile("first/notes.txt", "shelf 3");
    ASSERT_EQ(cli.Run({"create", "--checksum", "Disk", strFirst}).nExit, 0);
    // A catalog of a folder that lies on no disk of its own is always there:
    // watch never speaks of it.
    tree.MakeDir("plain");
    ASSERT_EQ(cli.Run({"create", "Plain", tree.Path("plain")}).nExit, 0);
    tree.WriteFile("first/photos/a.jpg", "changed");
    tree.WriteFile("first/photos/c.jpg", "new");
    ASSERT_EQ(::unlink(tree.Path("first/notes.txt").c_str()), 0);
    ASSERT_TRUE(disk.Unmount());

    const pid_t watcher = cli.Start({"watch", "--update"});
    ASSERT_TRUE(cli.WaitUntil(watcher, [&] { return Holds(cli.ErrorsSoFar(watcher), "\n"); }))
        << cli.ErrorsSoFar(watcher);
    EXPECT_EQ(cli.ErrorsSoFar(watcher), "watching 2 catalogs, 1 on volumes mounted now\n");

    // The disk plugged in at another place than it was catalogued at.
    const std::string strOnline = "online\tDisk\t" + strSecond + "\tWATCHED\n";
    const auto tMount = std::chrono::steady_clock::now();
    ASSERT_TRUE(disk.Mount(strSecond)) << disk.Problem();
    ASSERT_TRUE(cli.WaitUntil(
        watcher, [&] { return Holds(cli.OutputSoFar(watcher), strOnline); }, 5000))
        << cli.OutputSoFar(watcher) << cli.ErrorsSoFar(watcher);
    const std::chrono::duration<double> toLine = std::chrono::steady_clock::now() - tMount;
    EXPECT_LT(toLine.count(), 1.0);
    const std::string strUpdated = cli.CatalogPath("Disk") +
                                   ": 1 added, 1 removed, 1 changed, 1 unchanged files, 2 "
                                   "checksums computed, ";
    ASSERT_TRUE(cli.WaitUntil(watcher, [&] { return Holds(cli.OutputSoFar(watcher), strUpdated); }))
        << cli.OutputSoFar(watcher) << cli.ErrorsSoFar(watcher);
    // The catalog keeps the paths it was made with.
    CliResult search = cli.Run({"search", "--where", "files", "c.jpg", "Disk"});
    EXPECT_EQ(search.strOut, strFirst + "/photos/c.jpg\t3\t" + Md5OfText("new") + "\tDisk\n");
    search = cli.Run({"search", "--where", "files", "a.jpg", "Disk"});
    EXPECT_EQ(search.strOut, strFirst + "/photos/a.jpg\t7\t" + Md5OfText("changed") + "\tDisk\n");
    EXPECT_EQ(cli.Run({"search", "notes.txt", "Disk"}).nExit, 1);
    EXPECT_EQ(cli.Run({"search", "--where", "dirs", strSecond + "*", "Disk"}).nExit, 1);

    // A catalog made while watch runs is watched from the next change on.
    ASSERT_EQ(cli.Run({"create", "Late", strSecond + "/photos"}).nExit, 0);
    ASSERT_TRUE(disk.Unmount());
    const std::string strOffline = "offline\tDisk\t" + strSecond + "\tWATCHED\n";
    ASSERT_TRUE(cli.WaitUntil(watcher, [&] { return Holds(cli.OutputSoFar(watcher), strOffline); }))
        << cli.OutputSoFar(watcher) << cli.ErrorsSoFar(watcher);
    ASSERT_TRUE(disk.Mount(strFirst)) << disk.Problem();
    const std::string strLateUpdated =
        cli.CatalogPath("Late") + ": 0 added, 0 removed, 0 changed, 3 unchanged files";
    ASSERT_TRUE(
        cli.WaitUntil(watcher, [&] { return Holds(cli.OutputSoFar(watcher), strLateUpdated); }))
        << cli.OutputSoFar(watcher) << cli.ErrorsSoFar(watcher);
    search = cli.Run({"search", "--where", "files", "b.jpg", "Late"});
    EXPECT_EQ(search.strOut, strSecond + "/photos/b.jpg\t1\t\tLate\n");

    ::kill(watcher, SIGTERM);
    const CliResult watch = cli.Wait(watcher);
    EXPECT_EQ(watch.nExit, 0) << watch.strErr;
    std::vector<std::string> lines = LinesOf(watch.strOut);
    // A mount elsewhere on the machine (another test) between the making of
    // Late and the unmount lets watch see Late online before it goes.
    std::erase(lines, "offline\tLate\t" + strSecond + "\tWATCHED");
    ASSERT_EQ(lines.size(), 7u) << watch.strOut;
    EXPECT_EQ(lines[0] + "\n", strOnline);
    EXPECT_EQ(lines[1].rfind(strUpdated, 0), 0u) << lines[1];
    EXPECT_EQ(lines[2] + "\n", strOffline);
    EXPECT_EQ(lines[3], "online\tDisk\t" + strFirst + "\tWATCHED");
    EXPECT_EQ(lines[4], "online\tLate\t" + strFirst + "\tWATCHED");
    EXPECT_EQ(lines[5].rfind(cli.CatalogPath("Disk") +
                                 ": 0 added, 0 removed, 0 changed, 3 unchanged files, 0 checksums",
                             0),
              0u)
        << lines[5];
    EXPECT_EQ(lines[6].rfind(strLateUpdated, 0), 0u) << lines[6];
    EXPECT_TRUE(Holds(watch.strErr, "watch ended: stopped by SIGTERM\n")) << watch.strErr;
    // Nothing of the updates is left beside the catalogs.
    EXPECT_EQ(NamesIn(cli.DataFolder()),
              (std::set<std::string>{"Disk.mdb", "Late.mdb", "Plain.mdb"}));
}

TEST(CliVolumeWatchTest, ADiskThatGoesOrASignalDuringAnUpdateLeavesTheCatalogAsItWas) {
    SKIP_WITHOUT_LOOP_MOUNTS("ext4");
    CliProcess cli;
    TestTree tree;
    LoopVolume disk(tree, "ext4", "BIG");
    ASSERT_TRUE(disk.Made()) << disk.Problem();
    const std::string strFirst = tree.Path("first");
    const std::string strSecond = tree.Path("second");
    ASSERT_TRUE(disk.Mount(strFirst)) << disk.Problem();
    tree.MakeDir("first/many");
    for (int i = 0; i < 3000; ++i)
        tree.WriteFile(Concat({"first/many/f", std::to_string(i)}), "");
    ASSERT_EQ(cli.Run({"create", "Big", strFirst}).nExit, 0);
    tree.WriteFile("first/added after", "x");
    ASSERT_TRUE(disk.Unmount());
    const std::string strCatalog = cli.CatalogPath("Big");
    const std::string strBuild = cli.DataFolder() + ".Big.mdb.new";
    const auto digest = FileChecksum(strCatalog);
    ASSERT_TRUE(digest);

    // Listings slow enough that each update takes seconds.
    cli.InjectFaults("KESTREL_FAULT_READDIR_DELAY_US=1000");
    const pid_t watcher = cli.Start({"watch", "--update"});
    ASSERT_TRUE(cli.WaitUntil(watcher, [&] { return Holds(cli.ErrorsSoFar(watcher), "\n"); }));
    const std::string strOnline = "online\tBig\t" + strSecond + "\tBIG\n";
    const std::string strOffline = "offline\tBig\t" + strSecond + "\tBIG\n";

    // Unplugged as its update begins, and again when the update is inside
    // the folder of many files: the walk then keeps reading the unmounted
    // volume, which the system lets go only when the walk closes it.
    for (const bool bInside : {false, true}) {
        ASSERT_TRUE(disk.Mount(strSecond)) << disk.Problem();
        ASSERT_TRUE(cli.WaitUntil(
            watcher,
            [&] { return bInside ? IsOpenIn(watcher, strSecond + "/many") : Exists(strBuild); }))
            << cli.OutputSoFar(watcher) << cli.ErrorsSoFar(watcher);
        ASSERT_TRUE(disk.Unmount());
        const std::string strStopped = "went away from '" + strSecond + "'";
        ASSERT_TRUE(cli.WaitUntil(watcher,
                                  [&] {
                                      const std::string strOut = cli.OutputSoFar(watcher);
                                      return strOut.find(strOffline) != strOut.rfind(strOffline) ||
                                             (!bInside && Holds(strOut, strOffline));
                                  }))
            << cli.OutputSoFar(watcher) << cli.ErrorsSoFar(watcher);
        const std::string strErrors = cli.ErrorsSoFar(watcher);
        EXPECT_TRUE(Holds(strErrors, strStopped)) << strErrors;
        EXPECT_EQ(FileChecksum(strCatalog), digest);
        EXPECT_FALSE(Exists(strBuild));
        EXPECT_TRUE(cli.Running(watcher));
    }
    EXPECT_TRUE(Holds(cli.ErrorsSoFar(watcher), "kestrel-cli: its volume went away from '" +
                                                    strSecond + "': the catalog " + strCatalog +
                                                    " was left as it was\n"))
        << cli.ErrorsSoFar(watcher);

    // Plugged in at its own place, and Ctrl-C while its update runs.
    ASSERT_TRUE(disk.Mount(strFirst)) << disk.Problem();
    ASSERT_TRUE(cli.WaitUntil(watcher, [&] { return IsOpenIn(watcher, strFirst + "/many"); }))
        << cli.OutputSoFar(watcher) << cli.ErrorsSoFar(watcher);
    ::kill(watcher, SIGINT);
    const CliResult watch = cli.Wait(watcher);
    EXPECT_EQ(watch.nExit, 0) << watch.strErr;
    EXPECT_EQ(watch.strOut, strOnline + strOffline + strOnline + strOffline + "online\tBig\t" +
                                strFirst + "\tBIG\n");
    EXPECT_TRUE(Holds(watch.strErr, "kestrel-cli: stopped by SIGINT: the catalog " + strCatalog +
                                        " was left as it was\nwatch ended: stopped by SIGINT\n"))
        << watch.strErr;
    EXPECT_EQ(FileChecksum(strCatalog), digest);
    cli.InjectFaults("KESTREL_FAULT_READDIR_DELAY_US=0");
    EXPECT_EQ(cli.Run({"search", "added after", "Big"}).nExit, 1);
    EXPECT_EQ(NamesIn(cli.DataFolder()), (std::set<std::string>{"Big.mdb"}));
}

TEST(CliVolumeWatchTest, AWatchWaitingForAnotherWriterEndsAtOnceOnASignal) {
    SKIP_WITHOUT_LOOP_MOUNTS("ext4");
    CliProcess cli;
    TestTree tree;
    LoopVolume disk(tree, "ext4", "SHARED");
    ASSERT_TRUE(disk.Made()) << disk.Problem();
    const std::string strFirst = tree.Path("first");
    ASSERT_TRUE(disk.Mount(strFirst)) << disk.Problem();
    tree.MakeDir("first/many");
    for (int i = 0; i < 3000; ++i)
        tree.WriteFile(Concat({"first/many/f", std::to_string(i)}), "");
    ASSERT_EQ(cli.Run({"create", "Shared", strFirst}).nExit, 0);
    tree.WriteFile("first/added after", "x");
    ASSERT_TRUE(disk.Unmount());
    const std::string strCatalog = cli.CatalogPath("Shared");
    const std::string strBuild = cli.DataFolder() + ".Shared.mdb.new";
    const auto digest = FileChecksum(strCatalog);
    ASSERT_TRUE(digest);

    // Two watches see the disk come: the one that updates it first holds
    // the catalog for seconds, the other waits for it.
    cli.InjectFaults("KESTREL_FAULT_READDIR_DELAY_US=2000");
    const pid_t first = cli.Start({"watch", "--update"});
    const pid_t second = cli.Start({"watch", "--update"});
    for (const pid_t watcher : {first, second})
        ASSERT_TRUE(cli.WaitUntil(watcher, [&] { return Holds(cli.ErrorsSoFar(watcher), "\n"); }))
            << cli.ErrorsSoFar(watcher);
    ASSERT_TRUE(disk.Mount(strFirst)) << disk.Problem();
    pid_t writer = 0;
    ASSERT_TRUE(cli.WaitUntil(first, [&] {
        writer = IsOpenIn(first, strBuild) ? first : IsOpenIn(second, strBuild) ? second : 0;
        return writer != 0;
    })) << cli.ErrorsSoFar(first);
    const pid_t waiter = writer == first ? second : first;
    const std::string strOnline = "online\tShared\t" + strFirst + "\tSHARED\n";
    ASSERT_TRUE(cli.WaitUntil(waiter, [&] { return Holds(cli.OutputSoFar(waiter), strOnline); }))
        << cli.OutputSoFar(waiter) << cli.ErrorsSoFar(waiter);

    // Stopped as a service manager stops it: one SIGTERM, and it ends while
    // the other still writes.
    ::kill(waiter, SIGTERM);
    const auto tStop = std::chrono::steady_clock::now();
    while (cli.Running(waiter) &&
           std::chrono::steady_clock::now() - tStop < std::chrono::seconds(2))
        ::usleep(20 * 1000);
    EXPECT_FALSE(cli.Running(waiter));
    EXPECT_TRUE(cli.Running(writer));
    const CliResult waited = cli.Wait(waiter);
    EXPECT_EQ(waited.nExit, 0) << waited.strErr;
    EXPECT_TRUE(Holds(waited.strErr, "kestrel-cli: stopped by SIGTERM: the catalog " + strCatalog +
                                         " was left as it was\nwatch ended: stopped by SIGTERM\n"))
        << waited.strErr;
    EXPECT_EQ(FileChecksum(strCatalog), digest);

    ::kill(writer, SIGTERM);
    EXPECT_EQ(cli.Wait(writer).nExit, 0);
    EXPECT_EQ(FileChecksum(strCatalog), digest);
    EXPECT_EQ(NamesIn(cli.DataFolder()), (std::set<std::string>{"Shared.mdb"}));
}

TEST(CliVolumeWatchTest, AWatchWhoseReaderStopsReadingStillEndsAtASignal) {
    SKIP_WITHOUT_LOOP_MOUNTS("ext4");
    CliProcess cli;
    TestTree tree;
    LoopVolume disk(tree, "ext4", "PIPED");
    ASSERT_TRUE(disk.Made()) << disk.Problem();
    const std::string strFirst = tree.Path("first");
    ASSERT_TRUE(disk.Mount(strFirst)) << disk.Problem();
    const std::string strLong(200, 'n'); // long lines fill the pipe soon
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(cli.Run({"create", strLong + std::to_string(i), strFirst}).nExit, 0);
    ASSERT_TRUE(disk.Unmount());

    // watch | a reader that never reads, through a pipe of one page.
    const std::string strFifo = tree.Path("fifo");
    ASSERT_EQ(::mkfifo(strFifo.c_str(), 0600), 0);
    const int fdRead = ::open(strFifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fdRead, 0);
    ASSERT_GT(::fcntl(fdRead, F_SETPIPE_SZ, 4096), 0);
    const pid_t watcher = cli.Start({"watch"}, "exec \"$@\" > '" + strFifo + "'");
    ASSERT_TRUE(cli.WaitUntil(watcher, [&] { return Holds(cli.ErrorsSoFar(watcher), "\n"); }))
        << cli.ErrorsSoFar(watcher);
    // The disk plugged in and out until watch tells no more: it then waits
    // for its reader.
    int nQueued = 0;
    bool bWaiting = false;
    for (int nChanges = 0; nChanges < 40 && !bWaiting; ++nChanges) {
        if (nChanges % 2 == 0)
            ASSERT_TRUE(disk.Mount(strFirst)) << disk.Problem();
        else
            ASSERT_TRUE(disk.Unmount());
        const int nBefore = nQueued;
        bWaiting = !cli.WaitUntil(
            watcher, [&] { return ::ioctl(fdRead, FIONREAD, &nQueued) == 0 && nQueued > nBefore; },
            1000);
    }
    ASSERT_TRUE(bWaiting);
    ASSERT_TRUE(cli.Running(watcher)) << cli.ErrorsSoFar(watcher);

    ::kill(watcher, SIGTERM);
    const auto tStop = std::chrono::steady_clock::now();
    while (cli.Running(watcher) &&
           std::chrono::steady_clock::now() - tStop < std::chrono::seconds(2))
        ::usleep(20 * 1000);
    EXPECT_FALSE(cli.Running(watcher));
    ::close(fdRead); // lets a watch still writing go
    const CliResult watch = cli.Wait(watcher);
    EXPECT_EQ(watch.nExit, 0) << watch.strErr;
    EXPECT_TRUE(Holds(watch.strErr, "watch ended: stopped by SIGTERM\n")) << watch.strErr;
}
