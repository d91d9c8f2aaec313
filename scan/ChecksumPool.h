#pragma once

#include "scan/DirectoryReader.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Hashes files on worker threads. The caller hands each file over with a
// descriptor of its directory (shared by the files of that directory) and
// takes each result back whenever it wants, in any order. The largest file
// waiting is hashed first: one large file hashed last would keep all but
// one thread idle while it is read.
class ChecksumPool {
public:
    struct Task {
        std::shared_ptr<UniqueFd> dir;
        std::string strName;
        bool bOwned = false;
        uint64_t nSize = 0; // its size as listed: larger files start first
        uint64_t nMaxBytes = 0;
        // Set by the worker once bDone:
        std::optional<std::string> checksum;
        int nError = 0; // errno of a failed open or read, 0 otherwise
        bool bDone = false;
    };

    // Starts nThreads workers (at least one).
    explicit ChecksumPool(unsigned nThreads);
    // Drops the tasks not started and joins the workers.
    ~ChecksumPool();
    ChecksumPool(const ChecksumPool&) = delete;
    ChecksumPool& operator=(const ChecksumPool&) = delete;

    // Queues a file for hashing.
    void Submit(const std::shared_ptr<Task>& pTask);
    // Waits until the task is done.
    void Wait(const Task& task);
    // True once the task is done (never blocks).
    bool IsDone(const Task& task);

private:
    void Work();

    std::mutex m_mutex;
    std::condition_variable m_cvWork;
    std::condition_variable m_cvDone;
    // A heap: the largest task on top, the earliest of equal ones first.
    struct Waiting {
        std::shared_ptr<Task> pTask;
        uint64_t nOrder;
    };
    std::vector<Waiting> m_queue;
    uint64_t m_nSubmitted = 0;
    bool m_bStop = false;
    std::vector<std::thread> m_workers;
};

// How many threads should hash the files below strPath: one on a spinning
// disk, where reading two files at once makes the heads seek, else as many
// as the machine has cores. A device of unknown kind (tmpfs, a network
// share) counts as not spinning.
unsigned ChecksumThreadsFor(const std::string& strPath);
