// SPDX-License-Identifier: GPL-3.0-or-later

#include "scan/CatalogUpdate.h"

#include "catalog/Database.h"
#include "scan/StartDirectory.h"
#include "scan/Volume.h"
#include "volume/VolumeLocator.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

CatalogUpdate::CatalogUpdate(const std::string& strCatalogPath, const UpdateOptions& options,
                             const CatalogLock::Wait& wait)
    : m_build(strCatalogPath, wait) {
    {
        Database database;
        database.Open(m_build.CatalogPath(), Database::OpenMode::ReadOnly);
        m_info = ReadCatalogInfo(database);
        m_pPrevious = std::make_unique<PreviousCatalog>(database, m_build.CatalogPath(),
                                                        m_info.bHasFileTimes);
    }
    ScanSettings settings = m_info.Settings();
    if (options.bChecksum)
        settings.bChecksum = *options.bChecksum;
    if (options.nMaxFileSizeKb)
        settings.nMaxFileSizeKb = *options.nMaxFileSizeKb;
    if (options.excludes)
        settings.excludes = *options.excludes;
    if (options.bOneFileSystem)
        settings.bOneFileSystem = *options.bOneFileSystem;
    if (options.bArchives)
        settings.bArchives = *options.bArchives;
    if (options.nArchiveDepth)
        settings.nArchiveDepth = *options.nArchiveDepth;
    ApplySettings(Job(), settings);
    Job().pPrevious = m_pPrevious.get();
    // Members read with other settings are read again.
    const ScanSettings former = m_info.Settings();
    m_pPrevious->SetLendsMembers(
        m_info.bHasFileTimes && former.bArchives &&
        former.nArchiveDepth == settings.nArchiveDepth && former.bChecksum == settings.bChecksum &&
        (!settings.bChecksum || former.nMaxFileSizeKb == settings.nMaxFileSizeKb));
    Job().strNote = m_info.strNote.value_or("");
    // A volume mounted elsewhere now is walked where it is; the catalog
    // keeps its paths as they were catalogued.
    m_location = MountedVolumes().Locate(m_info);
    if (m_location.IsMoved()) {
        Job().strWalkDir = m_location.PathNow(settings.strStartDir);
        Job().strCataloguedMountPoint = m_location.strCataloguedMountPoint;
        Job().strCataloguedMountRoot = m_info.volume.strMountRoot;
    }
}

namespace {

// Whether the start directory now lies on another volume than the one the
// catalog was made of: another disk in the same place, or the bare folder a
// disk is mounted on while the disk is away. Compared by UUID where both
// sides know it, otherwise by mount point; a catalog that recorded neither
// is taken as it comes.
bool OnAnotherVolume(const VolumeInfo& recorded, const VolumeInfo& now) {
    if (!recorded.strUuid.empty() && !now.strUuid.empty())
        return !IsSameUuid(recorded.strUuid, now.strUuid);
    return !recorded.strMountPoint.empty() && !now.strMountPoint.empty() &&
           recorded.strMountPoint != now.strMountPoint;
}

} // namespace

std::string CatalogUpdate::StartProblem() const {
    const std::string strStart = m_info.strStartDir.value_or("");
    const std::string strKept = " The catalog is left as it was.";
    if (strStart.empty())
        return "The catalog '" + m_build.CatalogPath() + "' records no start directory to walk." +
               strKept;
    if (IsRelativeStartDirectory(strStart))
        return "The catalog '" + m_build.CatalogPath() + "' records its start directory as '" +
               strStart +
               "', relative to a folder it does not name: it cannot be told where to "
               "walk." +
               strKept + " Create a new catalog of the directory.";
    const std::string strVolume = VolumeName(m_info.volume);
    const std::string strNote =
        m_info.strNote && !m_info.strNote->empty() ? " Note: " + *m_info.strNote + "." : "";
    const std::string strWalk = m_location.PathNow(strStart);
    const std::string strWhere =
        strWalk == strStart ? "" : " (looked for at '" + strWalk + "', where its volume is now)";
    struct stat st {};
    if (::stat(strWalk.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
        return "The start directory '" + strStart + "'" + strWhere +
               " is now a file, not a directory." + strKept;
    if (::stat(strWalk.c_str(), &st) != 0) {
        std::string strProblem =
            "The start directory '" + strStart + "'" + strWhere + " is not there";
        if (m_location.bOnline)
            strProblem += ".";
        else if (!strVolume.empty())
            strProblem += ": is its volume (" + strVolume + ") plugged in and mounted?";
        else
            strProblem += ": is its disk plugged in and mounted?";
        return strProblem + strKept + strNote;
    }
    // A tree that cannot be read would replace the catalog with an empty one.
    if (const std::string strProblem = StartDirectoryProblem(strWalk); !strProblem.empty())
        return strProblem + "." + strKept;
    if (m_location.LeadsOffVolume(strWalk))
        return "The start directory " +
               OffVolumeText(strStart, m_build.CatalogPath(), m_info, m_location) + "." + strKept +
               " To catalog what is there now, create a new catalog." + strNote;
    // The catalogued volume itself, found by what it says of itself.
    if (m_location.bOnline && m_location.match != VolumeMatch::StartDirectory)
        return {};
    // Walking another volume would replace the record of the catalogued one,
    // which may be all that is left of it.
    const VolumeInfo now = DescribeVolume(strStart);
    if (m_location.bOnline && !OnAnotherVolume(m_info.volume, now))
        return {};
    auto describe = [](const VolumeInfo& volume) {
        const std::string strName = VolumeName(volume);
        return "mounted on '" + volume.strMountPoint + "'" +
               (strName.empty() ? std::string() : ", " + strName);
    };
    return "The start directory '" + strStart + "' now lies on another volume (" + describe(now) +
           ") than the one catalogued (" + describe(m_info.volume) +
           "): is the right disk mounted?" + strKept +
           " To catalog what is there now, create a new catalog." + strNote;
}

std::string CatalogUpdate::ChangesText() const {
    const PreviousCatalog& previous = *m_pPrevious;
    return std::to_string(previous.Added()) + " added, " + std::to_string(previous.Removed()) +
           " removed, " + std::to_string(previous.Changed()) + " changed, " +
           std::to_string(previous.Unchanged()) + " unchanged files";
}

std::string CatalogUpdate::Finish() {
    ScanOutcome& outcome = Job().outcome;
    // A volume unmounted part way leaves its bare mount folder, or nothing,
    // to walk: that must not replace the record of the volume.
    if (IsCompleteBuild(outcome) && m_location.bOnline &&
        m_location.match != VolumeMatch::StartDirectory) {
        const VolumeLocation now = MountedVolumes().Locate(m_info);
        if (!now.bOnline || now.strMountPoint != m_location.strMountPoint) {
            outcome.bFailed = true;
            outcome.strError =
                "The volume went away from '" + m_location.strMountPoint + "' during the update";
        }
    }
    const std::string strProblem = m_build.Finish();
    if (outcome.bFailed)
        return outcome.strError;
    if (outcome.bStartUnread)
        return "The start directory '" + Job().strStartDir + "' could not be read";
    return strProblem;
}
