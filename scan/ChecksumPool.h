// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "scan/DirectoryReader.h"
#include "scan/Md5.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <thread>
#include <vector>

// Hashes files on worker threads. The caller hands each file over with a
// descriptor of its directory (shared by the files of that directory) and
// takes each result back whenever it wants, in any order. Small files are
// hashed in the order given, which is the order the caller takes them back
// in; large ones go first, the largest first: one large file hashed last
// would keep all but one thread idle while it is read.
//
// What the page cache holds is read and hashed by the workers themselves,
// all at once. What must come from a device is read by one reader thread of
// that device, one file after the other, so a hard disk never seeks between
// two files; the workers hash what it read, on every core.
class ChecksumPool {
public:
    struct Task {
        std::shared_ptr<UniqueFd> dir;
        std::string strName;
        bool bOwned = false;
        uint64_t nSize = 0; // its size as listed: larger files start first
        uint64_t nMaxBytes = 0;
        // Set by the workers before bDone:
        std::optional<std::string> checksum;
        int nError = 0; // errno of a failed open or read, 0 otherwise
        std::atomic<bool> bDone{false};
        bool bWaitedFor = false; // the caller sleeps until it is done
    };

    // Starts nThreads hashing workers (at least one).
    explicit ChecksumPool(unsigned nThreads);
    // Drops the tasks not started and joins every thread.
    ~ChecksumPool();
    ChecksumPool(const ChecksumPool&) = delete;
    ChecksumPool& operator=(const ChecksumPool&) = delete;

    // Queues a file for hashing.
    void Submit(const std::shared_ptr<Task>& pTask);
    // Waits until the task is done, or bStop is set (then it cancels every
    // task, as Cancel does, and the task is done at once).
    void Wait(Task& task, const std::atomic<bool>& bStop);
    // True once the task is done (never blocks).
    static bool IsDone(const Task& task) { return task.bDone.load(std::memory_order_acquire); }
    // Ends every task not done yet without a checksum (nError ECANCELED):
    // those waiting at once, those being read at their next read.
    void Cancel();

private:
    struct Chunk;
    struct Stream;
    struct Device;

    void Work();
    void ReadDevice(Device& device);
    enum class ReadEnd { End, NotCached, TooLong, Failed, Cancelled };
    bool OpenFile(Task& task, UniqueFd& file, struct stat& st);
    template <typename Take>
    ReadEnd ReadCached(int fd, const struct stat& st, uint64_t& nTotal, uint64_t nMaxBytes,
                       unsigned char* pBuffer, size_t nSize, Take fnTake);
    void HandToDevice(const std::shared_ptr<Task>& pTask, dev_t nDevice);
    void HashFile(const std::shared_ptr<Task>& pTask);
    bool IsHandedOver(const Task& task) const;
    void HashGroup(std::vector<std::shared_ptr<Task>>& group, std::vector<unsigned char>& buffer);
    Stream* ReadyStream();
    void HashChunks(Stream& stream);
    void EndStream(Stream& stream);
    void Finish(Task& task, std::optional<std::string> checksum, int nError);
    Device& DeviceOf(dev_t nDevice);

    std::mutex m_mutex;
    std::condition_variable m_cvWork; // a task, a stream's data or a free stream slot
    std::condition_variable m_cvRead; // a stream to read, or a free buffer
    std::condition_variable m_cvDone; // a task waited for is done
    // The small tasks in the order given, and a heap of the large ones: the
    // largest on top, the earliest of equal ones first.
    struct Waiting {
        std::shared_ptr<Task> pTask;
        uint64_t nOrder;
    };
    std::deque<std::shared_ptr<Task>> m_small;
    std::vector<Waiting> m_large;
    uint64_t m_nSubmitted = 0;
    // Files handed to the device readers and not yet hashed to their end;
    // each holds its file open.
    std::vector<std::unique_ptr<Stream>> m_streams;
    std::vector<std::unique_ptr<unsigned char[]>> m_freeBuffers;
    std::deque<std::unique_ptr<Device>> m_devices;
    bool m_bStop = false;
    std::atomic<bool> m_bCancel{false};
    std::vector<std::thread> m_workers;
};
