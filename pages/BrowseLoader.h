// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class CatalogTree;
class Database;
class QObject;

// The reads of one catalog for its Browse window, on a thread of its own so
// the window never waits for the disk: the connection and the folder tree
// live on that thread, and every read runs there in the order asked. A read
// gives back what the window shall do with its answer, run on the window's
// thread (and dropped once the window is gone).
class BrowseLoader {
public:
    // What runs on the loader's thread: it reads, and returns what then runs
    // on the window's thread. A read that raises EngineError gives fnFailed
    // the text, on the window's thread.
    using Read = std::function<std::function<void()>(Database&, CatalogTree&)>;

    // Opens the catalog of strEntry and reads its tree on the new thread;
    // pReceiver is the window whose thread runs the answers. When the
    // catalog's file is another one than the one open (an update put a new
    // catalog in its place, or it went), the loader opens it again before the
    // next read, drops every read still waiting (their ids are of the old
    // catalog) and tells fnChanged how many of those expected an answer, and
    // whether the catalog could be opened again.
    BrowseLoader(QObject* pReceiver, std::string strAppPath, std::string strEntry,
                 std::function<void(const std::string&)> fnFailed,
                 std::function<void(int, bool)> fnChanged);
    // Stops what runs (a long read is interrupted) and joins the thread.
    ~BrowseLoader();
    BrowseLoader(const BrowseLoader&) = delete;
    BrowseLoader& operator=(const BrowseLoader&) = delete;

    // Queues a read; it runs once the catalog is open (never when it failed
    // to open). bAnswered: the caller counts on an answer (see fnChanged).
    void Post(Read read, bool bAnswered = true);

private:
    void Run();
    void Answer(std::function<void()> fnAnswer);
    // Opens the catalog and reads its tree; false, with the failure told, when it cannot.
    bool OpenCatalog(class Database& database, std::unique_ptr<CatalogTree>& pTree);
    // Whether the catalog's file is still the one opened.
    bool IsSameFile() const;

    QObject* m_pReceiver;
    std::string m_strAppPath, m_strEntry;
    std::function<void(const std::string&)> m_fnFailed;
    std::function<void(int, bool)> m_fnChanged;
    std::string m_strFile; // the catalog's file, once opened
    struct FileIdentity {
        uint64_t nDev = 0, nIno = 0, nSize = 0;
        int64_t nMtimeNs = 0;
        bool operator==(const FileIdentity&) const = default;
    };
    FileIdentity m_opened;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::pair<Read, bool>> m_reads;
    bool m_bStop = false;
    Database* m_pOpen = nullptr; // while open, for Interrupt
    std::thread m_thread;        // last: it starts once the rest is made
};
