// SPDX-License-Identifier: GPL-3.0-or-later

#include "LoopVolume.h"
#include "TestTree.h"
#include "volume/VolumeIdentity.h"
#include "volume/VolumeLocator.h"

#include <gtest/gtest.h>

// The kernels the tests run on may have no FAT driver: a memory card's
// identity is read from its unmounted image, through the code that reads a
// mounted device's.
TEST(VolumeTest, ReadsTheIdentityOfAnUnmountedFatCardAndOfExt4) {
    TestTree tree;
    LoopVolume card(tree, "vfat", "HOLIDAY", 64, "1a2b3c4d");
    if (!card.Made())
        GTEST_SKIP() << "FAT image: " << card.Problem();
    const VolumeIdentity fat = ProbeVolumeIdentity(card.Image());
    EXPECT_EQ(fat.strFsType, "vfat");
    EXPECT_EQ(fat.strLabel, "HOLIDAY");
    // FAT's volume serial number, as blkid writes it.
    EXPECT_EQ(fat.strUuid, "1A2B-3C4D");
    ASSERT_TRUE(fat.nDeviceBytes);
    EXPECT_EQ(*fat.nDeviceBytes, 64u << 20);

    LoopVolume disk(tree, "ext4", "BACKUP", 64, "0b3c1a5e-8f6d-4c2a-9e7b-1d2c3b4a5f60");
    ASSERT_TRUE(disk.Made()) << disk.Problem();
    const VolumeIdentity ext4 = ProbeVolumeIdentity(disk.Image());
    EXPECT_EQ(ext4.strFsType, "ext4");
    EXPECT_EQ(ext4.strLabel, "BACKUP");
    EXPECT_EQ(ext4.strUuid, "0b3c1a5e-8f6d-4c2a-9e7b-1d2c3b4a5f60");

    // What is no file system, or no file at all, tells nothing.
    tree.WriteSizedFile("noise.bin", 1 << 20);
    EXPECT_FALSE(ProbeVolumeIdentity(tree.Path("noise.bin")).IsKnown());
    EXPECT_FALSE(ProbeVolumeIdentity(tree.Path("missing.img")).IsKnown());
    // A mount source that names a file is never probed: only a block device is.
    EXPECT_FALSE(IdentifyMountSource(card.Image()).IsKnown());
}

TEST(VolumeTest, MapsStoredPathsToWhereTheVolumeIsNow) {
    VolumeLocation location;
    location.bOnline = true;
    location.match = VolumeMatch::Uuid;
    location.strCataloguedMountPoint = "/media/anna/BACKUP";
    location.strMountPoint = "/mnt/backup";
    EXPECT_EQ(location.PathNow("/media/anna/BACKUP/photos/a.jpg"), "/mnt/backup/photos/a.jpg");
    EXPECT_EQ(location.PathNow("/media/anna/BACKUP"), "/mnt/backup");
    // Only whole path components are replaced.
    EXPECT_EQ(location.PathNow("/media/anna/BACKUP2/a"), "/media/anna/BACKUP2/a");
    EXPECT_EQ(location.StoredPath("/mnt/backup/photos"), "/media/anna/BACKUP/photos");
    location.strMountPoint = "/";
    EXPECT_EQ(location.PathNow("/media/anna/BACKUP/x"), "/x");
    EXPECT_EQ(location.PathNow("/media/anna/BACKUP"), "/");
    location.strCataloguedMountPoint = "/";
    location.strMountPoint = "/mnt/root";
    EXPECT_EQ(location.PathNow("/etc/fstab"), "/mnt/root/etc/fstab");
    EXPECT_EQ(location.StoredPath("/mnt/root/etc"), "/etc");
    // A volume whose folder /@home was mounted at /home (a btrfs subvolume,
    // a bind mount), now mounted whole.
    location.strCataloguedMountPoint = "/home";
    location.strCataloguedMountRoot = "/@home";
    location.strMountPoint = "/mnt/disk";
    location.strMountRoot = "/";
    EXPECT_EQ(location.PathNow("/home/anna/a.txt"), "/mnt/disk/@home/anna/a.txt");
    EXPECT_EQ(location.StoredPath("/mnt/disk/@home/anna"), "/home/anna");
    // Or another folder of it shown at the same place: the moved path is
    // not there, and the stored one is given as it is.
    location.strMountPoint = "/home";
    location.strMountRoot = "/@other";
    EXPECT_TRUE(location.IsMoved());
    EXPECT_EQ(location.PathNow("/home/anna/a.txt"), "/home/anna/a.txt");
    // A catalog that names no volume is looked at where it says.
    location.match = VolumeMatch::StartDirectory;
    EXPECT_EQ(location.PathNow("/etc/fstab"), "/etc/fstab");
}
