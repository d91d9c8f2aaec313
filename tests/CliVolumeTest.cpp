// Disks that come and go: a catalog of a real loop-mounted volume, asked
// for while the volume is unplugged, mounted elsewhere, or replaced by
// another volume of the same name, through the real kestrel-cli.
#include "CliProcess.h"
#include "LoopVolume.h"
#include "TestTree.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <sys/mount.h>

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

INSTANTIATE_TEST_SUITE_P(FileSystems, CliVolumeTest, testing::Values("ext4", "xfs"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });
