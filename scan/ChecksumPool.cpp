// SPDX-License-Identifier: GPL-3.0-or-later

#include "scan/ChecksumPool.h"

#include "scan/FileChecksum.h"
#include "scan/Md5.h"
#include "scan/Md5Lanes.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

// What a worker reads at once from the page cache: large enough for few
// system calls, small enough to stay in the processor's caches.
constexpr size_t kBlockSize = 128 * 1024;
// What a device reader reads at once, and how many such pieces may wait to
// be hashed: a reader ahead of the hashing waits for a free one.
constexpr size_t kChunkSize = 256 * 1024;
constexpr size_t kChunks = 16;
// Files handed to the device readers at once; a worker takes no new file
// while that many wait.
constexpr size_t kMaxStreams = 4;
// A file from this size on is large: hashed before the small ones.
constexpr uint64_t kLargeFile = 4 << 20;
// Small files up to this size are read whole and hashed in groups; the
// buffer a worker keeps for a group is given back beyond kGroupBuffer.
constexpr uint64_t kGroupFile = 256 << 10;
constexpr size_t kGroup = 32;
// At most this much data in a group, and
// what a worker keeps of its buffer: memory stays small with many workers.
constexpr uint64_t kGroupBytes = 1 << 20;
constexpr size_t kGroupBuffer = 1 << 20;

// Opens a task's file to read its contents, with read-ahead for a large one;
// false when it cannot be read, nError then saying why (0: no longer a
// regular file, replaced since it was listed, and never read).
bool OpenRegular(const ChecksumPool::Task& task, UniqueFd& file, struct stat& st, int& nError) {
    errno = 0;
    file = UniqueFd(OpenForChecksum(task.dir->Get(), task.strName.c_str(), task.bOwned));
    nError = 0;
    if (!file.IsValid() || ::fstat(file.Get(), &st) != 0) {
        nError = errno;
        file.Reset();
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        file.Reset();
        return false;
    }
    if (st.st_size > static_cast<off_t>(kBlockSize))
        ::posix_fadvise(file.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
}

template <typename Waiting> bool RunsLater(const Waiting& a, const Waiting& b) {
    if (a.pTask->nSize != b.pTask->nSize)
        return a.pTask->nSize < b.pTask->nSize;
    return a.nOrder > b.nOrder;
}

} // namespace

struct ChecksumPool::Chunk {
    std::unique_ptr<unsigned char[]> pData;
    size_t nSize = 0;
};

// A file whose data a device reader reads, hashed piece by piece, in order,
// by whichever worker is free; only one at a time (bClaimed) uses its context.
struct ChecksumPool::Stream {
    std::shared_ptr<Task> pTask;
    UniqueFd file; // open while its reader reads it
    Md5Context context;
    uint64_t nRead = 0;
    std::deque<Chunk> chunks;
    bool bClaimed = false;
    bool bEnded = false;  // read to its end, or given up
    bool bFailed = false; // no digest: a failed read, too long, or cancelled
    int nError = 0;
};

struct ChecksumPool::Device {
    dev_t nDevice = 0;
    std::deque<Stream*> waiting; // the first is being read
    std::thread reader;
};

ChecksumPool::ChecksumPool(unsigned nThreads) {
    for (size_t i = 0; i < kChunks; ++i)
        m_freeBuffers.push_back(std::make_unique_for_overwrite<unsigned char[]>(kChunkSize));
    for (unsigned i = 0; i < std::max(1u, nThreads); ++i)
        m_workers.emplace_back([this] { Work(); });
}

ChecksumPool::~ChecksumPool() {
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
        m_small.clear();
        m_large.clear();
    }
    m_cvWork.notify_all();
    m_cvRead.notify_all();
    for (std::thread& worker : m_workers)
        worker.join();
    for (const std::unique_ptr<Device>& pDevice : m_devices)
        pDevice->reader.join();
}

void ChecksumPool::Submit(const std::shared_ptr<Task>& pTask) {
    {
        std::lock_guard lock(m_mutex);
        if (m_bCancel.load()) {
            Finish(*pTask, std::nullopt, ECANCELED);
            return;
        }
        if (pTask->nSize < kLargeFile) {
            m_small.push_back(pTask);
        } else {
            m_large.push_back({pTask, m_nSubmitted++});
            std::push_heap(m_large.begin(), m_large.end(), RunsLater<Waiting>);
        }
    }
    m_cvWork.notify_one();
}

void ChecksumPool::Wait(Task& task, const std::atomic<bool>& bStop) {
    {
        std::unique_lock lock(m_mutex);
        task.bWaitedFor = true;
        // A stop is asked for by a flag, not a call: looked at now and then.
        while (
            !m_cvDone.wait_for(lock, std::chrono::milliseconds(20), [&] { return IsDone(task); }))
            if (bStop.load(std::memory_order_relaxed))
                break;
        if (IsDone(task))
            return;
    }
    Cancel();
    // A task being read ends at its next read.
    std::unique_lock lock(m_mutex);
    m_cvDone.wait(lock, [&] { return IsDone(task); });
}

void ChecksumPool::Cancel() {
    {
        std::lock_guard lock(m_mutex);
        m_bCancel.store(true);
        for (const std::shared_ptr<Task>& pTask : m_small)
            Finish(*pTask, std::nullopt, ECANCELED);
        for (Waiting& waiting : m_large)
            Finish(*waiting.pTask, std::nullopt, ECANCELED);
        m_small.clear();
        m_large.clear();
    }
    m_cvRead.notify_all();
}

// Called with m_mutex held.
void ChecksumPool::Finish(Task& task, std::optional<std::string> checksum, int nError) {
    task.checksum = std::move(checksum);
    task.nError = nError;
    task.bDone.store(true, std::memory_order_release);
    if (task.bWaitedFor)
        m_cvDone.notify_all();
}

// Called with m_mutex held: a stream with data read and no worker on it.
ChecksumPool::Stream* ChecksumPool::ReadyStream() {
    for (const std::unique_ptr<Stream>& pStream : m_streams)
        if (!pStream->bClaimed && !pStream->chunks.empty())
            return pStream.get();
    return nullptr;
}

// Called with m_mutex held, by whoever last touched a stream read to its end.
void ChecksumPool::EndStream(Stream& stream) {
    std::optional<std::string> checksum;
    if (!stream.bFailed)
        checksum = DigestToHex(stream.context.Finish());
    Finish(*stream.pTask, std::move(checksum), stream.nError);
    std::erase_if(m_streams, [&](const std::unique_ptr<Stream>& p) { return p.get() == &stream; });
    m_cvWork.notify_all(); // a slot for another stream
}

ChecksumPool::Device& ChecksumPool::DeviceOf(dev_t nDevice) {
    for (const std::unique_ptr<Device>& pDevice : m_devices)
        if (pDevice->nDevice == nDevice)
            return *pDevice;
    Device& device = *m_devices.emplace_back(std::make_unique<Device>());
    device.nDevice = nDevice;
    device.reader = std::thread([this, &device] { ReadDevice(device); });
    return device;
}

void ChecksumPool::Work() {
    std::vector<std::shared_ptr<Task>> group;
    group.reserve(kGroup + 1);
    std::vector<unsigned char> buffer; // the data of a group, file after file
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_cvWork.wait(lock, [&] {
            return m_bStop || ReadyStream() ||
                   ((!m_small.empty() || !m_large.empty()) && m_streams.size() < kMaxStreams);
        });
        if (m_bStop)
            return;
        if (Stream* pStream = ReadyStream()) {
            pStream->bClaimed = true;
            std::deque<Chunk> chunks = std::move(pStream->chunks);
            pStream->chunks.clear();
            const bool bHash = !pStream->bFailed;
            lock.unlock();
            if (bHash)
                for (const Chunk& chunk : chunks)
                    pStream->context.Update(chunk.pData.get(), chunk.nSize);
            lock.lock();
            for (Chunk& chunk : chunks)
                m_freeBuffers.push_back(std::move(chunk.pData));
            m_cvRead.notify_all();
            pStream->bClaimed = false;
            if (pStream->bEnded && pStream->chunks.empty())
                EndStream(*pStream);
            continue;
        }
        std::shared_ptr<Task> pTask;
        if (!m_large.empty()) {
            std::pop_heap(m_large.begin(), m_large.end(), RunsLater<Waiting>);
            pTask = std::move(m_large.back().pTask);
            m_large.pop_back();
        } else {
            for (uint64_t nBytes = 0; group.size() < kGroup && !m_small.empty() &&
                                      m_small.front()->nSize <= kGroupFile &&
                                      nBytes + m_small.front()->nSize <= kGroupBytes;) {
                nBytes += m_small.front()->nSize;
                group.push_back(std::move(m_small.front()));
                m_small.pop_front();
            }
            if (group.empty()) {
                pTask = std::move(m_small.front());
                m_small.pop_front();
            }
        }
        lock.unlock();
        try {
            if (pTask)
                HashFile(pTask);
            else
                HashGroup(group, buffer);
        } catch (const std::bad_alloc&) {
            // Out of memory: the caller is told, and hashes these itself
            // or gives up.
            buffer = std::vector<unsigned char>();
            std::lock_guard failed(m_mutex);
            if (pTask)
                group.push_back(pTask);
            for (const std::shared_ptr<Task>& pFailed : group)
                if (!IsDone(*pFailed) && !IsHandedOver(*pFailed))
                    Finish(*pFailed, std::nullopt, ENOMEM);
        }
        group.clear();
        if (buffer.size() > kGroupBuffer)
            buffer = std::vector<unsigned char>(); // a group of grown files
        lock.lock();
    }
}

// Called with m_mutex held: whether a device reader has the task's file.
bool ChecksumPool::IsHandedOver(const Task& task) const {
    return std::any_of(m_streams.begin(), m_streams.end(),
                       [&](const std::unique_ptr<Stream>& p) { return p->pTask.get() == &task; });
}

// Opens a task's file for hashing; false when it cannot be read (the task
// is then done).
bool ChecksumPool::OpenFile(Task& task, UniqueFd& file, struct stat& st) {
    int nError = 0;
    if (OpenRegular(task, file, st, nError))
        return true;
    std::lock_guard lock(m_mutex);
    Finish(task, std::nullopt, nError);
    return false;
}

// Reads what the page cache holds of an open file from its current offset,
// after the nTotal bytes read before; fnTake gets each piece.
template <typename Take>
ChecksumPool::ReadEnd ChecksumPool::ReadCached(int fd, const struct stat& st, uint64_t& nTotal,
                                               uint64_t nMaxBytes, unsigned char* pBuffer,
                                               size_t nSize, Take fnTake) {
    for (;;) {
        if (m_bCancel.load(std::memory_order_relaxed))
            return ReadEnd::Cancelled;
        iovec vector{pBuffer, nSize};
        const ssize_t nRead = ::preadv2(fd, &vector, 1, -1, RWF_NOWAIT);
        if (nRead > 0) {
            nTotal += static_cast<uint64_t>(nRead);
            if (nTotal > nMaxBytes)
                return ReadEnd::TooLong;
            const auto [pNext, nNext] = fnTake(static_cast<size_t>(nRead));
            pBuffer = pNext;
            nSize = nNext;
            // A short read that brings the file to the size it had when
            // opened is its end: no read is needed to be told so.
            if (static_cast<size_t>(nRead) < vector.iov_len &&
                nTotal == static_cast<uint64_t>(st.st_size))
                return ReadEnd::End;
        } else if (nRead == 0) {
            return ReadEnd::End;
        } else if (errno == EAGAIN || errno == EOPNOTSUPP || errno == ENOSYS) {
            return ReadEnd::NotCached; // not in the page cache, or no way to ask
        } else if (errno != EINTR) {
            return ReadEnd::Failed;
        }
    }
}

// Hands a file to the reader of its device, which opens it again when it
// comes to it and reads it from its start: a file waiting for the reader
// holds no descriptor, so however many wait, the walk and the workers keep
// theirs. What the workers read of it is still in the page cache.
void ChecksumPool::HandToDevice(const std::shared_ptr<Task>& pTask, dev_t nDevice) {
    auto pStream = std::make_unique<Stream>();
    pStream->pTask = pTask;
    {
        std::lock_guard lock(m_mutex);
        DeviceOf(nDevice).waiting.push_back(pStream.get());
        m_streams.push_back(std::move(pStream));
    }
    m_cvRead.notify_all();
}

// Hashes what the page cache holds of the file; the rest, if any, is left
// to the reader of its device.
void ChecksumPool::HashFile(const std::shared_ptr<Task>& pTask) {
    Task& task = *pTask;
    UniqueFd file;
    struct stat st {};
    if (!OpenFile(task, file, st))
        return;
    Md5Context context;
    alignas(64) unsigned char buffer[kBlockSize];
    uint64_t nTotal = 0;
    const ReadEnd end =
        ReadCached(file.Get(), st, nTotal, task.nMaxBytes, buffer, sizeof buffer, [&](size_t n) {
            context.Update(buffer, n);
            return std::pair(buffer, sizeof buffer);
        });
    if (end == ReadEnd::NotCached)
        return HandToDevice(pTask, st.st_dev);
    const int nError = end == ReadEnd::Cancelled ? ECANCELED : end == ReadEnd::Failed ? errno : 0;
    std::lock_guard lock(m_mutex);
    Finish(task, end == ReadEnd::End ? std::optional(DigestToHex(context.Finish())) : std::nullopt,
           nError);
}

// Reads small files whole and hashes them together, sixteen at once where the
// processor can; one not in the page cache is left to its device's reader.
void ChecksumPool::HashGroup(std::vector<std::shared_ptr<Task>>& group,
                             std::vector<unsigned char>& buffer) {
    struct Whole {
        Task* pTask;
        size_t nOffset;
        size_t nSize;
    };
    std::vector<Whole> wholes;
    std::vector<std::pair<Task*, int>> failed; // and their errno
    size_t nUsed = 0;
    for (const std::shared_ptr<Task>& pTask : group) {
        Task& task = *pTask;
        UniqueFd file;
        struct stat st {};
        if (!OpenFile(task, file, st))
            continue;
        // Room for one byte more than its size, so its end shows at once.
        const size_t nOffset = nUsed;
        auto room = [&](size_t nAtLeast) {
            if (buffer.size() < nUsed + nAtLeast)
                buffer.resize(std::max(buffer.size() * 2, nUsed + nAtLeast));
            return std::pair(buffer.data() + nUsed, buffer.size() - nUsed);
        };
        const auto [pFirst, nFirst] = room(static_cast<size_t>(std::max<off_t>(st.st_size, 0)) + 1);
        uint64_t nTotal = 0;
        const ReadEnd end =
            ReadCached(file.Get(), st, nTotal, task.nMaxBytes, pFirst, nFirst, [&](size_t n) {
                nUsed += n;
                return room(4096);
            });
        if (end == ReadEnd::End) {
            wholes.push_back({&task, nOffset, nUsed - nOffset});
        } else if (end == ReadEnd::NotCached) {
            nUsed = nOffset;
            HandToDevice(pTask, st.st_dev);
        } else {
            failed.emplace_back(&task, end == ReadEnd::Cancelled ? ECANCELED
                                       : end == ReadEnd::Failed  ? errno
                                                                 : 0);
            nUsed = nOffset;
        }
    }
    std::vector<std::string_view> messages;
    for (const Whole& whole : wholes)
        messages.emplace_back(reinterpret_cast<const char*>(buffer.data()) + whole.nOffset,
                              whole.nSize);
    std::vector<Md5Digest> digests(messages.size());
    Md5OfMessages(messages, digests);
    std::lock_guard lock(m_mutex);
    for (size_t i = 0; i < wholes.size(); ++i)
        Finish(*wholes[i].pTask, DigestToHex(digests[i]), 0);
    for (const auto& [pTask, nError] : failed)
        Finish(*pTask, std::nullopt, nError);
}

// A device's reader: each file handed to it read to its end before the next.
void ChecksumPool::ReadDevice(Device& device) {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_cvRead.wait(lock, [&] { return m_bStop || !device.waiting.empty(); });
        if (m_bStop)
            return;
        Stream& stream = *device.waiting.front();
        {
            lock.unlock();
            UniqueFd file;
            struct stat st {};
            int nError = 0;
            OpenRegular(*stream.pTask, file, st, nError);
            lock.lock();
            stream.file = std::move(file);
            if (!stream.file.IsValid()) {
                stream.bFailed = true;
                stream.nError = nError;
            }
        }
        while (!stream.bFailed) {
            m_cvRead.wait(lock, [&] { return m_bStop || m_bCancel || !m_freeBuffers.empty(); });
            if (m_bStop)
                return;
            if (m_bCancel) {
                stream.bFailed = true;
                stream.nError = ECANCELED;
                break;
            }
            std::unique_ptr<unsigned char[]> pBuffer = std::move(m_freeBuffers.back());
            m_freeBuffers.pop_back();
            lock.unlock();
            ssize_t nRead = 0;
            do
                nRead = ::read(stream.file.Get(), pBuffer.get(), kChunkSize);
            while (nRead < 0 && errno == EINTR);
            const int nError = errno;
            lock.lock();
            if (nRead > 0) {
                stream.nRead += static_cast<uint64_t>(nRead);
                if (stream.nRead <= stream.pTask->nMaxBytes) {
                    Chunk chunk{std::move(pBuffer), static_cast<size_t>(nRead)};
                    try {
                        stream.chunks.push_back(std::move(chunk));
                        m_cvWork.notify_one();
                        continue;
                    } catch (const std::bad_alloc&) {
                        stream.nError = ENOMEM; // the chunk keeps its buffer
                        pBuffer = std::move(chunk.pData);
                    }
                }
                stream.bFailed = true; // longer than its size promised, or no memory
            } else if (nRead < 0) {
                stream.bFailed = true;
                stream.nError = nError;
            }
            m_freeBuffers.push_back(std::move(pBuffer));
            break;
        }
        // Read to its end: its descriptor goes back at once, not when the
        // last piece is hashed.
        UniqueFd done = std::move(stream.file);
        stream.bEnded = true;
        device.waiting.pop_front();
        if (!stream.bClaimed && stream.chunks.empty())
            EndStream(stream);
        else
            m_cvWork.notify_one();
        lock.unlock();
        done.Reset();
        lock.lock();
    }
}
