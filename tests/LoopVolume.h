// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "TestTree.h"

#include <string>

// A real volume for one test: a disk image made at test time with a file
// system and a label (mkfs.ext4 -L, mkfs.xfs -L, mkfs.vfat -n), which can be
// mounted through a loop device at any folder and unmounted again. It is
// unmounted and removed when the object goes.
class LoopVolume {
public:
    // Makes the image in tree: pszFsType "ext4", "xfs" or "vfat", nMegabytes
    // large, with the UUID strUuid when given (for vfat its volume id, eight
    // hexadecimal digits). Made() says whether it could be, and Problem() why not.
    LoopVolume(const TestTree& tree, const char* pszFsType, const std::string& strLabel,
               int nMegabytes = 64, const std::string& strUuid = "");
    ~LoopVolume();
    LoopVolume(const LoopVolume&) = delete;
    LoopVolume& operator=(const LoopVolume&) = delete;

    bool Made() const { return m_strProblem.empty(); }
    const std::string& Problem() const { return m_strProblem; }
    const std::string& Image() const { return m_strImage; }

    // Mounts the image at strFolder (made if missing); false, with Problem()
    // saying why, when it cannot be.
    bool Mount(const std::string& strFolder);
    // Unmounts it; true when it was mounted and is no longer.
    bool Unmount();
    const std::string& MountPoint() const { return m_strMountPoint; }

    // Why this machine cannot mount a loop image of pszFsType, or empty
    // when it can: tried once per file system type with a small image.
    static std::string MountProblem(const char* pszFsType);

private:
    std::string m_strImage;
    std::string m_strMountPoint;
    std::string m_strProblem;
};

// In a test: skips it, saying why, when loop images of pszFsType cannot be
// made and mounted here (no root, no loop devices, no mkfs).
#define SKIP_WITHOUT_LOOP_MOUNTS(pszFsType)                                                        \
    do {                                                                                           \
        const std::string strWhyNot = LoopVolume::MountProblem(pszFsType);                         \
        if (!strWhyNot.empty())                                                                    \
            GTEST_SKIP() << "loop-mounted " << (pszFsType) << " volumes: " << strWhyNot;           \
    } while (false)
