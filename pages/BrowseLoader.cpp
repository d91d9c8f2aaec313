#include "pages/BrowseLoader.h"

#include "browse/CatalogTree.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "search/CatalogOpen.h"

#include <QMetaObject>
#include <QObject>

BrowseLoader::BrowseLoader(QObject* pReceiver, std::string strAppPath, std::string strEntry,
                           std::function<void(const std::string&)> fnFailed)
    : m_pReceiver(pReceiver), m_strAppPath(std::move(strAppPath)), m_strEntry(std::move(strEntry)),
      m_fnFailed(std::move(fnFailed)), m_thread([this] { Run(); }) {}

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

void BrowseLoader::Post(Read read) {
    {
        const std::lock_guard lock(m_mutex);
        m_reads.push_back(std::move(read));
    }
    m_wake.notify_all();
}

void BrowseLoader::Answer(std::function<void()> fnAnswer) {
    // The receiver outlives the thread (its destructor joins it), and an
    // answer still queued when it goes is dropped with it.
    QMetaObject::invokeMethod(m_pReceiver, std::move(fnAnswer), Qt::QueuedConnection);
}

void BrowseLoader::Run() {
    Database database;
    std::unique_ptr<CatalogTree> pTree;
    auto failed = [this](const std::string& strText) {
        Answer([fnFailed = m_fnFailed, strText] { fnFailed(strText); });
    };
    try {
        OpenCatalogForSearch(database, m_strAppPath, m_strEntry);
        {
            const std::lock_guard lock(m_mutex);
            m_pOpen = &database;
            if (m_bStop)
                database.Interrupt();
        }
        pTree = std::make_unique<CatalogTree>(database);
    } catch (const std::exception& error) {
        failed(error.what());
    }
    for (;;) {
        Read read;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_bStop || !m_reads.empty(); });
            if (m_bStop)
                break;
            read = std::move(m_reads.front());
            m_reads.pop_front();
        }
        if (!pTree)
            continue;
        try {
            if (std::function<void()> fnAnswer = read(database, *pTree))
                Answer(std::move(fnAnswer));
        } catch (const std::exception& error) {
            failed(error.what());
        }
    }
    const std::lock_guard lock(m_mutex);
    m_pOpen = nullptr;
}
