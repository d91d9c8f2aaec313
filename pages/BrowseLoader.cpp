// SPDX-License-Identifier: GPL-3.0-or-later

#include "pages/BrowseLoader.h"

#include "browse/CatalogTree.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "search/CatalogOpen.h"
#include "search/DatabaseList.h"

#include <QMetaObject>
#include <QObject>

#include <sys/stat.h>

BrowseLoader::BrowseLoader(QObject* pReceiver, std::string strAppPath, std::string strEntry,
                           std::function<void(const std::string&)> fnFailed,
                           std::function<void(int, bool)> fnChanged)
    : m_pReceiver(pReceiver), m_strAppPath(std::move(strAppPath)), m_strEntry(std::move(strEntry)),
      m_fnFailed(std::move(fnFailed)), m_fnChanged(std::move(fnChanged)),
      m_thread([this] { Run(); }) {}

BrowseLoader::~BrowseLoader() {
    {
        const std::lock_guard lock(m_mutex);
        m_bStop = true;
        if (m_pOpen)
            m_pOpen->Interrupt();
    }
    m_wake.notify_all();
    m_thread.join();
}

void BrowseLoader::Post(Read read, bool bAnswered) {
    {
        const std::lock_guard lock(m_mutex);
        m_reads.emplace_back(std::move(read), bAnswered);
    }
    m_wake.notify_all();
}

void BrowseLoader::Answer(std::function<void()> fnAnswer) {
    // The receiver outlives the thread (its destructor joins it), and an
    // answer still queued when it goes is dropped with it.
    QMetaObject::invokeMethod(m_pReceiver, std::move(fnAnswer), Qt::QueuedConnection);
}

namespace {

// What tells one file from another that took its place: device, inode, size, time.
bool IdentityOf(const std::string& strPath, uint64_t& nDev, uint64_t& nIno, uint64_t& nSize,
                int64_t& nMtimeNs) {
    struct stat st {};
    if (::stat(strPath.c_str(), &st) != 0)
        return false;
    nDev = st.st_dev;
    nIno = st.st_ino;
    nSize = static_cast<uint64_t>(st.st_size);
    nMtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

} // namespace

bool BrowseLoader::IsSameFile() const {
    FileIdentity now;
    return IdentityOf(m_strFile, now.nDev, now.nIno, now.nSize, now.nMtimeNs) && now == m_opened;
}

bool BrowseLoader::OpenCatalog(Database& database, std::unique_ptr<CatalogTree>& pTree) {
    pTree.reset();
    {
        const std::lock_guard lock(m_mutex);
        m_pOpen = nullptr;
    }
    database.Close();
    try {
        // Known before the catalog is read, so a change while it is read
        // shows at the next read.
        const std::string strFile = CatalogPathOfEntry(m_strAppPath, m_strEntry);
        IdentityOf(strFile, m_opened.nDev, m_opened.nIno, m_opened.nSize, m_opened.nMtimeNs);
        m_strFile = strFile;
        OpenCatalogForSearch(database, m_strAppPath, m_strEntry);
        {
            const std::lock_guard lock(m_mutex);
            m_pOpen = &database;
            if (m_bStop)
                database.Interrupt();
        }
        pTree = std::make_unique<CatalogTree>(database);
        return true;
    } catch (const std::exception& error) {
        const std::string strText = error.what();
        Answer([fnFailed = m_fnFailed, strText] { fnFailed(strText); });
        return false;
    }
}

void BrowseLoader::Run() {
    Database database;
    std::unique_ptr<CatalogTree> pTree;
    OpenCatalog(database, pTree);
    for (;;) {
        std::pair<Read, bool> read;
        int nDropped = 0;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_bStop || !m_reads.empty(); });
            if (m_bStop)
                break;
            read = std::move(m_reads.front());
            m_reads.pop_front();
        }
        if (!m_strFile.empty() && !IsSameFile()) {
            // The reads asked for were of the catalog that was: none runs.
            {
                const std::lock_guard lock(m_mutex);
                nDropped = read.second ? 1 : 0;
                for (const auto& waiting : m_reads)
                    nDropped += waiting.second ? 1 : 0;
                m_reads.clear();
            }
            const bool bOpen = OpenCatalog(database, pTree);
            Answer([fnChanged = m_fnChanged, nDropped, bOpen] { fnChanged(nDropped, bOpen); });
            continue;
        }
        if (!pTree)
            continue;
        try {
            if (std::function<void()> fnAnswer = read.first(database, *pTree))
                Answer(std::move(fnAnswer));
        } catch (const std::exception& error) {
            const std::string strText = error.what();
            Answer([fnFailed = m_fnFailed, strText] { fnFailed(strText); });
        }
    }
    const std::lock_guard lock(m_mutex);
    m_pOpen = nullptr;
}
