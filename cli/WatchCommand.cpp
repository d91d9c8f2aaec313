// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalog/DataFolder.h"
#include "cli/CatalogRuns.h"
#include "cli/CommandLine.h"
#include "cli/CommandTable.h"
#include "cli/JobRunner.h"
#include "cli/Output.h"
#include "search/DatabaseList.h"
#include "search/RecordWriter.h"
#include "volume/CatalogVolumes.h"
#include "volume/MountWatch.h"

#include <cerrno>
#include <cstring>
#include <poll.h>

namespace {

// The list is read anew each time, so catalogs added while watch runs are
// watched from the next change on.
std::vector<CatalogVolume> ReadListedVolumes(const std::string& strApp) {
    return LocateCatalogVolumes(strApp, LoadDatabaseList(strApp), MountedVolumes());
}

void WriteVolumeLine(const char* pszState, const CatalogVolume& volume) {
    std::string strLine = pszState;
    for (const std::string* pField :
         {&volume.strEntry, &volume.location.strMountPoint, &volume.info.volume.strLabel}) {
        strLine += '\t';
        AppendTsvField(strLine, *pField);
    }
    strLine += '\n';
    // A script or a journal reads the lines as they come.
    OutputWriter out;
    out.Write(strLine);
    out.Flush();
}

// Why the work on the catalog of volume, which came online, should stop: a
// stop signal, or its volume no longer mounted where it came. The mount
// table is read again only when it has changed; bMountsChanged is then set,
// as the change is taken note of here, not where watch waits for it.
StopReason StopWhenGone(MountWatch& watch, const CatalogVolume& volume, bool& bMountsChanged) {
    return [&watch, &volume, &bMountsChanged, bGone = false]() mutable -> std::string {
        if (const int nSignal = StopSignal())
            return StoppedByText(nSignal);
        if (!bGone && watch.Wait(0)) {
            watch.Acknowledge();
            bMountsChanged = true;
            const VolumeLocation now = MountedVolumes().Locate(volume.info);
            bGone = !now.bOnline || now.strMountPoint != volume.location.strMountPoint;
        }
        if (!bGone)
            return {};
        return "its volume went away from '" + volume.location.strMountPoint + "'";
    };
}

std::string CountText(size_t n, const char* pszOne, const char* pszMany) {
    return std::to_string(n) + " " + (n == 1 ? pszOne : pszMany);
}

} // namespace

int RunWatchCommand(const CommandLine& cmd) {
    if (!cmd.operands.empty())
        return Fail(kExitUsage, "watch takes no ENTRY: it watches every catalog of the list");
    const bool bUpdate = cmd.Has("--update");
    const bool bVerify = cmd.Has("--verify");
    if (bUpdate && bVerify)
        return Fail(kExitUsage, "watch takes --update or --verify, not both");
    MountWatch watch;
    if (watch.Fd() < 0)
        return Fail(kExitFailed,
                    std::string("cannot watch the mount table /proc/self/mountinfo: ") +
                        std::strerror(errno));
    CatchStopSignals();
    const std::string strApp = DataFolder();
    std::vector<CatalogVolume> before = ReadListedVolumes(strApp);
    size_t nOnline = 0, nUnreadable = 0;
    for (const CatalogVolume& volume : before) {
        if (!volume.strError.empty()) {
            PrintError(volume.strError);
            ++nUnreadable;
        } else if (volume.location.bOnline) {
            ++nOnline;
        }
    }
    PrintNote("watching " + CountText(before.size() - nUnreadable, "catalog", "catalogs") + ", " +
              std::to_string(nOnline) + " on volumes mounted now" +
              (nUnreadable > 0
                   ? "; " + CountText(nUnreadable, "catalog", "catalogs") + " could not be read"
                   : std::string()) +
              "\n");
    // Set when a change was taken note of while a catalog was worked on: the
    // table is then read again without waiting.
    bool bMountsChanged = false;
    try {
        while (StopSignal() == 0) {
            if (!bMountsChanged && !PollUnlessStopped(watch.Fd(), POLLPRI)) {
                if (StopSignal() != 0)
                    break;
                return Fail(kExitFailed,
                            std::string("cannot wait for the mount table to change: ") +
                                std::strerror(errno));
            }
            bMountsChanged = false;
            // Before the table is read, so that a change while it is read raises
            // the next event.
            watch.Acknowledge();
            std::vector<CatalogVolume> after = ReadListedVolumes(strApp);
            const VolumeChanges changes = CompareVolumes(before, after);
            for (const CatalogVolume* pVolume : changes.disappeared)
                WriteVolumeLine("offline", *pVolume);
            for (const CatalogVolume* pVolume : changes.appeared)
                WriteVolumeLine("online", *pVolume);
            for (const CatalogVolume* pVolume : changes.appeared) {
                if (StopSignal() != 0 || (!bUpdate && !bVerify))
                    break;
                const StopReason fnStop = StopWhenGone(watch, *pVolume, bMountsChanged);
                if (bUpdate) {
                    UpdateCatalogOfEntry(pVolume->strEntry, {}, 0, fnStop);
                    continue;
                }
                VerifySettings settings;
                settings.strSummaryLead = pVolume->strEntry + ": ";
                settings.fnStop = fnStop;
                VerifyCatalogsOfEntries({pVolume->strEntry}, settings);
            }
            before = std::move(after);
        }
    } catch (const OutputError&) {
        // A reader that does not read (a full pipe) gives way to a stop
        // signal; watch then ends as at any other.
        if (StopSignal() == 0)
            throw;
    }
    PrintNote("watch ended: " + StoppedByText(StopSignal()) + "\n");
    return kExitOk;
}
