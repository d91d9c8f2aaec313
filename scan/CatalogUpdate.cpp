#include "scan/CatalogUpdate.h"

#include "catalog/Catalog.h"
#include "catalog/Database.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

CatalogUpdate::CatalogUpdate(const std::string& strCatalogPath, const UpdateOptions& options)
    : m_strCatalogPath(strCatalogPath), m_pJob(std::make_unique<ScanJob>()) {
    {
        Database database;
        database.Open(strCatalogPath, Database::OpenMode::ReadOnly);
        m_info = ReadCatalogInfo(database);
        m_pPrevious = std::make_unique<PreviousCatalog>(database);
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
    // Beside the old one, under a name no catalog list shows.
    const size_t nSlash = strCatalogPath.rfind('/');
    const std::string strFolder =
        nSlash == std::string::npos ? std::string() : strCatalogPath.substr(0, nSlash + 1);
    const std::string strName =
        nSlash == std::string::npos ? strCatalogPath : strCatalogPath.substr(nSlash + 1);
    m_pJob->strCatalogPath = strFolder + "." + strName + ".update-" + std::to_string(::getpid());
    RemoveCatalog(m_pJob->strCatalogPath); // left by an update of this process id that was killed
    m_pJob->strStartDir = settings.strStartDir;
    m_pJob->bChecksum = settings.bChecksum;
    m_pJob->nMaxFileSizeKb = settings.nMaxFileSizeKb;
    m_pJob->excludes = settings.excludes;
    m_pJob->bOneFileSystem = settings.bOneFileSystem;
    m_pJob->pPrevious = m_pPrevious.get();
}

std::string CatalogUpdate::StartProblem() const {
    const std::string& strStart = m_pJob->strStartDir;
    if (strStart.empty())
        return "The catalog '" + m_strCatalogPath + "' records no start directory to walk";
    struct stat st {};
    if (::stat(strStart.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return {};
    std::string strVolume;
    if (!m_info.volume.strLabel.empty())
        strVolume += "label '" + m_info.volume.strLabel + "'";
    if (!m_info.volume.strUuid.empty())
        strVolume += (strVolume.empty() ? "UUID " : ", UUID ") + m_info.volume.strUuid;
    std::string strProblem = "The start directory '" + strStart + "' is not there";
    if (!strVolume.empty())
        strProblem += ": is its volume (" + strVolume + ") plugged in and mounted?";
    else
        strProblem += ": is its disk plugged in and mounted?";
    return strProblem + " The catalog is left as it was.";
}

std::string CatalogUpdate::Finish() {
    const ScanOutcome& outcome = m_pJob->outcome;
    if (outcome.bFailed || outcome.bStopped) {
        RemoveCatalog(m_pJob->strCatalogPath);
        return outcome.bFailed ? outcome.strError : std::string();
    }
    if (::rename(m_pJob->strCatalogPath.c_str(), m_strCatalogPath.c_str()) != 0) {
        const int nErr = errno;
        RemoveCatalog(m_pJob->strCatalogPath);
        return "Cannot replace '" + m_strCatalogPath + "': " + std::strerror(nErr);
    }
    return {};
}
