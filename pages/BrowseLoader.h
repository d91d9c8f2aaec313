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
    // pReceiver is the window whose thread runs the answers.
    BrowseLoader(QObject* pReceiver, std::string strAppPath, std::string strEntry,
                 std::function<void(const std::string&)> fnFailed);
    // Stops what runs (a long read is interrupted) and joins the thread.
    ~BrowseLoader();
    BrowseLoader(const BrowseLoader&) = delete;
    BrowseLoader& operator=(const BrowseLoader&) = delete;

    // Queues a read; it runs once the catalog is open (never when it failed to open).
    void Post(Read read);

private:
    void Run();
    void Answer(std::function<void()> fnAnswer);

    QObject* m_pReceiver;
    std::string m_strAppPath, m_strEntry;
    std::function<void(const std::string&)> m_fnFailed;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Read> m_reads;
    bool m_bStop = false;
    Database* m_pOpen = nullptr; // while open, for Interrupt
    std::thread m_thread;        // last: it starts once the rest is made
};
