// SPDX-License-Identifier: GPL-3.0-or-later

#include "scan/CatalogBuild.h"

#include "catalog/Catalog.h"
#include "catalog/PathExists.h"

CatalogBuild::CatalogBuild(const std::string& strCatalogPath, const CatalogLock::Wait& wait)
    : m_lock(strCatalogPath, wait), m_pJob(std::make_unique<ScanJob>()) {
    m_lock.RemoveLeftovers();
    m_bReplaces = PathExists(m_lock.CatalogPath());
    m_pJob->strCatalogPath = m_bReplaces ? m_lock.BuildPath() : m_lock.CatalogPath();
}

std::string CatalogBuild::Finish() {
    if (!m_bReplaces)
        return {};
    if (!IsCompleteBuild(m_pJob->outcome)) {
        RemoveCatalog(m_lock.BuildPath());
        return {};
    }
    return ReplaceCatalog(m_lock.BuildPath(), m_lock.CatalogPath());
}

bool IsCompleteBuild(const ScanOutcome& outcome) {
    return !outcome.bFailed && !outcome.bStopped && !outcome.bStartUnread;
}
