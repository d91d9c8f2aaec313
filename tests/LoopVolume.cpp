// SPDX-License-Identifier: GPL-3.0-or-later

#include "LoopVolume.h"

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<int> g_nImages{0};

std::string Quoted(const std::string& strText) {
    std::string strQuoted = "'";
    for (char c : strText)
        strQuoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return strQuoted + "'";
}

bool RunQuietly(const std::string& strCommand) {
    return std::system((strCommand + " >/dev/null 2>&1").c_str()) == 0;
}

std::string MkfsCommand(const char* pszFsType, const std::string& strLabel,
                        const std::string& strUuid, const std::string& strImage) {
    const std::string strType = pszFsType;
    if (strType == "vfat")
        return "mkfs.vfat -n " + Quoted(strLabel) + (strUuid.empty() ? "" : " -i " + strUuid) +
               " " + Quoted(strImage);
    if (strType == "xfs")
        return "mkfs.xfs -q -f -L " + Quoted(strLabel) +
               (strUuid.empty() ? "" : " -m uuid=" + strUuid) + " " + Quoted(strImage);
    return "mkfs." + strType + " -q -F -L " + Quoted(strLabel) +
           (strUuid.empty() ? "" : " -U " + strUuid) + " " + Quoted(strImage);
}

} // namespace

LoopVolume::LoopVolume(const TestTree& tree, const char* pszFsType, const std::string& strLabel,
                       int nMegabytes, const std::string& strUuid)
    : m_strImage(tree.Path(std::string(pszFsType) + "-" + std::to_string(++g_nImages) + ".img")) {
    // XFS wants 300 MiB at least; the image is sparse, so it costs little.
    if (std::string(pszFsType) == "xfs" && nMegabytes < 300)
        nMegabytes = 300;
    if (!RunQuietly("truncate -s " + std::to_string(nMegabytes) + "M " + Quoted(m_strImage)))
        m_strProblem = "cannot make the image file";
    else if (!RunQuietly(MkfsCommand(pszFsType, strLabel, strUuid, m_strImage)))
        m_strProblem = std::string("mkfs.") + pszFsType + " failed or is not installed";
}

LoopVolume::~LoopVolume() {
    Unmount();
    ::unlink(m_strImage.c_str());
}

bool LoopVolume::Mount(const std::string& strFolder) {
    if (!Made())
        return false;
    ::mkdir(strFolder.c_str(), 0755);
    if (!RunQuietly("mount -o loop " + Quoted(m_strImage) + " " + Quoted(strFolder))) {
        m_strProblem = "mount -o loop failed";
        return false;
    }
    m_strMountPoint = strFolder;
    return true;
}

bool LoopVolume::Unmount() {
    if (m_strMountPoint.empty())
        return false;
    // A process of the test that still has a file open there must not
    // leave the mount behind.
    bool bDone = ::umount(m_strMountPoint.c_str()) == 0;
    if (!bDone)
        bDone = ::umount2(m_strMountPoint.c_str(), MNT_DETACH) == 0;
    m_strMountPoint.clear();
    return bDone;
}

std::string LoopVolume::MountProblem(const char* pszFsType) {
    static std::mutex mutex;
    static std::map<std::string, std::string> problems;
    const std::lock_guard<std::mutex> lock(mutex);
    if (const auto it = problems.find(pszFsType); it != problems.end())
        return it->second;
    std::string strProblem;
    struct stat st {};
    if (::geteuid() != 0)
        strProblem = "the tests do not run as root";
    else if (::stat("/dev/loop-control", &st) != 0)
        strProblem = "this machine has no loop devices (/dev/loop-control)";
    else {
        TestTree tree;
        LoopVolume probe(tree, pszFsType, "PROBE");
        if (!probe.Made())
            strProblem = probe.Problem();
        else if (!probe.Mount(tree.Path("mnt")))
            strProblem = "mount -o loop of a " + std::string(pszFsType) +
                         " image fails here (no driver, or no permission)";
    }
    problems[pszFsType] = strProblem;
    return strProblem;
}
