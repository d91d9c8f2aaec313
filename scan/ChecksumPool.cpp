#include "scan/ChecksumPool.h"

#include "scan/FileChecksum.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

ChecksumPool::ChecksumPool(unsigned nThreads) {
    for (unsigned i = 0; i < std::max(1u, nThreads); ++i)
        m_workers.emplace_back([this] { Work(); });
}

ChecksumPool::~ChecksumPool() {
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
        m_queue.clear();
    }
    m_cvWork.notify_all();
    for (std::thread& worker : m_workers)
        worker.join();
}

namespace {

template <typename Waiting> bool RunsLater(const Waiting& a, const Waiting& b) {
    if (a.pTask->nSize != b.pTask->nSize)
        return a.pTask->nSize < b.pTask->nSize;
    return a.nOrder > b.nOrder;
}

} // namespace

void ChecksumPool::Submit(const std::shared_ptr<Task>& pTask) {
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back({pTask, m_nSubmitted++});
        std::push_heap(m_queue.begin(), m_queue.end(), RunsLater<Waiting>);
    }
    m_cvWork.notify_one();
}

void ChecksumPool::Wait(const Task& task) {
    std::unique_lock lock(m_mutex);
    m_cvDone.wait(lock, [&] { return task.bDone; });
}

bool ChecksumPool::IsDone(const Task& task) {
    std::lock_guard lock(m_mutex);
    return task.bDone;
}

void ChecksumPool::Work() {
    for (;;) {
        std::shared_ptr<Task> pTask;
        {
            std::unique_lock lock(m_mutex);
            m_cvWork.wait(lock, [&] { return m_bStop || !m_queue.empty(); });
            if (m_bStop)
                return;
            std::pop_heap(m_queue.begin(), m_queue.end(), RunsLater<Waiting>);
            pTask = std::move(m_queue.back().pTask);
            m_queue.pop_back();
        }
        errno = 0;
        std::optional<std::string> checksum = FileChecksumAt(
            pTask->dir->Get(), pTask->strName.c_str(), pTask->bOwned, pTask->nMaxBytes);
        const int nError = checksum ? 0 : errno;
        {
            std::lock_guard lock(m_mutex);
            pTask->checksum = std::move(checksum);
            pTask->nError = nError;
            pTask->bDone = true;
        }
        m_cvDone.notify_all();
    }
}

unsigned ChecksumThreadsFor(const std::string& strPath) {
    const unsigned nCores = std::max(1u, std::thread::hardware_concurrency());
    struct stat st {};
    if (::stat(strPath.c_str(), &st) != 0 || major(st.st_dev) == 0)
        return nCores;
    // A partition's own folder has no queue: its disk's, one level up, has.
    const std::string strDevice = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" +
                                  std::to_string(minor(st.st_dev));
    for (const char* pszQueue : {"/queue/rotational", "/../queue/rotational"}) {
        std::ifstream rotational(strDevice + pszQueue);
        int nRotational = 0;
        if (rotational >> nRotational)
            return nRotational == 1 ? 1 : nCores;
    }
    return nCores;
}
