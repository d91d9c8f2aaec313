// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "catalog/CatalogLock.h"
#include "scan/ScanJob.h"

#include <memory>
#include <string>

// True when a finished job walked its whole tree: it neither failed nor was
// stopped, and its start directory could be read.
bool IsCompleteBuild(const ScanOutcome& outcome);

// A new catalog built under its writer's lock. Where no catalog stands at
// its path it is built in place, so searches read it as it grows; where one
// stands, it is built beside it and takes the old one's place only when it
// is complete, so a build that fails, is stopped or killed leaves the old
// catalog as it was.
class CatalogBuild {
public:
    // Locks the catalog at strCatalogPath and removes what builds of it that
    // are gone left behind; raises EngineError when another program writes
    // it (and wait says not to wait) or it cannot be locked.
    CatalogBuild(const std::string& strCatalogPath, const CatalogLock::Wait& wait);

    // True when something stands at the catalog's path: the build replaces it.
    bool Replaces() const { return m_bReplaces; }
    // The catalog's path (its real file, when the path is a link).
    const std::string& CatalogPath() const { return m_lock.CatalogPath(); }
    // The job to fill in and run with ScanThreadProc; its catalog path is set.
    ScanJob& Job() { return *m_pJob; }
    // After the job has ended: a complete replacing build is put in the old
    // catalog's place; an incomplete one is removed. The reason of a
    // failure, else an empty text.
    std::string Finish();
    // After the job has ended: true when it replaces a catalog but did not
    // complete, so the old catalog stays as it was.
    bool KeepsOld() const { return m_bReplaces && !IsCompleteBuild(m_pJob->outcome); }

private:
    CatalogLock m_lock;
    bool m_bReplaces = false;
    std::unique_ptr<ScanJob> m_pJob;
};
