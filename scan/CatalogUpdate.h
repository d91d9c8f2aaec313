// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "catalog/CatalogInfo.h"
#include "scan/CatalogBuild.h"
#include "scan/PreviousCatalog.h"
#include "volume/VolumeLocator.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// Settings given for an update; what is not given is taken from the catalog.
struct UpdateOptions {
    std::optional<bool> bChecksum;
    std::optional<int32_t> nMaxFileSizeKb;
    std::optional<std::vector<std::string>> excludes;
    std::optional<bool> bOneFileSystem;
    std::optional<bool> bArchives;
    std::optional<int32_t> nArchiveDepth;
};

// Brings a catalog up to date: its start directory is walked again into a
// new catalog beside it, in which every file that has the same path, size
// and modification time as before keeps its checksum without being read.
// Only a complete new catalog takes the old one's place (in one step); one
// that failed or was stopped is removed, and the old catalog stays exactly as
// it was, searchable throughout.
class CatalogUpdate {
public:
    // Locks the catalog at strCatalogPath for writing (see CatalogLock),
    // removes what updates of it that are gone left behind, and reads what
    // it needs of it; raises EngineError when another program writes it (and
    // wait says not to wait), or it cannot be locked or read.
    CatalogUpdate(const std::string& strCatalogPath, const UpdateOptions& options,
                  const CatalogLock::Wait& wait = {});

    // Empty when the start directory is there to walk and lies on the volume
    // the catalog was made of (at its catalogued place, or where that volume
    // is mounted now); otherwise why the update cannot run, naming the start
    // directory, the volumes and the catalog's note.
    std::string StartProblem() const;

    // The job to run on a worker thread with ScanThreadProc, as a new build;
    // its fnOnEnd may be set. Its catalog path is the new catalog's.
    ScanJob& Job() { return m_build.Job(); }

    // After the job has ended: puts the new catalog in place when the walk
    // completed (with the old file's mode and owner; through a link, the
    // link's target is replaced) and the volume it walked is still mounted
    // where it was, else removes it. The reason of a failure, else empty.
    std::string Finish();

    // What the walk found against the catalog's files, as both front ends
    // tell it: "3 added, 1 removed, 0 changed, 12 unchanged files".
    std::string ChangesText() const;

private:
    CatalogBuild m_build;
    CatalogInfo m_info;
    std::unique_ptr<PreviousCatalog> m_pPrevious;
    VolumeLocation m_location; // where the catalogued volume is now
};
