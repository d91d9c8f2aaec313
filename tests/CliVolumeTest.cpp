// SPDX-License-Identifier: GPL-3.0-or-later

// Disks that come and go: a catalog of a real loop-mounted volume, asked
// for while the volume is unplugged, mounted elsewhere, or replaced by
// another volume of the same name, through the real kestrel-cli.
#include "CliProcess.h"
#include "LoopVolume.h"
#include "TestTree.h"
#include "volume/MountTable.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::string FileBytes(const std::string& strPath) {
    std::ifstream in(strPath, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The state column of the volumes line of catalog strEntry.
std::string StateOf(const std::string& strVolumes, const std::string& strEntry) {
    std::istringstream lines(strVolumes);
    for (std::string strLine; std::getline(lines, strLine);) {
        if (strLine.rfind(strEntry + "\t", 0) != 0)
            continue;
        std::vector<std::string> fields;
        std::istringstream parts(strLine);
        for (std::string strField; std::getline(parts, strField, '\t');)
            fields.push_back(strField);
        return fields.size() > 7 ? fields[7] : "<short line: " + strLine + ">";
    }
    return "<no line>";
}

class CliVolumeTest : public testing::TestWithParam<const char*> {};

// The threads of process pid now.
int ThreadsOf(pid_t pid) {
    int nThreads = 0;
    if (DIR* pDir = ::opendir(("/proc/" + std::to_string(pid) + "/task").c_str())) {
        while (const dirent* pEntry = ::readdir(pDir))
            nThreads += pEntry->d_name[0] != '.';
        ::closedir(pDir);
    }
    return nThreads;
}

// The most threads process pid had at once while it ran.
int MostThreadsOf(CliProcess& cli, pid_t pid) {
    int nMost = 0;
    cli.WaitUntil(pid, [&] {
        nMost = std::max(nMost, ThreadsOf(pid));
        return false;
    });
    return nMost;
}

// A mount made by a mount(8) command line ("-o loop IMAGE", "--bind FOLDER")
// on strFolder for the life of the object.
class ScopedMount {
public:
    ScopedMount(const std::string& strArgs, const std::string& strFolder)
        : m_strFolder(strFolder),
          m_bMounted(std::system(("mount " + strArgs + " '" + strFolder + "'").c_str()) == 0) {}
    ~ScopedMount() {
        if (m_bMounted)
            ::umount2(m_strFolder.c_str(), MNT_DETACH);
    }
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;
    bool Mounted() const { return m_bMounted; }

private:
    std::string m_strFolder;
    bool m_bMounted;
};

} // namespace

TEST_P(CliVolumeTest, FollowsTheDiskWhereverItIsMounted) {
    const char* pszFsType = GetParam();
    SKIP_WITHOUT_LOOP_MOUNTS(pszFsType);
    TestTree tree;
    CliProcess cli;
    // A new one each run: tests run at the same time, here and in other
    // processes, must not find each other's volume.
    const std::string strUuid = FileBytes("/proc/sys/kernel/random/uuid").substr(0, 36);
    ASSERT_EQ(strUuid.size(), 36u);
    LoopVolume disk(tree, pszFsType, "BACKUP", 64, strUuid);
    ASSERT_TRUE(disk.Mount(tree.Path("media-anna"))) << disk.Problem();
    const std::string strFirst = tree.Path("media-anna");
    tree.MakeDir("media-anna/photos/2019");
    tree.WriteFile("media-anna/photos/img 1.jpg", "first picture");
    tree.WriteFile("media-anna/photos/2019/img2.jpg", "second picture");

    ASSERT_EQ(cli.Run({"create", "--checksum", "Backup", strFirst + "/photos"}).nExit, 0);
    ASSERT_EQ(cli.Run({"note", "Backup", "shelf 3, blue box"}).nExit, 0);
    const CliResult info = cli.Run({"info", "Backup"});
    // Read from the device itself: this machine has no /dev/disk/by-uuid.
    EXPECT_NE(info.strOut.find("UUID: " + strUuid + "\n"), std::string::npos) << info.strOut;
    EXPECT_NE(info.strOut.find("Label: BACKUP\n"), std::string::npos) << info.strOut;
    EXPECT_NE(info.strOut.find(std::string("File system: ") + pszFsType + "\n"), std::string::npos);
    EXPECT_NE(info.strOut.find("Note: shelf 3, blue box\n"), std::string::npos);
    EXPECT_EQ(StateOf(cli.Run({"volumes"}).strOut, "Backup"), "online at " + strFirst);

    // Unplugged: the disk to fetch is named, and nothing is changed.
    ASSERT_TRUE(disk.Unmount());
    EXPECT_EQ(StateOf(cli.Run({"volumes"}).strOut, "Backup"), "offline");
    const std::string strCatalog = FileBytes(cli.CatalogPath("Backup"));
    const CliResult absent = cli.Run({"verify", "Backup"});
    EXPECT_EQ(absent.nExit, 1);
    EXPECT_NE(absent.strErr.find("label 'BACKUP', UUID " + strUuid), std::string::npos)
        << absent.strErr;
    EXPECT_NE(absent.strErr.find("Note: shelf 3, blue box"), std::string::npos);
    EXPECT_NE(absent.strOut.find("0 not found"), std::string::npos) << absent.strOut;
    const CliResult refused = cli.Run({"update", "Backup"});
    EXPECT_EQ(refused.nExit, 1);
    EXPECT_NE(refused.strErr.find("label 'BACKUP'"), std::string::npos) << refused.strErr;
    EXPECT_NE(refused.strErr.find("shelf 3, blue box"), std::string::npos) << refused.strErr;
    EXPECT_TRUE(FileBytes(cli.CatalogPath("Backup")) == strCatalog) << "the catalog was changed";
    EXPECT_EQ(HitNames(cli.Run({"search", "--offline", "*.jpg"}).strOut), "img 1.jpg,img2.jpg");
    EXPECT_EQ(cli.Run({"search", "--online", "*.jpg"}).nExit, 1);
    EXPECT_NE(cli.Run({"search", "--format", "json", "img2.jpg"}).strOut.find("\"online\":false"),
              std::string::npos);

    // Another volume of the same label at the catalogued place is not the disk.
    LoopVolume other(tree, pszFsType, "BACKUP");
    ASSERT_TRUE(other.Mount(strFirst)) << other.Problem();
    tree.MakeDir("media-anna/photos");
    EXPECT_EQ(StateOf(cli.Run({"volumes"}).strOut, "Backup"), "offline");
    const CliResult wrongDisk = cli.Run({"update", "Backup"});
    EXPECT_EQ(wrongDisk.nExit, 1);
    EXPECT_NE(wrongDisk.strErr.find("another volume"), std::string::npos) << wrongDisk.strErr;
    EXPECT_TRUE(FileBytes(cli.CatalogPath("Backup")) == strCatalog) << "the catalog was changed";
    ASSERT_TRUE(other.Unmount());

    // Mounted elsewhere: found there, checked there, updated there, and the
    // catalog keeps its paths as catalogued.
    const std::string strSecond = tree.Path("mnt-backup");
    ASSERT_TRUE(disk.Mount(strSecond)) << disk.Problem();
    EXPECT_EQ(StateOf(cli.Run({"volumes"}).strOut, "Backup"), "online at " + strSecond);
    const CliResult same = cli.Run({"verify", "Backup"});
    EXPECT_EQ(same.nExit, 0) << same.strOut << same.strErr;
    EXPECT_NE(same.strOut.find("2 unchanged, 0 changed, 0 not found"), std::string::npos)
        << same.strOut;
    tree.WriteFile("mnt-backup/photos/2019/img2.jpg", "second picture, edited");
    const CliResult changed = cli.Run({"verify", "Backup"});
    EXPECT_EQ(changed.nExit, 1);
    EXPECT_NE(changed.strOut.find("File '" + strFirst + "/photos/2019/img2.jpg' was changed"),
              std::string::npos)
        << changed.strOut;
    tree.WriteFile("mnt-backup/photos/img3.jpg", "third picture");
    const CliResult update = cli.Run({"update", "Backup"});
    ASSERT_EQ(update.nExit, 0) << update.strErr;
    EXPECT_NE(update.strOut.find("1 added, 0 removed, 1 changed, 1 unchanged files"),
              std::string::npos)
        << update.strOut;
    const CliResult hits = cli.Run({"search", "--online", "img3.jpg"});
    EXPECT_EQ(hits.strOut.rfind(strFirst + "/photos/img3.jpg\t13\t", 0), 0u) << hits.strOut;
    const CliResult updated = cli.Run({"info", "Backup"});
    EXPECT_NE(updated.strOut.find("Mount point: " + strFirst + "\n"), std::string::npos);
    EXPECT_NE(updated.strOut.find("Note: shelf 3, blue box\n"), std::string::npos);
    EXPECT_NE(updated.strOut.find("UUID: " + strUuid + "\n"), std::string::npos);
    EXPECT_EQ(StateOf(cli.Run({"volumes"}).strOut, "Backup"), "online at " + strSecond);
}

// A folder of a volume mounted on its own (a bind mount, as a btrfs
// subvolume is): the volume is found when it is mounted whole elsewhere.
TEST(CliVolumeFolderTest, FindsAFolderOfTheVolumeWhenTheVolumeIsMountedWhole) {
    SKIP_WITHOUT_LOOP_MOUNTS("ext4");
    TestTree tree;
    CliProcess cli;
    LoopVolume disk(tree, "ext4", "HOMES");
    ASSERT_TRUE(disk.Mount(tree.Path("whole"))) << disk.Problem();
    tree.MakeDir("whole/@home/anna");
    tree.WriteFile("whole/@home/anna/letter.txt", "dear");
    tree.MakeDir("home");
    ASSERT_EQ(
        std::system(("mount --bind '" + tree.Path("whole/@home") + "' '" + tree.Path("home") + "'")
                        .c_str()),
        0);
    // A failing check must not leave the bind mount behind.
    const std::string strBind = tree.Path("home");
    const std::unique_ptr<const std::string, void (*)(const std::string*)> unbind(
        &strBind, [](const std::string* pPath) { ::umount2(pPath->c_str(), MNT_DETACH); });
    ASSERT_TRUE(disk.Unmount()); // the bind mount holds the volume
    const CliResult made = cli.Run({"create", "--checksum", "Homes", tree.Path("home/anna")});
    ASSERT_EQ(made.nExit, 0) << made.strErr;
    ASSERT_EQ(::umount(strBind.c_str()), 0);
    EXPECT_EQ(StateOf(cli.Run({"volumes"}).strOut, "Homes"), "offline");

    ASSERT_TRUE(disk.Mount(tree.Path("elsewhere"))) << disk.Problem();
    EXPECT_EQ(StateOf(cli.Run({"volumes"}).strOut, "Homes"), "online at " + tree.Path("elsewhere"));
    const CliResult verify = cli.Run({"verify", "Homes"});
    EXPECT_EQ(verify.nExit, 0) << verify.strOut << verify.strErr;
    EXPECT_NE(verify.strOut.find("1 unchanged"), std::string::npos) << verify.strOut;
    tree.WriteFile("elsewhere/@home/anna/reply.txt", "thanks");
    ASSERT_EQ(cli.Run({"update", "Homes"}).nExit, 0);
    EXPECT_EQ(cli.Run({"search", "reply.txt"}).strOut.rfind(tree.Path("home/anna/reply.txt"), 0),
              0u);
}

// A disk another volume is mounted over is hidden there: what shows at its
// place is not the disk, while a second mount of it elsewhere is.
TEST(CliVolumePlaceTest, ADiskHiddenByAVolumeMountedOverItIsNotThere) {
    SKIP_WITHOUT_LOOP_MOUNTS("ext4");
    TestTree tree;
    CliProcess cli;
    const std::string strPlace = tree.Path("media");
    LoopVolume disk(tree, "ext4", "BACKUP");
    ASSERT_TRUE(disk.Mount(strPlace)) << disk.Problem();
    tree.MakeDir("media/photos");
    tree.WriteFile("media/photos/a.jpg", "a picture");
    ASSERT_EQ(cli.Run({"create", "--checksum", "Backup", strPlace + "/photos"}).nExit, 0);
    const std::string strCatalog = FileBytes(cli.CatalogPath("Backup"));

    LoopVolume other(tree, "ext4", "OTHER");
    ASSERT_TRUE(other.Mount(strPlace)) << other.Problem();
    tree.MakeDir("media/photos");
    tree.WriteFile("media/photos/other.jpg", "another disk's picture");
    EXPECT_EQ(StateOf(cli.Run({"volumes"}).strOut, "Backup"), "offline");
    const CliResult update = cli.Run({"update", "Backup"});
    EXPECT_EQ(update.nExit, 1) << update.strOut;
    EXPECT_NE(update.strErr.find("another volume"), std::string::npos) << update.strErr;
    EXPECT_TRUE(FileBytes(cli.CatalogPath("Backup")) == strCatalog) << "the catalog changed";

    const std::string strSecond = tree.Path("mnt2");
    tree.MakeDir("mnt2");
    const ScopedMount second("-o loop '" + disk.Image() + "'", strSecond);
    ASSERT_TRUE(second.Mounted());
    EXPECT_EQ(StateOf(cli.Run({"volumes"}).strOut, "Backup"), "online at " + strSecond);
    const CliResult verify = cli.Run({"verify", "Backup"});
    EXPECT_EQ(verify.nExit, 0) << verify.strOut << verify.strErr;
    EXPECT_NE(verify.strOut.find("1 unchanged, 0 changed, 0 not found"), std::string::npos)
        << verify.strOut;
}

// A memory file system at the disk's place tells no UUID or label, as a
// disk this user may not read does not; but it is no disk of the catalogued
// file system.
TEST(CliVolumePlaceTest, AVolumeOfAnotherFileSystemInTheDisksPlaceIsNotTheDisk) {
    SKIP_WITHOUT_LOOP_MOUNTS("ext4");
    TestTree tree;
    CliProcess cli;
    const std::string strPlace = tree.Path("media");
    LoopVolume disk(tree, "ext4", "BACKUP");
    ASSERT_TRUE(disk.Mount(strPlace)) << disk.Problem();
    tree.MakeDir("media/photos");
    tree.WriteFile("media/photos/a.jpg", "a picture");
    ASSERT_EQ(cli.Run({"create", "--checksum", "Backup", strPlace + "/photos"}).nExit, 0);
    const std::string strCatalog = FileBytes(cli.CatalogPath("Backup"));
    ASSERT_TRUE(disk.Unmount());

    const ScopedTmpfs memory(strPlace, "1m");
    ASSERT_TRUE(memory.Mounted());
    tree.MakeDir("media/photos");
    tree.WriteFile("media/photos/b.jpg", "in memory");
    EXPECT_EQ(StateOf(cli.Run({"volumes"}).strOut, "Backup"), "offline");
    const CliResult update = cli.Run({"update", "Backup"});
    EXPECT_EQ(update.nExit, 1) << update.strOut;
    EXPECT_NE(update.strErr.find("another volume"), std::string::npos) << update.strErr;
    EXPECT_TRUE(FileBytes(cli.CatalogPath("Backup")) == strCatalog) << "the catalog changed";
    const CliResult verify = cli.Run({"verify", "Backup"});
    EXPECT_EQ(verify.nExit, 1);
    EXPECT_NE(verify.strErr.find("not plugged in: label 'BACKUP'"), std::string::npos)
        << verify.strErr;
}

// A folder of a disk shown elsewhere by a bind mount is catalogued where it
// is shown; the disk's own mount shows it at its folder there.
TEST(CliVolumePlaceTest, AFolderCataloguedThroughABindMountIsFoundOnTheDisk) {
    SKIP_WITHOUT_LOOP_MOUNTS("ext4");
    TestTree tree;
    CliProcess cli;
    LoopVolume disk(tree, "ext4", "BACKUP");
    ASSERT_TRUE(disk.Mount(tree.Path("media"))) << disk.Problem();
    tree.MakeDir("media/photos/2019");
    tree.WriteFile("media/photos/a.jpg", "a picture");
    tree.WriteFile("media/photos/2019/b.jpg", "another picture");
    tree.WriteFile("media/elsewhere.txt", "not in the shared folder");
    const std::string strShare = tree.Path("share");
    tree.MakeDir("share");
    {
        const ScopedMount bind("--bind '" + tree.Path("media/photos") + "'", strShare);
        ASSERT_TRUE(bind.Mounted());
        ASSERT_EQ(cli.Run({"create", "--checksum", "Share", strShare}).nExit, 0);
        EXPECT_EQ(StateOf(cli.Run({"volumes"}).strOut, "Share"), "online at " + strShare);
        const CliResult update = cli.Run({"update", "Share"});
        ASSERT_EQ(update.nExit, 0) << update.strErr;
        EXPECT_NE(update.strOut.find("0 added, 0 removed, 0 changed, 2 unchanged files"),
                  std::string::npos)
            << update.strOut;
    }

    // The bind mount gone, the folder is checked and walked on the disk.
    const CliResult verify = cli.Run({"verify", "Share"});
    EXPECT_EQ(verify.nExit, 0) << verify.strOut << verify.strErr;
    EXPECT_NE(verify.strOut.find("2 unchanged, 0 changed, 0 not found"), std::string::npos)
        << verify.strOut;
    tree.WriteFile("media/photos/c.jpg", "a third picture");
    const CliResult update = cli.Run({"update", "Share"});
    ASSERT_EQ(update.nExit, 0) << update.strErr;
    EXPECT_NE(update.strOut.find("1 added, 0 removed, 0 changed, 2 unchanged files"),
              std::string::npos)
        << update.strOut;
    EXPECT_EQ(HitNames(cli.Run({"search", "*", "Share"}).strOut), "a.jpg,b.jpg,c.jpg");
    EXPECT_EQ(cli.Run({"search", "c.jpg"}).strOut.rfind(strShare + "/c.jpg\t", 0), 0u);

    ASSERT_TRUE(disk.Unmount());
    const std::string strSecond = tree.Path("mnt2");
    ASSERT_TRUE(disk.Mount(strSecond)) << disk.Problem();
    const CliResult moved = cli.Run({"verify", "Share"});
    EXPECT_EQ(moved.nExit, 0) << moved.strOut << moved.strErr;
    EXPECT_NE(moved.strOut.find("3 unchanged, 0 changed, 0 not found"), std::string::npos)
        << moved.strOut;
}

// A start directory typed through a link: when the disk is mounted
// elsewhere, the link still leads to its old place, where another volume
// may be now. Neither update nor verify may take that volume for the disk.
TEST(CliVolumePlaceTest, AStartDirectoryThatNoLongerLeadsToTheDiskIsNotWalked) {
    SKIP_WITHOUT_LOOP_MOUNTS("ext4");
    TestTree tree;
    CliProcess cli;
    const std::string strPlace = tree.Path("media");
    LoopVolume disk(tree, "ext4", "BACKUP");
    ASSERT_TRUE(disk.Mount(strPlace)) << disk.Problem();
    tree.MakeDir("media/photos");
    tree.WriteFile("media/photos/a.jpg", "a picture");
    tree.MakeSymlink(strPlace, "disk");
    ASSERT_EQ(cli.Run({"create", "--checksum", "Backup", tree.Path("disk/photos")}).nExit, 0);
    const CliResult inPlace = cli.Run({"update", "Backup"});
    ASSERT_EQ(inPlace.nExit, 0) << inPlace.strErr;
    const std::string strCatalog = FileBytes(cli.CatalogPath("Backup"));

    ASSERT_TRUE(disk.Unmount());
    ASSERT_TRUE(disk.Mount(tree.Path("mnt2"))) << disk.Problem();
    LoopVolume other(tree, "ext4", "OTHER");
    ASSERT_TRUE(other.Mount(strPlace)) << other.Problem();
    tree.MakeDir("media/photos");
    tree.WriteFile("media/photos/a.jpg", "a picture");
    tree.WriteFile("media/photos/other.jpg", "another disk's picture");

    const CliResult update = cli.Run({"update", "Backup"});
    EXPECT_EQ(update.nExit, 1) << update.strOut;
    EXPECT_NE(update.strErr.find("does not lie on the volume"), std::string::npos) << update.strErr;
    EXPECT_TRUE(FileBytes(cli.CatalogPath("Backup")) == strCatalog) << "the catalog changed";
    const CliResult verify = cli.Run({"verify", "Backup"});
    EXPECT_EQ(verify.nExit, 1) << verify.strOut;
    EXPECT_NE(verify.strErr.find("does not lie on the volume"), std::string::npos) << verify.strErr;
    EXPECT_NE(verify.strOut.find("0 unchanged"), std::string::npos) << verify.strOut;
}

// verify follows no links: a folder of the disk replaced by a link to a copy
// off the disk holds none of the catalogued files.
TEST(CliVolumePlaceTest, VerifyDoesNotFollowALinkThatReplacedACataloguedFolder) {
    SKIP_WITHOUT_LOOP_MOUNTS("ext4");
    TestTree tree;
    CliProcess cli;
    LoopVolume disk(tree, "ext4", "BACKUP");
    ASSERT_TRUE(disk.Mount(tree.Path("media"))) << disk.Problem();
    tree.MakeDir("media/photos/2019");
    tree.WriteFile("media/photos/a.jpg", "a picture");
    tree.WriteFile("media/photos/2019/b.jpg", "another picture");
    const std::string strFirst = tree.Path("media");
    ASSERT_EQ(cli.Run({"create", "--checksum", "Backup", strFirst + "/photos"}).nExit, 0);
    ASSERT_TRUE(disk.Unmount());
    ASSERT_TRUE(disk.Mount(tree.Path("mnt2"))) << disk.Problem();

    tree.MakeDir("copy");
    tree.WriteFile("copy/b.jpg", "another picture");
    ASSERT_EQ(std::system(("rm -r '" + tree.Path("mnt2/photos/2019") + "'").c_str()), 0);
    tree.MakeSymlink(tree.Path("copy"), "mnt2/photos/2019");
    const CliResult verify = cli.Run({"verify", "Backup"});
    EXPECT_EQ(verify.nExit, 1) << verify.strOut << verify.strErr;
    EXPECT_NE(verify.strOut.find("File '" + strFirst + "/photos/2019/b.jpg' not found"),
              std::string::npos)
        << verify.strOut;
    EXPECT_NE(verify.strOut.find("1 unchanged, 0 changed, 1 not found"), std::string::npos)
        << verify.strOut;
}

// A disk mounted elsewhere is hashed as its own device asks (one thread on
// a spinning disk), not as whatever now holds its catalogued place.
TEST(CliVolumePlaceTest, ADiskMountedElsewhereIsHashedAsItsOwnDeviceAsks) {
    SKIP_WITHOUT_LOOP_MOUNTS("ext4");
    if (std::thread::hardware_concurrency() < 2)
        GTEST_SKIP() << "one core: every disk is hashed by one thread";
    TestTree tree;
    CliProcess cli;
    LoopVolume disk(tree, "ext4", "BACKUP");
    ASSERT_TRUE(disk.Mount(tree.Path("media"))) << disk.Problem();
    // A loop device says it spins, or not, as it is told.
    auto spin = [&](const std::string& strMountPoint) {
        for (const MountEntry& mount : ReadMountTable())
            if (mount.strMountPoint == strMountPoint && mount.strSource.rfind("/dev/", 0) == 0) {
                std::ofstream rotational("/sys/block/" + mount.strSource.substr(5) +
                                         "/queue/rotational");
                rotational << "1\n";
                return static_cast<bool>(rotational.flush());
            }
        return false;
    };
    if (!spin(tree.Path("media")))
        GTEST_SKIP() << "the loop device cannot be told it spins";
    tree.MakeDir("media/photos");
    for (int i = 0; i < 40; ++i)
        tree.WriteFile("media/photos/" + std::to_string(i) + ".jpg",
                       "picture " + std::to_string(i));
    ASSERT_EQ(cli.Run({"create", "--checksum", "Backup", tree.Path("media/photos")}).nExit, 0);
    cli.InjectFaults("KESTREL_FAULT_READDIR_DELAY_US=20000");
    const int nInPlace = MostThreadsOf(cli, cli.Start({"update", "Backup"}));

    ASSERT_TRUE(disk.Unmount());
    ASSERT_TRUE(disk.Mount(tree.Path("mnt2"))) << disk.Problem();
    ASSERT_TRUE(spin(tree.Path("mnt2")));
    const pid_t moved = cli.Start({"update", "Backup"});
    EXPECT_EQ(MostThreadsOf(cli, moved), nInPlace);
    const CliResult update = cli.Wait(moved);
    EXPECT_EQ(update.nExit, 0) << update.strErr;
}

// volumes and note name the catalog their failure came from, as every
// command does: one whose catalog_info another program made otherwise, and
// one this user may read but not write.
TEST(CliVolumeMessagesTest, FailuresNameTheCatalogTheyCameFrom) {
    TestTree tree;
    CliProcess cli;
    tree.MakeDir("disk");
    ASSERT_EQ(cli.Run({"create", "Disk", tree.Path("disk")}).nExit, 0);
    const std::string strOdd = cli.CatalogPath("Odd");
    const CliResult made = RunPython(tree,
                                     "import sqlite3, sys\n"
                                     "db = sqlite3.connect(sys.argv[1])\n"
                                     "db.execute('CREATE TABLE dirs (dir_id INTEGER PRIMARY KEY, "
                                     "dir_name TEXT)')\n"
                                     "db.execute('CREATE TABLE files (file_id INTEGER PRIMARY KEY, "
                                     "dir_id INTEGER, file_name TEXT)')\n"
                                     "db.execute('CREATE TABLE catalog_info (k TEXT, v TEXT)')\n"
                                     "db.commit()\n",
                                     {strOdd});
    ASSERT_EQ(made.nExit, 0) << made.strOut;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"volumes", "Disk", "Odd"},
          std::vector<std::string>{"note", "Odd"}, std::vector<std::string>{"note", "Odd", "x"}}) {
        const CliResult result = cli.Run(args);
        EXPECT_NE(result.nExit, 0) << args[0];
        EXPECT_NE(result.strErr.find("kestrel-cli: " + strOdd + ": no such column"),
                  std::string::npos)
            << args[0] << ": " << result.strErr;
    }

    if (::geteuid() != 0)
        GTEST_SKIP() << "a catalog root may not write needs an ordinary user";
    ASSERT_EQ(std::system(("chown -R 65534:65534 '" + cli.DataFolder() + "'").c_str()), 0);
    ASSERT_EQ(::chmod(cli.CatalogPath("Disk").c_str(), 0444), 0);
    cli.DropRoot(true);
    const CliResult readOnly = cli.Run({"note", "Disk", "shelf 3"});
    EXPECT_EQ(readOnly.nExit, 1);
    EXPECT_NE(readOnly.strErr.find(cli.CatalogPath("Disk") + ": attempt to write a readonly"),
              std::string::npos)
        << readOnly.strErr;
}

// A UUID another program wrote in capitals (as FAT's are shown) names the
// same volume as blkid's small letters.
TEST(CliVolumePlaceTest, AUuidWrittenInCapitalsIsTheSameDisk) {
    SKIP_WITHOUT_LOOP_MOUNTS("ext4");
    TestTree tree;
    CliProcess cli;
    LoopVolume disk(tree, "ext4", "CASED");
    ASSERT_TRUE(disk.Mount(tree.Path("first"))) << disk.Problem();
    tree.WriteFile("first/a.jpg", "a picture");
    ASSERT_EQ(cli.Run({"create", "Cased", tree.Path("first")}).nExit, 0);
    const CliResult upper = RunPython(tree,
                                      "import sqlite3, sys\n"
                                      "db = sqlite3.connect(sys.argv[1])\n"
                                      "db.execute(\"UPDATE catalog_info SET value=upper(value) "
                                      "WHERE key='fs_uuid'\")\n"
                                      "db.commit()\n"
                                      "print(db.execute(\"SELECT value FROM catalog_info "
                                      "WHERE key='fs_uuid'\").fetchone()[0])\n",
                                      {cli.CatalogPath("Cased")});
    ASSERT_EQ(upper.nExit, 0) << upper.strOut;
    ASSERT_NE(upper.strOut.find_first_of("ABCDEF"), std::string::npos) << upper.strOut;
    ASSERT_TRUE(disk.Unmount());
    const std::string strSecond = tree.Path("second");
    ASSERT_TRUE(disk.Mount(strSecond)) << disk.Problem();
    tree.WriteFile("second/b.jpg", "another picture");

    EXPECT_EQ(StateOf(cli.Run({"volumes"}).strOut, "Cased"), "online at " + strSecond);
    const CliResult update = cli.Run({"update", "Cased"});
    EXPECT_EQ(update.nExit, 0) << update.strErr;
    EXPECT_NE(update.strOut.find(": 1 added, 0 removed, 0 changed, 1 unchanged"), std::string::npos)
        << update.strOut;
    const CliResult search = cli.Run({"search", "--online", "--where", "files", "*.jpg"});
    EXPECT_EQ(HitNames(search.strOut), "a.jpg,b.jpg") << search.strOut << search.strErr;
}

INSTANTIATE_TEST_SUITE_P(FileSystems, CliVolumeTest, testing::Values("ext4", "xfs"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });

// A user who may not read the devices, on a machine without /dev/disk/by-uuid,
// learns nothing of a volume's identity: another disk of the same file
// system at the catalogued place (another machine's root file system, for a
// catalog made there) must not pass for the catalogued one, nor be walked
// into its catalog.
TEST(CliVolumePlaceTest, AnUnreadableVolumeOfAnotherSizeAtTheDisksPlaceIsNotTheDisk) {
    SKIP_WITHOUT_LOOP_MOUNTS("ext4");
    TestTree tree;
    CliProcess cli;
    const std::string strPlace = tree.Path("media");
    LoopVolume disk(tree, "ext4", "BACKUP", 64);
    ASSERT_TRUE(disk.Mount(strPlace)) << disk.Problem();
    tree.MakeDir("media/photos");
    tree.WriteFile("media/photos/a.jpg", "a picture");
    ASSERT_EQ(cli.Run({"create", "--checksum", "Backup", strPlace + "/photos"}).nExit, 0);
    ASSERT_EQ(std::system(("chmod -R a+rwX '" + tree.Root() + "'").c_str()), 0);
    ASSERT_TRUE(disk.Unmount());

    LoopVolume other(tree, "ext4", "OTHER", 80);
    ASSERT_TRUE(other.Mount(strPlace)) << other.Problem();
    tree.MakeDir("media/photos");
    ASSERT_EQ(std::system(("chmod -R a+rwX '" + strPlace + "'").c_str()), 0);
    const std::string strCatalog = FileBytes(cli.CatalogPath("Backup"));
    cli.DropRoot(true);
    EXPECT_EQ(StateOf(cli.Run({"volumes"}).strOut, "Backup"), "offline");
    EXPECT_EQ(cli.Run({"update", "Backup"}).nExit, 1);
    EXPECT_TRUE(FileBytes(cli.CatalogPath("Backup")) == strCatalog) << "the catalog changed";
    ASSERT_TRUE(other.Unmount());

    // The disk itself at its place is taken as it, by its place.
    ASSERT_TRUE(disk.Mount(strPlace)) << disk.Problem();
    EXPECT_EQ(StateOf(cli.Run({"volumes"}).strOut, "Backup"),
              "online at " + strPlace +
                  " (by mount point: the volume there tells no UUID or label)");
}
